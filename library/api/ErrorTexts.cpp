#include "api/Codes.h"

namespace octo::library {

const char* errorText(int32_t code) {
    switch (code) {
    case kOk:
        return "Operation successful.";
    case kFrameErrors:
        return "ERROR: Communication - Frame has errors !";
    case kCannotOpenPort:
        return "ERROR: Unable to open COM port - already in use?";
    case kCannotClosePort:
        return "ERROR: Unable to close COM port !";
    case kBusy:
        return "ERROR: Library busy - another operation is still running !";
    case kNoUnit:
        return "ERROR: Synchronization failed. Programmer connected?";
    case kTimeout:
        return "ERROR: Timeout during operation - Correct COM port selected?";
    case kFailed:
        return "ERROR: Operation failed at the programmer unit !";
    case kInternal:
        return "ERROR: Internal library error (out of memory?) !";
    case kNotAvailable:
        return "ERROR: Function not available in this library version !";
    case kInvalidRecord:
        return "ERROR: File contains invalid record !";
    case kUnexpectedEnd:
        return "ERROR: Unexpected end of file !";
    case kFileIo:
        return "ERROR: Error during file I/O !";
    case kUnknownFormat:
        return "ERROR: Selected file is of unrecognizable format !";
    case kCannotOpenFile:
        return "ERROR: Unable to open file !";
    case kOutOfRange:
        return "ERROR: DLL function argument(s) out of range !";
    case kLoadedWithWarning:
        return "WARNING: File loaded, but parts of it were ignored !";
    case kNotFirmware:
        return "ERROR: Selected file is not a Firmware Update file !";
    case kNotSupplied:
        return "Target supply not switched: the targets are not supplied by the programmer.";
    case kRunFailed:
        return "ERROR: Operation failed - see Result Section !";
    case kAlreadySpecified:
        return "ERROR: File(s) contains already specified data (code overwritten)!";
    case kRecordOutside:
        return "ERROR: Target data lies outside the device's flash and information memory !";
    case kRecordNotBlank:
        return "ERROR: Target data would overwrite data of the image !";
    case kRecordLengths:
        return "ERROR: Target data of different lengths !";
    case kRecordsUnknown:
        return "ERROR: The programmer unit's firmware does not know target data !";
    case kRecordNotErased:
        return "ERROR: Target data needs a run that erases and programs its memory !";
    case kRecordNoImage:
        return "ERROR: Target data needs an image loaded by this library !";
    default:
        return "General Error !";
    }
}

} // namespace octo::library
