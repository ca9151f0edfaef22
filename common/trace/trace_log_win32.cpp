// The traceability log's file and clock on Windows.
#include "trace/trace_log.h"

#include <windows.h>

#include <array>
#include <ctime>

namespace octo::trace {

namespace {

constexpr size_t kTimestampChars = 32;
// The lock sits on one byte far beyond any log's end, so it keeps out only other writers
// that take it, never a reader of the lines.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockBytes = 1;

bool writeWhole(HANDLE file, const std::string& text) {
    // One WriteFile on a handle opened for appending only: it lands whole at the end.
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

class LockedFile {
public:
    explicit LockedFile(const std::string& path)
        : handle_(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return;
        }
        lock_.OffsetHigh = kLockOffsetHigh;
        if (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, kLockBytes, 0, &lock_)) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }
    ~LockedFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            UnlockFileEx(handle_, 0, kLockBytes, 0, &lock_);
            CloseHandle(handle_);
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_;
    OVERLAPPED lock_{};
};

} // namespace

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_s(&utc, &now);
    std::array<char, kTimestampChars> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

std::string stationName() {
    std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
    DWORD size = name.size();
    if (!GetComputerNameA(name.data(), &size)) {
        return {};
    }
    return std::string(name.data(), size);
}

bool appendLines(const std::string& path, std::span<const std::string> lines) {
    LockedFile file(path);
    if (file.handle() == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.handle(), &size)) {
        return false;
    }
    if (size.QuadPart == 0) {
        if (!writeWhole(file.handle(), headerLine() + "\n")) {
            return false;
        }
    } else {
        OVERLAPPED at{};
        const LONGLONG lastByte = size.QuadPart - 1;
        at.Offset = static_cast<DWORD>(lastByte & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>(lastByte >> 32);
        char last = '\n';
        DWORD read = 0;
        if (ReadFile(file.handle(), &last, 1, &read, &at) && read == 1 && last != '\n' &&
            !writeWhole(file.handle(), "\n")) {
            return false;
        }
    }
    for (const std::string& line : lines) {
        if (!writeWhole(file.handle(), line)) {
            return false;
        }
    }
    return FlushFileBuffers(file.handle()) != 0;
}

} // namespace octo::trace
