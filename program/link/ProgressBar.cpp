#include "link/ProgressBar.h"

#include "resources/resource.h"

#include <algorithm>
#include <limits>

namespace octo {

void ProgressBar::startProgress(uint32_t expectedMs, uint16_t step, bool startTimer) {
    // The bar counts in a signed range.
    const auto limit =
        static_cast<int32_t>(std::min<uint32_t>(expectedMs, std::numeric_limits<int32_t>::max()));
    view_.setProgressRange(IDC_PROGRESS, {0, limit});
    view_.setProgressPosition(IDC_PROGRESS, step);
    view_.setProgressStep(IDC_PROGRESS, step);
    if (startTimer) {
        view_.setTimer(ID_TIMER_PROGRESS, periodMs_);
    }
}

void ProgressBar::onProgressTimer() {
    const int32_t limit = view_.progressRange(IDC_PROGRESS).high;
    const int32_t before = view_.progressPosition(IDC_PROGRESS);
    if (before >= limit) {
        return; // full: stays so until the operation ends
    }
    view_.stepProgress(IDC_PROGRESS);
    const int32_t after = view_.progressPosition(IDC_PROGRESS);
    // A step past the end makes the bar start over; an operation that takes longer than
    // expected shows a full bar instead.
    if (after < before || after > limit) {
        view_.setProgressPosition(IDC_PROGRESS, limit);
    }
}

void ProgressBar::stopProgress(bool stopTimer) {
    view_.setProgressPosition(IDC_PROGRESS, 0);
    if (stopTimer) {
        view_.killTimer(ID_TIMER_PROGRESS);
    }
}

} // namespace octo
