// The simulated target sockets without a line: what the main process does to the chips'
// memories and fuses, where it stops at its time budget, and how long it says it takes.
#include "Targets.h"

#include <objfile/crc32.h>

#include <gtest/gtest.h>

#include <limits>

namespace octo::unitsim {
namespace {

namespace opt = wire::option;

constexpr double kNoBudget = std::numeric_limits<double>::infinity();
constexpr uint32_t kSettle = 100;

const devices::DeviceType& type(const char* name) {
    const auto* found = devices::findDeviceType(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

objfile::Image bytesAt(uint32_t address, std::vector<uint8_t> bytes) {
    objfile::Image image;
    image.insert(address, bytes);
    return image;
}

Scenario withType(const char* name) {
    Scenario scenario;
    for (auto& target : scenario.targets) {
        target.type = name;
    }
    return scenario;
}

const Reach kOn{30, 0};

TEST(TargetBank, ProgrammingWithoutEraseOnlyClearsBitsSoVerifyFindsTheOldData) {
    Scenario scenario = withType("ZEL816 A110");
    scenario.targets[0].memory = InitialMemory::File;
    scenario.targets[0].memoryImage = bytesAt(0xFC00, {0xF0, 0xFF});
    TargetBank bank(scenario);
    const auto image = bytesAt(0xFC00, {0x0F, 0x5A});
    const RunOutcome outcome = bank.mainProcess(opt::kProgram | opt::kVerify, kSettle, false, kOn,
                                                image, type("ZEL816 A110"), kNoBudget);
    EXPECT_EQ(*bank.socket(0).memory->at(0xFC00), 0x00);
    EXPECT_EQ(*bank.socket(0).memory->at(0xFC01), 0x5A);
    EXPECT_EQ(bank.socket(0).last, "verify failed at 0xFC00");
    EXPECT_EQ(outcome.run[wire::kVerifiedByte], 0xFE);
    EXPECT_EQ(outcome.run[wire::kOverAllByte], 0xFE);
    EXPECT_FALSE(outcome.failed);
}

// Worn contacts: never before their first run, then at their rate, on that socket only.
TEST(TargetBank, AWornSocketFailsToConnectFromItsRunOnAtItsRate) {
    Scenario scenario = withType("ZEL816 A110");
    scenario.targets[2].connectRate = 0.5;
    scenario.targets[2].connectRateFrom = 11;
    scenario.targets[5].connectRate = 1.0;
    TargetBank bank(scenario);
    const auto image = bytesAt(0xFC00, {0x5A});
    constexpr uint64_t kRuns = 400;
    std::array<uint64_t, wire::kTargets> missed{};
    for (uint64_t run = 1; run <= kRuns; ++run) {
        const RunOutcome outcome = bank.mainProcess(opt::kProgram, 0, false, kOn, image,
                                                    type("ZEL816 A110"), kNoBudget, {}, run);
        for (uint8_t i = 0; i < wire::kTargets; ++i) {
            missed[i] += (outcome.run[wire::kConnectedByte] >> i & 1) == 0;
        }
        if (run <= 10) {
            EXPECT_EQ(outcome.run[wire::kConnectedByte], 0xDF) << "run " << run;
        }
    }
    EXPECT_EQ(missed[5], kRuns);
    EXPECT_EQ(bank.socket(2).runs, kRuns - missed[2]);
    // 390 draws at one half (fixed seed): far from none and from all.
    EXPECT_GT(missed[2], 150u);
    EXPECT_LT(missed[2], 240u);
    EXPECT_EQ(missed[0] + missed[1] + missed[3] + missed[4] + missed[6] + missed[7], 0u);
}

TEST(TargetBank, ARecordVerifiesOnlyWhereTheChipHoldsItAsWritten) {
    Scenario scenario = withType("ZEL816 A110");
    scenario.targets[2].memory = InitialMemory::File;
    scenario.targets[2].memoryImage = bytesAt(0x1000, {0x00});
    const std::vector<wire::TargetRecord> records = {
        {0, 0x1000, {0x12, 0x34}}, // blank information memory
        {1, 0x10FF, {0x12, 0x34}}, // its second byte lies past the information memory
        {2, 0x1000, {0x12, 0x34}}, // over old data that was not erased
    };
    const auto image = bytesAt(0xFC00, {0x5A});
    TargetBank bank(scenario);
    const RunOutcome outcome = bank.mainProcess(opt::kProgram | opt::kVerify, kSettle, false, kOn,
                                                image, type("ZEL816 A110"), kNoBudget, records);
    ASSERT_EQ(outcome.records.size(), 3u);
    EXPECT_EQ(outcome.records[0].verified, true);
    EXPECT_EQ(outcome.records[1].verified, false);
    EXPECT_EQ(outcome.records[2].verified, false);
    EXPECT_EQ(*bank.socket(0).memory->at(0x1001), 0x34);
    EXPECT_EQ(outcome.run[wire::kVerifiedByte], 0xF9);
    EXPECT_EQ(outcome.run[wire::kOverAllByte], 0xF9);
    // A run stopped before the records' step writes none: 1310 ms to start, the byte's
    // program and verify, then 5 ms for the records.
    TargetBank stopped(scenario);
    EXPECT_TRUE(stopped
                    .mainProcess(opt::kProgram | opt::kVerify, kSettle, false, kOn, image,
                                 type("ZEL816 A110"), 1312, records)
                    .records.empty());
    EXPECT_EQ(*stopped.socket(0).memory->at(0x1000), 0xFF);
}

TEST(TargetBank, TheRunStopsAtItsBudgetAfterTheLastWholeStep) {
    const auto image = bytesAt(0xFC00, std::vector<uint8_t>(224, 0x12));
    const uint32_t options = opt::kEraseMain | opt::kProgram | opt::kVerify;
    // Start 1210 + 100, erase 220: 1530 ms; programming would end at about 1555 ms.
    struct Case {
        double budget;
        bool erased, programmed;
        uint8_t connected;
    };
    const std::vector<Case> cases = {
        {1000, false, false, 0x00},
        {1540, true, false, 0xFF},
        {1556, true, true, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        Scenario scenario = withType("ZEL816 A110");
        scenario.targets[0].memory = InitialMemory::Random;
        TargetBank bank(scenario);
        const uint32_t before = bank.socket(0).memory->crc();
        const RunOutcome outcome =
            bank.mainProcess(options, kSettle, false, kOn, image, type("ZEL816 A110"), c.budget);
        EXPECT_TRUE(outcome.failed);
        EXPECT_DOUBLE_EQ(outcome.workMs, c.budget);
        EXPECT_EQ(outcome.run[wire::kConnectedByte], c.connected);
        EXPECT_EQ(outcome.run[wire::kOverAllByte], 0);
        const auto& memory = *bank.socket(0).memory;
        EXPECT_EQ(memory.crc() != before, c.erased);
        EXPECT_EQ(*memory.at(0xFC00) == 0x12, c.programmed);
        EXPECT_EQ(*memory.at(0xFD00) == 0xFF, c.erased);
    }
}

TEST(TargetBank, AFullRunTakesWhatEachStepCosts) {
    TargetBank bank(withType("ZEL816 A110"));
    const auto image = bytesAt(0xFC00, std::vector<uint8_t>(512, 0));
    const uint32_t options = opt::kEraseInfo | opt::kEraseMain | opt::kCheckInfo | opt::kCheckMain |
                             opt::kProgram | opt::kVerify | opt::kSecure;
    const uint32_t settle = 200;
    const RunOutcome outcome =
        bank.mainProcess(options, settle, true, kOn, image, type("ZEL816 A110"), kNoBudget);
    // Two information segments of 128 bytes and 1 KiB of flash are checked; half a KiB is
    // programmed and verified; with the supply off between steps, three more settlings.
    const double expected = 1210 + settle + 220 + 22.8 * 1.25 + (settle + 115 * 0.5) +
                            (settle + 22.8 * 0.5) + (settle + 160);
    EXPECT_NEAR(outcome.workMs, expected, 1e-6);
    EXPECT_EQ(outcome.run[wire::kFuseBlownByte], 0xFF);
    EXPECT_EQ(outcome.run[wire::kOverAllByte], 0xFF);
    EXPECT_TRUE(bank.socket(3).fuseBlown);
}

TEST(TargetBank, MoreThanSixtyKibProgrammedPaysTheLargeRateOnEveryKib) {
    auto programTime = [](uint32_t kib) {
        TargetBank bank(withType("ZEL816 A5438"));
        const auto image = bytesAt(0x10000, std::vector<uint8_t>(kib * 1024, 0x55));
        return bank.mainProcess(opt::kProgram, 0, false, kOn, image, type("ZEL816 A5438"),
                                kNoBudget)
                   .workMs -
               1210;
    };
    EXPECT_NEAR(programTime(60), 60 * 115.0, 1e-6);
    EXPECT_NEAR(programTime(61), 61 * 175.0, 1e-6);
}

TEST(TargetBank, RandomContentsRepeatForASocketAndDifferBetweenSockets) {
    Scenario scenario = withType("ZEL816 A413");
    for (auto& target : scenario.targets) {
        target.memory = InitialMemory::Random;
    }
    const TargetBank first(scenario);
    const TargetBank second(scenario);
    EXPECT_EQ(first.socket(0).memory->crc(), second.socket(0).memory->crc());
    EXPECT_NE(first.socket(0).memory->crc(), first.socket(1).memory->crc());
    // The state file names each chip's CRC.
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08X", first.socket(1).memory->crc());
    EXPECT_NE(first.stateText().find(std::string("target.2.crc32 = ") + crc), std::string::npos);
}

TEST(TargetBank, ReachableSaysWhyATargetCannotBeReached) {
    Scenario scenario = withType("ZEL816 A110");
    scenario.targets[1].present = false;
    scenario.targets[2].secured = true;
    scenario.targets[3].faults.noAnswer = true;
    scenario.targets[4].type.clear();
    TargetBank bank(scenario);
    EXPECT_FALSE(bank.reachable(0, kOn, nullptr).has_value());
    EXPECT_EQ(bank.reachable(0, Reach{0, 0}, nullptr), wire::TargetFault::NoAnswer);
    EXPECT_EQ(bank.reachable(0, Reach{26, 0}, nullptr), wire::TargetFault::NoAnswer); // below Vpp
    EXPECT_EQ(bank.reachable(0, Reach{30, opt::kDuoLink}, nullptr), wire::TargetFault::NoAnswer);
    EXPECT_EQ(bank.reachable(1, kOn, nullptr), wire::TargetFault::NotPresent);
    EXPECT_EQ(bank.reachable(2, kOn, nullptr), wire::TargetFault::Secured);
    EXPECT_EQ(bank.reachable(3, kOn, nullptr), wire::TargetFault::NoAnswer);
    // A socket without a type of its own holds a chip of the image's type.
    EXPECT_EQ(bank.reachable(4, kOn, nullptr), wire::TargetFault::NoAnswer);
    EXPECT_FALSE(bank.reachable(4, kOn, &type("ZEL816 A413")).has_value());
    EXPECT_EQ(bank.socket(4).type, &type("ZEL816 A413"));
}

TEST(TargetBank, ReadingGivesTheMemoryAndErasedBytesWhereThereIsNone) {
    Scenario scenario = withType("ZEL816 A110");
    scenario.targets[0].memory = InitialMemory::File;
    scenario.targets[0].memoryImage = bytesAt(0xFC00, {1, 2, 3});
    TargetBank bank(scenario);
    double workMs = 0;
    const auto bytes = bank.read(0, 0xFBFE, 6, kOn, workMs);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF, 1, 2, 3, 0xFF}));
    EXPECT_GT(workMs, 0);
}

} // namespace
} // namespace octo::unitsim
