// The system menu's own commands and the settings lock.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"

namespace octo {

void ProgrammerDialog::onToggleSettingsLock() {
    if (showSettings_ != 0) {
        // What the window shows now is what the lock keeps: later changes are reverted
        // to it, so it must be in the settings before the first revert.
        takeControls();
    }
    showSettings_ = showSettings_ == 0 ? 1 : 0;
    applySettingsLock(showSettings_);
}

void ProgrammerDialog::applySettingsLock(int unlocked) {
    view_.setMenuItemText(IDM_LOCK_SETTINGS,
                          view_.loadString(unlocked ? IDS_LOCK_SETTINGS : IDS_UNLOCK_SETTINGS));
    for (int id = IDC_ERASE; id <= IDC_SECURE; ++id) {
        if (!view_.hasControl(id)) {
            continue;
        }
        if (operationActive()) {
            // The lock item stays usable while an operation runs: the options must not
            // come alive in the middle of it, and its end must not undo the lock.
            savedEnabled_[id - kFirstBracketedId] = unlocked != 0;
        } else {
            view_.setEnabled(id, unlocked != 0);
        }
    }
    view_.setEnabled(IDC_STATUS_LAMP, true);
}

void ProgrammerDialog::onHelpWindow() {
    if (view_.findTopWindow(state_.helpWindowTitle)) {
        view_.showAndActivateTopWindow(state_.helpWindowTitle);
    }
}

} // namespace octo
