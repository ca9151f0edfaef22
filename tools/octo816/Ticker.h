// Calls a function at a fixed period on a thread of its own while the main thread waits in
// a library call; from construction until destruction, which waits for the last call.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace octo::cli {

class Ticker {
public:
    Ticker(std::function<void()> tick, std::chrono::milliseconds period);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    struct Thread;

private:
    std::unique_ptr<Thread> thread_;
};

} // namespace octo::cli
