#include "Ticker.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace octo::cli {

struct Ticker::Thread {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
};

Ticker::Ticker(std::function<void()> tick, std::chrono::milliseconds period)
    : thread_(std::make_unique<Thread>()) {
    Thread& t = *thread_;
    t.thread = std::thread([&t, tick = std::move(tick), period] {
        std::unique_lock lock(t.mutex);
        while (!t.stop) {
            tick();
            t.wake.wait_for(lock, period, [&t] { return t.stop; });
        }
    });
}

Ticker::~Ticker() {
    {
        std::lock_guard lock(thread_->mutex);
        thread_->stop = true;
    }
    thread_->wake.notify_all();
    thread_->thread.join();
}

} // namespace octo::cli
