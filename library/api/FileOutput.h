// Writing a file the operator named, so that it is either whole or not there: the text
// goes to a temporary file in the same folder, is flushed to the disk and then renamed
// over the name (replacing an older file of that name only at that moment).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace octo::library {

// kOk; kCannotOpenFile when the temporary file cannot be created; kFileIo when writing,
// flushing or renaming fails (the temporary file is removed, an older file stays).
int32_t writeFileAtomically(const std::string& path, std::string_view content);

// The temporary file writeFileAtomically uses for path.
std::string temporaryPathFor(const std::string& path);

} // namespace octo::library
