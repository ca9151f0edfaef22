// Target power and the erase options: the supply sent to the unit at once, the settling
// time, and the dependencies and confirmations of the erase boxes; and the values behind
// the supply-voltage and settling-time lists.
#pragma once

#include "app/OperationFlags.h"
#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceType.h"
#include "link/ProgrammerLibrary.h"
#include "link/StatusLine.h"
#include "settings/Settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace octo {

// The rows " 1.8 V" ... of the voltage list, up to and including the highest offered one.
std::vector<std::string> supplyVoltageRows(int maxSupplyIndex);

// Settling time of a row of the settling-time list, in ms (rows outside the list are
// taken as the nearest row).
uint16_t settleTimeMs(int row);

struct SettleTimeRow {
    std::string text; // " 0.1 s" ...
    uint16_t ms;
};

// The 22 rows of the settling-time list with their times.
std::vector<SettleTimeRow> settleTimeRows();

class TargetPower {
public:
    TargetPower(View& view, LibrarySlot& library, Settings& settings, const DeviceType& deviceType,
                OperationFlags& flags, ProgramState& state, StatusLine& status)
        : view_(view), library_(library), settings_(settings), deviceType_(deviceType),
          flags_(flags), state_(state), status_(status) {}

    // Fills the supply-voltage and settling-time lists and fits the stored positions into
    // them, so that no voltage outside the offered range can be selected.
    void fillTargetPowerLists();
    // The supply code for OctoSetVccTarget: 0 not supplied, 1 supplied but switched off,
    // else the voltage in tenths; -1 when the list shows no offered voltage.
    int32_t targetSupplyCode() const;
    // Sends the supply chosen in the window to the unit at once.
    void applyTargetPower();
    void computeSettleTime();
    // The settling time in ms the next run sends; 0 while the unit does not supply.
    uint16_t settleMs() const { return settleTimeMs_; }
    // Enables the erase boxes that depend on the loaded options and the current type.
    void enableEraseBoxes();
    void eraseOptionsChanged();
    void infoMemoryChanged();
    void confirmProtectedInfo();
    void confirmBslErase();

    // The handlers of the option boxes and lists; each refuses its change while the
    // settings are locked.
    void onMainProcessOption(int id);
    // The supply box, the switch-off box and the voltage list.
    void onSupplyChanged();
    void onSettleTimeChanged();
    void onEraseOption(int id);

private:
    View& view_;
    LibrarySlot& library_;
    Settings& settings_;
    const DeviceType& deviceType_;
    OperationFlags& flags_;
    ProgramState& state_;
    StatusLine& status_;
    uint16_t settleTimeMs_ = 0;
};

} // namespace octo
