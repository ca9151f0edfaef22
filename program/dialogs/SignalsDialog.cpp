#include "dialogs/SignalsDialog.h"

#include "resources/resource.h"

#include <algorithm>

namespace octo {

namespace {

struct SignalBox {
    int id;
    uint16_t bit;
    bool checkedByDefault;
};

// Bits 0 to 2 hold the line; bits 12 to 14 are never set.
constexpr SignalBox kSignalBoxes[] = {
    {IDC_SIGNAL_TDO_TDI_X, 0x0008, false},  {IDC_SIGNAL_TCK, 0x0010, false},
    {IDC_SIGNAL_TMS, 0x0020, false},        {IDC_SIGNAL_TEST_VPP, 0x0040, false},
    {IDC_SIGNAL_TDI_VPP, 0x0080, false},    {IDC_SIGNAL_VCC_ON, 0x0100, true},
    {IDC_SIGNAL_VPP_AT_TDI, 0x0200, false}, {IDC_SIGNAL_VPP_AT_TEST, 0x0400, false},
    {IDC_SIGNAL_RESET, 0x0800, false},
};

} // namespace

SignalsDialog::SignalsDialog(DialogView& view, ProgrammerLibrary& library, const Settings& settings)
    : view_(view), library_(library),
      // Whether or not the unit supplies the targets; never a voltage the list does not
      // offer.
      signalVoltage_(
          kLowestSupplyTenths +
          std::clamp(settings.supplyVoltage, 0, offeredSupplyIndex(settings.maxSupplyIndex))) {}

bool SignalsDialog::onInitDialog() {
    // Nothing is sent at the opening.
    showDefaults();
    return true;
}

void SignalsDialog::onCommand(int id) {
    switch (id) {
    case IDC_SIGNAL_SET:
        library_.setSignals(signalWord(), static_cast<uint32_t>(signalVoltage_));
        return;
    case IDC_SIGNAL_DEFAULT:
        showDefaults();
        return;
    case IDC_SIGNAL_EXIT:
    case mb::kIdCancel:
        leave();
        return;
    default:
        // Enter (OK) does nothing: the dialog has no default button.
        return;
    }
}

uint16_t SignalsDialog::signalWord() const {
    uint16_t word = 0;
    for (int id = IDC_SIGNAL_LINE_FIRST; id <= IDC_SIGNAL_LINE_LAST; ++id) {
        if (view_.isChecked(id)) {
            word = static_cast<uint16_t>(id - IDC_SIGNAL_LINE_FIRST);
        }
    }
    for (const SignalBox& box : kSignalBoxes) {
        if (view_.isChecked(box.id)) {
            word |= box.bit;
        }
    }
    return word;
}

void SignalsDialog::showDefaults() {
    for (int id = IDC_SIGNAL_LINE_FIRST; id <= IDC_SIGNAL_LINE_LAST; ++id) {
        view_.setChecked(id, id == IDC_SIGNAL_LINE_FIRST);
    }
    for (const SignalBox& box : kSignalBoxes) {
        view_.setChecked(box.id, box.checkedByDefault);
    }
}

void SignalsDialog::leave() {
    // The supply follows the voltage even when the window's options would switch it off.
    library_.setSignals(kSignalExitWord, static_cast<uint32_t>(signalVoltage_));
    library_.setVccTarget(static_cast<uint32_t>(signalVoltage_));
    view_.endDialog(mb::kIdCancel);
}

} // namespace octo
