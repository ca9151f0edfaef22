#include "app/SettingsLock.h"

#include "resources/StringIds.h"
#include "resources/resource.h"

namespace octo {

void SettingsLock::onToggleSettingsLock() {
    if (!settings_.locked()) {
        // What the window shows now is what the lock keeps: later changes are reverted
        // to it, so it must be in the settings before the first revert.
        takeControls(view_, settings_);
    }
    settings_.showSettings = settings_.locked() ? 1 : 0;
    applySettingsLock(settings_.showSettings);
}

void SettingsLock::applySettingsLock(int unlocked) {
    view_.setMenuItemText(IDM_LOCK_SETTINGS,
                          view_.loadString(unlocked ? IDS_LOCK_SETTINGS : IDS_UNLOCK_SETTINGS));
    for (int id = IDC_ERASE; id <= IDC_SECURE; ++id) {
        if (view_.hasControl(id)) {
            // The lock item stays usable while an operation runs: the options must not
            // come alive in the middle of it, and its end must not undo the lock.
            bracket_.setEnabledNowOrAtEnd(id, unlocked != 0);
        }
    }
    view_.setEnabled(IDC_STATUS_LAMP, true);
}

} // namespace octo
