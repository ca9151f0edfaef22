#include "api/FileOutput.h"

#include "api/Codes.h"

#include <files/atomic_file.h>

namespace octo::library {

int32_t writeFileAtomically(const std::string& path, std::string_view content) {
    // A writer killed in the middle (the program ended from the task manager, a power cut)
    // leaves its temporary file; nothing else would ever remove it from the operator's folder.
    files::removeLeftoverTemporaries(path);
    switch (files::replaceFile(path, content)) {
    case files::ReplaceResult::Ok:
        return kOk;
    case files::ReplaceResult::CannotCreate:
        return kCannotOpenFile;
    case files::ReplaceResult::WriteFailed:
        break;
    }
    return kFileIo;
}

} // namespace octo::library
