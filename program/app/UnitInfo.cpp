#include "app/UnitInfo.h"

#include "octo816.h"

#include <array>

namespace octo {

namespace {

constexpr uint16_t kNoVersion = 0xFFFF;
constexpr uint8_t kNoDescription = 0xFF;
// Firmware up to this version leaves the third word undefined.
constexpr uint16_t kLastFirmwareWithoutThirdWord = 0x145;

uint16_t versionWord(const uint8_t* block, int at) {
    const uint16_t word = static_cast<uint16_t>((block[at] << 8) | block[at + 1]);
    return word == kNoVersion ? 0 : word;
}

} // namespace

void decodeUnitInfo(const uint8_t* block, UnitInfo& info) {
    info.hardwareVersion = versionWord(block, result_block::kHardwareVersion);
    info.firmwareVersion = versionWord(block, result_block::kFirmwareVersion);
    info.thirdVersion = versionWord(block, result_block::kThirdVersion);
    if (info.firmwareVersion >= 1 && info.firmwareVersion <= kLastFirmwareWithoutThirdWord) {
        info.thirdVersion = 0;
    }
    if (block[result_block::kDescription] != kNoDescription) {
        // The text ends at its zero byte, or at the end of the block when a unit sends none.
        std::string text;
        for (int i = result_block::kDescription; i < OCTO_RESULT_BLOCK_BYTES && block[i] != 0;
             ++i) {
            text.push_back(static_cast<char>(block[i]));
        }
        info.description = std::move(text);
    }
}

bool readUnitInfo(ProgrammerLibrary& library, UnitInfo& info) {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    if (library.getResult(block.data()) != 0) {
        return false;
    }
    decodeUnitInfo(block.data(), info);
    return true;
}

} // namespace octo
