// The bounded read on POSIX: opened without blocking (a FIFO without a writer would wait
// for one), then judged by fstat of the open descriptor, so what is checked is what is read.
#include "files/read_file_platform.h"

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

// One read of at most capacity bytes, again when a signal interrupted it.
bool readChunk(int fd, char* chunk, size_t capacity, size_t& got) {
    for (;;) {
        const ssize_t n = ::read(fd, chunk, capacity);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            return true;
        }
        if (errno != EINTR) {
            return false;
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
    return readSizedFile(static_cast<uint64_t>(st.st_size), maxBytes,
                         [&](char* chunk, size_t capacity, size_t& got) {
                             return readChunk(file.get(), chunk, capacity, got);
                         });
}

} // namespace octo::files
