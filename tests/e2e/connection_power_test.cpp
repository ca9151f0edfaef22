// The real OCTO816.EXE and OCTO816.DLL against the simulated unit on COM1: the result
// grid after start-up, a COM port change, target power reaching the unit, the settings
// lock from the system menu, and the protected-data question.
#include "E2eTest.h"
#include "harness/SimulatedUnit.h"

#include "resource.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace octo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kLockSettingsCommand = 0x20;
constexpr Millis kAnswerTimeout{10000};

constexpr char kConnectedAfterPortChange[] =
    "COM port settings modified. ZEL-OCTO816 Octo Programmer connected.";
constexpr char kPowerModified[] = "Target power settings modified.  ";
constexpr char kProtectedDataQuestion[] =
    "This option will enable erasing of protected data.\nAre you sure?";

// ---- the configuration file of the program folder ------------------------------------------

// Replaces the value of a key of section [System] in the shipped configuration file.
void setSystemKey(const fs::path& ini, const std::string& key, const std::string& value) {
    std::ifstream in(ini);
    std::stringstream out;
    std::string line;
    bool inSystem = false;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            inSystem = line == "[System]";
        if (inSystem && line.rfind(key + "=", 0) == 0) {
            line = key + "=" + value;
            replaced = true;
        }
        out << line << "\r\n";
    }
    in.close();
    if (!replaced)
        throw E2eError("no key " + key + " in [System] of " + ini.string());
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << out.str();
}

// ---- the lamp colours ---------------------------------------------------------------------

// "RRGGBB" of the centre pixel of one of the program's 24-bit lamp bitmaps.
std::string bitmapCentreColour(const std::string& fileName) {
    constexpr std::size_t kPixelOffsetField = 10;
    constexpr std::size_t kWidthField = 18;
    constexpr int kBytesPerPixel = 3;
    constexpr int kRowAlignment = 4;
    std::ifstream file(Paths::repository() / "program" / "resources" / fileName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
        return v;
    };
    const std::uint32_t offset = u32(kPixelOffsetField);
    const int width = static_cast<int>(u32(kWidthField));
    const int height = static_cast<int>(u32(kWidthField + 4));
    const int stride = (width * kBytesPerPixel + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const std::size_t at = offset + static_cast<std::size_t>(height / 2) * stride +
                           static_cast<std::size_t>(width / 2) * kBytesPerPixel;
    char text[7];
    std::snprintf(text, sizeof(text), "%02X%02X%02X", static_cast<unsigned char>(bytes.at(at + 2)),
                  static_cast<unsigned char>(bytes.at(at + 1)),
                  static_cast<unsigned char>(bytes.at(at)));
    return text;
}

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

    // Starts the unit and the program, and waits until the program has connected.
    // Starts the program and waits for the end of its start-up command. The status line
    // says "connected" before start-up is over (the firmware check says it first); only
    // the save that ends start-up writes Busy=1. A click before that would be handled
    // inside one of start-up's library calls, which pump the window's messages.
    void start() {
        unit_ = std::make_unique<SimulatedUnit>(session_->programFolder());
        window_ = std::make_unique<Window>(session_->launch());
        const std::string connected = "ZEL-OCTO816 Octo Programmer connected.";
        ASSERT_EQ(eventually([&] { return w().text(IDC_STATUS_LINE); }, connected, kAnswerTimeout),
                  connected)
            << session_->programLog();
        ASSERT_TRUE(eventually([&] { return startupSaved(); }, true, kAnswerTimeout))
            << session_->programLog();
    }
    bool startupSaved() const {
        std::ifstream in(ini(), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        return text.find("\nBusy=1\r\n") != std::string::npos;
    }

    fs::path ini() const { return session_->programFolder() / kConfigIni; }
    Window& w() { return *window_; }
    SimulatedUnit& unit() { return *unit_; }

    std::unique_ptr<SimulatedUnit> unit_;
    std::unique_ptr<Window> window_;
};

TEST_F(ConnectionAndPower, GridLampsReadGreyAfterStartup) {
    start();
    const std::string grey = bitmapCentreColour("lamp_grey.bmp");
    // The screen shows a lamp once the program has painted it.
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id)
        EXPECT_EQ(eventually([&] { return w().pixel(id); }, grey), grey) << "lamp " << id;
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
