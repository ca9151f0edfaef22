// The bounded read on POSIX: opened without blocking (a FIFO without a writer would wait
// for one), then judged by fstat of the open descriptor, so what is checked is what is read.
#include "files/read_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace octo::files {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads until the end or one byte past maxBytes, whichever comes first.
bool readUpTo(int fd, uint64_t maxBytes, std::string& bytes) {
    constexpr size_t kChunkBytes = 64 * 1024;
    char chunk[kChunkBytes];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(chunk, static_cast<size_t>(got));
        if (bytes.size() > maxBytes) {
            return true;
        }
    }
}

} // namespace

FileRead readBoundedFile(const std::string& path, uint64_t maxBytes) {
    FileRead read;
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        read.problem =
            errno == EISDIR ? FileRead::Problem::NotRegular : FileRead::Problem::CannotOpen;
        return read;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        read.problem = FileRead::Problem::ReadFailed;
        return read;
    }
    if (!S_ISREG(st.st_mode)) {
        read.problem = FileRead::Problem::NotRegular;
        return read;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        read.problem = FileRead::Problem::TooLarge;
        return read;
    }
    read.bytes.reserve(static_cast<size_t>(st.st_size));
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
