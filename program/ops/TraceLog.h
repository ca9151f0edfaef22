// The traceability log of the window's main process: when key TraceLog of section User
// names a file, every run the unit answered appends one CSV line per socket in use (key
// Sockets of section User; all eight by default) and per chip found in another socket, the
// same lines the command-line programmer writes.
#pragma once

#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"
#include "settings/Settings.h"
#include "trace/trace_log.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace octo {

inline constexpr char kTraceLogCaption[] = "Traceability log";
inline constexpr char kTraceLogNotWritten[] =
    "The traceability log cannot be written.\nThis run is missing from it.";

class TraceLog {
public:
    TraceLog(View& view, LibrarySlot& library, const Settings& settings,
             const DeviceType& deviceType, const ProgramState& state)
        : view_(view), library_(library), settings_(settings), deviceType_(deviceType),
          state_(state) {}

    // The lines of a run from its result block and the library's answer to OctoGetResult
    // (0, or 50 for a run the unit could not carry out), with the unit's serial number and
    // run count when it tells them and each target's serial record (empty without one);
    // nothing while no log is named. A log that cannot be written is kept for reportFailure.
    void record(std::span<const uint8_t> resultBlock, int32_t resultCode,
                const std::array<std::string, trace::kTargets>& serials);
    // Tells the operator, once, that lines could not be written since the last report.
    void reportFailure();

private:
    View& view_;
    LibrarySlot& library_;
    const Settings& settings_;
    const DeviceType& deviceType_;
    const ProgramState& state_;
    bool unwritten_ = false;
};

} // namespace octo
