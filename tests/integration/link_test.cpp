// The link exports against the simulated unit: opening and switching the port, the
// identification, baud rates, target supply, signals, argument checks and texts.
#include "LibraryFixture.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace octo::testing {
namespace {

class LinkTest : public LibraryTest {};

// --- argument checks: code 16, never a crash, also with no port open -------------------

struct BadCall {
    const char* name;
    std::function<int32_t()> call;
};

TEST_F(LinkTest, EveryExportRejectsBadArgumentsWithCode16) {
    uint16_t value = 0;
    const OctoSegmentEntry* table = nullptr;
    const char* longPath = nullptr;
    std::string tooLong(5000, 'x');
    longPath = tooLong.c_str();
    static const uint8_t kByte[2] = {};
    const uint8_t record[33] = {};
    char serial[OCTO_UNIT_SERIAL_BYTES] = {};
    uint32_t runs = 0;
    const std::vector<BadCall> calls = {
        {"InitStatusLamp(null)", [] { return InitStatusLamp(nullptr); }},
        {"InitCom(null)", [] { return InitCom(nullptr, kRate); }},
        {"InitCom(empty)", [] { return InitCom("", kRate); }},
        {"InitCom(too long)", [&] { return InitCom(longPath, kRate); }},
        {"InitCom(rate 0)", [] { return InitCom("/dev/null", 0); }},
        {"InitCom(rate 1200)", [] { return InitCom("/dev/null", 1200); }},
        {"GetDevice(null name)", [&] { return GetDevice(nullptr, &table); }},
        {"GetDevice(null table)", [] { return GetDevice("ZEL816 A110", nullptr); }},
        {"GetDevice(unknown)", [&] { return GetDevice("ZEL816 NOPE", &table); }},
        {"OctoGetResult(null)", [] { return OctoGetResult(nullptr); }},
        {"OctoLoadImage(null path)", [] { return OctoLoadImage(nullptr, "ZEL816 A110"); }},
        {"OctoLoadImage(null type)", [] { return OctoLoadImage("x.txt", nullptr); }},
        {"OctoLoadImage(too long)", [&] { return OctoLoadImage(longPath, "ZEL816 A110"); }},
        {"OctoSelectImage(8)", [] { return OctoSelectImage(8); }},
        {"OctoSelectImage(-1)", [] { return OctoSelectImage(0xFFFFFFFF); }},
        {"OctoSelectBaudrate(5)", [] { return OctoSelectBaudrate(5); }},
        {"OctoSetVccTarget(2)", [] { return OctoSetVccTarget(2); }},
        {"OctoSetVccTarget(17)", [] { return OctoSetVccTarget(17); }},
        {"OctoSetVccTarget(37)", [] { return OctoSetVccTarget(37); }},
        {"OctoSetSignals(0x10000)", [] { return OctoSetSignals(0x10000, 33); }},
        {"OctoSetSignals(supply 40)", [] { return OctoSetSignals(0x100, 40); }},
        {"OctoLoadParameters(vcc 0x100)", [] { return OctoLoadParameters(0, 0x100, 0); }},
        {"OctoMainProcess(0)", [] { return OctoMainProcess(0); }},
        {"OctoSelftest(0)", [] { return OctoSelftest(0); }},
        {"OctoEraseFirmware(length 0)", [] { return OctoEraseFirmware(0x2400, 0); }},
        {"OctoEraseFirmware(past 64K)", [] { return OctoEraseFirmware(0xF000, 0x2000); }},
        {"OctoLoadFirmware(null)", [] { return OctoLoadFirmware(nullptr); }},
        {"OctoReadTargetFile(target 8)", [] { return OctoReadTargetFile(8, 0, 1, "x", 1); }},
        {"OctoReadTargetFile(format 3)", [] { return OctoReadTargetFile(0, 0, 1, "x", 3); }},
        {"OctoReadTargetFile(null path)", [] { return OctoReadTargetFile(0, 0, 1, nullptr, 1); }},
        {"OctoAccessTargetSFR(null)", [] { return OctoAccessTargetSFR(1, 1, 0x21, nullptr); }},
        {"OctoAccessTargetSFR(target 0)", [&] { return OctoAccessTargetSFR(0, 1, 0x21, &value); }},
        {"OctoAccessTargetSFR(target 9)", [&] { return OctoAccessTargetSFR(9, 1, 0x21, &value); }},
        {"OctoAccessTargetSFR(operation 5)",
         [&] { return OctoAccessTargetSFR(1, 5, 0x21, &value); }},
        {"OctoAccessTargetSFR(address 0x1000)",
         [&] { return OctoAccessTargetSFR(1, 0, 0x1000, &value); }},
        {"OctoLoadParameters(bit 0x8000)", [] { return OctoLoadParameters(0x8000, 30, 0); }},
        {"OctoLoadParameters(program 0x08)", [] { return OctoLoadParameters(0x08, 30, 0); }},
        {"OctoLoadParameters(vcc 17)", [] { return OctoLoadParameters(0x98, 17, 0); }},
        {"OctoLoadParameters(settle 0x10000)",
         [] { return OctoLoadParameters(0x98, 30, 0x10000); }},
        {"OctoMainProcess(over a day)", [] { return OctoMainProcess(864001); }},
        {"OctoSelftest(over a day)", [] { return OctoSelftest(864001); }},
        {"OctoEraseFirmware(start 0x10000)", [] { return OctoEraseFirmware(0x10000, 1); }},
        {"OctoLoadFirmware(empty)", [] { return OctoLoadFirmware(""); }},
        {"OctoReadTargetFile(past 1 MiB)",
         [] { return OctoReadTargetFile(0, 0xFF000, 0x1001, "x", 1); }},
        {"OctoReadTargetFile(length 0)", [] { return OctoReadTargetFile(0, 0, 0, "x", 1); }},
        {"OctoSetTargetData(target 0)", [] { return OctoSetTargetData(0, 0x1000, kByte, 1); }},
        {"OctoSetTargetData(target 9)", [] { return OctoSetTargetData(9, 0x1000, kByte, 1); }},
        {"OctoSetTargetData(null)", [] { return OctoSetTargetData(1, 0x1000, nullptr, 1); }},
        {"OctoSetTargetData(length 0)", [] { return OctoSetTargetData(1, 0x1000, kByte, 0); }},
        {"OctoSetTargetData(33 bytes)", [&] { return OctoSetTargetData(8, 0x1000, record, 33); }},
        {"OctoSetTargetData(past 1 MiB)", [] { return OctoSetTargetData(1, 0xFFFFF, kByte, 2); }},
        {"OctoGetUnitInfo(null serial)", [&] { return OctoGetUnitInfo(nullptr, 33, &runs); }},
        {"OctoGetUnitInfo(32 bytes)", [&] { return OctoGetUnitInfo(serial, 32, &runs); }},
        {"OctoGetUnitInfo(null runs)", [&] { return OctoGetUnitInfo(serial, 33, nullptr); }},
    };
    for (const auto& call : calls) {
        EXPECT_EQ(call.call(), 16) << call.name;
    }
    EXPECT_EQ(table, nullptr);
}

TEST_F(LinkTest, CallsWithoutAnOpenPortAnswerNoUnitAndLeaveTheBlockAlone) {
    std::array<uint8_t, 256> block;
    block.fill(0xAA);
    EXPECT_EQ(OctoGetResult(block.data()), 5);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0xAA; }));
    EXPECT_EQ(OctoEraseImage(), 5);
    EXPECT_EQ(OctoSetVccTarget(33), 5);
    EXPECT_EQ(OctoSetSignals(0x100, 33), 5);
    EXPECT_EQ(OctoSelectBaudrate(4), 5);
    EXPECT_EQ(OctoSelectImage(1), 5);
    uint16_t value = 0x1234;
    EXPECT_EQ(OctoLoadParameters(0x98, 30, 100), 5);
    EXPECT_EQ(OctoMainProcess(650), 5);
    EXPECT_EQ(OctoSelftest(100), 5);
    EXPECT_EQ(OctoEraseFirmware(0x2400, 0xDA00), 5);
    EXPECT_EQ(OctoLoadFirmware("__TempLoader__"), 5);
    EXPECT_EQ(OctoReadTargetFile(7, 0xF000, 0x1000, "/tmp/octo-never-written.txt", 1), 5);
    EXPECT_FALSE(std::filesystem::exists("/tmp/octo-never-written.txt"));
    EXPECT_EQ(OctoAccessTargetSFR(1, 3, 0x22, &value), 5);
    EXPECT_EQ(value, 0x1234);
    char serial[OCTO_UNIT_SERIAL_BYTES] = "untouched";
    uint32_t runs = 7;
    EXPECT_EQ(OctoGetUnitInfo(serial, sizeof serial, &runs), 5);
    EXPECT_EQ(std::string(serial) + std::to_string(runs), "untouched7");
    // The largest arguments accepted reach the library too.
    EXPECT_EQ(InitCom(std::string(259, 'x').c_str(), kRate), 2);
    EXPECT_EQ(OctoMainProcess(864000), 5);
    EXPECT_EQ(OctoSelftest(864000), 5);
    EXPECT_EQ(OctoSetSignals(0xFFFF, 36), 5);
    EXPECT_EQ(OctoReadTargetFile(7, 0xFFFFE, 2, "/tmp/octo-never-written.txt", 2), 5);
    EXPECT_EQ(OctoAccessTargetSFR(8, 4, 0xFFF, &value), 5);
}

// --- result codes and their texts -------------------------------------------------------

TEST_F(LinkTest, ErrorStringsUseTheProgramsTextsAndAGenericOneForUnknownCodes) {
    const std::vector<std::pair<int32_t, const char*>> known = {
        {0, "Operation successful."},
        {1, "ERROR: Communication - Frame has errors !"},
        {2, "ERROR: Unable to open COM port - already in use?"},
        {3, "ERROR: Unable to close COM port !"},
        {5, "ERROR: Synchronization failed. Programmer connected?"},
        {6, "ERROR: Timeout during operation - Correct COM port selected?"},
        {11, "ERROR: File contains invalid record !"},
        {12, "ERROR: Unexpected end of file !"},
        {13, "ERROR: Error during file I/O !"},
        {14, "ERROR: Selected file is of unrecognizable format !"},
        {15, "ERROR: Unable to open file !"},
        {16, "ERROR: DLL function argument(s) out of range !"},
        {53, "ERROR: File(s) contains already specified data (code overwritten)!"},
    };
    for (const auto& [code, text] : known) {
        EXPECT_STREQ(GetErrorString(code), text) << code;
    }
    const std::string generic = GetErrorString(7);
    for (int32_t code : {-1, 7, 99, 300, 1000000}) {
        EXPECT_EQ(GetErrorString(code), generic) << code;
    }
    // Every code the library returns has a text of its own.
    for (int32_t code :
         {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 46, 50, 53, 54, 55, 56, 57}) {
        EXPECT_NE(GetErrorString(code), generic) << code;
    }
}

TEST_F(LinkTest, GetDeviceHandsOutTheTypesSegmentTable) {
    const OctoSegmentEntry* table = nullptr;
    ASSERT_EQ(GetDevice("ZEL816 A110", &table), 0);
    ASSERT_NE(table, nullptr);
    std::vector<std::array<uint32_t, 3>> rows;
    for (int i = 0; i < OCTO_MAX_SEGMENTS && table[i].kind != OCTO_SEGMENT_END; ++i) {
        rows.push_back({table[i].kind, table[i].start, table[i].length});
    }
    const std::vector<std::array<uint32_t, 3>> expected = {{OCTO_SEGMENT_RAM, 0x0200, 128},
                                                           {OCTO_SEGMENT_INFO, 0x1000, 128},
                                                           {OCTO_SEGMENT_INFO, 0x1080, 128},
                                                           {OCTO_SEGMENT_FLASH, 0xFC00, 1024},
                                                           {OCTO_SEGMENT_BSL, 0x0C00, 1024}};
    EXPECT_EQ(rows, expected);
    // The table stays the library's: asking again gives the same one.
    const OctoSegmentEntry* again = nullptr;
    ASSERT_EQ(GetDevice("ZEL816 A110", &again), 0);
    EXPECT_EQ(again, table);
}

// --- opening the port ---------------------------------------------------------------------

TEST_F(LinkTest, InitComOpensAnAnsweringUnitAndFailsOnAMissingPort) {
    SimulatedUnit unit;
    EXPECT_EQ(InitCom((unit.folder() / "nothing").c_str(), kRate), 2);
    EXPECT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    EXPECT_TRUE(unit.waitFor("unit.last_command", "Hello"));
    EXPECT_EQ(ReleaseCom(), 0);
    std::array<uint8_t, 256> block{};
    EXPECT_EQ(OctoGetResult(block.data()), 5);
}

TEST_F(LinkTest, InitComOnAPortWithoutAUnitReportsNoUnit) {
    // A line nobody answers on.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    termios before{};
    ASSERT_EQ(tcgetattr(master, &before), 0); // a new terminal's: canonical, with echo
    EXPECT_EQ(InitCom(slave.c_str(), kRate), 5);
    std::array<uint8_t, 256> block{};
    EXPECT_EQ(OctoGetResult(block.data()), 5);
    ReleaseCom();
    // The terminal has its settings back (a --port /dev/tty must not stay raw).
    termios after{};
    ASSERT_EQ(tcgetattr(master, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    close(master);
}

TEST_F(LinkTest, APortAnotherProgramHoldsIsInUse) {
    SimulatedUnit unit;
    const int holder = open(unit.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0); // as a second octo816 holds it
    const size_t descriptors = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator());
    EXPECT_EQ(InitCom(unit.link().c_str(), kRate), 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                            std::filesystem::directory_iterator()),
              static_cast<std::ptrdiff_t>(descriptors));
    close(holder);
    EXPECT_EQ(InitCom(unit.link().c_str(), kRate), 0);
}

TEST_F(LinkTest, InitComSwitchesToAnotherPortWhileOneIsOpen) {
    SimulatedUnit first({"hardware_version=0x0111", "selftest=3"});
    SimulatedUnit second({"hardware_version=0x0222"});
    std::array<uint8_t, 256> block{};
    ASSERT_EQ(InitCom(first.link().c_str(), kRate), 0);
    ASSERT_EQ(OctoSelftest(100), 8);
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(blockWord(block, 8), 0x0111);
    ASSERT_EQ(InitCom(second.link().c_str(), kRate), 0);
    // The counters start with the new port: its Hello, tried twice at most.
    EXPECT_LE(library::linkStats().framesSent, 2u);
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(blockWord(block, 8), 0x0222);
    EXPECT_EQ(block[5], 0) << "the first unit's self-test";
}

TEST_F(LinkTest, InitComFindsAUnitLeftAtAnotherRateAndBringsItToTheAskedRate) {
    SimulatedUnit unit({"baud=9600"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    EXPECT_EQ(unit.state("unit.baud"), "115200");
    std::array<uint8_t, 256> block{};
    EXPECT_EQ(OctoGetResult(block.data()), 0);
}

// --- identification -------------------------------------------------------------------------

TEST_F(LinkTest, GetResultFillsTheIdentificationBytes) {
    SimulatedUnit unit({"hardware_version=0x0130", "firmware_version=0x0156",
                        "third_version=0x0201", "firmware_name=OCTO816-156"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    std::array<uint8_t, 256> block;
    block.fill(0xAA);
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(block[i], 0) << "run byte " << i;
    }
    EXPECT_EQ(blockWord(block, 8), 0x0130);
    EXPECT_EQ(blockWord(block, 10), 0x0156);
    EXPECT_STREQ(reinterpret_cast<const char*>(&block[12]), "OCTO816-156");
    EXPECT_EQ(blockWord(block, 30), 0x0201);
    for (size_t i = 32; i < block.size(); ++i) {
        ASSERT_EQ(block[i], 0) << "byte " << i << " left unwritten";
    }
}

TEST_F(LinkTest, GetResultMarksAMissingFirmwareNameAndVersions) {
    SimulatedUnit unit({"firmware_name=none", "firmware_version=0xFFFF", "third_version=0xFFFF"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    std::array<uint8_t, 256> block{};
    ASSERT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(blockWord(block, 10), 0xFFFF);
    EXPECT_EQ(block[12], 0xFF);
    EXPECT_EQ(blockWord(block, 30), 0xFFFF);
}

// --- baud rates ------------------------------------------------------------------------------

TEST_F(LinkTest, BaudSwitchToEachRateAndBack) {
    SimulatedUnit unit;
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    const std::array<uint32_t, 5> rates = {9600, 19200, 38400, 57600, 115200};
    std::array<uint8_t, 256> block{};
    for (uint32_t index = 0; index < rates.size(); ++index) {
        SCOPED_TRACE(rates[index]);
        const int32_t code = OctoSelectBaudrate(index);
        EXPECT_TRUE(code == 0 || code == 1 || code == 6) << code;
        EXPECT_EQ(code, 0);
        EXPECT_EQ(unit.state("unit.baud"), std::to_string(rates[index]));
        // The program reopens the port at the new rate.
        ASSERT_EQ(InitCom(unit.link().c_str(), rates[index]), 0);
        ASSERT_EQ(OctoGetResult(block.data()), 0);
        EXPECT_EQ(block[9], 0x30);
        ASSERT_EQ(OctoSelectBaudrate(4), 0);
        ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
        ASSERT_EQ(OctoGetResult(block.data()), 0);
        EXPECT_EQ(unit.state("unit.baud"), "115200");
    }
}

TEST_F(LinkTest, AUnitAtAnotherRateThanThePortDoesNotAnswer) {
    // Guards the simulator's rate check, on which the baud test relies.
    SimulatedUnit unit({"baud=9600", "check_line_rate=yes"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0); // finds it and moves it
    ASSERT_EQ(OctoSelectBaudrate(0), 0);
    EXPECT_EQ(unit.state("unit.baud"), "9600");
    std::array<uint8_t, 256> block{};
    EXPECT_EQ(OctoGetResult(block.data()), 0); // the library followed the unit
}

TEST_F(LinkTest, AUnitResetToItsPowerOnRateIsFoundAgainWithoutInitCom) {
    SimulatedUnit unit({"check_line_rate=yes"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    ASSERT_EQ(OctoSelectBaudrate(2), 0);
    ASSERT_EQ(unit.state("unit.baud"), "38400");
    unit.signal(SIGUSR2);
    ASSERT_TRUE(unit.waitFor("unit.power_cycles", "1"));
    ASSERT_EQ(unit.state("unit.baud"), "115200");
    std::array<uint8_t, 256> block{};
    // The call that finds the link lost fails; the next one brings the unit back to the
    // rate the program chose.
    EXPECT_EQ(OctoGetResult(block.data()), 6);
    EXPECT_EQ(OctoGetResult(block.data()), 0);
    EXPECT_EQ(unit.state("unit.baud"), "38400");
}

// --- target supply and signals -------------------------------------------------------------

struct SupplyCase {
    uint32_t code;
    int32_t result;
    const char* mode;
    const char* voltage;
};

TEST_F(LinkTest, SetVccTargetSwitchesTheUnitsSupply) {
    SimulatedUnit unit({"supply_min=18", "supply_max=33"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    const std::vector<SupplyCase> cases = {
        {0, 46, "external", "0"}, {1, 0, "off", "0"},  {18, 0, "on", "18"},
        {33, 0, "on", "33"},      {36, 8, "off", "0"}, {30, 0, "on", "30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(OctoSetVccTarget(c.code), c.result);
        EXPECT_EQ(unit.state("supply.mode"), c.mode);
        EXPECT_EQ(unit.state("supply.voltage"), c.voltage);
    }
}

TEST_F(LinkTest, ABrokenSupplyFailsWithCode8AndTheErrorLamp) {
    SimulatedUnit unit({"supply_broken=yes"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    clearRecords();
    EXPECT_EQ(OctoSetVccTarget(30), 8);
    EXPECT_EQ(lastPicture(), kLampRed);
    EXPECT_NE(lastText().find("3.0 V"), std::string::npos) << lastText();
    EXPECT_EQ(OctoSetVccTarget(0), 46);
}

TEST_F(LinkTest, SetSignalsRecordsTheWordAndSupply) {
    SimulatedUnit unit;
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    EXPECT_EQ(unit.state("signals.word"), "none");
    const std::vector<std::pair<uint32_t, uint32_t>> words = {
        {0x0100, 33}, {0x081F, 33}, {0x0FFF, 18}, {0x8000, 36}};
    for (const auto& [word, supply] : words) {
        ASSERT_EQ(OctoSetSignals(word, supply), 0);
        char expected[8];
        std::snprintf(expected, sizeof expected, "0x%04X", word);
        EXPECT_EQ(unit.state("signals.word"), expected);
        EXPECT_EQ(unit.state("signals.supply"), std::to_string(supply));
    }
}

// --- waiting keeps the caller alive ------------------------------------------------------------

TEST_F(LinkTest, WaitsRunThePumpAndANestedCallIsRefusedAsBusy) {
    // An erase that the unit takes 300 ms for.
    SimulatedUnit unit({"timing.erase_image_ms=300", "time_scale=1"});
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    std::vector<int32_t> nested;
    onPump = [&] {
        if (nested.size() < 3) {
            std::array<uint8_t, 256> block{};
            nested.push_back(OctoGetResult(block.data()));
        }
    };
    clearRecords();
    EXPECT_EQ(OctoEraseImage(), 0);
    onPump = nullptr;
    EXPECT_GT(pumps, 3);
    ASSERT_EQ(nested.size(), 3u);
    for (int32_t code : nested) {
        EXPECT_EQ(code, 4);
    }
    // The lamp showed busy, then success; the line told what happened.
    ASSERT_GE(pictures.size(), 2u);
    EXPECT_EQ(pictures.front(), kLampBusy);
    EXPECT_EQ(pictures.back(), kLampGreen);
    EXPECT_EQ(lastText(), "Image memory erased.");
    EXPECT_EQ(unit.state("image.0.state"), "erased");
}

TEST_F(LinkTest, SelectImageTellsTheUnit) {
    SimulatedUnit unit;
    ASSERT_EQ(InitCom(unit.link().c_str(), kRate), 0);
    for (uint32_t slot : {3u, 7u, 0u}) {
        EXPECT_EQ(OctoSelectImage(slot), 0);
        EXPECT_EQ(unit.state("image.selected"), std::to_string(slot));
    }
}

} // namespace
} // namespace octo::testing
