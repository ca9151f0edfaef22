// The stop signals on POSIX. The handlers make only async-signal-safe calls (write,
// sigaction, alarm, raise, _exit) and touch only lock-free atomics.
#include "StopSignals.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <unistd.h>

namespace octo::cli {

namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr uint32_t kMsPerSecond = 1000;
// The status a shell gives a process its signal ended: 128 + the signal's number.
constexpr int kSignalStatusBase = 128;

std::atomic<int> gStop{0};
std::atomic<uint32_t> gWaitMs{kStopSettleMs};
// Which of kStopSignals are caught (set before their handlers are, read by them).
std::array<bool, kStopSignals.size()> gCaught{};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free);

void tell(const char* text) {
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    static_cast<void>(written); // a closed standard error must not change the stop
}

// Digits of a number without the C library's formatting, which a handler may not call.
void tellNumber(uint32_t value) {
    std::array<char, 12> digits{};
    size_t at = digits.size() - 1; // the last stays the terminating zero
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && at > 0);
    tell(&digits[at]);
}

// blockStops: the stop signals wait while the handler runs, so that two that come together
// are taken one after the other.
void setAction(int number, void (*handler)(int), bool blockStops) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    if (blockStops) {
        for (const int stop : kStopSignals) {
            sigaddset(&action.sa_mask, stop);
        }
    }
    // A read or write of the serial line, the ledger or the log is taken up again after
    // the handler rather than failing with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

void onWaitRunOut(int) {
    tell("octo816: the command did not stop within the stop's wait: ended at once\n");
    const int number = gStop.load();
    raise(number); // its action is the system's again: the process ends here
    _exit(kSignalStatusBase + number);
}

void onStop(int number) {
    gStop.store(number);
    // From here a second stop meets the system's own action: the process ends at once.
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        if (gCaught[i]) {
            setAction(kStopSignals[i], SIG_DFL, false);
        }
    }
    const uint32_t seconds = (gWaitMs.load() + kMsPerSecond - 1) / kMsPerSecond;
    tell("octo816: stopping after the unit's current step, in at most ");
    tellNumber(seconds);
    tell(" s (a second stop ends octo816 at once)\n");
    alarm(seconds);
}

} // namespace

void catchStopSignals() {
    setAction(SIGALRM, onWaitRunOut, false);
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        // One the caller ignores stays ignored: nohup's hang-up, a background job's Ctrl-C.
        struct sigaction inherited {};
        gCaught[i] =
            sigaction(kStopSignals[i], nullptr, &inherited) != 0 || inherited.sa_handler != SIG_IGN;
        if (gCaught[i]) {
            setAction(kStopSignals[i], onStop, true);
        }
    }
}

int stopSignal() {
    return gStop.load();
}

std::string stopSignalName() {
    switch (gStop.load()) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(gStop.load());
    }
}

void stopMayWait(uint32_t expectedMs) {
    gWaitMs.store(stopWaitMs(expectedMs));
}

void endByStopSignal() {
    const int number = gStop.load();
    std::fflush(nullptr);
    raise(number);
    _exit(kSignalStatusBase + number);
}

} // namespace octo::cli
