// The traceability log's file and clock on POSIX systems.
#include "trace/trace_log.h"

#include "files/output_file.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace octo::trace {

namespace {

constexpr mode_t kLogMode = 0644;
constexpr size_t kTimestampChars = 32;
constexpr size_t kHostNameChars = 256;
// How often a lock another process holds is asked for again.
constexpr auto kLockPoll = std::chrono::milliseconds(20);

bool writeWhole(int fd, const std::string& text) {
    // One write: with O_APPEND it lands whole at the end, whoever else appends.
    return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// The file's first bytes, as many as its header needs; none when they cannot be read.
std::optional<std::string> firstBytes(int fd) {
    std::array<char, kHeaderProbeBytes> first{};
    const ssize_t got = pread(fd, first.data(), first.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    return std::string(first.data(), static_cast<size_t>(got));
}

bool fileStartsAsLog(int fd) {
    const std::optional<std::string> first = firstBytes(fd);
    return first && startsAsLog(*first);
}

class LockedFile {
public:
    LockedFile(const std::string& path, std::chrono::milliseconds wait)
        : fd_(open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, kLogMode)) {
        if (fd_ < 0) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                release();
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                busy_ = true;
                release();
                return;
            }
            std::this_thread::sleep_for(kLockPoll);
        }
    }
    ~LockedFile() { release(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int fd() const { return fd_; }
    bool busy() const { return busy_; }

private:
    void release() {
        if (fd_ >= 0) {
            close(fd_); // releases the lock
            fd_ = -1;
        }
    }

    int fd_;
    bool busy_ = false;
};

} // namespace

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::array<char, kTimestampChars> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

std::string stationName() {
    std::array<char, kHostNameChars> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return name.data();
}

LogWrite appendLines(const std::string& path, std::span<const std::string> lines,
                     std::chrono::milliseconds lockWait) {
    LockedFile file(path, lockWait);
    if (file.busy()) {
        return LogWrite::Busy;
    }
    struct stat info {};
    if (file.fd() < 0 || fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return LogWrite::CannotWrite;
    }
    const std::optional<std::string> first = firstBytes(file.fd());
    if (!first || !startsAsLog(*first)) {
        return LogWrite::NotALog;
    }
    if (info.st_size == 0) {
        if (!writeWhole(file.fd(), headerLine() + "\n")) {
            return LogWrite::CannotWrite;
        }
    } else {
        char last = '\n';
        if (pread(file.fd(), &last, 1, info.st_size - 1) == 1 && last != '\n' &&
            !writeWhole(file.fd(), "\n")) {
            return LogWrite::CannotWrite;
        }
    }
    for (const std::string& line : linesForLog(*first, lines)) {
        if (!writeWhole(file.fd(), line)) {
            return LogWrite::CannotWrite;
        }
    }
    return fdatasync(file.fd()) == 0 ? LogWrite::Written : LogWrite::CannotWrite;
}

LogWrite checkLog(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT && files::canCreateBeside(path) ? LogWrite::Written
                                                               : LogWrite::CannotWrite;
    }
    struct stat info {};
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool isLog = regular && fileStartsAsLog(fd);
    close(fd);
    if (!regular || access(path.c_str(), W_OK) != 0) {
        return LogWrite::CannotWrite;
    }
    return isLog ? LogWrite::Written : LogWrite::NotALog;
}

} // namespace octo::trace
