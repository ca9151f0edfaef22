// The traceability log's file and clock on POSIX systems.
#include "trace/trace_log.h"

#include <array>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace octo::trace {

namespace {

constexpr mode_t kLogMode = 0644;
constexpr size_t kTimestampChars = 32;
constexpr size_t kHostNameChars = 256;

bool writeWhole(int fd, const std::string& text) {
    // One write: with O_APPEND it lands whole at the end, whoever else appends.
    return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

class LockedFile {
public:
    explicit LockedFile(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, kLogMode)) {
        if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~LockedFile() {
        if (fd_ >= 0) {
            close(fd_); // releases the lock
        }
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
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

bool appendLines(const std::string& path, std::span<const std::string> lines) {
    LockedFile file(path);
    if (file.fd() < 0) {
        return false;
    }
    struct stat info {};
    if (fstat(file.fd(), &info) != 0) {
        return false;
    }
    if (info.st_size == 0) {
        if (!writeWhole(file.fd(), headerLine() + "\n")) {
            return false;
        }
    } else {
        char last = '\n';
        if (pread(file.fd(), &last, 1, info.st_size - 1) == 1 && last != '\n' &&
            !writeWhole(file.fd(), "\n")) {
            return false;
        }
    }
    for (const std::string& line : lines) {
        if (!writeWhole(file.fd(), line)) {
            return false;
        }
    }
    return fdatasync(file.fd()) == 0;
}

} // namespace octo::trace
