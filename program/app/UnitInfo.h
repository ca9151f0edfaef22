// The programmer unit's identification as last read from a result block.
#pragma once

#include "link/ProgrammerLibrary.h"

#include <cstdint>
#include <string>

namespace octo {

struct UnitInfo {
    uint16_t hardwareVersion = 0;
    uint16_t firmwareVersion = 0;
    uint16_t thirdVersion = 0;
    std::string description;
};

// Takes the identification out of a result block of OCTO_RESULT_BLOCK_BYTES bytes: version
// words high byte first, 0xFFFF meaning none (kept as 0); the third word only from firmware
// newer than 0x145; the description only when byte 12 is not 0xFF, else left as it was.
void decodeUnitInfo(const uint8_t* block, UnitInfo& info);

// Reads the unit's identification through OctoGetResult; false (info unchanged) when the
// library does not answer.
bool readUnitInfo(ProgrammerLibrary& library, UnitInfo& info);

} // namespace octo
