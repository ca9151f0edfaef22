#include "win32/Win32Platform.h"

#include "win32/DllProgrammerLibrary.h"

#include <windows.h>

#include <sys/stat.h>

#include <vector>

namespace octo {

namespace {

constexpr DWORD kModulePathChars = 260;
constexpr char kUnknownVersion[] = "???";
constexpr char kStringFileInfo[] = "\\StringFileInfo\\040904b0\\";

} // namespace

std::string Win32Platform::modulePath() const {
    char buffer[kModulePathChars + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kModulePathChars);
    return std::string(buffer, length);
}

bool Win32Platform::fileExists(const std::string& path) const {
    struct _stat status {};
    return _stat(path.c_str(), &status) == 0;
}

std::string Win32Platform::fileVersionString(const std::string& path,
                                             const std::string& name) const {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) {
        return kUnknownVersion;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data())) {
        return kUnknownVersion;
    }
    const std::string query = kStringFileInfo + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
        return kUnknownVersion;
    }
    // The value lies inside the block; it ends at its zero or at the reported length.
    const char* end = value;
    const char* limit = block.data() + block.size();
    while (end < limit && *end != '\0') {
        ++end;
    }
    return std::string(static_cast<const char*>(value), end);
}

uint32_t Win32Platform::tickCount() const { return GetTickCount(); }

void Win32Platform::sleep(unsigned ms) { Sleep(ms); }

std::unique_ptr<ProgrammerLibrary> Win32Platform::loadProgrammerLibrary(const std::string& path) {
    return loadDllProgrammerLibrary(path);
}

} // namespace octo
