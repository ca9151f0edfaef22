// Reading a target back into a file, and the target's registers: round trips in both
// formats, targets that cannot be read, and a read-out cut short, which must leave no
// file under the operator's name.
#include "LibraryFixture.h"
#include "Operations.h"

#include <objfile/load.h>
#include <wire/messages.h>

#include <algorithm>
#include <csignal>
#include <fstream>

namespace octo::testing {
namespace {

namespace opt = wire::option;

constexpr uint32_t kProgramAll = opt::kEraseInfo | opt::kEraseMain | opt::kProgram | opt::kVerify;

class ReadoutTest : public SimulatedUnitTest {
protected:
    // Programs the sample into every socket; leaves the supply on at 3.0 V.
    void program(const char* sample, const char* type) {
        ASSERT_EQ(OctoEraseImage(), 0);
        ASSERT_EQ(OctoLoadImage(samplePath(sample).c_str(), type), 0) << lastText();
        ASSERT_EQ(OctoLoadParameters(kProgramAll, 30, 100), 0);
        ASSERT_EQ(OctoMainProcess(600), 0);
        std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block;
        ASSERT_EQ(OctoGetResult(block.data()), 0);
        ASSERT_EQ(block[4], 0xFF);
    }
    objfile::Image readBack(const std::filesystem::path& path) {
        objfile::Image image;
        const auto result =
            objfile::loadObjectFile(path.filename().string(), readFile(path), image);
        EXPECT_TRUE(result.ok()) << path;
        return image;
    }
    bool leftovers(const std::filesystem::path& path) {
        return temporaryLeftovers(path.parent_path());
    }
};

struct FormatCase {
    uint32_t format;
    const char* file;
    const char* firstLine;
};

TEST_F(ReadoutTest, ReadingBackAProgrammedTargetGivesTheImageInBothFormats) {
    start({});
    program("A449_full.hex", "ZEL816 A449");
    const objfile::Image image = imageOfFile(samplePath("A449_full.hex"));
    // What a killed writer of the first file left beside it goes with the next write.
    std::ofstream(unit->folder() / "target3.txt.999999999-0.octo-tmp") << "cut short";
    const std::vector<FormatCase> cases = {
        {OCTO_FORMAT_QX_TEXT, "target3.txt", "@1000\r\n"},
        {OCTO_FORMAT_INTEL_HEX, "target3.hex", ":10100000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        clearRecords();
        const auto path = unit->folder() / c.file;
        // Target 3 (index 2), information memory and all of main memory.
        ASSERT_EQ(OctoReadTargetFile(2, 0x1000, 0xF000, path.c_str(), c.format), 0) << lastText();
        EXPECT_EQ(readFile(path).rfind(c.firstLine, 0), 0u) << readFile(path).substr(0, 20);
        const objfile::Image back = readBack(path);
        EXPECT_EQ(back.byteCount(), 0xF000u);
        for (const auto& piece : image.runs()) {
            for (size_t i = 0; i < piece.bytes.size(); ++i) {
                const uint32_t address = piece.start + static_cast<uint32_t>(i);
                ASSERT_EQ(back.at(address), piece.bytes[i]) << std::hex << address;
            }
        }
        // The erased information memory reads blank.
        EXPECT_EQ(back.at(0x1000), uint8_t{0xFF});
        EXPECT_EQ(lastText(),
                  "Target 3 read: 61440 bytes from 0x1000 written to " + std::string(c.file) + ".");
        EXPECT_EQ(lastPicture(), kLampGreen);
        EXPECT_EQ(texts.front(), "Reading target 3 ...");
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Reading target 3 ... 100 %"), texts.end());
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front(), std::make_pair(0u, 0xF000u));
        EXPECT_EQ(progress.back(), std::make_pair(0xF000u, 0xF000u));
        EXPECT_FALSE(leftovers(path));
    }
}

TEST_F(ReadoutTest, AddressesWithoutMemoryReadAsErased) {
    start({"target.1.type=ZEL816 A110", "target.1.memory=random"});
    ASSERT_EQ(OctoSetVccTarget(33), 0);
    const auto path = unit->folder() / "a110.txt";
    ASSERT_EQ(OctoReadTargetFile(0, 0xF000, 0x1000, path.c_str(), OCTO_FORMAT_QX_TEXT), 0)
        << lastText();
    const objfile::Image back = readBack(path);
    EXPECT_EQ(back.byteCount(), 0x1000u);
    for (uint32_t a = 0xF000; a < 0xFC00; ++a) {
        ASSERT_EQ(back.at(a), uint8_t{0xFF}) << std::hex << a;
    }
    // The flash at 0xFC00 holds its random bytes: not all of them blank.
    uint32_t blank = 0;
    for (uint32_t a = 0xFC00; a < 0x10000; ++a) {
        blank += back.at(a) == uint8_t{0xFF};
    }
    EXPECT_LT(blank, 64u);
}

struct UnreadableCase {
    const char* name;
    std::vector<std::string> settings;
    uint32_t supply;
    const char* mention;
};

TEST_F(ReadoutTest, TargetsThatCannotBeReadGiveNoFile) {
    const std::vector<UnreadableCase> cases = {
        {"empty socket", {"target.2.present=no"}, 30, "no device"},
        {"secured", {"target.2.secured=yes", "target.2.type=ZEL816 A110"}, 30, "secured"},
        {"supply off", {"target.2.type=ZEL816 A110"}, 1, "does not answer"},
        {"no answer",
         {"target.2.fault.no_answer=yes", "target.2.type=ZEL816 A110"},
         30,
         "does not answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.settings);
        ASSERT_EQ(OctoSetVccTarget(c.supply), 0);
        const auto path = unit->folder() / "out.txt";
        EXPECT_EQ(OctoReadTargetFile(1, 0xFC00, 0x400, path.c_str(), OCTO_FORMAT_QX_TEXT), 8);
        EXPECT_NE(lastText().find(c.mention), std::string::npos) << lastText();
        EXPECT_NE(lastText().find("Target 2"), std::string::npos) << lastText();
        EXPECT_EQ(lastPicture(), kLampRed);
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_FALSE(leftovers(path));
        unit.reset();
    }
}

TEST_F(ReadoutTest, AnUnplugDuringTheReadOutLeavesNoFileAndKeepsAnOlderOne) {
    // Paced at the line rate, 64 KiB take about 6 s: the line goes at about 10 %.
    start({"pace=yes", "target.1.type=ZEL816 A449", "unplug.for_ms=0"});
    ASSERT_EQ(OctoSetVccTarget(30), 0);
    const auto path = unit->folder() / "keep.hex";
    {
        std::ofstream out(path, std::ios::binary);
        out << "an older read-out\n";
    }
    bool unplugged = false;
    onPump = [&] {
        if (!unplugged && !progress.empty() && progress.back().first >= 6000) {
            unplugged = true;
            unit->signal(SIGUSR1);
        }
    };
    const int32_t code = OctoReadTargetFile(0, 0, 0x10000, path.c_str(), OCTO_FORMAT_INTEL_HEX);
    onPump = nullptr;
    EXPECT_TRUE(unplugged);
    EXPECT_EQ(code, 6) << lastText();
    EXPECT_NE(lastText().find("no file written"), std::string::npos) << lastText();
    EXPECT_EQ(readFile(path), "an older read-out\n");
    EXPECT_FALSE(leftovers(path));
}

TEST_F(ReadoutTest, AReadOutTheUnitStopsIsEndedAndTheNextCallStartsANewSession) {
    // The unit loses its power (and its buffer) while the data come: it refuses the rest.
    start({"pace=yes", "target.1.type=ZEL816 A449"});
    ASSERT_EQ(OctoSetVccTarget(30), 0);
    const auto path = unit->folder() / "cut.hex";
    bool cycled = false;
    onPump = [&] {
        if (!cycled && !progress.empty() && progress.back().first >= 2000) {
            cycled = true;
            unit->signal(SIGUSR2);
        }
    };
    const int32_t code = OctoReadTargetFile(0, 0, 0x4000, path.c_str(), OCTO_FORMAT_INTEL_HEX);
    onPump = nullptr;
    ASSERT_TRUE(cycled);
    EXPECT_EQ(code, 8) << lastText();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(unit->state("unit.last_command"), "ReadTargetEnd");

    const uint64_t before = std::stoull(unit->state("unit.commands"));
    ASSERT_EQ(OctoSelectImage(0), 0);
    EXPECT_EQ(std::stoull(unit->state("unit.commands")), before + 2); // Hello, then the call
    ASSERT_EQ(OctoSelectImage(0), 0);
    EXPECT_EQ(std::stoull(unit->state("unit.commands")), before + 3); // a sound link: no Hello
}

TEST_F(ReadoutTest, ArgumentsBeyondTheTargetsAddressSpaceAreOutOfRange) {
    start({});
    const auto path = unit->folder() / "x.txt";
    EXPECT_EQ(OctoReadTargetFile(0, 0xFFFFF, 2, path.c_str(), 1), 16);
    EXPECT_EQ(OctoReadTargetFile(0, 0, 0x100001, path.c_str(), 1), 16);
    EXPECT_EQ(OctoReadTargetFile(0, 0xFFFFFFFF, 0xFFFFFFFF, path.c_str(), 2), 16);
    EXPECT_EQ(OctoReadTargetFile(0, 0, 0, path.c_str(), 1), 16);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ReadoutTest, AFileThatCannotBeCreatedIsReportedAndNothingIsLeft) {
    start({"target.1.type=ZEL816 A110"});
    ASSERT_EQ(OctoSetVccTarget(30), 0);
    const auto path = unit->folder() / "no_such_folder" / "out.txt";
    EXPECT_EQ(OctoReadTargetFile(0, 0xFC00, 0x400, path.c_str(), 1), 15);
    EXPECT_NE(lastText().find("out.txt"), std::string::npos) << lastText();
}

TEST_F(ReadoutTest, RegisterAccessOnTarget1DrivesThePortRegisters) {
    start({"target.1.type=ZEL816 A110"});
    ASSERT_EQ(OctoSetVccTarget(32), 0);
    struct Step {
        uint32_t operation;
        uint32_t address;
        uint16_t value;
        uint16_t expected;
    };
    // Direction bits set, output written, then every output bit toggled; read back.
    const std::vector<Step> steps = {
        {3, 0x22, 0x0101, 0x0101}, {1, 0x21, 0x1133, 0x1133}, {4, 0x21, 0xFFFF, 0xEECC},
        {2, 0x21, 0x00FF, 0x00CC}, {0, 0x21, 0x5555, 0x00CC}, {0, 0x20, 0, 0x0000},
        {3, 0x21, 0x0001, 0x00CD}, {0, 0x20, 0, 0x0001},
    };
    for (const auto& step : steps) {
        uint16_t value = step.value;
        ASSERT_EQ(OctoAccessTargetSFR(1, step.operation, step.address, &value), 0);
        EXPECT_EQ(value, step.expected) << step.operation << " " << step.address;
    }
    EXPECT_EQ(unit->state("target.1.sfr.0x0021"), "0x00CD");
    EXPECT_EQ(unit->state("target.1.sfr.0x0022"), "0x0101");
    // The input register follows the pins: writing it changes nothing.
    uint16_t value = 0xFFFF;
    ASSERT_EQ(OctoAccessTargetSFR(1, 1, 0x20, &value), 0);
    EXPECT_EQ(value, 0x0001);
}

TEST_F(ReadoutTest, RegisterAccessToATargetThatCannotBeReachedLeavesTheValueAlone) {
    start({"target.2.present=no", "target.1.type=ZEL816 A110"});
    ASSERT_EQ(OctoSetVccTarget(1), 0); // supplied by the unit, switched off
    uint16_t value = 0x1234;
    EXPECT_EQ(OctoAccessTargetSFR(1, 0, 0x21, &value), 8);
    EXPECT_EQ(value, 0x1234);
    ASSERT_EQ(OctoSetVccTarget(32), 0);
    EXPECT_EQ(OctoAccessTargetSFR(2, 0, 0x21, &value), 8);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(OctoAccessTargetSFR(1, 5, 0x21, &value), 16);
    EXPECT_EQ(OctoAccessTargetSFR(1, 0, 0x1000, &value), 16);
}

} // namespace
} // namespace octo::testing
