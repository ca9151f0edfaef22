#include "objfile/result.h"

namespace octo::objfile {

std::string_view resultCodeName(ResultCode code) {
    switch (code) {
    case ResultCode::Ok:
        return "success";
    case ResultCode::InvalidRecord:
        return "invalid record";
    case ResultCode::UnexpectedEnd:
        return "unexpected end of file";
    case ResultCode::FileIo:
        return "file I/O error";
    case ResultCode::UnrecognizableFormat:
        return "unrecognizable format";
    case ResultCode::CannotOpen:
        return "unable to open the file";
    case ResultCode::OutOfRange:
        return "argument out of range";
    case ResultCode::LoadedWithWarning:
        return "loaded with a warning";
    case ResultCode::DataAlreadySpecified:
        return "data already specified";
    }
    return "unknown result";
}

std::string Diagnostic::describe() const {
    if (line == 0) {
        return message;
    }
    return "line " + std::to_string(line) + ": " + message;
}

ResultCode ReadResult::code() const {
    if (error) {
        return error->code;
    }
    return warnings.empty() ? ResultCode::Ok : ResultCode::LoadedWithWarning;
}

} // namespace octo::objfile
