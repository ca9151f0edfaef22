#include "ops/Series.h"

#include "resources/resource.h"

namespace octo {

Series::Press Series::press(int runs) {
    bool& active = flags_.*active_;
    if (runs == 0) {
        active = false;
        return Press::SingleRun;
    }
    active = !active;
    if (active) {
        view_.setText(controls_.button, controls_.stopCaption);
        flags_.runsLeft = runs;
        return Press::Started;
    }
    // Also reached from inside a run, while the library waits for the unit: that run
    // completes, and its end enables the button again and starts no further run.
    view_.setText(controls_.button, controls_.startCaption);
    view_.setEnabled(controls_.button, false);
    view_.setText(IDC_STATUS_LINE, controls_.terminated);
    return Press::Ended;
}

void Series::afterRun(const char* failure, const std::function<void()>& pressButton) {
    if (failure == nullptr) {
        platform_.sleep(kSeriesPauseMs);
    } else {
        view_.messageBox(failure, kSeriesFailedCaption, mb::kOk);
    }
    if (--flags_.runsLeft != 0) {
        // Through the message queue, so the window repaints and takes the operator's stop
        // before the next run starts waiting for the unit.
        view_.postCommand(controls_.runCommand);
        return;
    }
    pressButton();
    view_.setEnabled(controls_.button, true);
}

bool Series::endNow() {
    if (!active()) {
        return false;
    }
    press(1); // any number of runs: an active series is ended
    view_.setEnabled(controls_.button, true);
    return true;
}

} // namespace octo
