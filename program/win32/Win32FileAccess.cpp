#include "win32/Win32FileAccess.h"

#include <files/atomic_file.h>

#include <windows.h>

namespace octo {

namespace {

// A file that keeps changing while it is read is read at most this often; the stamp
// taken before the last attempt then makes the next read try again.
constexpr int kReadAttempts = 3;
constexpr DWORD kReadChunk = 65536;
constexpr int64_t kTicksPerSecond = 10000000; // FILETIME counts 100 ns

int64_t ticksOf(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

FileStatus attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileStatus::Failed
                                                                  : FileStatus::Ok;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileStatus::Missing
                                                                          : FileStatus::Failed;
}

FileStamp stampOf(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return {(static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
            ticksOf(data.ftLastWriteTime)};
}

// Closes a file handle when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool close() {
        const bool ok = !valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

bool readAll(const std::string& path, std::string& bytes) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return false;
    }
    bytes.clear();
    char chunk[kReadChunk];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(chunk, got);
    }
}

class Win32FileAccess final : public FileAccess {
public:
    FileStatus stamp(const std::string& path, FileStamp& out) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const FileStatus status = attributes(path, data);
        if (status == FileStatus::Ok) {
            out = stampOf(data);
        }
        return status;
    }

    bool settled(const FileStamp& stamp) override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        return ticksOf(now) - stamp.writeTime >= kStampSettleTime.count() * kTicksPerSecond;
    }

    FileStatus read(const std::string& path, std::string& bytes, FileStamp& out) override {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            const FileStatus status = stamp(path, out);
            if (status != FileStatus::Ok) {
                return status;
            }
            if (!readAll(path, bytes)) {
                return FileStatus::Failed;
            }
            FileStamp after;
            if (stamp(path, after) == FileStatus::Ok && after == out) {
                break;
            }
        }
        return FileStatus::Ok;
    }

    bool canReplace(const std::string& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (attributes(path, data) != FileStatus::Ok ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
            return false;
        }
        // Another process that opened the file without sharing it for writing holds it
        // locked: this open then fails with a sharing violation.
        FileHandle probe(CreateFileA(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return probe.valid();
    }

    bool replace(const std::string& path, std::string_view bytes) override {
        return files::replaceFile(path, bytes) == files::ReplaceResult::Ok;
    }
};

} // namespace

std::unique_ptr<FileAccess> makeWin32FileAccess() {
    return std::make_unique<Win32FileAccess>();
}

} // namespace octo
