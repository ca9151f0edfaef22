#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace octo::e2e {

namespace {

constexpr Millis kPollStep{10};

int decodeStatus(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

[[noreturn]] void childFail(const char* what) {
    const std::string text =
        std::string("e2e harness: ") + what + ": " + std::strerror(errno) + "\n";
    [[maybe_unused]] auto ignored = write(2, text.data(), text.size());
    _exit(127);
}

} // namespace

ChildProcess::ChildProcess(const ProcessOptions& options) {
    if (options.argv.empty())
        throw E2eError("no command to start");
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (options.pipeStdio && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0))
        throw E2eError(std::string("pipe: ") + std::strerror(errno));

    std::vector<std::string> envStrings;
    for (const auto& [name, value] : options.environment)
        envStrings.push_back(name + "=" + value);
    std::vector<char*> argv;
    for (const auto& a : options.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string log = options.outputLog.string();
    const std::string cwd = options.workingDirectory.string();

    pid_ = fork();
    if (pid_ < 0)
        throw E2eError(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        // Own process group: a terminal's signals meant for the test runner stay there.
        setpgid(0, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            childFail("chdir");
        const int logFd = log.empty() ? open("/dev/null", O_WRONLY)
                                      : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (logFd < 0)
            childFail("open log");
        if (options.pipeStdio) {
            dup2(in[0], 0);
            dup2(out[1], 1);
        } else {
            const int nullIn = open("/dev/null", O_RDONLY);
            dup2(nullIn, 0);
            dup2(logFd, 1);
        }
        dup2(logFd, 2);
        if (options.extraFd >= 0)
            fcntl(options.extraFd, F_SETFD, 0);
        execvpe(argv[0], argv.data(), envp.data());
        childFail(argv[0]);
    }
    if (options.pipeStdio) {
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept {
    *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop(Millis{2000});
        pid_ = other.pid_;
        status_ = other.status_;
        stdin_ = other.stdin_;
        stdout_ = other.stdout_;
        other.pid_ = -1;
        other.status_.reset();
        other.stdin_ = other.stdout_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    stop(Millis{2000});
}

void ChildProcess::closeStdin() {
    if (stdin_ >= 0)
        close(stdin_);
    stdin_ = -1;
}

void ChildProcess::release() {
    closeStdin();
    if (stdout_ >= 0)
        close(stdout_);
    stdout_ = -1;
}

std::optional<int> ChildProcess::poll() {
    if (status_ || pid_ <= 0)
        return status_;
    int raw = 0;
    const pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == pid_)
        status_ = decodeStatus(raw);
    else if (r < 0 && errno == ECHILD)
        status_ = -1;
    return status_;
}

std::optional<int> ChildProcess::waitExit(Millis timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (auto s = poll())
            return s;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(kPollStep);
    }
}

void ChildProcess::stop(Millis grace) {
    if (pid_ > 0 && !poll()) {
        kill(pid_, SIGTERM);
        if (!waitExit(grace)) {
            kill(pid_, SIGKILL);
            waitExit(Millis{5000});
        }
    }
    release();
}

int runToEnd(const ProcessOptions& options, Millis timeout) {
    ChildProcess child(options);
    if (auto status = child.waitExit(timeout))
        return *status;
    child.stop(Millis{1000});
    throw E2eError("'" + options.argv.front() + "' did not end in time");
}

Environment currentEnvironment() {
    Environment env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return env;
}

void becomeSubreaper() {
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

namespace {

struct ChildEntry {
    pid_t pid;
    char state;
};

std::vector<ChildEntry> childrenOfSelf() {
    std::vector<ChildEntry> children;
    const pid_t self = getpid();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream statFile(entry.path() / "stat");
        std::string stat;
        std::getline(statFile, stat);
        // pid (comm) state ppid ...: comm may hold blanks, so parse after the last ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == self)
            children.push_back({static_cast<pid_t>(std::stoi(name)), state});
    }
    return children;
}

} // namespace

std::vector<pid_t> livingChildren() {
    std::vector<pid_t> living;
    for (const auto& child : childrenOfSelf())
        if (child.state != 'Z')
            living.push_back(child.pid);
    return living;
}

void reapOrphans(const std::vector<pid_t>& tracked) {
    for (const auto& child : childrenOfSelf()) {
        bool isTracked = false;
        for (pid_t t : tracked)
            isTracked = isTracked || t == child.pid;
        int raw = 0;
        if (child.state == 'Z' && !isTracked)
            waitpid(child.pid, &raw, WNOHANG);
    }
}

} // namespace octo::e2e
