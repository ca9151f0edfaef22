// Writing a file the operator named, so that it is either whole or not there: the atomic
// replace of common/files, with the library's result codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace octo::library {

// Removes first what killed writers of files beside it left (files::removeLeftoverTemporaries).
// kOk; kCannotOpenFile when the temporary file cannot be created; kFileIo when writing,
// flushing or renaming fails (the temporary file is removed, an older file stays).
int32_t writeFileAtomically(const std::string& path, std::string_view content);

} // namespace octo::library
