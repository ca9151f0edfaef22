// A unit simulator process for one test: its own temporary folder, pty link and state
// file; ended by its PID when the object goes.
#pragma once

#include <objfile/image.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace octo::testing {

class SimulatedUnit {
public:
    // Starts unitsim with the given "key=value" settings (time_scale defaults to 0.01)
    // on a link in its own folder, or on the given link path; fails the test (and
    // throws) when it does not come up.
    explicit SimulatedUnit(std::vector<std::string> settings = {}, std::filesystem::path link = {});
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // The path the library opens.
    std::string link() const { return link_.string(); }
    const std::filesystem::path& folder() const { return folder_; }

    // The last state file, key -> value.
    std::map<std::string, std::string> state() const;
    std::string state(const std::string& key) const;
    // The records the unit wrote into chips, one line each, as the simulator logs them.
    std::filesystem::path chipLogPath() const { return folder_ / "chips.log"; }
    std::vector<std::string> chipLog() const;
    // The bytes the unit holds in an image slot.
    objfile::Image slot(int index) const;

    // Waits until the state file shows key = value; false at the deadline.
    bool waitFor(const std::string& key, const std::string& value,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;

    void stop();
    // Sends the simulator a signal: SIGUSR1 unplugs or plugs back, SIGUSR2 cycles power.
    void signal(int number) const;
    // A target's memory (socket 1..8) as the simulator dumps it (scenario dump_targets).
    objfile::Image targetMemory(int socket) const;

private:
    objfile::Image dump(const std::string& what, int number) const;

    std::filesystem::path folder_;
    std::filesystem::path link_;
    pid_t pid_ = -1;
};

// A file's whole content; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// The image an object file holds (read without device checks).
objfile::Image imageOfFile(const std::filesystem::path& path);

std::filesystem::path samplePath(const std::string& name);

} // namespace octo::testing
