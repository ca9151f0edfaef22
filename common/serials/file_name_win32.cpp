// File names for SQLite on Windows: SQLite takes UTF-8, the program's names are in the ANSI
// code page, as the A functions of Windows take them.
#include "serials/file_name.h"

#include <windows.h>

namespace octo::serials {

std::string sqliteFileName(const std::string& path) {
    const int inputBytes = static_cast<int>(path.size());
    const int wideChars = MultiByteToWideChar(CP_ACP, 0, path.data(), inputBytes, nullptr, 0);
    if (wideChars <= 0) {
        return path;
    }
    std::wstring wide(static_cast<size_t>(wideChars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), inputBytes, wide.data(), wideChars);
    const int utf8Bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideChars, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(utf8Bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideChars, utf8.data(), utf8Bytes, nullptr,
                        nullptr);
    return utf8;
}

} // namespace octo::serials
