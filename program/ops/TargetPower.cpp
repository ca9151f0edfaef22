#include "ops/TargetPower.h"

#include "resources/StringIds.h"
#include "resources/resource.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace octo {

namespace {

// The settling times of the list's rows: 100 ms steps up to 1.5 s, then 500 ms steps.
constexpr std::array<uint16_t, kSettleTimeRows> kSettleTimesMs = {
    100,  200,  300,  400,  500,  600,  700,  800,  900,  1000, 1100,
    1200, 1300, 1400, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000};
constexpr double kTenthsPerVolt = 10.0;
constexpr double kMsPerSecond = 1000.0;
constexpr std::size_t kRowTextSize = 16;

constexpr int32_t kNotSupplied = 0;
constexpr int32_t kSuppliedButOff = 1;
constexpr int32_t kNoSupplyCode = -1;
// OctoSetVccTarget: the unit does not supply the targets, so there is nothing to switch.
constexpr int32_t kSupplyNotSwitched = 46;

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

std::vector<std::string> supplyVoltageRows(int maxSupplyIndex) {
    std::vector<std::string> rows;
    for (int i = 0; i <= offeredSupplyIndex(maxSupplyIndex); ++i) {
        rows.push_back(formatRow(" %.1f V", (kLowestSupplyTenths + i) / kTenthsPerVolt));
    }
    return rows;
}

uint16_t settleTimeMs(int row) {
    return kSettleTimesMs[std::clamp(row, 0, kSettleTimeRows - 1)];
}

std::vector<SettleTimeRow> settleTimeRows() {
    std::vector<SettleTimeRow> rows;
    for (int row = 0; row < kSettleTimeRows; ++row) {
        const uint16_t ms = settleTimeMs(row);
        rows.push_back({formatRow(" %.1f s", ms / kMsPerSecond), ms});
    }
    return rows;
}

void TargetPower::fillTargetPowerLists() {
    view_.setListRows(IDC_SUPPLY_VOLTAGE, supplyVoltageRows(settings_.maxSupplyIndex));
    std::vector<std::string> settleTexts;
    for (const SettleTimeRow& row : settleTimeRows()) {
        settleTexts.push_back(row.text);
    }
    view_.setListRows(IDC_SETTLE_TIME, settleTexts);
    // A stored voltage or settling time beyond the lists takes the nearest offered row.
    settings_.supplyVoltage =
        std::clamp(settings_.supplyVoltage, 0, offeredSupplyIndex(settings_.maxSupplyIndex));
    settings_.settleTime = std::clamp(settings_.settleTime, 0, kSettleTimeRows - 1);
}

int32_t TargetPower::targetSupplyCode() const {
    if (settings_.supplyByProg == 0) {
        return kNotSupplied;
    }
    if (settings_.switchVccOff == 1) {
        return kSuppliedButOff;
    }
    const int index = settings_.supplyVoltage;
    if (index < 0 || index > offeredSupplyIndex(settings_.maxSupplyIndex)) {
        return kNoSupplyCode;
    }
    return kLowestSupplyTenths + index;
}

void TargetPower::applyTargetPower() {
    takeControls(view_, settings_);
    const bool supplied = settings_.supplyByProg == 1;
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
        status_.showStatus(kFailedDetails, IDS_SUPPLY_FAILED);
        return;
    }
    int32_t result = library_->setVccTarget(static_cast<uint32_t>(code));
    if (result == kSupplyNotSwitched && !supplied) {
        result = 0;
    }
    state_.lastResult = result;
    if (result != 0) {
        status_.showStatus(result, IDS_SUPPLY_FAILED);
    } else {
        status_.showStatus(kShowString, IDS_SUPPLY_MODIFIED);
    }
}

void TargetPower::computeSettleTime() {
    takeControls(view_, settings_);
    settleTimeMs_ = settleTimeMs(settings_.settleTime);
    flags_.estimateStale = true;
}

void TargetPower::enableEraseBoxes() {
    const bool erasing = settings_.erase != 0 || settings_.eraseCheck != 0;
    view_.setEnabled(IDC_ERASE_MAIN, erasing);
    view_.setEnabled(IDC_ERASE_INFO, erasing);
    view_.setEnabled(IDC_ERASE_PINFO,
                     erasing && settings_.eraseInfo != 0 && deviceType_.hasProtectedInfo);
    view_.setEnabled(IDC_ERASE_BSL, erasing && deviceType_.hasBsl);
}

void TargetPower::eraseOptionsChanged() {
    takeControls(view_, settings_);
    if (settings_.erase || settings_.eraseCheck) {
        view_.setEnabled(IDC_ERASE_MAIN, true);
        view_.setChecked(IDC_ERASE_MAIN, true);
        view_.setEnabled(IDC_ERASE_BSL, deviceType_.hasBsl);
        view_.setEnabled(IDC_ERASE_INFO, true);
        view_.setEnabled(IDC_ERASE_PINFO,
                         view_.isChecked(IDC_ERASE_INFO) && deviceType_.hasProtectedInfo);
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

void TargetPower::infoMemoryChanged() {
    takeControls(view_, settings_);
    const bool info = view_.isChecked(IDC_ERASE_INFO);
    view_.setEnabled(IDC_ERASE_PINFO, info && deviceType_.hasProtectedInfo);
    if (!info) {
        view_.setChecked(IDC_ERASE_PINFO, false);
    }
    takeControls(view_, settings_);
    confirmProtectedInfo();
}

void TargetPower::confirmProtectedInfo() {
    takeControls(view_, settings_);
    confirmErase(view_, settings_.erasePinfo, kAskProtectedInfo);
    showSettings(view_, settings_);
}

void TargetPower::confirmBslErase() {
    takeControls(view_, settings_);
    confirmErase(view_, settings_.eraseBslSegm, kAskBslErase);
    showSettings(view_, settings_);
}

void TargetPower::onMainProcessOption(int id) {
    // The boxes are disabled while the settings are locked; a click that arrives anyway
    // changes nothing.
    if (refuseWhileLocked(view_, settings_)) {
        return;
    }
    flags_.estimateStale = true;
    if (id == IDC_ERASE || id == IDC_ERASE_CHECK) {
        eraseOptionsChanged();
    }
}

void TargetPower::onSupplyChanged() {
    if (!refuseWhileLocked(view_, settings_)) {
        applyTargetPower();
    }
}

void TargetPower::onSettleTimeChanged() {
    if (!refuseWhileLocked(view_, settings_)) {
        computeSettleTime();
    }
}

void TargetPower::onEraseOption(int id) {
    if (id == IDC_ERASE_MAIN || id == IDC_ERASE_INFO) {
        flags_.estimateStale = true;
    }
    if (id == IDC_ERASE_BSL) {
        // Asked for also while locked: the question itself guards this box.
        confirmBslErase();
        return;
    }
    if (refuseWhileLocked(view_, settings_)) {
        return;
    }
    if (id == IDC_ERASE_INFO) {
        infoMemoryChanged();
    } else if (id == IDC_ERASE_PINFO) {
        confirmProtectedInfo();
    } else if (id == IDC_RESTORE_DCO) {
        takeControls(view_, settings_);
    }
}

} // namespace octo
