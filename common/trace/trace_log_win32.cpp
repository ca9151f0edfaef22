// The traceability log's file and clock on Windows.
#include "trace/trace_log.h"

#include "files/output_file.h"

#include <windows.h>

#include <array>
#include <ctime>
#include <optional>

namespace octo::trace {

namespace {

constexpr size_t kTimestampChars = 32;
// The lock sits on one byte far beyond any log's end, so it keeps out only other writers
// that take it, never a reader of the lines.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockBytes = 1;

// How often a lock another process holds is asked for again.
constexpr DWORD kLockPollMs = 20;

bool writeWhole(HANDLE file, const std::string& text) {
    // One WriteFile on a handle opened for appending only: it lands whole at the end.
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool readAt(HANDLE file, LONGLONG offset, char* bytes, DWORD count, DWORD& read) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (ReadFile(file, bytes, count, &read, &at) != 0) {
        return true;
    }
    // A read from an offset at the end fails with ERROR_HANDLE_EOF: a new, empty log.
    read = 0;
    return GetLastError() == ERROR_HANDLE_EOF;
}

// The file's first bytes, as many as its header needs; none when they cannot be read.
std::optional<std::string> firstBytes(HANDLE file) {
    std::array<char, kHeaderProbeBytes> first{};
    DWORD read = 0;
    if (!readAt(file, 0, first.data(), static_cast<DWORD>(first.size()), read)) {
        return std::nullopt;
    }
    return std::string(first.data(), read);
}

bool fileStartsAsLog(HANDLE file) {
    const std::optional<std::string> first = firstBytes(file);
    return first && startsAsLog(*first);
}

class LockedFile {
public:
    LockedFile(const std::string& path, std::chrono::milliseconds wait)
        : handle_(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return;
        }
        lock_.OffsetHigh = kLockOffsetHigh;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                           kLockBytes, 0, &lock_)) {
            const bool heldByAnother = GetLastError() == ERROR_LOCK_VIOLATION;
            if (!heldByAnother || std::chrono::steady_clock::now() >= deadline) {
                busy_ = heldByAnother;
                CloseHandle(handle_);
                handle_ = INVALID_HANDLE_VALUE;
                return;
            }
            Sleep(kLockPollMs);
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
    bool busy() const { return busy_; }

private:
    HANDLE handle_;
    OVERLAPPED lock_{};
    bool busy_ = false;
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

LogWrite appendLines(const std::string& path, std::span<const std::string> lines,
                     std::chrono::milliseconds lockWait) {
    LockedFile file(path, lockWait);
    if (file.busy()) {
        return LogWrite::Busy;
    }
    LARGE_INTEGER size{};
    if (file.handle() == INVALID_HANDLE_VALUE || GetFileType(file.handle()) != FILE_TYPE_DISK ||
        !GetFileSizeEx(file.handle(), &size)) {
        return LogWrite::CannotWrite;
    }
    const std::optional<std::string> first = firstBytes(file.handle());
    if (!first || !startsAsLog(*first)) {
        return LogWrite::NotALog;
    }
    if (size.QuadPart == 0) {
        if (!writeWhole(file.handle(), headerLine() + "\n")) {
            return LogWrite::CannotWrite;
        }
    } else {
        char last = '\n';
        DWORD read = 0;
        if (readAt(file.handle(), size.QuadPart - 1, &last, 1, read) && read == 1 && last != '\n' &&
            !writeWhole(file.handle(), "\n")) {
            return LogWrite::CannotWrite;
        }
    }
    for (const std::string& line : linesForLog(*first, lines)) {
        if (!writeWhole(file.handle(), line)) {
            return LogWrite::CannotWrite;
        }
    }
    return FlushFileBuffers(file.handle()) != 0 ? LogWrite::Written : LogWrite::CannotWrite;
}

LogWrite checkLog(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND;
        return missing && files::canCreateBeside(path) ? LogWrite::Written : LogWrite::CannotWrite;
    }
    const bool regular = GetFileType(file) == FILE_TYPE_DISK;
    const bool isLog = regular && fileStartsAsLog(file);
    CloseHandle(file);
    if (!regular) {
        return LogWrite::CannotWrite;
    }
    return isLog ? LogWrite::Written : LogWrite::NotALog;
}

} // namespace octo::trace
