// The stop signals of octo816 program: SIGINT (Ctrl-C), SIGTERM and SIGHUP on POSIX; the
// console's Ctrl-C, Ctrl-Break and close on Windows.
//
// The first one is noted and told at once on standard error; nothing else happens in the
// handler. The command stops at its next stop point, once the library call in progress has
// ended by itself: a run under way gives its result, which settles its records and is logged.
// A second stop, or the stop's bound running out, ends the process at once; a run's records
// then stay reserved, and the ledger's next open makes them void.
#pragma once

#include "run/programming.h"
#include "trace/trace_log.h"

#include <cstdint>
#include <string>

namespace octo::cli {

// What a stop waits beyond the unit's step in progress, for the run's result to be read, its
// records settled and its lines logged: the log's lock wait, and as much again for the rest.
inline constexpr uint32_t kStopSettleMs = 2 * static_cast<uint32_t>(trace::kLockWait.count());

// Catches the stop signals from here to the end of the process, but for one the process was
// started ignoring (under nohup, a background job of a shell).
void catchStopSignals();

// The signal that asked to stop, 0 while none did. Numbered as on POSIX on both systems:
// Ctrl-C and Ctrl-Break count as SIGINT (2), the console's close as SIGHUP (1).
int stopSignal();
// Its name for the operator: "SIGTERM", "Ctrl-Break", ...
std::string stopSignalName();

// How long a stop waits when the unit's step in progress is expected to take expectedMs (0:
// none is in progress): the library's calls give the unit up to twice its expected time and
// a margin, and the result, the ledger and the log take kStopSettleMs after it.
constexpr uint32_t stopWaitMs(uint32_t expectedMs) {
    return expectedMs == 0 ? kStopSettleMs
                           : 2 * expectedMs + run::kRunTimeoutMarginMs + kStopSettleMs;
}

// The unit's step about to start is expected to take expectedMs (0: it has ended): a stop
// that comes during it waits stopWaitMs(expectedMs) before it ends the process at once.
void stopMayWait(uint32_t expectedMs);

// Ends the process for the stop signal, the command's work being done: on POSIX by the
// signal itself, so that a shell sees 128 + its number and a script running it stops too;
// on Windows with the status 128 + its number.
[[noreturn]] void endByStopSignal();

} // namespace octo::cli
