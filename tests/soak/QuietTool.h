// The kill trials' and benchmarks' way of starting octo816: a child of its own, its output
// dropped, so that a trial can kill it at any moment and a benchmark times only its work.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace octo::testing {

// Starts OCTO816_PATH with args (without the program's own name); the child's pid.
inline pid_t startQuietTool(std::vector<std::string> args) {
    args.insert(args.begin(), OCTO816_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(OCTO816_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// Runs OCTO816_PATH with args to its end; its exit status, -1 when it did not exit.
inline int runQuietTool(std::vector<std::string> args) {
    int status = 0;
    waitpid(startQuietTool(std::move(args)), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace octo::testing
