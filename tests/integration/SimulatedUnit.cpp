#include "SimulatedUnit.h"

#include <objfile/load.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace octo::testing {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// The simulator rewrites its state file, and the dump of every slot that changed, before
// each answer leaves it: the first erase replaces nine files by rename, the first renames
// over existing files of the run, which the file system makes wait for their data to be
// written. On a disk still busy with a build's output that took longer than the library
// waits for a silent unit (five tries, under half a second at 115200), and the test's first
// erase timed out. A folder in memory keeps these writes off the disk; /tmp is the fallback
// where there is none.
std::string folderPattern() {
    std::error_code error;
    const bool inMemory = std::filesystem::is_directory("/dev/shm", error);
    return std::string(inMemory ? "/dev/shm" : "/tmp") + "/octo-unit-XXXXXX";
}

} // namespace

SimulatedUnit::SimulatedUnit(std::vector<std::string> settings, std::filesystem::path link) {
    std::string pattern = folderPattern();
    const char* made = mkdtemp(pattern.data());
    if (!made) {
        throw std::runtime_error("mkdtemp failed");
    }
    folder_ = made;
    link_ = link.empty() ? folder_ / "com" : link;
    std::vector<std::string> args = {UNITSIM_PATH,
                                     "--link",
                                     link_.string(),
                                     "--state",
                                     (folder_ / "state").string(),
                                     "--chip-log",
                                     chipLogPath().string(),
                                     "--set",
                                     "time_scale=0.01"};
    for (const auto& setting : settings) {
        args.push_back("--set");
        args.push_back(setting);
    }
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // Wait for "unitsim ready".
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.find("ready") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd item{out[0], POLLIN, 0};
        if (poll(&item, 1, 100) > 0) {
            char buffer[256];
            const ssize_t count = read(out[0], buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            seen.append(buffer, static_cast<size_t>(count));
        }
    }
    close(out[0]);
    if (seen.find("ready") == std::string::npos) {
        stop();
        ADD_FAILURE() << "unitsim did not start: " << seen;
        throw std::runtime_error("unitsim did not start");
    }
}

SimulatedUnit::~SimulatedUnit() {
    stop();
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
}

void SimulatedUnit::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        // A simulator that ended on its own before being told to is a failure too.
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "unitsim ended with status " << status;
    }
}

void SimulatedUnit::signal(int number) const {
    if (pid_ > 0) {
        kill(pid_, number);
    }
}

// A QX-Text dump beside the state file: "state.<what><N>.txt".
objfile::Image SimulatedUnit::dump(const std::string& what, int number) const {
    objfile::Image image;
    const auto text = readFile(folder_ / ("state." + what + std::to_string(number) + ".txt"));
    const auto result = objfile::readImage(text, objfile::Format::QxText, image);
    EXPECT_TRUE(result.ok()) << what << " dump " << number << " unreadable";
    return image;
}

objfile::Image SimulatedUnit::targetMemory(int socket) const {
    return dump("target", socket);
}

std::map<std::string, std::string> SimulatedUnit::state() const {
    std::map<std::string, std::string> values;
    std::istringstream lines(readFile(folder_ / "state"));
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find(" = ");
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 3);
        }
    }
    return values;
}

std::string SimulatedUnit::state(const std::string& key) const {
    const auto values = state();
    const auto found = values.find(key);
    return found == values.end() ? std::string("<missing>") : found->second;
}

std::vector<std::string> SimulatedUnit::chipLog() const {
    std::vector<std::string> lines;
    std::istringstream text(readFile(chipLogPath()));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

objfile::Image SimulatedUnit::slot(int index) const {
    return dump("slot", index);
}

bool SimulatedUnit::waitFor(const std::string& key, const std::string& value,
                            std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (state(key) == value) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

objfile::Image imageOfFile(const std::filesystem::path& path) {
    objfile::Image image;
    const auto text = readFile(path);
    const auto result = objfile::loadObjectFile(path.filename().string(), text, image);
    EXPECT_TRUE(result.ok()) << path;
    return image;
}

std::filesystem::path samplePath(const std::string& name) {
    return std::filesystem::path(OCTO_DIST_DIR) / "samples" / name;
}

} // namespace octo::testing
