// The settings lock of the system menu: while locked, the main process options are
// disabled and every settings handler refuses its change.
#pragma once

#include "app/View.h"
#include "link/OperationBracket.h"
#include "settings/Settings.h"

namespace octo {

class SettingsLock {
public:
    SettingsLock(View& view, Settings& settings, OperationBracket& bracket)
        : view_(view), settings_(settings), bracket_(bracket) {}

    void onToggleSettingsLock();
    // Menu text of the lock item, the main process options and the status lamp for the
    // lock state (nonzero = unlocked).
    void applySettingsLock(int unlocked);

private:
    View& view_;
    Settings& settings_;
    OperationBracket& bracket_;
};

} // namespace octo
