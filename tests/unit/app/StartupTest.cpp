// The start-up command through the in-memory view, a scripted library and a real
// configuration file: the version checks and their one message, the library load, the
// lists, the connection and the firmware offer, and the settings saved back.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "support/InMemoryView.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

namespace octo {
namespace {

using testing::FakeLibrary;
using testing::FakePlatform;
using testing::InMemoryView;
namespace fs = std::filesystem;

constexpr char kMinimalIni[] =
    "[Version]\r\nVersion=1.56\r\n[System]\r\n[ZEL816 A110]\r\nGroup=1\r\n";

class StartupTest : public ::testing::Test {
protected:
    StartupTest() : dialog(view, platform, state) {
        // The program composes its paths with backslashes; on this side of the test the
        // folder and its name simply become one file name.
        const std::string folder = (dir.path() / "prog").string();
        platform.exePath = folder + "\\OCTO816.EXE";
        configPath = folder + "\\OCTO816.INI";
        libraryPath = folder + "\\OCTO816.DLL";
        platform.libraryLoader =
            [this](const std::string& path) -> std::unique_ptr<ProgrammerLibrary> {
            loadedFrom = path;
            if (!libraryLoads) {
                return nullptr;
            }
            auto fake = std::make_unique<FakeLibrary>();
            library = fake.get();
            scriptLibrary(*fake);
            return fake;
        };
        view.connectTo(dialog);
        view.setText(IDC_STATUS_LINE, "Status Information");
    }

    void installLibrary(const std::string& version = "1.56") {
        platform.files.insert(libraryPath);
        platform.versions[libraryPath + "|FileVersion"] = version;
    }

    void installConfig(const std::string& text) {
        std::ofstream(configPath, std::ios::binary) << text;
        platform.files.insert(configPath);
    }

    std::string configText() const {
        std::ifstream in(configPath, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    // The unit: it answers with these versions, or not at all when port is not opened.
    void scriptLibrary(FakeLibrary& fake) {
        fake.devices["ZEL816 A110"] = {
            {OCTO_SEGMENT_RAM, 0x200, 512}, {OCTO_SEGMENT_FLASH, 0xF000, 0x1000}, {0, 0, 0}};
        fake.setFallback("InitCom", unitPresent ? 0 : 2);
        fake.setFallback("OctoGetResult", unitPresent ? 0 : 5);
        fake.resultBlock[8] = 0x01;
        fake.resultBlock[9] = 0x30;
        fake.resultBlock[10] = firmware >> 8;
        fake.resultBlock[11] = firmware & 0xFF;
        fake.resultBlock[12] = 0;
        fake.whileWaiting = duringCalls;
    }

    void start() {
        dialog.showMembers();
        dialog.onInitDialog();
        view.runPosted(1); // the start-up command only
    }

    // A window of its own, for one row of a table of start-ups.
    struct Window {
        explicit Window(Platform& platform) : dialog(view, platform, state) {
            view.connectTo(dialog);
        }
        InMemoryView view;
        ProgramState state;
        ProgrammerDialog dialog;
    };
    std::unique_ptr<Window> startFresh() {
        auto window = std::make_unique<Window>(platform);
        window->dialog.showMembers();
        window->dialog.onInitDialog();
        window->view.runPosted(1);
        return window;
    }

    testing::TempFolder dir{"octo-startup"};
    std::string configPath;
    std::string libraryPath;
    std::string loadedFrom;
    bool libraryLoads = true;
    bool unitPresent = false;
    // Runs inside each library call, as the window's messages do.
    std::function<void(const std::string&)> duringCalls;
    uint16_t firmware = 0x0156;
    InMemoryView view;
    FakePlatform platform;
    ProgramState state;
    ProgrammerDialog dialog;
    FakeLibrary* library = nullptr;
};

TEST_F(StartupTest, MissingLibraryAndConfigurationGiveOneMessageAndClose) {
    start();
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_EQ(view.messageBoxes()[0].text,
              "Error:\n\nDynamic link library OCTO816.DLL could not be found!\n\n"
              "Configuration file OCTO816.INI could not be found!\n\n"
              "Please update your OCTO816 system.\nThis application will close.\n");
    EXPECT_EQ(view.messageBoxes()[0].caption, "ZEL816 FLASH Octo Programmer");
    EXPECT_EQ(view.messageBoxes()[0].style, mb::kOk | mb::kIconStop);
    EXPECT_TRUE(loadedFrom.empty());
    view.runPosted();
    EXPECT_TRUE(view.ended());
    // The window behind the message still shows the construction values.
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM1");
    EXPECT_EQ(view.text(IDC_SETTLE_TIME), "0.1 s ");
}

TEST_F(StartupTest, LibraryVersionMustBeExactly156) {
    // No version: the library has no version resource, which reads as "???".
    const std::pair<const char*, bool> cases[] = {
        {"1.56", true},  {"1.56.0.0", true},    {"1.5", false},   {"1.560001", false},
        {"2.00", false}, {"1, 5, 6, 0", false}, {nullptr, false},
    };
    for (const auto& [version, passes] : cases) {
        SCOPED_TRACE(version ? version : "no version resource");
        installLibrary();
        if (version) {
            platform.versions[libraryPath + "|FileVersion"] = version;
        } else {
            platform.versions.erase(libraryPath + "|FileVersion");
        }
        installConfig(kMinimalIni);
        loadedFrom.clear();
        const auto window = startFresh();
        if (passes) {
            EXPECT_TRUE(window->view.messageBoxes().empty());
            EXPECT_EQ(loadedFrom, libraryPath);
            continue;
        }
        EXPECT_EQ(window->view.messageBoxes().size(), 1u);
        if (window->view.messageBoxes().empty()) {
            continue;
        }
        EXPECT_EQ(window->view.messageBoxes()[0].text,
                  "Error:\n\nDynamic link library OCTO816.DLL version must be 1.56.\n\n"
                  "Please update your OCTO816 system.\nThis application will close.\n");
        EXPECT_EQ(window->view.messageBoxes()[0].caption, "ZEL816 FLASH Octo Programmer");
        EXPECT_TRUE(loadedFrom.empty());
        window->view.runPosted();
        EXPECT_TRUE(window->view.ended());
    }
}

TEST_F(StartupTest, ConfigurationVersionMustBeAtLeast156) {
    const std::pair<const char*, bool> cases[] = {
        {"Version=1.56", true},
        {"Version=2.00", true},
        {"Version=2", true},
        {"Version=1.55", false},
        {"", false},
        {"Version=1.5", false},
    };
    for (const auto& [line, passes] : cases) {
        SCOPED_TRACE(line);
        installLibrary();
        installConfig(std::string("[Version]\r\n") + line + "\r\n[ZEL816 A110]\r\nGroup=1\r\n");
        const auto window = startFresh();
        ASSERT_EQ(window->view.messageBoxes().empty(), passes);
        if (!passes) {
            EXPECT_EQ(
                window->view.messageBoxes()[0].text,
                "Error:\n\nConfiguration file OCTO816.INI version must not be lower than "
                "1.56.\n\nPlease update your OCTO816 system.\nThis application will close.\n");
        }
    }
}

TEST_F(StartupTest, ALibraryThatCannotBeLoadedEndsTheStartup) {
    installLibrary();
    installConfig(kMinimalIni);
    libraryLoads = false;
    start();
    EXPECT_EQ(loadedFrom, libraryPath);
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_NE(view.messageBoxes()[0].text.find("OCTO816.DLL could not be loaded!"),
              std::string::npos);
    const std::string before = configText();
    view.runPosted();
    EXPECT_TRUE(view.ended());
    EXPECT_EQ(configText(), before); // nothing loaded, nothing written back
}

TEST_F(StartupTest, WithoutAUnitTheWindowIsReadyAndTheSettingsAreSavedBack) {
    installLibrary();
    installConfig("[Version]\r\nVersion=1.56\r\n[System]\r\nBaudRate=1\r\nSwitchVccOff=0\r\n"
                  "ComPort=3\r\nSettleTime=14\r\n[User]\r\nCaptionIndexed=1\r\n"
                  "[ZEL816 A110]\r\nGroup=1\r\n");
    // A command taken while the port opens finds the settling time and the type applied.
    std::pair<uint16_t, std::string> atInitCom;
    duringCalls = [&](const std::string& function) {
        if (function == "InitCom") {
            atInitCom = {dialog.targetPower().settleMs(), dialog.deviceType().typeName};
        }
    };
    start();
    EXPECT_EQ(atInitCom, std::make_pair(uint16_t{1500}, std::string("ZEL816 A110")));
    EXPECT_TRUE(view.messageBoxes().empty());
    EXPECT_FALSE(view.isVisible(IDC_IMAGE_NUMBER));
    EXPECT_EQ(state.programDirectory, (dir.path() / "prog").string() + "\\");
    EXPECT_EQ(dialog.configPath(), configPath);

    ASSERT_EQ(view.listCount(IDC_SETTLE_TIME), 22);
    EXPECT_EQ(view.listRow(IDC_SETTLE_TIME, 0), " 0.1 s");
    EXPECT_EQ(view.listRow(IDC_SETTLE_TIME, 21), " 5.0 s");
    EXPECT_EQ(view.text(IDC_SETTLE_TIME), " 1.5 s");
    EXPECT_EQ(dialog.targetPower().settleMs(), 1500);
    ASSERT_EQ(view.listCount(IDC_SUPPLY_VOLTAGE), 19);
    EXPECT_EQ(view.listRow(IDC_SUPPLY_VOLTAGE, 18), " 3.6 V");
    EXPECT_EQ(view.text(IDC_BAUD_RATE), "115200");
    EXPECT_TRUE(view.isChecked(IDC_SWITCH_VCC_OFF));
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM3");
    EXPECT_TRUE(view.caption().ends_with(" [3]")) << view.caption();
    EXPECT_EQ(view.text(IDC_DEVICE_TYPE), "ZEL816 A110");

    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->calls("InitProgress"), 1);
    EXPECT_EQ(library->calls("InitStatusLamp"), 1);
    EXPECT_EQ(library->calls("InitCom \\\\.\\COM3 115200"), 1);
    EXPECT_EQ(library->calls("OctoSetVccTarget"), 1); // target power is applied anyway
    EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_GREY);
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        EXPECT_EQ(view.lamp(id), IDB_LAMP_GREY) << id;
    }
    EXPECT_EQ(dialog.flags().versionsKnown, 0);
    EXPECT_EQ(dialog.flags().reloadRequired, 0);
    EXPECT_EQ(dialog.progress().period(), 100);

    const std::string saved = configText();
    EXPECT_NE(saved.find("BaudRate=4"), std::string::npos) << saved;
    EXPECT_NE(saved.find("SwitchVccOff=1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Busy=1"), std::string::npos) << saved;

    // Closing saves what the window shows.
    view.setChecked(IDC_SWITCH_VCC_OFF, false);
    dialog.onClose();
    EXPECT_NE(configText().find("SwitchVccOff=0"), std::string::npos);
}

TEST_F(StartupTest, TemporaryFilesLeftByACrashedSaveAreRemoved) {
    installLibrary();
    installConfig(kMinimalIni);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    const std::string crashed = configPath + "." + std::to_string(child) + "-0.octo-tmp";
    const std::string running = configPath + "." + std::to_string(::getpid()) + "-0.octo-tmp";
    for (const std::string& leftover : {crashed, running}) {
        std::ofstream(leftover, std::ios::binary) << "[Version]\r\nVer";
    }
    start();
    EXPECT_FALSE(fs::exists(crashed)) << "its writer is gone";
    EXPECT_TRUE(fs::exists(running)) << "its writer may still be writing";
}

TEST_F(StartupTest, MaxSupplyVoltage18OffersOneVoltage) {
    installLibrary();
    installConfig("[Version]\r\nVersion=1.56\r\n[User]\r\nMaxSupplyVoltage=18\r\n"
                  "[ZEL816 A110]\r\nGroup=1\r\n");
    start();
    ASSERT_EQ(view.listCount(IDC_SUPPLY_VOLTAGE), 1);
    EXPECT_EQ(view.listRow(IDC_SUPPLY_VOLTAGE, 0), " 1.8 V");
    EXPECT_EQ(view.caption(), "ZEL816 FLASH Octo Programmer");
}

TEST_F(StartupTest, AConnectedUnitIsAnnouncedAndItsInterfaceChoiceReadAgain) {
    installLibrary();
    installConfig("[Version]\r\nVersion=1.56\r\n[System]\r\nUseDLK=0\r\n"
                  "[ZEL816 A110]\r\nGroup=1\r\nDlkAble=1\r\n");
    unitPresent = true;
    start();
    EXPECT_TRUE(view.messageBoxes().empty());
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "ZEL-OCTO816 Octo Programmer connected.");
    EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_GREEN_TICK);
    EXPECT_EQ(dialog.flags().versionsKnown, 1);
    EXPECT_EQ(dialog.unitInfo().firmwareVersion, 0x0156);
    // Hardware 1.30 and firmware 1.56 can program a DuoLink type over four wires.
    EXPECT_TRUE(view.isEnabled(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
    EXPECT_EQ(dialog.settings().useDlk, 0);

    // A type without four-wire JTAG keeps DuoLink over the choice read again.
    installConfig("[Version]\r\nVersion=1.56\r\n[System]\r\nUseDLK=0\r\n"
                  "[ZEL816 A110]\r\nGroup=1\r\nDlkAble=1\r\nJtag4Disable=1\r\n");
    const auto noJtag4 = startFresh();
    EXPECT_TRUE(noJtag4->view.isChecked(IDC_USE_DUOLINK));
    EXPECT_EQ(noJtag4->dialog.settings().useDlk, 1);
}

TEST_F(StartupTest, OlderFirmwareGetsTheUpgradeOffer) {
    EXPECT_EQ(formatFirmwareVersion(0x0156), "1.56");
    EXPECT_EQ(formatFirmwareVersion(0x0155), "1.55");
    EXPECT_EQ(formatFirmwareVersion(0), "0.00");
    installLibrary();
    installConfig(kMinimalIni);
    unitPresent = true;
    firmware = 0x0155;
    view.answerMessageBoxes({mb::kIdNo});
    start();
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_EQ(view.messageBoxes()[0].text,
              "User Information:\n\nYour current firmware version is 1.55\n\n"
              "It is strongly recommended to upgrade your ZEL-OCTO816\n"
              "programmer unit with firmware OCTO816-156.TXT.\n\nDo you want to upgrade now?\n");
    EXPECT_EQ(view.messageBoxes()[0].style, mb::kYesNo | mb::kIconInformation);
    // Declined: the status line and the lamp say connected.
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "ZEL-OCTO816 Octo Programmer connected.");
    EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_GREEN_TICK);

    // Only 1.56 itself is accepted: newer firmware is offered the upgrade too.
    firmware = 0x0157;
    const auto newer = startFresh();
    ASSERT_EQ(newer->view.messageBoxes().size(), 1u);
    EXPECT_NE(newer->view.messageBoxes()[0].text.find("version is 1.57\n"), std::string::npos);
}

TEST_F(StartupTest, StartingLockedKeepsTheLockWithOrWithoutAUnit) {
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "connected" : "no unit");
        unitPresent = present;
        installLibrary();
        installConfig("[Version]\r\nVersion=1.56\r\n[System]\r\nShowSettings=0\r\n"
                      "[ZEL816 A110]\r\nGroup=1\r\n");
        const auto window = startFresh();
        EXPECT_EQ(window->dialog.flags().versionsKnown, present ? 1 : 0);
        ASSERT_NE(window->view.menuItem(IDM_LOCK_SETTINGS), nullptr);
        EXPECT_EQ(window->view.menuItem(IDM_LOCK_SETTINGS)->text, "&Unlock Settings");
        for (int id = IDC_ERASE; id <= IDC_SECURE; ++id) {
            EXPECT_FALSE(window->view.isEnabled(id)) << id;
        }
        EXPECT_NE(configText().find("ShowSettings=0"), std::string::npos) << configText();
    }
}

TEST_F(StartupTest, LockedInterfaceShowsTheStoredChoiceAndKeepsIt) {
    unitPresent = true;
    for (const int useDlk : {0, 1}) {
        SCOPED_TRACE("UseDLK=" + std::to_string(useDlk));
        installLibrary();
        installConfig("[Version]\r\nVersion=1.56\r\n[System]\r\nShowSettings=0\r\nUseDLK=" +
                      std::to_string(useDlk) + "\r\n[ZEL816 A110]\r\nGroup=1\r\nDlkAble=1\r\n");
        const auto window = startFresh();
        InMemoryView& v = window->view;
        ASSERT_EQ(window->dialog.flags().versionsKnown, 1);
        EXPECT_EQ(v.isChecked(IDC_USE_DUOLINK), useDlk == 1);
        EXPECT_EQ(v.isChecked(IDC_USE_JTAG4), useDlk == 0);

        // The JTAG button stays usable while locked: its click is undone, so the next data
        // exchange keeps the stored choice.
        ASSERT_TRUE(v.isEnabled(IDC_USE_JTAG4));
        v.click(IDC_USE_JTAG4);
        EXPECT_EQ(v.isChecked(IDC_USE_DUOLINK), useDlk == 1);
        EXPECT_EQ(v.isChecked(IDC_USE_JTAG4), useDlk == 0);
        window->dialog.takeControls();
        EXPECT_EQ(window->dialog.settings().useDlk, useDlk);
    }
}

} // namespace
} // namespace octo
