// The unit's own maintenance over the link: the self-test and its outcomes, and the
// firmware upgrade with and without the temporary loader, a file that is not firmware,
// and a power cycle in the middle of an upgrade.
#include "LibraryFixture.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <fstream>
#include <functional>
#include <utility>

namespace octo::testing {
namespace {

constexpr uint32_t kSelftestTenths = 100;
constexpr const char* kLoader = "__TempLoader__";

using Block = std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>;

struct Identity {
    uint16_t firmware;
    std::string name; // "<none>" when byte 12 is 0xFF
    uint16_t third;
};

class FirmwareTest : public SimulatedUnitTest {
protected:
    Identity identity() {
        Block block;
        block.fill(0xAA);
        EXPECT_EQ(OctoGetResult(block.data()), 0);
        Identity id;
        id.firmware = blockWord(block, 10);
        id.name = block[12] == 0xFF ? "<none>" : std::string(reinterpret_cast<char*>(&block[12]));
        id.third = blockWord(block, 30);
        return id;
    }
    // The program's upgrade: the file checked, the loader stage when asked, the firmware
    // area, the file; between the check and the erase, whatever the test does to the file.
    std::vector<int32_t> upgrade(const std::string& file, bool withLoader,
                                 const std::function<void()>& afterCheck = {}) {
        std::vector<int32_t> codes{OctoCheckFirmware(file.c_str())};
        if (afterCheck) {
            afterCheck();
        }
        if (withLoader) {
            codes.push_back(OctoEraseFirmware(0x8000, 0x6000));
            codes.push_back(OctoEraseFirmware(0x8000, 0x6000));
            codes.push_back(OctoLoadFirmware(kLoader));
        }
        codes.push_back(OctoEraseFirmware(0x2400, 0xDA00));
        codes.push_back(OctoLoadFirmware(file.c_str()));
        return codes;
    }
    static std::string firmwareFile(const char* name) {
        return (std::filesystem::path(OCTO_DIST_DIR) / name).string();
    }
};

TEST_F(FirmwareTest, SelftestPassesOrFailsWithTheUnitPartsNumber) {
    for (int outcome : {0, 2, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(outcome);
        start({outcome == 0 ? "selftest=pass" : "selftest=" + std::to_string(outcome)});
        clearRecords();
        const int32_t code = OctoSelftest(kSelftestTenths);
        // The outcome outlives a restart of the unit before it is read.
        unit->signal(SIGUSR2);
        ASSERT_TRUE(unit->waitFor("unit.power_cycles", "1"));
        Block block;
        block.fill(0xAA);
        // The block after a self-test is read without the run-failed code.
        ASSERT_EQ(OctoGetResult(block.data()), 0);
        ASSERT_FALSE(pictures.empty());
        EXPECT_EQ(pictures.front(), kLampBusy);
        EXPECT_EQ(lastText(), outcome == 0
                                  ? std::string("Selftest passed.")
                                  : "ERROR: Selftest failed: unit error " +
                                        std::to_string(outcome) + " (see the result block) !");
        if (outcome == 0) {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(lastPicture(), kLampGreen);
        } else {
            EXPECT_EQ(code, 8);
            EXPECT_EQ(lastPicture(), kLampRed);
        }
        EXPECT_EQ(block[5], outcome);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(block[i], 0) << i;
        }
        EXPECT_EQ(unit->state("run.selftests"), "1");
        unit.reset();
    }
}

TEST_F(FirmwareTest, ASelftestLongerThanItsTimeOutGivesTheTimeOutCode) {
    start({"timing.selftest_ms=100000"}); // 1 s at the tests' time scale
    EXPECT_EQ(OctoSelftest(2), 6);
    EXPECT_EQ(lastPicture(), kLampRed);
    // The unit stopped it too and answers the next call.
    Block block;
    EXPECT_EQ(OctoGetResult(block.data()), 0);
}

TEST_F(FirmwareTest, ASelftestWhoseLineGoesAwayIsInterruptedNotTimedOut) {
    start({"timing.selftest_ms=100000", "unplug.for_ms=0"}); // 1 s at the tests' time scale
    bool unplugged = false;
    onPump = [&] {
        if (!std::exchange(unplugged, true)) {
            unit->signal(SIGUSR1);
        }
    };
    EXPECT_EQ(OctoSelftest(600), 6);
    onPump = nullptr;
    EXPECT_NE(lastText().find("Selftest interrupted."), std::string::npos) << lastText();
}

struct UpgradeCase {
    const char* name;
    uint16_t third;
    bool withLoader;
};

TEST_F(FirmwareTest, UpgradeReportsTheFilesVersionWithAndWithoutTheLoader) {
    const std::vector<UpgradeCase> cases = {
        {"capable boot loader, no loader stage", 0x0200, false},
        {"capable boot loader, loader stage anyway", 0x0200, true},
        {"old boot loader, loader stage", 0x0100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char third[16];
        std::snprintf(third, sizeof third, "0x%04X", c.third);
        start({"firmware_version=0x0150", "firmware_name=OCTO816-150",
               std::string("third_version=") + third});
        EXPECT_EQ(identity().firmware, 0x0150);
        clearRecords();
        for (int32_t code : upgrade(firmwareFile("OCTO816-156.TXT"), c.withLoader)) {
            EXPECT_EQ(code, 0) << lastText();
        }
        EXPECT_NE(
            std::find(texts.begin(), texts.end(), "Erasing firmware section 0x2400-0xFDFF ..."),
            texts.end());
        EXPECT_EQ(lastText(), "Firmware 1.56 \"OCTO816 FW\" loaded.");
        EXPECT_EQ(lastPicture(), kLampGreen);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Loading OCTO816-156.TXT ..."),
                  texts.end());
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front().first, 0u);
        EXPECT_EQ(progress.back().first, progress.back().second);
        const Identity id = identity();
        EXPECT_EQ(id.firmware, 0x0156);
        EXPECT_EQ(id.name, "OCTO816 FW");
        EXPECT_EQ(id.third, c.third);
        EXPECT_EQ(unit->state("firmware.state"), "installed");
        EXPECT_EQ(unit->state("firmware.loads"), "1");
        unit.reset();
    }
}

TEST_F(FirmwareTest, AnOldBootLoaderCannotEraseTheFirmwareAreaWithoutTheLoader) {
    start({"third_version=0x0100"});
    EXPECT_EQ(OctoEraseFirmware(0x2000, 0x100), 16);
    EXPECT_EQ(lastText(), "ERROR: 0x2000-0x20FF is not part of the firmware section !");
    EXPECT_EQ(OctoEraseFirmware(0x2400, 0xDA00), 8);
    EXPECT_NE(lastText().find("cannot be erased"), std::string::npos) << lastText();
    // Its firmware is still there.
    EXPECT_EQ(identity().firmware, 0x0156);
    // A load into an area that is not erased is refused as well.
    EXPECT_EQ(OctoLoadFirmware(firmwareFile("OCTO816-150.TXT").c_str()), 8);
    EXPECT_EQ(identity().firmware, 0x0156);
}

TEST_F(FirmwareTest, ANonFirmwareFileIsRefusedBeforeAnythingIsSent) {
    start({});
    const std::string commands = unit->state("unit.commands");
    struct Case {
        std::string file;
        int32_t code;
    };
    const std::vector<Case> cases = {
        {firmwareFile("OCTO816-NOFW.TXT"), 18},
        {samplePath("A110_blink.hex").string(), 18},
        {samplePath("broken_byte.txt").string(), 11},
        {"/no/such/OCTO816.TXT", 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(OctoCheckFirmware(c.file.c_str()), c.code);
        EXPECT_EQ(OctoLoadFirmware(c.file.c_str()), c.code);
        EXPECT_EQ(lastPicture(), kLampRed);
    }
    EXPECT_NE(lastText().find("OCTO816.TXT"), std::string::npos);
    EXPECT_EQ(std::string(GetErrorString(18)),
              "ERROR: Selected file is not a Firmware Update file !");
    EXPECT_EQ(unit->state("unit.commands"), commands);
    EXPECT_EQ(unit->state("firmware.state"), "installed");
}

TEST_F(FirmwareTest, AFileReplacedAfterItsCheckIsNotWhatTheUnitGets) {
    start({"firmware_version=0x0150"});
    const std::string file = (unit->folder() / "OCTO816-156.TXT").string();
    std::filesystem::copy_file(firmwareFile("OCTO816-156.TXT"), file);
    const auto codes = upgrade(file, false, [&] { std::ofstream(file) << "@2400\n00\nq\n"; });
    EXPECT_EQ(codes, (std::vector<int32_t>{0, 0, 0})) << lastText();
    EXPECT_EQ(identity().firmware, 0x0156);
    // The checked bytes went once; a later load reads the file as it is now.
    EXPECT_EQ(OctoLoadFirmware(file.c_str()), 18);
}

TEST_F(FirmwareTest, APowerCycleInTheMiddleOfAnUpgradeLeavesNoFirmwareUntilAnUpgradeCompletes) {
    start({"firmware_version=0x0150", "power_cycle.after_firmware_bytes=8000"});
    const auto codes = upgrade(firmwareFile("OCTO816-156.TXT"), false);
    EXPECT_EQ(codes.at(1), 0);
    EXPECT_NE(codes.at(2), 0);
    EXPECT_EQ(lastPicture(), kLampRed);
    EXPECT_EQ(unit->state("unit.power_cycles"), "1");
    Identity id = identity();
    EXPECT_EQ(id.firmware, 0xFFFF);
    EXPECT_EQ(id.name, "<none>");
    // Without firmware the unit does no target work.
    EXPECT_EQ(OctoLoadParameters(0x98, 30, 100), 8);
    EXPECT_NE(lastText().find("no firmware"), std::string::npos) << lastText();
    EXPECT_EQ(OctoSelftest(kSelftestTenths), 8);

    for (int32_t code : upgrade(firmwareFile("OCTO816-156.TXT"), false)) {
        EXPECT_EQ(code, 0) << lastText();
    }
    id = identity();
    EXPECT_EQ(id.firmware, 0x0156);
    EXPECT_EQ(id.name, "OCTO816 FW");
    EXPECT_EQ(OctoSelftest(kSelftestTenths), 0);
}

TEST_F(FirmwareTest, APowerCycleForgetsTheRunningLoader) {
    start({"third_version=0x0100"});
    ASSERT_EQ(OctoEraseFirmware(0x8000, 0x6000), 0);
    ASSERT_EQ(OctoLoadFirmware(kLoader), 0) << lastText();
    EXPECT_EQ(lastText(), "Temporary loader started.");
    EXPECT_EQ(unit->state("firmware.loader"), "running");
    unit->signal(SIGUSR2);
    ASSERT_TRUE(unit->waitFor("unit.power_cycles", "1"));
    EXPECT_EQ(unit->state("firmware.loader"), "loaded");
    EXPECT_EQ(OctoEraseFirmware(0x2400, 0xDA00), 8);
    // The program's loader stage brings it back.
    for (int32_t code : upgrade(firmwareFile("OCTO816-150.TXT"), true)) {
        EXPECT_EQ(code, 0) << lastText();
    }
    EXPECT_EQ(identity().firmware, 0x0150);
}

} // namespace
} // namespace octo::testing
