// Target power and the erase options: the supply sent to the unit at once, the settling
// time, and the dependencies and confirmations of the erase boxes.
#include "ops/TargetPower.h"

#include "app/ProgrammerDialog.h"
#include "resources/resource.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace octo {

namespace {

constexpr uint16_t kFirstSettleMs = 100;
constexpr uint16_t kFineSettleStepMs = 100;
constexpr uint16_t kCoarseSettleFromMs = 1500;
constexpr uint16_t kCoarseSettleStepMs = 500;
constexpr double kTenthsPerVolt = 10.0;
constexpr double kMsPerSecond = 1000.0;
constexpr std::size_t kRowTextSize = 16;

constexpr int32_t kNotSupplied = 0;
constexpr int32_t kSuppliedButOff = 1;
constexpr int32_t kNoSupplyCode = -1;
// OctoSetVccTarget: the unit does not supply the targets, so there is nothing to switch.
constexpr int32_t kSupplyNotSwitched = 46;
// The library's answer that a command failed; the caller names its own text.
constexpr int32_t kFailedDetails = 8;
constexpr int32_t kShowString = 99;
constexpr int kTextSupplyFailed = 462;
constexpr int kTextSupplyModified = 463;

constexpr char kAttention[] = "Attention!";
constexpr char kAskProtectedInfo[] = "This option will enable erasing of protected data.\n"
                                     "Are you sure?";
constexpr char kAskBslErase[] = "This option will enable erasing of protected BSL memory data.\n"
                                "Are you sure?";

constexpr std::array kSupplyControls = {IDC_SUPPLY_VOLTAGE, IDC_SWITCH_VCC_OFF, IDC_SETTLE_TIME};

std::string formatRow(const char* format, double value) {
    std::array<char, kRowTextSize> text{};
    std::snprintf(text.data(), text.size(), format, value);
    return text.data();
}

// Asks before a box that allows erasing protected memory is checked; anything but Yes
// clears it.
void confirmErase(View& view, int& flag, const char* question) {
    if (flag != 1) {
        return;
    }
    const int answer = view.messageBox(question, kAttention, mb::kYesNo | mb::kIconExclamation);
    if (answer != mb::kIdYes) {
        flag = 0;
    }
}

} // namespace

int offeredSupplyIndex(int maxSupplyIndex) {
    return std::clamp(maxSupplyIndex, 0, kHighestSupplyIndex);
}

std::vector<std::string> supplyVoltageRows(int maxSupplyIndex) {
    std::vector<std::string> rows;
    for (int i = 0; i <= offeredSupplyIndex(maxSupplyIndex); ++i) {
        rows.push_back(formatRow(" %.1f V", (kLowestSupplyTenths + i) / kTenthsPerVolt));
    }
    return rows;
}

uint16_t settleTimeMs(int row) {
    uint16_t ms = kFirstSettleMs;
    for (int i = 0; i < std::clamp(row, 0, kSettleTimeRows - 1); ++i) {
        ms += ms >= kCoarseSettleFromMs ? kCoarseSettleStepMs : kFineSettleStepMs;
    }
    return ms;
}

std::vector<SettleTimeRow> settleTimeRows() {
    std::vector<SettleTimeRow> rows;
    for (int row = 0; row < kSettleTimeRows; ++row) {
        const uint16_t ms = settleTimeMs(row);
        rows.push_back({formatRow(" %.1f s", ms / kMsPerSecond), ms});
    }
    return rows;
}

void ProgrammerDialog::fillTargetPowerLists() {
    view_.clearList(IDC_SUPPLY_VOLTAGE);
    for (const std::string& row : supplyVoltageRows(maxSupplyIndex_)) {
        view_.addListRow(IDC_SUPPLY_VOLTAGE, row);
    }
    view_.clearList(IDC_SETTLE_TIME);
    for (const SettleTimeRow& row : settleTimeRows()) {
        view_.addListRow(IDC_SETTLE_TIME, row.text);
    }
    // A stored voltage or settling time beyond the lists takes the nearest offered row.
    state_.supplyVoltageIndex =
        std::clamp(state_.supplyVoltageIndex, 0, offeredSupplyIndex(maxSupplyIndex_));
    settleTime_ = std::clamp(settleTime_, 0, kSettleTimeRows - 1);
}

int32_t ProgrammerDialog::targetSupplyCode() const {
    if (supplyByProg_ == 0) {
        return kNotSupplied;
    }
    if (switchVccOff_ == 1) {
        return kSuppliedButOff;
    }
    const int index = state_.supplyVoltageIndex;
    if (index < 0 || index > offeredSupplyIndex(maxSupplyIndex_)) {
        return kNoSupplyCode;
    }
    return kLowestSupplyTenths + index;
}

void ProgrammerDialog::applyTargetPower() {
    takeControls();
    const bool supplied = supplyByProg_ == 1;
    if (supplied) {
        computeSettleTime();
    } else {
        settleTimeMs_ = 0;
    }
    for (int id : kSupplyControls) {
        view_.setEnabled(id, supplied);
    }
    const int32_t code = targetSupplyCode();
    if (code == kNoSupplyCode) {
        // No voltage of the list is selected: send nothing rather than a guess.
        state_.lastResult = kFailedDetails;
        showStatus(kFailedDetails, kTextSupplyFailed);
        return;
    }
    int32_t result = library_->setVccTarget(static_cast<uint32_t>(code));
    if (result == kSupplyNotSwitched && !supplied) {
        result = 0;
    }
    state_.lastResult = result;
    if (result != 0) {
        showStatus(result, kTextSupplyFailed);
    } else {
        showStatus(kShowString, kTextSupplyModified);
    }
}

void ProgrammerDialog::computeSettleTime() {
    takeControls();
    settleTimeMs_ = settleTimeMs(settleTime_);
    estimateStale_ = 1;
}

void ProgrammerDialog::eraseOptionsChanged() {
    estimateStale_ = 1;
    takeControls();
    if (erase_ || eraseCheck_) {
        view_.setEnabled(IDC_ERASE_MAIN, true);
        view_.setChecked(IDC_ERASE_MAIN, true);
        view_.setEnabled(IDC_ERASE_BSL, deviceType_.hasBsl != 0);
        view_.setEnabled(IDC_ERASE_INFO, true);
        view_.setEnabled(IDC_ERASE_PINFO,
                         view_.isChecked(IDC_ERASE_INFO) && deviceType_.hasProtectedInfo != 0);
    } else {
        view_.setChecked(IDC_ERASE_MAIN, false);
        view_.setChecked(IDC_ERASE_INFO, false);
        view_.setChecked(IDC_ERASE_PINFO, false);
        view_.setChecked(IDC_RESTORE_DCO, true);
        for (int id :
             {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_ERASE_PINFO, IDC_RESTORE_DCO, IDC_ERASE_BSL}) {
            view_.setEnabled(id, false);
        }
    }
}

void ProgrammerDialog::infoMemoryChanged() {
    estimateStale_ = 1;
    takeControls();
    const bool info = view_.isChecked(IDC_ERASE_INFO);
    view_.setEnabled(IDC_ERASE_PINFO, info && deviceType_.hasProtectedInfo != 0);
    if (!info) {
        view_.setChecked(IDC_ERASE_PINFO, false);
    }
    takeControls();
    confirmProtectedInfo();
}

void ProgrammerDialog::confirmProtectedInfo() {
    takeControls();
    confirmErase(view_, erasePinfo_, kAskProtectedInfo);
    showMembers();
}

void ProgrammerDialog::confirmBslErase() {
    takeControls();
    confirmErase(view_, eraseBslSegm_, kAskBslErase);
    showMembers();
}

void ProgrammerDialog::onMainProcessOption(int id) {
    // The boxes are disabled while the settings are locked; a click that arrives anyway
    // changes nothing.
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    estimateStale_ = 1;
    if (id == IDC_ERASE || id == IDC_ERASE_CHECK) {
        eraseOptionsChanged();
    }
}

void ProgrammerDialog::onTargetPowerOption(int /*id*/) {
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    applyTargetPower();
}

void ProgrammerDialog::onSupplyVoltageChanged() {
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    applyTargetPower();
}

void ProgrammerDialog::onSettleTimeChanged() {
    if (settingsLocked()) {
        revertToSettings();
        return;
    }
    computeSettleTime();
}

void ProgrammerDialog::onEraseOption(int id) {
    switch (id) {
    case IDC_ERASE_MAIN:
        estimateStale_ = 1;
        if (settingsLocked()) {
            revertToSettings();
        }
        return;
    case IDC_ERASE_INFO:
        estimateStale_ = 1;
        if (settingsLocked()) {
            revertToSettings();
        } else {
            infoMemoryChanged();
        }
        return;
    case IDC_ERASE_PINFO:
        if (settingsLocked()) {
            revertToSettings();
        } else {
            confirmProtectedInfo();
        }
        return;
    case IDC_ERASE_BSL:
        // Asked for also while locked: the question itself guards this box.
        confirmBslErase();
        return;
    case IDC_RESTORE_DCO:
        if (settingsLocked()) {
            revertToSettings();
        } else {
            takeControls();
        }
        return;
    default:
        return;
    }
}

} // namespace octo
