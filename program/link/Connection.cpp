// The serial connection through the library, the changes of COM port and baud rate, the
// operation bracket and the progress bar.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"

#include <algorithm>
#include <limits>

namespace octo {

namespace {

constexpr char kPortPathPrefix[] = "\\\\.\\COM";
constexpr std::array<uint32_t, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
constexpr char kChangingBaudrate[] = "Changing Baudrate...";

constexpr int32_t kShowString = 99;
constexpr int kTextPortOpened = 402;
constexpr int kTextBaudrateRefused = 415;

// Answers of OctoSelectBaudrate after which the unit listens at the new rate.
constexpr std::array<int32_t, 3> kBaudrateSwitched = {0, 1, 6};

// Boxes outside the recorded range: disabled by the bracket, their state at the end
// follows the erase options instead of a record.
constexpr std::array kEraseAreaBoxes = {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_RESTORE_DCO,
                                        IDC_ERASE_BSL};

} // namespace

int ProgrammerDialog::openConnection() {
    takeControls();
    comPortName_ = kPortPathPrefix + std::to_string(comPort_ + 1);
    if (baudRate_ >= 0 && baudRate_ < static_cast<int>(kBaudRates.size())) {
        baudRateBps_ = kBaudRates[baudRate_];
    }
    if (library_->initCom(comPortName_, baudRateBps_) != 0) {
        return 0;
    }
    showStatus(kShowString, kTextPortOpened);
    return 1;
}

void ProgrammerDialog::onComPortChanged() {
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    beginOperation();
    openConnection();
    endOperation();
}

void ProgrammerDialog::onBaudRateChanged() {
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    beginOperation();
    takeControls();
    view_.setText(IDC_STATUS_LINE, kChangingBaudrate);
    state_.lastResult = library_->selectBaudrate(static_cast<uint32_t>(baudRate_));
    if (std::ranges::find(kBaudrateSwitched, state_.lastResult) != kBaudrateSwitched.end()) {
        openConnection();
    } else {
        showStatus(state_.lastResult, kTextBaudrateRefused);
        // The unit stays at the rate in use; the list shows that rate again instead of
        // one the port does not run at.
        const auto inUse = std::ranges::find(kBaudRates, baudRateBps_);
        if (inUse != kBaudRates.end()) {
            baudRate_ = static_cast<int>(inUse - kBaudRates.begin());
            view_.setListSelection(IDC_BAUD_RATE, baudRate_);
        }
    }
    endOperation();
}

void ProgrammerDialog::beginOperation() {
    // Operations do not nest; should one ever start inside another, the outer record
    // stays the one restored at the end.
    if (operationDepth_++ > 0) {
        return;
    }
    showResult(false);
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
    view_.setMenuItemEnabled(sc::kClose, false);
    view_.setMenuItemEnabled(IDM_ABOUTBOX, false);
    view_.setCursor(Cursor::AppStarting);
    // During a series the Stop or Exit press must reach the window.
    if (!continualMain_ && !continualSelftest_) {
        view_.captureMouse();
    }
}

void ProgrammerDialog::keepSeriesButtonsUsable() {
    if (continualMain_) {
        view_.setEnabled(IDC_START, true);
    }
    if (continualSelftest_) {
        view_.setEnabled(IDC_EXECUTE, true);
    }
}

void ProgrammerDialog::endOperation() {
    if (operationDepth_ == 0 || --operationDepth_ > 0) {
        return;
    }
    for (int i = 0; i < kBracketedCount; ++i) {
        const int id = kFirstBracketedId + i;
        if (view_.hasControl(id)) {
            view_.setEnabled(id, savedEnabled_[i]);
        }
    }
    if (erase_ || eraseCheck_) {
        view_.setEnabled(IDC_ERASE_MAIN, true);
        view_.setEnabled(IDC_ERASE_INFO, true);
        view_.setEnabled(IDC_ERASE_BSL, deviceType_.hasBsl != 0);
        const bool restoreUsable = erasePinfo_ && deviceType_.dcoBytes != 0 &&
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
    if (repeatOctoprog_ == 0 && repeatSelftest_ == 0 && savedFocus_ != 0) {
        view_.setFocus(savedFocus_);
    }
    view_.setMenuItemEnabled(sc::kClose, true);
    view_.setMenuItemEnabled(IDM_ABOUTBOX, true);
    view_.setCursor(Cursor::Arrow);
    if (!continualMain_ && !continualSelftest_) {
        view_.releaseMouse();
    }
}

void ProgrammerDialog::startProgress(uint32_t expectedMs, uint16_t step, bool startTimer) {
    // The bar counts in a signed range.
    const auto limit =
        static_cast<int32_t>(std::min<uint32_t>(expectedMs, std::numeric_limits<int32_t>::max()));
    view_.setProgressRange(IDC_PROGRESS, {0, limit});
    view_.setProgressPosition(IDC_PROGRESS, step);
    view_.setProgressStep(IDC_PROGRESS, step);
    if (startTimer) {
        progressTimerRunning_ = view_.setTimer(ID_TIMER_PROGRESS, progressPeriodMs_);
    }
}

void ProgrammerDialog::onProgressTimer() {
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

void ProgrammerDialog::stopProgress(bool stopTimer) {
    view_.setProgressPosition(IDC_PROGRESS, 0);
    if (stopTimer) {
        view_.killTimer(ID_TIMER_PROGRESS);
        progressTimerRunning_ = false;
    }
}

} // namespace octo
