// The bounded read on Win32: CreateFile refuses a directory by itself (it needs
// FILE_FLAG_BACKUP_SEMANTICS for one); GetFileType tells a disk file from a device or pipe.
#include "files/read_file.h"

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

bool readUpTo(HANDLE file, uint64_t maxBytes, std::string& bytes) {
    constexpr DWORD kChunkBytes = 64 * 1024;
    char chunk[kChunkBytes];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, kChunkBytes, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(chunk, got);
        if (bytes.size() > maxBytes) {
            return true;
        }
    }
}

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
    if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        read.problem = FileRead::Problem::TooLarge;
        return read;
    }
    read.bytes.reserve(static_cast<size_t>(size.QuadPart));
    if (!readUpTo(file.get(), maxBytes, read.bytes)) {
        read.problem = FileRead::Problem::ReadFailed;
    } else if (read.bytes.size() > maxBytes) {
        read.problem = FileRead::Problem::TooLarge;
    }
    if (!read.ok()) {
        read.bytes.clear();
    }
    return read;
}

} // namespace octo::files
