// The kill trials' way of starting octo816: a child of its own, its output dropped, so that
// the trial can kill it at any moment.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
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

} // namespace octo::testing
