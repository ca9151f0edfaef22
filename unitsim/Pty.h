// The unit's end of the serial line: a pseudo-terminal master, with a stable symlink to
// its slave that the library (or Wine's COM port mapping) opens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace octo::unitsim {

class Pty {
public:
    explicit Pty(std::filesystem::path link) : link_(std::move(link)) {}
    ~Pty() { close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new pty, makes it this process's controlling terminal (so that no Wine
    // server opening the slave can adopt it and be hung up by an unplug), makes the line
    // raw, flushes it and points the link at the slave. An error text on failure.
    std::optional<std::string> open();
    // Closes the master (the far end sees a hang-up) and removes the link.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int fd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // The rate the far end set on its side of the line, 0 when unknown.
    uint32_t farEndRate() const;

private:
    std::filesystem::path link_;
    int master_ = -1;
    std::string slavePath_;
};

// Makes this process the leader of a new session, so that it may own the pty as its
// controlling terminal. When it already leads a process group (started by a shell with
// job control), it forks: the parent waits, forwards termination signals and returns the
// child's exit status through exitStatus; the child goes on. False on failure.
bool becomeSessionLeader(std::optional<int>& exitStatus);

} // namespace octo::unitsim
