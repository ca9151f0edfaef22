// The unit's identification taken out of a result block: version words high byte first,
// 0xFFFF meaning none, the third word's firmware rule and the description's byte-12 rule.
#include "app/UnitInfo.h"

#include "octo816.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace octo {
namespace {

using Block = std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>;

Block blockWith(uint16_t hardware, uint16_t firmware, uint16_t third, const char* text) {
    Block b{};
    b[8] = hardware >> 8;
    b[9] = hardware & 0xFF;
    b[10] = firmware >> 8;
    b[11] = firmware & 0xFF;
    b[30] = third >> 8;
    b[31] = third & 0xFF;
    std::memcpy(&b[12], text, std::strlen(text) + 1);
    return b;
}

TEST(UnitInfo, VersionWordsAreReadHighByteFirstAndNoneIsZero) {
    struct Case {
        uint16_t hardware, firmware, third;
        uint16_t wantHardware, wantFirmware, wantThird;
    };
    const Case cases[] = {
        {0x0130, 0x0156, 0x0200, 0x0130, 0x0156, 0x0200},
        {0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0},
        // Firmware 1 to 0x145 carries no third word.
        {0x0130, 0x0145, 0x0200, 0x0130, 0x0145, 0},
        {0x0130, 0x0001, 0x0200, 0x0130, 0x0001, 0},
        {0x0130, 0x0146, 0x0200, 0x0130, 0x0146, 0x0200},
        // No firmware reported: the third word stands.
        {0x0130, 0x0000, 0x0200, 0x0130, 0, 0x0200},
        {0x0130, 0xFFFF, 0x0200, 0x0130, 0, 0x0200},
        {0x1234, 0x0156, 0xFFFF, 0x1234, 0x0156, 0},
    };
    for (const Case& c : cases) {
        UnitInfo info;
        decodeUnitInfo(blockWith(c.hardware, c.firmware, c.third, "OCTO").data(), info);
        EXPECT_EQ(info.hardwareVersion, c.wantHardware);
        EXPECT_EQ(info.firmwareVersion, c.wantFirmware) << std::hex << c.firmware;
        EXPECT_EQ(info.thirdVersion, c.wantThird) << std::hex << c.firmware << " " << c.third;
    }
}

TEST(UnitInfo, DescriptionIsTakenOnlyWhenByte12IsNot0xFF) {
    UnitInfo info;
    info.description = "before";
    decodeUnitInfo(blockWith(1, 0x156, 0, "OCTO816 FW").data(), info);
    EXPECT_EQ(info.description, "OCTO816 FW");

    Block none = blockWith(1, 0x156, 0, "ignored");
    none[12] = 0xFF;
    decodeUnitInfo(none.data(), info);
    EXPECT_EQ(info.description, "OCTO816 FW");

    decodeUnitInfo(blockWith(1, 0x156, 0, "").data(), info);
    EXPECT_EQ(info.description, "");
}

TEST(UnitInfo, UnterminatedDescriptionStopsAtTheEndOfTheBlock) {
    Block b{};
    b.fill('A');
    b[10] = 0x01;
    b[11] = 0x56;
    UnitInfo info;
    decodeUnitInfo(b.data(), info);
    EXPECT_EQ(info.description.size(), static_cast<std::size_t>(OCTO_RESULT_BLOCK_BYTES - 12));
}

} // namespace
} // namespace octo
