#include "link/Connection.h"

#include "resources/StringIds.h"
#include "resources/resource.h"

#include <algorithm>

namespace octo {

namespace {

constexpr char kPortPathPrefix[] = "\\\\.\\COM";
constexpr char kChangingBaudrate[] = "Changing Baudrate...";

// Answers of OctoSelectBaudrate after which the unit listens at the new rate.
constexpr std::array<int32_t, 3> kBaudrateSwitched = {0, 1, 6};

} // namespace

int Connection::openConnection() {
    takeControls(view_, settings_);
    comPortName_ = kPortPathPrefix + std::to_string(settings_.comPort + 1);
    if (settings_.baudRate >= 0 && settings_.baudRate < static_cast<int>(kBaudRates.size())) {
        baudRateBps_ = kBaudRates[settings_.baudRate];
    }
    if (library_->initCom(comPortName_, baudRateBps_) != 0) {
        return 0;
    }
    status_.showStatus(kShowString, IDS_PORT_OPENED);
    return 1;
}

void Connection::onComPortChanged() {
    if (refuseWhileLocked(view_, settings_)) {
        return;
    }
    bracket_.beginOperation();
    openConnection();
    bracket_.endOperation();
}

void Connection::onBaudRateChanged() {
    if (refuseWhileLocked(view_, settings_)) {
        return;
    }
    bracket_.beginOperation();
    takeControls(view_, settings_);
    view_.setText(IDC_STATUS_LINE, kChangingBaudrate);
    state_.lastResult = library_->selectBaudrate(static_cast<uint32_t>(settings_.baudRate));
    if (std::ranges::find(kBaudrateSwitched, state_.lastResult) != kBaudrateSwitched.end()) {
        openConnection();
    } else {
        status_.showStatus(state_.lastResult, IDS_BAUDRATE_REFUSED);
        // The unit stays at the rate in use; the list shows that rate again instead of
        // one the port does not run at.
        const auto inUse = std::ranges::find(kBaudRates, baudRateBps_);
        if (inUse != kBaudRates.end()) {
            settings_.baudRate = static_cast<int>(inUse - kBaudRates.begin());
            view_.setListSelection(IDC_BAUD_RATE, settings_.baudRate);
        }
    }
    bracket_.endOperation();
}

} // namespace octo
