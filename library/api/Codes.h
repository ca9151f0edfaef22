// The library's result codes (docs/library.md has the table with every text).
#pragma once

#include <cstdint>

namespace octo::library {

enum Code : int32_t {
    kOk = 0,
    kFrameErrors = 1,     // answers kept arriving damaged
    kCannotOpenPort = 2,  // the port cannot be opened
    kCannotClosePort = 3, // the port cannot be closed
    kBusy = 4,            // another call of the library is still running
    kNoUnit = 5,          // the unit does not answer (or no port is open)
    kTimeout = 6,         // no answer within the call's deadline, or the port went away
    kFailed = 8,          // the unit could not do it; details in the result block
    kInternal = 9,        // the library ran out of memory or met an internal error
    kNotAvailable = 10,   // the function is not available in this build of the library
    kInvalidRecord = 11,
    kUnexpectedEnd = 12,
    kFileIo = 13,
    kUnknownFormat = 14,
    kCannotOpenFile = 15,
    kOutOfRange = 16, // an argument is out of range (null pointer, bad number)
    kLoadedWithWarning = 17,
    kNotFirmware = 18,      // the file is not a firmware file of the unit (nothing was sent)
    kNotSupplied = 46,      // supply code 0: the unit does not supply the targets
    kRunFailed = 50,        // the result block is filled, but the last run failed
    kAlreadySpecified = 53, // the file holds data for addresses already filled
    // Target records refused before anything was sent.
    kRecordOutside = 54,   // a record lies outside the device's flash and information memory
    kRecordNotBlank = 55,  // a record covers bytes the loaded image does not leave 0xFF
    kRecordLengths = 56,   // the records are not all of one length
    kRecordsUnknown = 57,  // the unit's firmware does not know target records
    kRecordNotErased = 58, // the run does not erase and program the memory of a record
    kRecordNoImage = 59,   // the selected slot holds no image this library loaded
};

// The text of a code; a generic text for codes the library never returns. The text
// lives as long as the process.
const char* errorText(int32_t code);

} // namespace octo::library
