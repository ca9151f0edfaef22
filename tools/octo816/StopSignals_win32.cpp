// The stop signals on Windows: the console's Ctrl-C, Ctrl-Break and close events. The system
// calls the handler on a thread of its own; a watch thread ends the process when the stop's
// wait runs out, unless the main thread has finished the command before. Windows ends a
// process whose console is closed some seconds after the event, whatever it does.
#include "StopSignals.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace octo::cli {

namespace {

// The POSIX numbers the events count as, for the status 128 + the number.
constexpr int kInterrupt = 2; // SIGINT
constexpr int kHangUp = 1;    // SIGHUP
constexpr int kSignalStatusBase = 128;
constexpr uint32_t kMsPerSecond = 1000;

std::atomic<int> gStop{0};
std::atomic<DWORD> gEvent{CTRL_C_EVENT};
std::atomic<uint32_t> gWaitMs{kStopSettleMs};

void tell(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

[[noreturn]] void endNow(int number) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kSignalStatusBase + number));
    ExitProcess(static_cast<UINT>(kSignalStatusBase + number));
}

// Ends the process when the stop's wait has run out before the command's end.
DWORD WINAPI watchStop(void*) {
    Sleep(gWaitMs.load());
    tell("octo816: the command did not stop within the stop's wait: ended at once\r\n");
    endNow(gStop.load());
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    int number = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        number = kInterrupt;
        break;
    case CTRL_CLOSE_EVENT:
        number = kHangUp;
        break;
    default:
        return FALSE; // the system's own handling
    }
    const DWORD first = gEvent.exchange(event);
    int none = 0;
    if (!gStop.compare_exchange_strong(none, number)) {
        gEvent.store(first);
        endNow(gStop.load()); // a second stop
    }
    char note[128];
    std::snprintf(note, sizeof note,
                  "octo816: stopping after the unit's current step, in at most %u s (a second "
                  "stop ends octo816 at once)\r\n",
                  static_cast<unsigned>((gWaitMs.load() + kMsPerSecond - 1) / kMsPerSecond));
    tell(note);
    // The system runs one event's handlers at a time: this one returns at once, so that a
    // second stop reaches it, and a thread of its own keeps the wait.
    const HANDLE watch = CreateThread(nullptr, 0, watchStop, nullptr, 0, nullptr);
    if (watch == nullptr) {
        watchStop(nullptr);
    }
    CloseHandle(watch);
    if (event == CTRL_CLOSE_EVENT) {
        // The system ends the process as soon as the close's handler returns: it waits here
        // for the command's end, the wait's end or the system's own bound.
        Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

void catchStopSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopSignal() {
    return gStop.load();
}

std::string stopSignalName() {
    switch (gEvent.load()) {
    case CTRL_BREAK_EVENT:
        return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
        return "the console's close";
    default:
        return "Ctrl-C";
    }
}

void stopMayWait(uint32_t expectedMs) {
    gWaitMs.store(stopWaitMs(expectedMs));
}

void endByStopSignal() {
    std::fflush(nullptr);
    std::exit(kSignalStatusBase + gStop.load());
}

} // namespace octo::cli
