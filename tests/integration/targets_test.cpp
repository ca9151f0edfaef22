// The main process over the link: what reaches each of the eight targets, bit by bit in
// the result block and byte by byte in the simulated chips' memories.
#include "LibraryFixture.h"

#include <objfile/crc32.h>
#include <wire/messages.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>

namespace octo::testing {
namespace {

namespace opt = wire::option;

constexpr uint32_t kTimeoutTenths = 600;
constexpr uint32_t kErase = opt::kEraseInfo | opt::kEraseMain;
constexpr uint32_t kCheck = opt::kCheckInfo | opt::kCheckMain;
// Erase, check, program and verify information and main memory.
constexpr uint32_t kFullRun = kErase | kCheck | opt::kProgram | opt::kVerify;
constexpr uint32_t kVcc = 30;
constexpr uint32_t kSettleMs = 100;

using Block = std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>;

struct Bytes {
    uint8_t connected, eraseChecked, verified, fuseBlown, overAll, misc;
};

class TargetsTest : public SimulatedUnitTest {
protected:
    // Every test looks at the chips' memories, so the unit dumps them.
    void start(std::vector<std::string> settings) {
        settings.push_back("dump_targets=yes");
        SimulatedUnitTest::start(settings);
        ASSERT_EQ(OctoEraseImage(), 0);
        // The library outlives each unit: a test that chose another slot leaves it chosen.
        ASSERT_EQ(OctoSelectImage(0), 0);
    }
    void load(const std::filesystem::path& file, const std::string& type) {
        ASSERT_EQ(OctoLoadImage(file.c_str(), type.c_str()), 0) << lastText();
    }
    // One run as the program makes it: parameters, main process, result.
    int32_t run(uint32_t options, uint32_t vcc = kVcc | wire::kVccSwitchOff,
                uint32_t timeout = kTimeoutTenths) {
        const int32_t sent = OctoLoadParameters(options, vcc, kSettleMs);
        EXPECT_EQ(sent, 0) << lastText();
        const int32_t code = OctoMainProcess(timeout);
        if (code != 0) {
            return code;
        }
        block.fill(0xAA);
        return OctoGetResult(block.data());
    }
    Bytes bytes() const { return {block[0], block[1], block[2], block[3], block[4], block[5]}; }
    std::string crcText(uint32_t crc) const {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", crc);
        return text;
    }
    // The addresses of image whose byte the target holds differently.
    std::vector<uint32_t> differences(const objfile::Image& image, int socket) const {
        const objfile::Image memory = unit->targetMemory(socket);
        std::vector<uint32_t> wrong;
        for (const auto& piece : image.runs()) {
            for (size_t i = 0; i < piece.bytes.size(); ++i) {
                const uint32_t address = piece.start + static_cast<uint32_t>(i);
                if (memory.at(address) != piece.bytes[i]) {
                    wrong.push_back(address);
                }
            }
        }
        return wrong;
    }
    // Every byte of the target's memory in [start, start + length) is blank.
    bool blank(int socket, uint32_t start, uint32_t length) const {
        const objfile::Image memory = unit->targetMemory(socket);
        for (uint32_t a = start; a < start + length; ++a) {
            if (memory.at(a) != uint8_t{0xFF}) {
                return false;
            }
        }
        return true;
    }

    Block block{};
};

TEST_F(TargetsTest, EightSocketsTwoFaultyOneEmptyEachGetsWhatItReallyDid) {
    const auto sample = samplePath("A449_full.hex");
    const objfile::Image image = imageOfFile(sample);
    const uint32_t verifyFault = 0x2345;
    start({"target.all.type=ZEL816 A449", "target.3.present=no", "target.5.fault.verify_at=0x2345",
           "target.7.fault.erase=yes", "target.8.memory=random"});
    load(sample, "ZEL816 A449");
    const std::string blankCrc = unit->state("target.7.crc32");

    ASSERT_EQ(run(kFullRun), 0) << lastText();
    const Bytes b = bytes();
    EXPECT_EQ(b.connected, 0xFB);    // socket 3 empty
    EXPECT_EQ(b.eraseChecked, 0xBB); // socket 7 stopped at its failed erase
    EXPECT_EQ(b.verified, 0xAB);     // socket 5 verified wrong
    EXPECT_EQ(b.fuseBlown, 0x00);
    EXPECT_EQ(b.overAll, 0xAB);
    EXPECT_EQ(b.misc, 0);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Main Process running on the targets ..."),
              texts.end());
    EXPECT_EQ(lastText(), "Main Process finished: 5 of 7 connected targets passed.");
    EXPECT_EQ(lastPicture(), kLampRed);

    for (int socket : {1, 2, 4, 6, 8}) {
        SCOPED_TRACE(socket);
        EXPECT_TRUE(differences(image, socket).empty());
        // Erased information memory, the image, nothing else.
        EXPECT_TRUE(blank(socket, 0x1000, 0x100));
        EXPECT_EQ(unit->state("target." + std::to_string(socket) + ".crc32"),
                  crcText(objfile::imageCrc32(unit->targetMemory(socket))));
        EXPECT_EQ(unit->state("target." + std::to_string(socket) + ".last"), "passed");
    }
    EXPECT_EQ(differences(image, 5), std::vector<uint32_t>{verifyFault});
    EXPECT_EQ(unit->state("target.5.last"), "verify failed at 0x2345");
    // The failed erase left socket 7 as it was: blank, never programmed.
    EXPECT_EQ(unit->state("target.7.crc32"), blankCrc);
    EXPECT_EQ(unit->state("target.7.last"), "erase failed");
    EXPECT_EQ(unit->state("target.3.type"), "none");
    EXPECT_EQ(unit->state("target.3.last"), "empty socket");
}

struct OptionCase {
    const char* name;
    std::vector<std::string> settings;
    uint32_t options;
    Bytes expected;
};

TEST_F(TargetsTest, EachOptionBitDoesWhatItsNameSays) {
    // A110: 1 KiB flash at 0xFC00, two 128-byte information segments at 0x1000.
    const auto sample = samplePath("A110_blink.txt");
    const std::vector<OptionCase> cases = {
        {"program over random data without erase fails verify",
         {"target.all.memory=random"},
         opt::kProgram | opt::kVerify,
         {0xFF, 0x00, 0x00, 0x00, 0x00, 0}},
        {"erase first, then programming verifies",
         {"target.all.memory=random"},
         kErase | opt::kProgram | opt::kVerify,
         {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0}},
        {"erase check after erase passes",
         {"target.all.memory=random"},
         kErase | kCheck,
         {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0}},
        {"erase check without erase finds the old data",
         {"target.all.memory=random"},
         kCheck,
         {0xFF, 0x00, 0x00, 0x00, 0x00, 0}},
        {"a byte erasing cannot clear fails the check",
         {"target.2.fault.erase_check_at=0xFC10"},
         kErase | kCheck | opt::kProgram | opt::kVerify,
         {0xFF, 0xFD, 0xFD, 0x00, 0xFD, 0}},
        {"verify alone checks a blank chip against the image",
         {},
         opt::kVerify,
         {0xFF, 0x00, 0x00, 0x00, 0x00, 0}},
        {"marginal verify finds the weak byte, normal verify does not",
         {"target.4.fault.marginal_at=0xFC00"},
         kErase | opt::kProgram | opt::kVerify | opt::kMarginal,
         {0xFF, 0x00, 0xF7, 0x00, 0xF7, 0}},
        {"normal verify passes the weak byte",
         {"target.4.fault.marginal_at=0xFC00"},
         kErase | opt::kProgram | opt::kVerify,
         {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0}},
        {"secure blows every fuse that works",
         {"target.6.fault.secure=yes"},
         kErase | opt::kProgram | opt::kVerify | opt::kSecure,
         {0xFF, 0x00, 0xFF, 0xDF, 0xDF, 0}},
        {"a target that does not answer is not connected",
         {"target.1.fault.no_answer=yes"},
         kErase,
         {0xFE, 0x00, 0x00, 0x00, 0xFE, 0}},
        {"DuoLink reaches no chip of a type without it",
         {},
         kErase | opt::kDuoLink,
         {0x00, 0x00, 0x00, 0x00, 0x00, 0}},
        {"a chip of another type than the image does not answer",
         {"target.8.type=ZEL816 A413"},
         kErase,
         {0x7F, 0x00, 0x00, 0x00, 0x7F, 0}},
        {"a target whose supply range ends below the voltage does not answer",
         {"target.2.supply_max=29"},
         kErase,
         {0xFD, 0x00, 0x00, 0x00, 0xFD, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.settings);
        load(sample, "ZEL816 A110");
        ASSERT_EQ(run(c.options), 0) << lastText();
        const Bytes b = bytes();
        EXPECT_EQ(b.connected, c.expected.connected);
        EXPECT_EQ(b.eraseChecked, c.expected.eraseChecked);
        EXPECT_EQ(b.verified, c.expected.verified);
        EXPECT_EQ(b.fuseBlown, c.expected.fuseBlown);
        EXPECT_EQ(b.overAll, c.expected.overAll);
        EXPECT_EQ(b.misc, c.expected.misc);
        // Green only when every connected target passed, and there was one.
        const bool allPassed =
            c.expected.connected != 0 && c.expected.overAll == c.expected.connected;
        EXPECT_EQ(lastPicture(), allPassed ? kLampGreen : kLampRed);
        unit.reset();
    }
}

TEST_F(TargetsTest, EraseAreasFollowTheirBits) {
    // B231: information memory 0x1000-0x10BF, protected segment 0x10C0-0x10FF, flash from
    // 0xC000, BSL at 0x0C00; every chip starts with random contents.
    struct AreaCase {
        const char* name;
        uint32_t options;
        bool info, protectedInfo, main, bsl; // erased afterwards
    };
    const std::vector<AreaCase> cases = {
        {"information only", opt::kEraseInfo, true, false, false, false},
        {"information with the protected segment", opt::kEraseInfo | opt::kErasePinfo, true, true,
         false, false},
        {"main only", opt::kEraseMain, false, false, true, false},
        {"BSL only", opt::kEraseBsl, false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({"target.all.memory=random"});
        load(samplePath("B231_main.txt"), "ZEL816 B231");
        ASSERT_EQ(run(c.options), 0) << lastText();
        EXPECT_EQ(bytes().overAll, 0xFF);
        EXPECT_EQ(blank(1, 0x1000, 0xC0), c.info);
        EXPECT_EQ(blank(1, 0x10C0, 0x40), c.protectedInfo);
        EXPECT_EQ(blank(1, 0xC000, 0x4000), c.main);
        EXPECT_EQ(blank(1, 0x0C00, 0x400), c.bsl);
        unit.reset();
    }
}

TEST_F(TargetsTest, BootLoaderBytesAreProgrammedOnlyWithTheirBit) {
    start({});
    const auto file = unit->folder() / "with_bsl.txt";
    {
        std::ofstream out(file);
        out << "@C00\n11 22 33 44\n@FC00\n55 66 77 88\nq\n";
    }
    load(file, "ZEL816 A110");
    ASSERT_EQ(run(kErase | opt::kEraseBsl | opt::kProgram | opt::kVerify), 0) << lastText();
    EXPECT_EQ(bytes().overAll, 0xFF);
    EXPECT_TRUE(blank(1, 0x0C00, 4));
    EXPECT_EQ(unit->targetMemory(1).at(0xFC00), uint8_t{0x55});
    ASSERT_EQ(run(kErase | opt::kEraseBsl | opt::kProgram | opt::kProgramBsl | opt::kVerify), 0);
    EXPECT_EQ(bytes().overAll, 0xFF);
    EXPECT_EQ(unit->targetMemory(1).at(0x0C00), uint8_t{0x11});
    EXPECT_EQ(unit->targetMemory(1).at(0x0C03), uint8_t{0x44});
}

TEST_F(TargetsTest, DuoLinkAndFourWireReachTheChipsThatHaveThem) {
    struct Case {
        const char* type;
        const char* file;
        uint32_t options;
        uint8_t connected;
    };
    const std::vector<Case> cases = {
        // B231 has both interfaces, A201 only DuoLink.
        {"ZEL816 B231", "B231_main.txt", kErase, 0xFF},
        {"ZEL816 B231", "B231_main.txt", kErase | opt::kDuoLink, 0xFF},
        {"ZEL816 A201", "B231_info.txt", kErase, 0x00},
        {"ZEL816 A201", "B231_info.txt", kErase | opt::kDuoLink, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.options & opt::kDuoLink ? " DuoLink" : " JTAG"));
        start({});
        load(samplePath(c.file), c.type);
        ASSERT_EQ(run(c.options), 0) << lastText();
        EXPECT_EQ(bytes().connected, c.connected);
        unit.reset();
    }
}

TEST_F(TargetsTest, SupplyDecidesWhoAnswersAndWhatStaysOnAfterwards) {
    struct Case {
        const char* name;
        std::vector<std::string> settings;
        uint32_t vcc;
        uint8_t connected;
        const char* supplyAfter;
    };
    const std::vector<Case> cases = {
        {"on at 3.0 V, switched off afterwards", {}, 30 | wire::kVccSwitchOff, 0xFF, "off"},
        {"on at 3.0 V, left on", {}, 30, 0xFF, "on"},
        {"below the type's 2.7 V nobody starts", {}, 25, 0x00, "on"},
        {"not supplied by the unit and nothing else", {}, 0, 0x00, "external"},
        {"not supplied by the unit, the board supplies 3.3 V",
         {"external_supply=33"},
         0,
         0xFF,
         "external"},
        {"a broken generator supplies nobody", {"supply_broken=yes"}, 30, 0x00, "off"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.settings);
        load(samplePath("A110_blink.txt"), "ZEL816 A110");
        ASSERT_EQ(run(kErase, c.vcc), 0) << lastText();
        EXPECT_EQ(bytes().connected, c.connected);
        EXPECT_EQ(unit->state("supply.mode"), c.supplyAfter);
        unit.reset();
    }
}

TEST_F(TargetsTest, TheSpeedBitsAndDuoLinkStretchTheModelledWork) {
    start({});
    load(samplePath("B231_main.txt"), "ZEL816 B231");
    std::vector<double> modelled;
    for (uint32_t extra : {0u, 0x1000u, 0x3000u, opt::kDuoLink}) {
        ASSERT_EQ(run(opt::kProgram | extra, 30), 0) << lastText();
        modelled.push_back(std::stod(unit->state("run.modelled_ms")));
    }
    // 2080 bytes programmed at 115 ms a KiB after 1210 ms of start and 100 ms settling.
    const double base = 1210 + 100;
    const double program = 115 * 2080 / 1024.0;
    EXPECT_NEAR(modelled[0], base + program, 0.2);
    EXPECT_NEAR(modelled[1], base + 4 * program, 0.2);
    EXPECT_NEAR(modelled[2], base + 13 * program, 0.2);
    EXPECT_NEAR(modelled[3], base + 4 * program, 0.2);
}

TEST_F(TargetsTest, AnErasedImageMemoryFailsWithError1AndTouchesNoTarget) {
    start({"target.all.memory=random", "target.1.type=ZEL816 A110"});
    const std::string before = unit->state("target.1.crc32");
    ASSERT_NE(before, "none");
    ASSERT_EQ(OctoLoadParameters(kFullRun, 30, kSettleMs), 0);
    ASSERT_EQ(OctoMainProcess(kTimeoutTenths), 0);
    EXPECT_EQ(lastText(), "FATAL ERROR: Image Memory corrupted or erased !");
    EXPECT_EQ(lastPicture(), kLampRed);
    block.fill(0xAA);
    EXPECT_EQ(OctoGetResult(block.data()), 50);
    EXPECT_EQ(bytes().connected, 0);
    EXPECT_EQ(bytes().overAll, 0);
    EXPECT_EQ(bytes().misc, 1);
    // Only the read after the run reports it; the next one is a plain identification.
    EXPECT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(block[5], 1);
    EXPECT_EQ(unit->state("target.1.crc32"), before);
    EXPECT_EQ(unit->state("target.1.runs"), "0");
}

TEST_F(TargetsTest, TheResultOfARunSurvivesAPowerCycleOfTheUnitBeforeItIsRead) {
    start({"target.all.type=ZEL816 A110"});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
    ASSERT_EQ(OctoMainProcess(kTimeoutTenths), 0) << lastText();
    // The unit restarts and forgets its run before the program reads the result.
    unit->signal(SIGUSR2);
    ASSERT_TRUE(unit->waitFor("unit.power_cycles", "1"));
    block.fill(0xAA);
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(bytes().connected, 0xFF);
    EXPECT_EQ(bytes().overAll, 0xFF);
    EXPECT_EQ(bytes().misc, 0);
    // The identification still comes from the unit.
    EXPECT_EQ(blockWord(block, 8), 0x0130);
    // A run the restarted unit refuses (its parameters are gone) leaves no earlier run there.
    ASSERT_EQ(OctoMainProcess(kTimeoutTenths), 8);
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(bytes().connected, 0);
}

// The unit's own record comes back through its export, and asking for it leaves the failed
// run for the OctoGetResult that follows.
TEST_F(TargetsTest, TheUnitReportsItsSerialNumberAndItsCountOfMainProcesses) {
    start({"unit.serial=OCTO-000123 \"bay, 2\""});
    char serial[OCTO_UNIT_SERIAL_BYTES];
    std::fill(std::begin(serial), std::end(serial), 'X');
    uint32_t runs = 0;
    ASSERT_EQ(OctoGetUnitInfo(serial, sizeof serial, &runs), 0);
    EXPECT_STREQ(serial, "OCTO-000123 \"bay, 2\"");
    EXPECT_EQ(runs, 0u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(OctoLoadParameters(kFullRun, 30, kSettleMs), 0);
        ASSERT_EQ(OctoMainProcess(kTimeoutTenths), 0); // no image: a failed run
    }
    ASSERT_EQ(OctoGetUnitInfo(serial, sizeof serial, &runs), 0);
    EXPECT_EQ(runs, 2u);
    EXPECT_EQ(unit->state("run.main_processes"), "2");
    EXPECT_EQ(OctoGetResult(block.data()), 50);
}

TEST_F(TargetsTest, APartlyLoadedImageFailsLikeAnErasedOne) {
    // The line goes away in the middle of the load and comes back.
    start({"unplug.after_bytes=20000", "unplug.for_ms=300"});
    EXPECT_NE(OctoLoadImage(samplePath("A449_full.hex").c_str(), "ZEL816 A449"), 0);
    ASSERT_TRUE(unit->waitFor("link.unplugs", "1")) << lastText();
    ASSERT_TRUE(unit->waitFor("link.state", "plugged"));
    ASSERT_EQ(InitCom(unit->link().c_str(), kRate), 0);
    EXPECT_EQ(unit->state("image.0.state"), "loading");
    ASSERT_EQ(run(kFullRun), 50);
    EXPECT_EQ(bytes().misc, 1);
    EXPECT_EQ(bytes().connected, 0);
    EXPECT_EQ(unit->state("target.1.runs"), "0");
}

TEST_F(TargetsTest, ASecuredTargetIsReportedLockedAndStaysUntouched) {
    start({"target.4.secured=yes", "target.4.type=ZEL816 A110", "target.4.memory=random"});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    const std::string before = unit->state("target.4.crc32");
    ASSERT_EQ(run(kFullRun), 0) << lastText();
    const Bytes b = bytes();
    EXPECT_EQ(b.connected, 0xF7);
    EXPECT_EQ(b.fuseBlown, 0x08);
    EXPECT_EQ(b.overAll, 0xF7);
    // Locked: fuse set, over-all clear.
    EXPECT_TRUE((b.fuseBlown & 0x08) && !(b.overAll & 0x08));
    EXPECT_EQ(unit->state("target.4.crc32"), before);

    // Securing the others locks them for the next run.
    ASSERT_EQ(run(kFullRun | opt::kSecure), 0);
    EXPECT_EQ(bytes().fuseBlown, 0xFF);
    EXPECT_EQ(bytes().overAll, 0xF7);
    ASSERT_EQ(run(kFullRun), 0);
    EXPECT_EQ(bytes().connected, 0x00);
    EXPECT_EQ(bytes().fuseBlown, 0xFF);
    EXPECT_EQ(bytes().overAll, 0x00);
}

TEST_F(TargetsTest, AMainProcessLongerThanItsTimeOutEndsWithTheTimeOutCodeAtTheDeadline) {
    // A449 at full scale takes about 11 s; the call allows 0.5 s.
    start({"time_scale=1"});
    load(samplePath("A449_full.hex"), "ZEL816 A449");
    ASSERT_EQ(OctoLoadParameters(kFullRun, 30, kSettleMs), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(OctoMainProcess(5), 6);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(500));
    // Bounded by its time-out, not by the unit's work.
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    EXPECT_NE(lastText().find("time-out of 0.5 s"), std::string::npos) << lastText();
    EXPECT_EQ(lastPicture(), kLampRed);
    // The unit stopped the run at the same time-out and talks again.
    ASSERT_TRUE(unit->waitFor("run.failed", "yes", std::chrono::milliseconds(3000)));
    EXPECT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(block[4], 0);
}

TEST_F(TargetsTest, ParametersAreCheckedBeforeTheyAreSent) {
    start({});
    const std::vector<std::array<uint32_t, 3>> bad = {
        {0x8000, 30, 100},          // an unknown option bit
        {0x08, 30, 100},            // only part of the program bits
        {kFullRun, 17, 100},        // no such voltage
        {kFullRun, 37 | 0x80, 100}, // nor with the switch-off flag
        {kFullRun, 0x100, 100},     // beyond 8 bits
        {kFullRun, 30, 0x10000},    // settling time beyond 16 bits
    };
    for (const auto& [options, vcc, settle] : bad) {
        EXPECT_EQ(OctoLoadParameters(options, vcc, settle), 16)
            << std::hex << options << " " << vcc;
    }
    EXPECT_EQ(unit->state("params.options"), "none");
    ASSERT_EQ(OctoLoadParameters(kFullRun | 0x3000, 0x80, 200), 0);
    EXPECT_EQ(unit->state("params.options"), "0x033BB");
    EXPECT_EQ(unit->state("params.target_vcc"), "0x80");
    EXPECT_EQ(unit->state("params.settle_ms"), "200");
}

// --- each target's own record ------------------------------------------------------------

// A110: information memory 0x1000-0x10FF and flash from 0xFC00 blank where A110_blink.txt
// leaves it (it fills 0xFC00-0xFCBF and the vectors from 0xFFE0).
constexpr uint32_t kRecordAt = 0x1000;

// Socket n's record: four bytes counting from 0x10 * n.
std::vector<uint8_t> recordOf(int socket, size_t length = 4) {
    std::vector<uint8_t> data(length);
    for (size_t k = 0; k < length; ++k) {
        data[k] = static_cast<uint8_t>(0x10 * socket + k);
    }
    return data;
}

std::string chipLine(int run, int socket, uint32_t address, const std::vector<uint8_t>& data,
                     bool verified) {
    char head[64];
    std::snprintf(head, sizeof head, "run=%d socket=%d address=0x%04x data=", run, socket, address);
    std::string line = head;
    for (uint8_t byte : data) {
        char item[4];
        std::snprintf(item, sizeof item, "%02x", byte);
        line += item;
    }
    return line + " verified=" + (verified ? "1" : "0");
}

void setEveryRecord(uint32_t address = kRecordAt) {
    for (int socket = 1; socket <= 8; ++socket) {
        const auto data = recordOf(socket);
        ASSERT_EQ(OctoSetTargetData(socket, address, data.data(), 4), 0);
    }
}

TEST_F(TargetsTest, EachConnectedTargetGetsItsOwnRecordAndAFaultyOneFailsItsBits) {
    start({"target.3.present=no", "target.5.fault.record=yes"});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    setEveryRecord();
    ASSERT_EQ(run(kFullRun), 0) << lastText();
    EXPECT_EQ(bytes().connected, 0xFB);
    EXPECT_EQ(bytes().verified, 0xEB); // socket 5's record did not verify
    EXPECT_EQ(bytes().overAll, 0xEB);
    std::vector<std::string> expected;
    for (int socket : {1, 2, 4, 5, 6, 7, 8}) {
        expected.push_back(chipLine(1, socket, kRecordAt, recordOf(socket), socket != 5));
    }
    EXPECT_EQ(unit->chipLog(), expected);
    EXPECT_EQ(unit->targetMemory(8).at(kRecordAt + 3), uint8_t{0x83});
    EXPECT_EQ(unit->targetMemory(5).at(kRecordAt), uint8_t{0x51});
    EXPECT_EQ(unit->state("target.5.last"), "record verify failed at 0x1000");

    // Records are for one run: the next one writes none.
    ASSERT_EQ(run(kFullRun), 0) << lastText();
    EXPECT_EQ(bytes().overAll, 0xFB);
    EXPECT_EQ(unit->chipLog(), expected);
    EXPECT_EQ(unit->state("run.main_processes"), "2");
}

TEST_F(TargetsTest, RecordsAreGoneAfterAnImageEraseAndAReconnect) {
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"image erase",
         [&] {
             ASSERT_EQ(OctoEraseImage(), 0);
             load(samplePath("A110_blink.txt"), "ZEL816 A110");
         }},
        {"reconnect", [&] { ASSERT_EQ(InitCom(unit->link().c_str(), kRate), 0); }},
        {"clear", [] { ASSERT_EQ(OctoClearTargetData(), 0); }},
    };
    for (const auto& [name, between] : cases) {
        SCOPED_TRACE(name);
        start({});
        load(samplePath("A110_blink.txt"), "ZEL816 A110");
        setEveryRecord();
        between();
        ASSERT_EQ(run(kFullRun), 0) << lastText();
        EXPECT_EQ(bytes().overAll, 0xFF);
        EXPECT_TRUE(unit->chipLog().empty());
        unit.reset();
    }
}

TEST_F(TargetsTest, RecordsThatCannotBeWrittenAreRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::vector<std::string> settings;
        std::function<void()> set;
        int32_t code;
        const char* text;
    };
    const auto one = [](int socket, uint32_t address, size_t length) {
        const auto data = recordOf(socket, length);
        ASSERT_EQ(OctoSetTargetData(socket, address, data.data(), static_cast<uint32_t>(length)),
                  0);
    };
    const std::vector<Case> cases = {
        {"in RAM", {}, [&] { one(2, 0x0200, 4); }, 54, "outside the flash and information"},
        {"running past the information memory",
         {},
         [&] {
             setEveryRecord();
             one(4, 0x10FE, 4);
         },
         54,
         "target 4 at 0x10FE"},
        {"over the image's code", {}, [&] { one(1, 0xFCBE, 4); }, 55, "image data at 0xFCBE"},
        {"of different lengths",
         {},
         [&] {
             setEveryRecord();
             one(7, kRecordAt + 0x10, 5);
         },
         56,
         "5 bytes long"},
        {"to firmware before records",
         {"firmware_version=0x0150"},
         [] { setEveryRecord(); },
         57,
         "does not know target data"},
        {"with a slot this library did not load",
         {},
         [] {
             ASSERT_EQ(OctoSelectImage(1), 0);
             setEveryRecord();
         },
         59,
         "selected slot loaded by this library"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.settings);
        load(samplePath("A110_blink.txt"), "ZEL816 A110");
        c.set();
        ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
        EXPECT_EQ(OctoMainProcess(kTimeoutTenths), c.code);
        EXPECT_NE(lastText().find(c.text), std::string::npos) << lastText();
        EXPECT_EQ(lastPicture(), kLampRed);
        EXPECT_EQ(unit->state("run.main_processes"), "0");
        EXPECT_EQ(unit->state("run.records"), "0");
        // Refused records are gone too: the next run programs without them.
        ASSERT_EQ(OctoMainProcess(kTimeoutTenths), 0) << lastText();
        EXPECT_TRUE(unit->chipLog().empty());
        unit.reset();
    }
}

// Socket n's second record, unlike its first in every byte.
std::vector<uint8_t> secondRecordOf(int socket) {
    std::vector<uint8_t> data = recordOf(socket);
    for (uint8_t& byte : data) {
        byte = static_cast<uint8_t>(byte ^ 0xA5);
    }
    return data;
}

std::vector<uint8_t> memoryAt(const objfile::Image& memory, uint32_t address, size_t length) {
    std::vector<uint8_t> bytes;
    for (uint32_t a = address; a < address + length; ++a) {
        bytes.push_back(memory.at(a).value_or(0xFF));
    }
    return bytes;
}

TEST_F(TargetsTest, RecordsGoOnlyWithARunThatErasesAndProgramsTheirMemory) {
    // A110: the image leaves 0xFD00 blank in main memory.
    constexpr uint32_t kInMain = 0xFD00;
    constexpr uint32_t kNoParameters = 0xFFFFFFFF; // the line opened anew, none sent since
    const struct {
        const char* name;
        uint32_t address;
        uint32_t options;
        int32_t code; // 0: the pass ran and wrote the second records
    } cases[] = {
        {"verify only", kRecordAt, opt::kVerify | opt::kMarginal, 58},
        {"erase and check only", kRecordAt, kErase | kCheck, 58},
        {"check only", kRecordAt, kCheck, 58},
        {"program without erase", kRecordAt, opt::kProgram | opt::kVerify, 58},
        {"main memory erased, record in information memory", kRecordAt,
         opt::kEraseMain | opt::kProgram, 58},
        {"information memory erased, record in main memory", kInMain,
         opt::kEraseInfo | opt::kProgram, 58},
        {"parameters of the line before", kRecordAt, kNoParameters, 58},
        {"information memory erased and programmed", kRecordAt, opt::kEraseInfo | opt::kProgram, 0},
        {"main memory erased and programmed", kInMain, opt::kEraseMain | opt::kProgram, 0},
        {"the full run", kRecordAt, kFullRun, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({});
        load(samplePath("A110_blink.txt"), "ZEL816 A110");
        // Every chip holds its first record from a run that erased and programmed it.
        setEveryRecord(c.address);
        ASSERT_EQ(run(kFullRun), 0) << lastText();
        ASSERT_EQ(unit->chipLog().size(), 8u);

        for (int socket = 1; socket <= 8; ++socket) {
            const auto data = secondRecordOf(socket);
            ASSERT_EQ(OctoSetTargetData(socket, c.address, data.data(), 4), 0);
        }
        if (c.options == kNoParameters) {
            ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
            ASSERT_EQ(InitCom(unit->link().c_str(), kRate), 0);
            const auto data = secondRecordOf(1);
            ASSERT_EQ(OctoSetTargetData(1, c.address, data.data(), 4), 0);
        } else {
            ASSERT_EQ(OctoLoadParameters(c.options, kVcc, kSettleMs), 0) << lastText();
        }
        ASSERT_EQ(OctoMainProcess(kTimeoutTenths), c.code) << lastText();
        if (c.options == (opt::kProgram | opt::kVerify)) {
            EXPECT_EQ(lastText(), "ERROR: Target data of target 1 at 0x1000 needs a run that "
                                  "erases and programs its memory (options 0x99), the "
                                  "parameters are 0xB8 !");
        }
        if (c.code != 0) {
            EXPECT_NE(lastText().find("needs a run that erases and programs its memory"),
                      std::string::npos)
                << lastText();
            EXPECT_EQ(lastPicture(), kLampRed);
            EXPECT_EQ(unit->state("run.main_processes"), "1") << "nothing sent";
        }
        EXPECT_EQ(unit->chipLog().size(), c.code == 0 ? 16u : 8u);
        for (int socket = 1; socket <= 8; ++socket) {
            EXPECT_EQ(memoryAt(unit->targetMemory(socket), c.address, 4),
                      c.code == 0 ? secondRecordOf(socket) : recordOf(socket))
                << "socket " << socket;
        }
        // Refused records are dropped: a later run writes none.
        if (c.code != 0) {
            ASSERT_EQ(run(kFullRun), 0) << lastText();
            EXPECT_EQ(unit->chipLog().size(), 8u);
        }
        unit.reset();
    }
}

TEST_F(TargetsTest, RecordsWaitForParametersTheUnitIsKnownToHold) {
    // The unit carries out a second parameter block (verify only) but its answer is lost:
    // which block the unit holds is not known, so the full run's block no longer counts.
    start({});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
    const int lost = std::stoi(unit->state("unit.commands")) + 1;
    unit.reset();
    start({"misbehave.silent_after=" + std::to_string(lost), "misbehave.silent_for_ms=5000"});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
    EXPECT_EQ(OctoLoadParameters(opt::kVerify, kVcc, kSettleMs), 6);
    EXPECT_EQ(unit->state("params.options"), "0x00020") << "the unit took it";
    ASSERT_TRUE(unit->waitFor("unit.silent", "no"));

    setEveryRecord();
    EXPECT_EQ(OctoMainProcess(kTimeoutTenths), 58) << lastText();
    EXPECT_NE(lastText().find("the parameters were not loaded"), std::string::npos) << lastText();
    EXPECT_EQ(unit->state("run.main_processes"), "0");
    EXPECT_TRUE(unit->chipLog().empty());
}

TEST_F(TargetsTest, AnUnplugDuringARecordRunGivesNoResultAndTheChipLogHoldsWhatWasWritten) {
    // At full time scale the run takes over a second: long enough to pull the cable.
    start({"time_scale=1", "timing.erase_image_ms=0", "unplug.for_ms=300"});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    setEveryRecord();
    bool pulled = false;
    onPump = [&] {
        if (!pulled && unit->state("unit.working") == "yes") {
            pulled = true;
            unit->signal(SIGUSR1);
        }
    };
    ASSERT_EQ(OctoLoadParameters(kFullRun, kVcc, kSettleMs), 0);
    EXPECT_EQ(OctoMainProcess(kTimeoutTenths), 6);
    onPump = nullptr;
    ASSERT_TRUE(pulled);
    // The unit wrote every record as it took the run; nothing is written twice later.
    const auto written = unit->chipLog();
    ASSERT_EQ(written.size(), 8u);
    EXPECT_EQ(written[7], chipLine(1, 8, kRecordAt, recordOf(8), true));
    // The library may notice the hang-up before the unit has written its state.
    ASSERT_TRUE(unit->waitFor("link.unplugs", "1"));
    ASSERT_TRUE(unit->waitFor("link.state", "plugged"));
    ASSERT_EQ(run(kFullRun), 0) << lastText();
    EXPECT_EQ(unit->chipLog(), written);
    setEveryRecord(kRecordAt + 0x10);
    ASSERT_EQ(run(kFullRun), 0) << lastText();
    EXPECT_EQ(unit->chipLog().size(), 16u);
    EXPECT_EQ(unit->chipLog().back(), chipLine(3, 8, kRecordAt + 0x10, recordOf(8), true));
}

TEST_F(TargetsTest, AMainProcessWithoutParametersIsRefused) {
    start({});
    load(samplePath("A110_blink.txt"), "ZEL816 A110");
    EXPECT_EQ(OctoMainProcess(kTimeoutTenths), 8);
    EXPECT_NE(lastText().find("No programming parameters"), std::string::npos) << lastText();
    EXPECT_EQ(unit->state("run.main_processes"), "0");
}

} // namespace
} // namespace octo::testing
