// The bounded read on Win32: CreateFile refuses a directory by itself (it needs
// FILE_FLAG_BACKUP_SEMANTICS for one); GetFileType tells a disk file from a device or pipe.
#include "files/read_file_platform.h"

#include <windows.h>

namespace octo::files {

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

FileRead readBoundedFile(const std::string& path, uint64_t maxBytes) {
    FileRead read;
    const Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        read.problem =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                ? FileRead::Problem::NotRegular
                : FileRead::Problem::CannotOpen;
        return read;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        read.problem = FileRead::Problem::NotRegular;
        return read;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        read.problem = FileRead::Problem::ReadFailed;
        return read;
    }
    return readSizedFile(
        static_cast<uint64_t>(size.QuadPart), maxBytes,
        [&](char* chunk, size_t capacity, size_t& got) {
            DWORD n = 0;
            if (!ReadFile(file.get(), chunk, static_cast<DWORD>(capacity), &n, nullptr)) {
                return false;
            }
            got = n;
            return true;
        });
}

} // namespace octo::files
