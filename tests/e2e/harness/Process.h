// Child processes of the e2e harness: started with fork/exec, ended by their PID.
#ifndef OCTO_E2E_PROCESS_H
#define OCTO_E2E_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace octo::e2e {

using Millis = std::chrono::milliseconds;

// Every failure of the harness or the driver: the test that meets one fails with its text.
class E2eError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Environment = std::map<std::string, std::string>;

struct ProcessOptions {
    std::vector<std::string> argv;
    std::filesystem::path workingDirectory;
    Environment environment;         // the complete environment of the child
    std::filesystem::path outputLog; // stdout and stderr go here unless piped
    bool pipeStdio = false;          // stdin and stdout become pipes to the harness
    int extraFd = -1;                // passed to the child under the same number
};

class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(const ProcessOptions& options);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    int stdinFd() const { return stdin_; }
    int stdoutFd() const { return stdout_; }
    void closeStdin();

    // The exit status (or 128 + signal) once it has ended; nothing while it runs.
    std::optional<int> poll();
    std::optional<int> waitExit(Millis timeout);
    bool running() { return started() && !poll(); }

    // SIGTERM, then SIGKILL if it has not ended by the deadline; always reaped.
    void stop(Millis grace);

private:
    void release();

    pid_t pid_ = -1;
    std::optional<int> status_;
    int stdin_ = -1;
    int stdout_ = -1;
};

// Polls until `done` holds or the deadline passes; true when it held.
template <typename Predicate>
bool waitUntil(Millis timeout, Predicate done, Millis step = Millis{20}) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
}

// Polls a reading until it equals the expected value or the deadline passes; returns the
// last reading, so a failed expectation shows what was there instead.
template <typename Read, typename T>
auto eventually(Read read, const T& expected, Millis timeout = Millis{10000}) {
    auto value = read();
    waitUntil(timeout, [&] { return (value = read()) == expected; });
    return value;
}

// Runs a command to its end with a deadline; returns its exit status.
int runToEnd(const ProcessOptions& options, Millis timeout);

// This process's environment, as a map to amend for a child.
Environment currentEnvironment();

// Makes the harness the reaper of orphaned descendants (Wine starts its service processes
// detached), so that they can be found and ended by PID at the end.
void becomeSubreaper();

// The PIDs of this process's living children.
std::vector<pid_t> livingChildren();

// Reaps ended children that no ChildProcess tracks (orphans the harness adopted).
void reapOrphans(const std::vector<pid_t>& tracked);

} // namespace octo::e2e

#endif
