// The main process: the Start button, one run of the unit over all targets (window command
// 1087), the continual series chained through the window's own message queue, the
// parameter block sent before each run and the expected duration of a run.
#pragma once

#include "devices/DeviceCatalogue.h"
#include "link/ResultGrid.h"
#include "ops/Operation.h"
#include "ops/RunReport.h"
#include "ops/Serialization.h"
#include "ops/Series.h"
#include "ops/TraceLog.h"
#include "run/programming.h"
#include "wire/messages.h"

#include <cstdint>
#include <optional>

namespace octo {

using run::kExternalSupplySettleMs;
using run::kSwitchVccOffFlag;
using run::libraryTimeout;
using run::ProgrammingParameters;

// The choices of the settings, as the parameter block and the estimate take them.
run::ProgrammingChoice programmingChoice(const Settings& settings);

// The parameter block from the settings, the current type and the settling time chosen in
// the window (used only while the unit supplies the targets).
ProgrammingParameters programmingParameters(const Settings& settings, const DeviceType& type,
                                            uint16_t settleMs);

// The expected duration of a run in ms from the options, the type's memory sizes and the
// settling time (0 while the unit does not supply the targets), with the interface's
// slowdown.
uint32_t estimatedRunMs(const Settings& settings, const DeviceType& type, uint16_t settleMs);

// The beep that goes with the supply raised to the type's minimum.
inline constexpr unsigned kGuardBeepHz = 1000;
inline constexpr unsigned kGuardBeepMs = 50;

inline constexpr char kReloadWarningCaption[] = "Warning";
inline constexpr char kReloadWarning[] =
    "Programming parameters were changed.\nPlease download them into OCTO816 before "
    "continue\nby pressing <Load Image>";
inline constexpr char kSeriesFailed[] = "For details see Status Information";
inline constexpr char kSeriesTerminated[] = "Continual Main Process terminated.";
inline constexpr char kStartCaption[] = "&Start";
inline constexpr char kStopCaption[] = "&Stop";

// What the main process works with besides what every operation does, owned by the window.
struct MainProcessParts {
    OperationParts common;
    ResultGrid& results;
    DeviceCatalogue& catalogue;
};

class MainProcess : private Operation {
public:
    explicit MainProcess(const MainProcessParts& parts);

    // The Start button: one run, or the start or the end of a series. During a series it
    // is also reached from inside a run, while the library waits for the unit.
    void onStart();
    // One run; in a series it posts the next one to the window.
    void runMainProcess();
    // Sends the parameter block; the library's result, also kept as the last result.
    int32_t sendParameters();
    // Makes the expected duration current: estimated anew when something it depends on
    // changed, else the configured one.
    void estimateProgTime();

private:
    // Raises a supply below the type's minimum for erase or program; true when it did
    // (no run then).
    bool supplyBelowMinimum();
    // Takes over the device type of the image in the unit when the window shows another.
    void resyncDeviceType();
    // The run after the supply guard: Busy, the bracket, the unit, the outcome, the
    // traceability log and the series' next step.
    void runGuarded();
    // One pass of the unit: parameters, the run and its result; how far it came and the
    // library's answer to the result read, none when the unit delivered no result.
    UnitRunEnd runUnit();
    void showRunOutcome(uint32_t startMs);
    void writeBusy(bool busy);

    ResultGrid& results_;
    DeviceCatalogue& catalogue_;
    RunReport report_;
    TraceLog trace_;
    Serialization serialization_;
    Series series_;
};

} // namespace octo
