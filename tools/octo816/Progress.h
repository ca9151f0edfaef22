// A progress bar on the terminal for work the library does while the tool waits: the
// library's calls block, so a ticker thread draws the bar against the expected time.
#pragma once

#include "Ticker.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace octo::cli {

// True when the stream is a terminal (a bar in a pipe or a file would be noise).
bool isTerminal(std::FILE* stream);

class Progress {
public:
    // Draws on standard error, and only when it is a terminal.
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Starts a bar for work expected to take expectedMs; a started bar ends first.
    void start(const std::string& label, uint32_t expectedMs);
    // Ends the bar and clears its line.
    void finish();

private:
    void draw() const;

    bool enabled_;
    std::string label_;
    uint32_t expectedMs_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::unique_ptr<Ticker> ticker_;
};

} // namespace octo::cli
