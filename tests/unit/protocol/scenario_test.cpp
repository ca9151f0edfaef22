#include "Scenario.h"

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
                                      "unplug.after_bytes = 5000\n");
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(scenario.hardwareVersion, 0x0120);
    EXPECT_EQ(scenario.firmwareName, "OCTO816-150");
    EXPECT_EQ(scenario.baud, 9600u);
    EXPECT_TRUE(scenario.pace);
    EXPECT_DOUBLE_EQ(scenario.timeScale, 0.25);
    EXPECT_DOUBLE_EQ(scenario.faultDrop, 0.01);
    EXPECT_EQ(scenario.faultDirection, FaultDirection::ToUnit);
    EXPECT_EQ(scenario.unplugAfterBytes, 5000u);
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

TEST(Scenario, ErrorsNameTheLineAndTheProblem) {
    const std::vector<BadLine> cases = {
        {"baud = 1200\n", "line 1: baud"},
        {"\nfault.drop = 1.5\n", "line 2: fault.drop"},
        {"pace = maybe\n", "yes or no"},
        {"no_such_key = 1\n", "unknown key \"no_such_key\""},
        {"hardware_version = 0x10000\n", "hardware_version"},
        {"just words\n", "line 1: expected key = value"},
        {"firmware_name = THIS-NAME-IS-TOO-LONG\n", "at most 16"},
        {"time_scale = -1\n", "time_scale"},
    };
    for (const auto& c : cases) {
        Scenario scenario;
        const auto error = scenario.parse(c.text);
        ASSERT_TRUE(error) << c.text;
        EXPECT_NE(error->find(c.mention), std::string::npos) << *error;
    }
}

} // namespace
} // namespace octo::unitsim
