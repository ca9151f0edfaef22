// Arguments for a Windows program run under Wine from a shell command.
#pragma once

#include <filesystem>
#include <string>

namespace octo::testing {

// The Windows path of a native file, on Wine's drive Z:.
inline std::string windowsPath(const std::filesystem::path& path) {
    std::string text = "Z:" + std::filesystem::absolute(path).string();
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
    return text;
}

// One argument of a shell command, in single quotes.
inline std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

} // namespace octo::testing
