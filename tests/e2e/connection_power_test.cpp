// The real OCTO816.EXE and OCTO816.DLL against the simulated unit on COM1: the result
// grid after start-up, a COM port change, target power reaching the unit, the settings
// lock from the system menu, and the protected-data question.
#include "E2eTest.h"
#include "SimulatedUnit.h"

namespace octo::e2e {
namespace {

constexpr std::uint32_t kLockSettingsCommand = 0x20;

constexpr char kConnectedAfterPortChange[] =
    "COM port settings modified. ZEL-OCTO816 Octo Programmer connected.";
constexpr char kPowerModified[] = "Target power settings modified.  ";
constexpr char kProtectedDataQuestion[] =
    "This option will enable erasing of protected data.\nAre you sure?";

// ---- the fixture: a fresh unit and a fresh program for each test ---------------------------

class ConnectionAndPower : public SessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SessionTest::SetUp());
        session_->installProgram();
    }
    void TearDown() override {
        if (session_)
            session_->stopProgram();
        unit_.reset();
    }

    // Starts the unit, then the program, and waits for the end of its start-up.
    void start() {
        unit_ = std::make_unique<SimulatedUnit>(session_->programFolder());
        window_ = std::make_unique<Window>(launchAndWaitForStartup(*session_, kAnswerTimeout));
    }

    std::filesystem::path ini() const { return session_->programFolder() / kConfigIni; }
    Window& w() { return *window_; }
    SimulatedUnit& unit() { return *unit_; }

    std::unique_ptr<SimulatedUnit> unit_;
    std::unique_ptr<Window> window_;
};

TEST_F(ConnectionAndPower, GridLampsReadGreyAfterStartup) {
    start();
    // The screen shows a lamp once the program has painted it.
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id)
        EXPECT_EQ(eventually([&] { return readLamp(w(), id); }, Lamp::Grey), Lamp::Grey)
            << "lamp " << id;
}

TEST_F(ConnectionAndPower, ComPortChangeReconnectsAndSaysSo) {
    start();
    w().setText(IDC_STATUS_LINE, "-");
    w().select(IDC_COM_PORT, "COM1");
    EXPECT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); },
                         std::string(kConnectedAfterPortChange), kAnswerTimeout),
              kConnectedAfterPortChange);
    EXPECT_TRUE(w().enabled(IDC_COM_PORT));
    EXPECT_TRUE(w().enabled(IDC_START));
}

TEST_F(ConnectionAndPower, TargetPowerChangeReachesTheUnit) {
    start();
    // Start-up switches the supply off between operations: the voltage needs it cleared.
    w().click(IDC_SWITCH_VCC_OFF);
    ASSERT_EQ(w().checkState(IDC_SWITCH_VCC_OFF), 0);
    w().select(IDC_SUPPLY_VOLTAGE, " 3.3 V");
    EXPECT_EQ(eventually([&] { return unit().state("supply.voltage"); }, std::string("33"),
                         kAnswerTimeout),
              "33");
    EXPECT_EQ(unit().state("supply.mode"), "on");
    EXPECT_EQ(w().text(IDC_STATUS_LINE), kPowerModified);

    w().click(IDC_SWITCH_VCC_OFF);
    EXPECT_EQ(
        eventually([&] { return unit().state("supply.mode"); }, std::string("off"), kAnswerTimeout),
        "off");
}

TEST_F(ConnectionAndPower, UncheckingSuppliedByProgrammerDisablesThePowerControls) {
    start();
    w().click(IDC_SUPPLY_BY_PROG);
    EXPECT_EQ(eventually([&] { return unit().state("supply.mode"); }, std::string("external"),
                         kAnswerTimeout),
              "external");
    EXPECT_EQ(w().text(IDC_STATUS_LINE), kPowerModified);
    for (int id : {IDC_SUPPLY_VOLTAGE, IDC_SWITCH_VCC_OFF, IDC_SETTLE_TIME})
        EXPECT_FALSE(w().enabled(id)) << id;
}

TEST_F(ConnectionAndPower, LockingFromTheSystemMenuDisablesTheOptionsAndRevertsThePort) {
    start();
    w().sysCommand(kLockSettingsCommand);
    for (int id = IDC_ERASE; id <= IDC_SECURE; ++id)
        EXPECT_FALSE(eventually([&] { return w().enabled(id); }, false)) << id;
    const std::string commands = unit().state("unit.commands");
    w().select(IDC_COM_PORT, "COM3");
    EXPECT_EQ(
        eventually([&] { return w().comboSelection(IDC_COM_PORT).text; }, std::string("COM1")),
        "COM1");
    EXPECT_EQ(unit().state("unit.commands"), commands);

    w().sysCommand(kLockSettingsCommand);
    for (int id = IDC_ERASE; id <= IDC_SECURE; ++id)
        EXPECT_TRUE(eventually([&] { return w().enabled(id); }, true)) << id;
}

TEST_F(ConnectionAndPower, ProtectedInfoQuestionAnsweredNoLeavesTheBoxClear) {
    // A type with a protected information segment, its box stored clear.
    setSystemKey(ini(), "DevTypeName", "ZEL816 A201");
    setSystemKey(ini(), "DevType", "0");
    setSystemKey(ini(), "ErasePINFO", "0");
    start();
    ASSERT_TRUE(w().enabled(IDC_ERASE_PINFO));
    ASSERT_EQ(w().checkState(IDC_ERASE_PINFO), 0);
    w().click(IDC_ERASE_PINFO);
    Window question = w().waitPopup(kAnswerTimeout);
    const MessageBoxContent box = question.messageBox();
    EXPECT_EQ(box.title, "Attention!");
    EXPECT_EQ(box.text, kProtectedDataQuestion);
    question.press(kIdNo);
    question.waitGone(kAnswerTimeout);
    EXPECT_EQ(eventually([&] { return w().checkState(IDC_ERASE_PINFO); }, 0), 0);
}

} // namespace
} // namespace octo::e2e
