#include "Scenario.h"

#include <wire/messages.h>

#include <gtest/gtest.h>

namespace octo::unitsim {
namespace {

TEST(Scenario, ParsesEveryKindOfValueAndComments) {
    Scenario scenario;
    const auto error = scenario.parse("# a unit at 9600\n"
                                      "hardware_version = 0x0120   # old hardware\n"
                                      "firmware_name = OCTO816-150\r\n"
                                      "\n"
                                      "baud = 9600\n"
                                      "pace = yes\n"
                                      "time_scale = 0.25\n"
                                      "fault.drop = 0.01\n"
                                      "fault.direction = to_unit\n"
                                      "unplug.after_bytes = 5000\n"
                                      "unit.serial = OCTO-000123\n"
                                      "target.3.fault.connect_rate = 0.5\n"
                                      "target.3.fault.connect_rate_from = 2000\n");
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(scenario.hardwareVersion, 0x0120);
    EXPECT_EQ(scenario.firmwareName, "OCTO816-150");
    EXPECT_EQ(scenario.baud, 9600u);
    EXPECT_TRUE(scenario.pace);
    EXPECT_DOUBLE_EQ(scenario.timeScale, 0.25);
    EXPECT_DOUBLE_EQ(scenario.faultDrop, 0.01);
    EXPECT_EQ(scenario.faultDirection, FaultDirection::ToUnit);
    EXPECT_EQ(scenario.unplugAfterBytes, 5000u);
    EXPECT_EQ(scenario.serial, "OCTO-000123");
    EXPECT_FALSE(scenario.set("unit.serial", std::string(32, '~'))) << "32 characters fit";
    EXPECT_DOUBLE_EQ(scenario.targets[2].connectRate, 0.5);
    EXPECT_EQ(scenario.targets[2].connectRateFrom, 2000u);
}

TEST(Scenario, FirmwareNameNoneMeansNoName) {
    Scenario scenario;
    ASSERT_FALSE(scenario.set("firmware_name", "none"));
    EXPECT_FALSE(scenario.firmwareName.has_value());
}

struct BadLine {
    const char* text;
    const char* mention;
};

// Each text fails to parse with an error that mentions what the case says.
void expectEachRefused(const std::vector<BadLine>& cases) {
    for (const auto& c : cases) {
        Scenario scenario;
        const auto error = scenario.parse(c.text);
        ASSERT_TRUE(error) << c.text;
        EXPECT_NE(error->find(c.mention), std::string::npos) << *error;
    }
}

TEST(Scenario, ErrorsNameTheLineAndTheProblem) {
    const std::vector<BadLine> cases = {
        {"baud = 1200\n", "line 1: baud: expected 9600, 19200, 38400, 57600 or 115200"},
        {"\nfault.drop = 1.5\n", "line 2: fault.drop: expected a probability from 0 to 1"},
        {"pace = maybe\n", "yes or no"},
        {"unit.serial =\n", "unit.serial: a serial number is 1 to 32 printable ASCII characters"},
        {"unit.serial = OCTO-0000000000000000000000000001\n", "1 to 32 printable"},
        {"unit.serial = OCTO\x01\n", "1 to 32 printable"},
        {"target.3.fault.connect_rate = 1.5\n", "a probability from 0 to 1"},
        {"no_such_key = 1\n", "unknown key \"no_such_key\""},
        {"hardware_version = 0x10000\n", "hardware_version: expected a number up to 65535"},
        {"just words\n", "line 1: expected key = value"},
        {"firmware_name = THIS-NAME-IS-TOO-LONG\n", "at most 16"},
        {"time_scale = -1\n", "time_scale"},
    };
    expectEachRefused(cases);
}

TEST(Scenario, MisbehaviourNamesItsCommandAsTheEventLogDoes) {
    Scenario scenario;
    ASSERT_FALSE(scenario.parse("misbehave.command = ReadTargetData\n"
                                "misbehave.wrong_seq = 0.5\n"
                                "misbehave.silent_after = 3\n"));
    EXPECT_EQ(scenario.misbehave.command, static_cast<uint8_t>(wire::Command::ReadTargetData));
    EXPECT_TRUE(scenario.misbehave.any());
    ASSERT_FALSE(scenario.set("misbehave.command", "all"));
    EXPECT_FALSE(scenario.misbehave.command.has_value());
    EXPECT_FALSE(Scenario().misbehave.any());
    expectEachRefused({
        {"misbehave.command = Unknown\n", "expected all or a command name"},
        {"misbehave.command = Erase\n", "expected all or a command name"},
        {"fault.burst_min = 0\n", "fault.burst_min: expected 1 to 4096 bytes"},
        {"fault.burst_max = 5000\n", "fault.burst_max: expected 1 to 4096 bytes"},
        {"misbehave.stale_seq = 2\n", "expected a probability"},
        {"fault.noise = loud\n", "fault.noise: expected a number of 0 or more"},
    });
}

TEST(Scenario, TargetKeysSetOneSocketOrAll) {
    Scenario scenario;
    const auto error = scenario.parse("target.all.type = ZEL816 A449\n"
                                      "target.all.memory = random\n"
                                      "target.3.present = no\n"
                                      "target.5.fault.verify_at = 0x2345\n"
                                      "target.6.fault.erase = yes\n"
                                      "target.6.fault.record = yes\n"
                                      "target.7.secured = yes\n"
                                      "target.8.supply_min = 30\n"
                                      "target.8.type = image\n"
                                      "target.2.fault.marginal_at = 0xFC00\n"
                                      "target.2.fault.marginal_at = none\n"
                                      "external_supply = 33\n"
                                      "selftest = 5\n"
                                      "selftest.only_run = 2\n"
                                      "timing.program_ms_per_kib = 57.5\n"
                                      "dump_targets = yes\n");
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(scenario.targets[0].type, "ZEL816 A449");
    EXPECT_EQ(scenario.targets[7].type, "");
    EXPECT_EQ(scenario.targets[3].memory, InitialMemory::Random);
    EXPECT_FALSE(scenario.targets[2].present);
    EXPECT_TRUE(scenario.targets[1].present);
    EXPECT_EQ(scenario.targets[4].faults.verifyAt, 0x2345u);
    EXPECT_FALSE(scenario.targets[3].faults.verifyAt.has_value());
    EXPECT_TRUE(scenario.targets[5].faults.erase);
    EXPECT_TRUE(scenario.targets[5].faults.record);
    EXPECT_FALSE(scenario.targets[4].faults.record);
    EXPECT_TRUE(scenario.targets[6].secured);
    EXPECT_EQ(scenario.targets[7].supplyMin, 30u);
    EXPECT_FALSE(scenario.targets[1].faults.marginalAt.has_value());
    EXPECT_EQ(scenario.externalSupply, 33u);
    EXPECT_EQ(scenario.selftest, 5);
    EXPECT_EQ(scenario.selftestOnlyRun, 2u);
    EXPECT_DOUBLE_EQ(scenario.timing.programMsPerKib, 57.5);
    EXPECT_TRUE(scenario.dumpTargets);
    EXPECT_FALSE(scenario.loadFiles());
}

TEST(Scenario, TargetErrorsNameTheKey) {
    const std::vector<BadLine> cases = {
        {"target.9.present = no\n", "target.1 to target.8"},
        {"target.0.present = no\n", "target.1 to target.8"},
        {"target.1.colour = red\n", "unknown target key \"colour\""},
        {"target.2.fault.verify_at = 0x100000\n",
         "target.2.fault.verify_at: expected an address below 0x100000, or none"},
        {"selftest = 1\n", "2 to 8"},
        {"selftest = 9\n", "2 to 8"},
        {"external_supply = 17\n", "external_supply"},
        {"timing.erase_ms = fast\n", "timing.erase_ms: expected a number of 0 or more"},
    };
    expectEachRefused(cases);
}

TEST(Scenario, LoadingFilesChecksTypesAndReadsMemoryImages) {
    Scenario unknownType;
    ASSERT_FALSE(unknownType.set("target.4.type", "ZEL816 Z999"));
    const auto typeError = unknownType.loadFiles();
    ASSERT_TRUE(typeError);
    EXPECT_NE(typeError->find("target.4.type"), std::string::npos) << *typeError;

    Scenario missingFile;
    ASSERT_FALSE(missingFile.set("target.2.memory", "/no/such/file.txt"));
    const auto fileError = missingFile.loadFiles();
    ASSERT_TRUE(fileError);
    EXPECT_NE(fileError->find("target.2.memory"), std::string::npos) << *fileError;
}

} // namespace
} // namespace octo::unitsim
