// The ticker on Windows: the compiler's runtime has no std::thread, so a thread of the
// system waits on an event between the calls.
#include "Ticker.h"

#include <windows.h>

namespace octo::cli {

struct Ticker::Thread {
    std::function<void()> tick;
    DWORD periodMs = 0;
    HANDLE stop = nullptr;
    HANDLE thread = nullptr;
};

namespace {

DWORD WINAPI tickerMain(void* parameter) {
    auto& t = *static_cast<Ticker::Thread*>(parameter);
    do {
        t.tick();
    } while (WaitForSingleObject(t.stop, t.periodMs) == WAIT_TIMEOUT);
    return 0;
}

} // namespace

Ticker::Ticker(std::function<void()> tick, std::chrono::milliseconds period)
    : thread_(std::make_unique<Thread>()) {
    thread_->tick = std::move(tick);
    thread_->periodMs = static_cast<DWORD>(period.count());
    thread_->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (thread_->stop != nullptr) {
        thread_->thread = CreateThread(nullptr, 0, tickerMain, thread_.get(), 0, nullptr);
    }
}

Ticker::~Ticker() {
    if (thread_->thread != nullptr) {
        SetEvent(thread_->stop);
        WaitForSingleObject(thread_->thread, INFINITE);
        CloseHandle(thread_->thread);
    }
    if (thread_->stop != nullptr) {
        CloseHandle(thread_->stop);
    }
}

} // namespace octo::cli
