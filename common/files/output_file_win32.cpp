// The output file's permission check and folder probe on Windows.
#include "files/atomic_file.h"
#include "files/output_file.h"

#include <windows.h>

namespace octo::files {

namespace {

// A probe name is unique to the process and the call; another file of that name is a
// leftover of a process whose id came round again: the next number is tried.
constexpr int kProbeAttempts = 8;

} // namespace

bool writableByMode(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool canCreateBeside(const std::string& path) {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const std::string probe = temporaryPathFor(path);
        // CREATE_NEW never opens a file that is there; the probe goes when its handle closes.
        const HANDLE file =
            CreateFileA(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    return false;
}

} // namespace octo::files
