// The progress bar of operations with a known expected duration, stepped by timer 1100.
#pragma once

#include "app/View.h"

#include <cstdint>

namespace octo {

inline constexpr uint16_t kProgressPeriodMs = 100;

class ProgressBar {
public:
    explicit ProgressBar(View& view) : view_(view) {}

    // The timer's period; zero until the start-up command sets it.
    void setPeriod(uint16_t periodMs) { periodMs_ = periodMs; }
    uint16_t period() const { return periodMs_; }
    void startProgress(uint32_t expectedMs, uint16_t step, bool startTimer);
    void stopProgress(bool stopTimer);
    // One tick of the timer.
    void onProgressTimer();

private:
    View& view_;
    uint16_t periodMs_ = 0;
};

} // namespace octo
