#include "link/OperationBracket.h"

#include "resources/resource.h"

namespace octo {

namespace {

// Boxes outside the recorded range: disabled by the bracket, their state at the end
// follows the erase options instead of a record.
constexpr std::array kEraseAreaBoxes = {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_RESTORE_DCO,
                                        IDC_ERASE_BSL};

} // namespace

void OperationBracket::beginOperation() {
    // Operations do not nest; should one ever start inside another, the outer record
    // stays the one restored at the end.
    if (depth_++ > 0) {
        return;
    }
    view_.setRedraw(false);
    results_.showResult(false);
    savedFocus_ = view_.focusedControl();
    for (int i = 0; i < kBracketedCount; ++i) {
        const int id = kFirstBracketedId + i;
        if (!view_.hasControl(id)) {
            continue;
        }
        savedEnabled_[i] = view_.isEnabled(id);
        view_.setEnabled(id, false);
    }
    for (int id : kEraseAreaBoxes) {
        view_.setEnabled(id, false);
    }
    savedDuoLinkEnabled_ = view_.isEnabled(IDC_USE_DUOLINK);
    savedJtag4Enabled_ = view_.isEnabled(IDC_USE_JTAG4);
    view_.setEnabled(IDC_USE_DUOLINK, false);
    view_.setEnabled(IDC_USE_JTAG4, false);
    keepSeriesButtonsUsable();
    view_.setRedraw(true);
    view_.setMenuItemEnabled(sc::kClose, false);
    view_.setMenuItemEnabled(IDM_ABOUTBOX, false);
    view_.setCursor(Cursor::AppStarting);
    // During a series the Stop or Exit press must reach the window.
    if (!flags_.continualMain && !flags_.continualSelftest) {
        view_.captureMouse();
    }
}

void OperationBracket::keepSeriesButtonsUsable() {
    if (flags_.continualMain) {
        view_.setEnabled(IDC_START, true);
    }
    if (flags_.continualSelftest) {
        view_.setEnabled(IDC_EXECUTE, true);
    }
}

void OperationBracket::endOperation() {
    if (depth_ == 0 || --depth_ > 0) {
        return;
    }
    view_.setRedraw(false);
    for (int i = 0; i < kBracketedCount; ++i) {
        const int id = kFirstBracketedId + i;
        if (view_.hasControl(id)) {
            view_.setEnabled(id, savedEnabled_[i]);
        }
    }
    if (settings_.erase || settings_.eraseCheck) {
        view_.setEnabled(IDC_ERASE_MAIN, true);
        view_.setEnabled(IDC_ERASE_INFO, true);
        view_.setEnabled(IDC_ERASE_BSL, deviceType_.hasBsl);
        const bool restoreUsable = settings_.erasePinfo && deviceType_.dcoBytes != 0 &&
                                   deviceType_.dcoBytes != deviceType_.protectedInfoBytes;
        if (restoreUsable) {
            view_.setEnabled(IDC_RESTORE_DCO, true);
        }
    } else {
        for (int id : kEraseAreaBoxes) {
            view_.setEnabled(id, false);
        }
    }
    if (deviceType_.dlkAble) {
        view_.setEnabled(IDC_USE_DUOLINK, savedDuoLinkEnabled_);
        view_.setEnabled(IDC_USE_JTAG4, savedJtag4Enabled_);
    } else {
        savedDuoLinkEnabled_ = view_.isEnabled(IDC_USE_DUOLINK);
        savedJtag4Enabled_ = view_.isEnabled(IDC_USE_JTAG4);
    }
    keepSeriesButtonsUsable();
    view_.setRedraw(true);
    if (settings_.repeatOctoprog == 0 && settings_.repeatSelftest == 0 && savedFocus_ != 0) {
        view_.setFocus(savedFocus_);
    }
    view_.setMenuItemEnabled(sc::kClose, true);
    view_.setMenuItemEnabled(IDM_ABOUTBOX, true);
    view_.setCursor(Cursor::Arrow);
    if (!flags_.continualMain && !flags_.continualSelftest) {
        view_.releaseMouse();
    }
}

void OperationBracket::setEnabledNowOrAtEnd(int id, bool enabled) {
    const int index = id - kFirstBracketedId;
    if (operationActive() && index >= 0 && index < kBracketedCount) {
        savedEnabled_[index] = enabled;
    } else {
        view_.setEnabled(id, enabled);
    }
}

} // namespace octo
