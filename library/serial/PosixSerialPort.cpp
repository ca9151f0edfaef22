// POSIX serial ports (and pseudo-terminals) through termios. A port is held exclusively
// (TIOCEXCL against other openers, an advisory lock against another of our programs, which
// TIOCEXCL does not stop when it runs as root), and is left with the settings it had.
#include "serial/SerialPort.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace octo::serial {

namespace {

bool speedFor(uint32_t rate, speed_t& speed) {
    switch (rate) {
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    default:
        return false;
    }
}

class PosixSerialPort final : public SerialPort {
public:
    ~PosixSerialPort() override { close(); }

    void close() override {
        if (fd_ < 0) {
            return;
        }
        // A terminal (say /dev/tty) must not stay raw after us, whatever ended the use.
        if (saved_) {
            tcsetattr(fd_, TCSANOW, &*saved_);
            saved_.reset();
        }
        // The flag outlives this descriptor while another holds the terminal open.
        ioctl(fd_, TIOCNXCL);
        ::close(fd_); // drops the advisory lock with it
        fd_ = -1;
    }

    bool isOpen() const override { return fd_ >= 0; }

    bool setRate(uint32_t rate) override {
        speed_t speed{};
        termios attributes{};
        if (fd_ < 0 || !speedFor(rate, speed) || tcgetattr(fd_, &attributes) != 0) {
            return false;
        }
        cfmakeraw(&attributes);
        attributes.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
        attributes.c_cflag |= CS8 | CLOCAL | CREAD;
        attributes.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        attributes.c_cc[VMIN] = 0;
        attributes.c_cc[VTIME] = 0;
        cfsetispeed(&attributes, speed);
        cfsetospeed(&attributes, speed);
        return tcsetattr(fd_, TCSANOW, &attributes) == 0;
    }

    bool write(std::span<const uint8_t> bytes, uint32_t timeoutMs) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!bytes.empty()) {
            if (fd_ < 0) {
                return false;
            }
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written > 0) {
                bytes = bytes.subspan(static_cast<size_t>(written));
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd item{fd_, POLLOUT, 0};
            poll(&item, 1, static_cast<int>(left.count()));
            if (item.revents & (POLLHUP | POLLERR)) {
                return false;
            }
        }
        return true;
    }

    int read(std::span<uint8_t> buffer, uint32_t timeoutMs) override {
        if (fd_ < 0) {
            return -1;
        }
        pollfd item{fd_, POLLIN, 0};
        const int ready = poll(&item, 1, static_cast<int>(timeoutMs));
        if (ready < 0) {
            return errno == EINTR ? 0 : -1;
        }
        if (ready == 0) {
            return 0;
        }
        if (item.revents & POLLIN) {
            const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
            if (count > 0) {
                return static_cast<int>(count);
            }
            if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
                return 0;
            }
            return -1;
        }
        // A pty slave whose master has closed reports a hang-up.
        return (item.revents & (POLLHUP | POLLERR | POLLNVAL)) ? -1 : 0;
    }

    void discardInput() override {
        if (fd_ >= 0) {
            tcflush(fd_, TCIFLUSH);
        }
    }

private:
    bool openDevice(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        // A second program on the port would take the unit's answers from the first.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        ioctl(fd_, TIOCEXCL);
        termios original{};
        if (tcgetattr(fd_, &original) == 0) {
            saved_ = original;
        }
        return true;
    }

    int fd_ = -1;
    // The terminal's settings before the port was set up, put back by close().
    std::optional<termios> saved_;
};

} // namespace

std::unique_ptr<SerialPort> makeSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

} // namespace octo::serial
