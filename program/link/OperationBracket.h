// The bracket around every operation started from the window: the window takes no input in
// between, and everything it changed is put back at the end.
#pragma once

#include "app/OperationFlags.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ResultGrid.h"
#include "resources/resource.h"
#include "settings/Settings.h"

#include <array>

namespace octo {

class OperationBracket {
public:
    OperationBracket(View& view, const Settings& settings, const DeviceType& deviceType,
                     const OperationFlags& flags, ResultGrid& results)
        : view_(view), settings_(settings), deviceType_(deviceType), flags_(flags),
          results_(results) {}

    // Greys the result grid, records and disables the controls, greys Close and About in
    // the system menu, sets the busy cursor and captures the mouse.
    void beginOperation();
    // Restores all of it.
    void endOperation();
    bool operationActive() const { return depth_ > 0; }
    // Enables or disables a control of the recorded range now, or, while an operation runs,
    // at its end (the control must not come alive in the middle of it).
    void setEnabledNowOrAtEnd(int id, bool enabled);

private:
    // The controls from Start to the status lamp are recorded and disabled.
    static constexpr int kFirstBracketedId = IDC_START;
    static constexpr int kBracketedCount = IDC_STATUS_LAMP - IDC_START + 1;

    void keepSeriesButtonsUsable();

    View& view_;
    const Settings& settings_;
    const DeviceType& deviceType_;
    const OperationFlags& flags_;
    ResultGrid& results_;
    std::array<bool, kBracketedCount> savedEnabled_{};
    bool savedDuoLinkEnabled_ = false;
    bool savedJtag4Enabled_ = false;
    int savedFocus_ = 0;
    int depth_ = 0;
};

} // namespace octo
