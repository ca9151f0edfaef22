// The main process: the Start button, one run of the unit over all targets (window command
// 1087), the continual series chained through the window's own message queue, the
// parameter block sent before each run and the expected duration of a run.
#pragma once

#include "app/OperationFlags.h"
#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceCatalogue.h"
#include "devices/DeviceType.h"
#include "link/OperationBracket.h"
#include "link/ProgrammerLibrary.h"
#include "link/ProgressBar.h"
#include "link/ResultGrid.h"
#include "link/StatusLine.h"
#include "ops/RunReport.h"
#include "ops/TargetPower.h"
#include "ops/TraceLog.h"
#include "run/programming.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"
#include "wire/messages.h"

#include <cstdint>

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

// Pause between the successful runs of a series.
inline constexpr unsigned kSeriesPauseMs = 750;
// The beep that goes with the supply raised to the type's minimum.
inline constexpr unsigned kGuardBeepHz = 1000;
inline constexpr unsigned kGuardBeepMs = 50;

inline constexpr char kReloadWarningCaption[] = "Warning";
inline constexpr char kReloadWarning[] =
    "Programming parameters were changed.\nPlease download them into OCTO816 before "
    "continue\nby pressing <Load Image>";
inline constexpr char kSeriesFailedCaption[] = "CE-Test Error";
inline constexpr char kSeriesFailed[] = "For details see Status Information";
inline constexpr char kSeriesTerminated[] = "Continual Main Process terminated.";
inline constexpr char kStartCaption[] = "&Start";
inline constexpr char kStopCaption[] = "&Stop";

// What the main process works with, owned by the window.
struct MainProcessParts {
    View& view;
    Platform& platform;
    LibrarySlot& library;
    ProfileStore& profile;
    Settings& settings;
    const DeviceType& deviceType;
    OperationFlags& flags;
    ProgramState& state;
    StatusLine& status;
    OperationBracket& bracket;
    ProgressBar& progress;
    ResultGrid& results;
    DeviceCatalogue& catalogue;
    const TargetPower& power;
};

class MainProcess {
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
    // One pass of the unit: parameters, the run and its result; true when a result was
    // delivered.
    bool runUnit();
    void showRunOutcome(uint32_t startMs);
    void continueSeries(bool succeeded);
    void writeBusy(bool busy);

    View& view_;
    Platform& platform_;
    LibrarySlot& library_;
    ProfileStore& profile_;
    Settings& settings_;
    const DeviceType& deviceType_;
    OperationFlags& flags_;
    ProgramState& state_;
    StatusLine& status_;
    OperationBracket& bracket_;
    ProgressBar& progress_;
    ResultGrid& results_;
    DeviceCatalogue& catalogue_;
    const TargetPower& power_;
    RunReport report_;
    TraceLog trace_;
};

} // namespace octo
