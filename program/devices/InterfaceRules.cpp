// The interface rules of the device catalogue: DuoLink (2-wire) or 4-wire JTAG, from the
// type's facts and the unit's hardware and firmware versions.
#include "devices/DeviceCatalogue.h"

#include "resources/resource.h"

namespace octo {

namespace {

// Firmware and hardware up to these versions cannot program a DuoLink-capable device
// over 4-wire JTAG.
constexpr uint16_t kLastHardwareWithoutJtag4Dlk = 0x0120;
constexpr uint16_t kLastFirmwareWithoutJtag4Dlk = 0x0129;

constexpr char kTipDlkOldHardware[] = "To program DuoLink-capable device in 4Wire mode you have "
                                      "to upgrade the OCTO816-Hardware to ver.1.30 or newer";
constexpr char kTipDlkOldFirmware[] =
    "To program DuoLink-capable device in 4Wire mode you have to update the OCTO816-Firmware";
constexpr char kTipDlk[] =
    "Check this box in order to program DuoLink-capable device in 2Wire mode";

} // namespace

void DeviceCatalogue::applyInterfaceRules() {
    if (deviceType_.jtag4Allowed) {
        view_.setEnabled(IDC_USE_JTAG4, true);
    } else {
        view_.setEnabled(IDC_USE_JTAG4, false);
        settings_.useDlk = 1;
    }
    if (!flags_.versionsKnown) {
        if (!readUnitInfo(*library_, unitInfo_)) {
            view_.setEnabled(IDC_USE_DUOLINK, false);
            view_.setEnabled(IDC_USE_JTAG4, false);
            showInterfaceChoice(deviceType_.dlkAble != 0);
            return;
        }
        flags_.versionsKnown = true;
    }
    if (settings_.locked()) {
        // The lock keeps the choice the window shows, which the data exchange keeps in
        // 1117; its partner may still show the former type's choice (both or neither
        // checked), so it is made to show the other one.
        showInterfaceChoice(view_.isChecked(IDC_USE_DUOLINK));
        return;
    }
    if (deviceType_.dlkAble != 0) {
        const bool oldHardware = unitInfo_.hardwareVersion <= kLastHardwareWithoutJtag4Dlk;
        const bool oldFirmware = unitInfo_.firmwareVersion <= kLastFirmwareWithoutJtag4Dlk;
        if (oldHardware || oldFirmware) {
            showInterfaceChoice(true);
            view_.setEnabled(IDC_USE_DUOLINK, false);
            view_.setToolTipText(IDC_USE_DUOLINK,
                                 oldHardware ? kTipDlkOldHardware : kTipDlkOldFirmware);
        } else {
            showInterfaceChoice(settings_.useDlk == 1);
            view_.setEnabled(IDC_USE_DUOLINK, true);
            view_.setToolTipText(IDC_USE_DUOLINK, kTipDlk);
        }
    } else {
        showInterfaceChoice(false);
        view_.setEnabled(IDC_USE_DUOLINK, false);
        view_.setToolTipText(IDC_USE_DUOLINK, "");
    }
}

void DeviceCatalogue::showInterfaceChoice(bool duoLink) {
    view_.setChecked(IDC_USE_DUOLINK, duoLink);
    view_.setChecked(IDC_USE_JTAG4, !duoLink);
}

void DeviceCatalogue::onUseDuoLink() {
    flags_.estimateStale = true;
    // Either button of the pair switches the choice; while locked the click is undone.
    if (settings_.locked()) {
        showInterfaceChoice(settings_.useDlk != 0);
    }
}

} // namespace octo
