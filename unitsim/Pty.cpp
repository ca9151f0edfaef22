#include "Pty.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace octo::unitsim {

namespace {

pid_t childPid = -1;

void forwardSignal(int signal) {
    if (childPid > 0) {
        kill(childPid, signal);
    }
}

uint32_t rateOf(speed_t speed) {
    switch (speed) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

} // namespace

std::optional<std::string> Pty::open() {
    close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        return std::string("posix_openpt: ") + std::strerror(errno);
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        return std::string("grantpt/unlockpt: ") + std::strerror(errno);
    }
    const char* name = ptsname(master);
    if (!name) {
        ::close(master);
        return std::string("ptsname failed");
    }
    slavePath_ = name;
    // Opening the slave without O_NOCTTY makes it our controlling terminal when we have
    // none; TIOCSCTTY insists. Either way the slave is then nobody else's to adopt.
    const int slave = ::open(slavePath_.c_str(), O_RDWR);
    if (slave >= 0) {
        ioctl(slave, TIOCSCTTY, 0);
        ::close(slave);
    }
    termios attributes{};
    if (tcgetattr(master, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(master, TCSANOW, &attributes);
    }
    tcflush(master, TCIOFLUSH);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;

    // Replace the link atomically, so an opener never sees it missing half-way.
    std::error_code error;
    const auto temporary = link_.string() + ".new";
    std::filesystem::remove(temporary, error);
    std::filesystem::create_symlink(slavePath_, temporary, error);
    if (error) {
        close();
        return "cannot create link " + temporary + ": " + error.message();
    }
    std::filesystem::rename(temporary, link_, error);
    if (error) {
        close();
        return "cannot rename link to " + link_.string() + ": " + error.message();
    }
    return std::nullopt;
}

void Pty::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
        std::error_code error;
        std::filesystem::remove(link_, error);
    }
}

uint32_t Pty::farEndRate() const {
    termios attributes{};
    // On a master, the terminal calls address the slave's settings.
    if (master_ < 0 || tcgetattr(master_, &attributes) != 0) {
        return 0;
    }
    return rateOf(cfgetospeed(&attributes));
}

bool becomeSessionLeader(std::optional<int>& exitStatus) {
    if (setsid() >= 0) {
        return true;
    }
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        return setsid() >= 0;
    }
    childPid = child;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

} // namespace octo::unitsim
