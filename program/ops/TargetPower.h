// The values behind the supply-voltage and settling-time lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace octo {

// Supply voltages in tenths of a volt: the list starts at the lowest and never offers
// more than the unit can generate.
inline constexpr int kLowestSupplyTenths = 18;
inline constexpr int kHighestSupplyTenths = 36;
inline constexpr int kHighestSupplyIndex = kHighestSupplyTenths - kLowestSupplyTenths;

// Settling times: 100 ms steps up to 1.5 s, then 500 ms steps up to 5 s.
inline constexpr int kSettleTimeRows = 22;

// The highest row of the voltage list for the configured highest index
// (MaxSupplyVoltage - 18), kept within what the unit can generate.
int offeredSupplyIndex(int maxSupplyIndex);

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

} // namespace octo
