// A continual series of runs, as the main process and the self-test make them: the
// button's caption toggled between start and stop, a pause after each passed run or an
// error box after each failed one, the next run posted to the window, and the end.
#pragma once

#include "app/OperationFlags.h"
#include "app/Platform.h"
#include "app/View.h"

#include <functional>

namespace octo {

// Pause between the successful runs of a series.
inline constexpr unsigned kSeriesPauseMs = 750;
inline constexpr char kSeriesFailedCaption[] = "CE-Test Error";

// The controls and texts of one kind of series.
struct SeriesControls {
    int button;               // starts and stops the series
    const char* startCaption; // the button's caption outside a series
    const char* stopCaption;  // ... and during one
    const char* terminated;   // the status line once the series has ended
    int runCommand;           // the window command of one run
};

class Series {
public:
    Series(View& view, Platform& platform, OperationFlags& flags, bool OperationFlags::*active,
           const SeriesControls& controls)
        : view_(view), platform_(platform), flags_(flags), active_(active), controls_(controls) {}

    enum class Press { SingleRun, Started, Ended };

    // The button, with the number of runs the configuration file asks for: none makes a
    // single run outside a series; else the series starts (stop caption, runs counted) or
    // ends. Ending disables the button until the run in progress, if any, has finished.
    // The caller makes the run.
    Press press(int runs);
    bool active() const { return flags_.*active_; }
    // After each run of an active series: the pause, or the error box with failure (nullptr
    // after a passed run); then the next run is posted, or after the last one pressButton
    // ends the series as the operator's stop does and the button is enabled again.
    void afterRun(const char* failure, const std::function<void()>& pressButton);
    // Ends an active series where a run could not start, as the operator's stop does, and
    // enables the button again; false when no series was active.
    bool endNow();

private:
    View& view_;
    Platform& platform_;
    OperationFlags& flags_;
    bool OperationFlags::*active_;
    SeriesControls controls_;
};

} // namespace octo
