// The main window's core through the in-memory view and the scripted library:
// construction values, initialisation order, routing, the connection poll, the status
// line rule, the interface rules and the shutdown.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/DialogFixture.h"

#include <gtest/gtest.h>

namespace octo {
namespace {

using testing::EventLog;
using testing::FakeLibrary;
using testing::FakePlatform;
using testing::InMemoryView;

// Records the start-up command and the saves instead of running them.
class RecordingDialog : public ProgrammerDialog {
public:
    using ProgrammerDialog::ProgrammerDialog;
    std::vector<std::string> handled;
    int saves = 0;

    void markSettingsLoaded() { settingsLoaded_ = true; }
    void saveSettings() override {
        ++saves;
        handled.push_back("saveSettings");
    }

protected:
    void onStartupCommand() override { handled.push_back("startup"); }
};

class ProgrammerDialogTest : public testing::DialogUnderTest<RecordingDialog> {
protected:
    // What the window does when it is created: the template's lists, the members shown,
    // then the dialog's own initialisation.
    void initialise() {
        dialog.showMembers();
        dialog.onInitDialog();
    }

    void unitAnswers(uint16_t hardware, uint16_t firmware) {
        library->resultBlock[8] = hardware >> 8;
        library->resultBlock[9] = hardware & 0xFF;
        library->resultBlock[10] = firmware >> 8;
        library->resultBlock[11] = firmware & 0xFF;
        library->resultBlock[12] = 0;
        library->setFallback("OctoGetResult", 0);
    }
};

TEST_F(ProgrammerDialogTest, ConstructionValuesShowInTheWindow) {
    initialise();
    for (int id : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY, IDC_SUPPLY_BY_PROG,
                   IDC_ERASE_MAIN, IDC_ERASE_INFO}) {
        EXPECT_TRUE(view.isChecked(id)) << id;
    }
    for (int id : {IDC_SECURE, IDC_SWITCH_VCC_OFF, IDC_ERASE_PINFO, IDC_ERASE_BSL, IDC_USE_DUOLINK,
                   IDC_RESTORE_DCO}) {
        EXPECT_FALSE(view.isChecked(id)) << id;
    }
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM1");
    EXPECT_EQ(view.text(IDC_BAUD_RATE), "115200");
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), "3.0 V ");
    EXPECT_EQ(view.text(IDC_SETTLE_TIME), "0.1 s ");
    EXPECT_EQ(view.text(IDC_CATEGORY), "H/W Selftest");
    // The sorted type list shows its placeholders alphabetically; position 0 is selected.
    EXPECT_EQ(view.listRow(IDC_DEVICE_TYPE, 0), "Device Type info");
    EXPECT_EQ(view.listRow(IDC_DEVICE_TYPE, 2), "ZEL816 Axxx");
    EXPECT_EQ(view.listSelection(IDC_DEVICE_TYPE), 0);
    EXPECT_EQ(view.text(IDC_IMAGE_FILE), "");

    EXPECT_EQ(dialog.settings().verifyMarginal, 1);
    EXPECT_EQ(dialog.flags().reloadRequired, 0);
    EXPECT_EQ(dialog.flags().versionsKnown, 0);
    EXPECT_EQ(dialog.connection().portName(), "COM1");
    EXPECT_EQ(dialog.connection().baudRateBps(), 115200u);
    EXPECT_EQ(dialog.configPath(), "");
    EXPECT_EQ(dialog.deviceType().dcoBytes, 0);
    EXPECT_EQ(dialog.deviceType().protectedInfoBytes, 0);
    EXPECT_EQ(dialog.settings().supplyVoltage, 12);
    EXPECT_EQ(state.messageCaption, "ZEL816 FLASH Octo Programmer");
    EXPECT_EQ(state.helpWindowTitle, "Help for Octo Programmer");
    EXPECT_EQ(state.programDirectory, "");
    EXPECT_EQ(state.readOutTarget, 1);
    EXPECT_EQ(state.readOutStart, 0xF000u);
    EXPECT_EQ(state.readOutLength, 0x1000u);
}

TEST_F(ProgrammerDialogTest, ConstructionTouchesNoFileAndNoLibrary) {
    EXPECT_TRUE(log.events().empty());
    EXPECT_TRUE(library->callLog().empty());
}

TEST_F(ProgrammerDialogTest, InitialisationRunsInItsOrder) {
    dialog.deviceType().hasBsl = 1;
    log.clear();
    EXPECT_TRUE(dialog.onInitDialog());
    const std::vector<std::string> expected = {
        "loadBitmap 139",    "loadBitmap 138",
        "loadBitmap 140",    "loadBitmap 143",
        "loadBitmap 142",    "loadBitmap 141",
        "menu separator",    "menu item 32 &Lock Settings",
        "menu separator",    "menu item 16 &About Octo Programmer...",
        "menu remove 61440", "menu remove 61488",
        "setAppIcon",        "post 103",
        "toolTips create",   "toolTip 1003",
        "toolTip 1010",      "toolTip 1019",
        "toolTips activate", "setTimer 1 2000"};
    EXPECT_EQ(log.events(), expected);
    EXPECT_EQ(dialog.deviceType().hasBsl, 0);
    // The start-up command waits in the queue until the window is shown.
    EXPECT_TRUE(dialog.handled.empty());
    view.runPosted();
    EXPECT_EQ(dialog.handled, std::vector<std::string>{"startup"});
}

TEST_F(ProgrammerDialogTest, SystemMenuLosesSizeAndMaximizeAndGainsLockAndAbout) {
    initialise();
    EXPECT_EQ(view.menuItem(sc::kSize), nullptr);
    EXPECT_EQ(view.menuItem(sc::kMaximize), nullptr);
    ASSERT_NE(view.menuItem(sc::kClose), nullptr);
    const auto& menu = view.systemMenu();
    ASSERT_GE(menu.size(), 4u);
    EXPECT_EQ(menu[menu.size() - 4].command, 0);
    EXPECT_EQ(menu[menu.size() - 3].command, IDM_LOCK_SETTINGS);
    EXPECT_EQ(menu[menu.size() - 3].text, "&Lock Settings");
    EXPECT_EQ(menu[menu.size() - 2].command, 0);
    EXPECT_EQ(menu[menu.size() - 1].command, IDM_ABOUTBOX);
    EXPECT_EQ(menu[menu.size() - 1].text, "&About Octo Programmer...");
}

TEST_F(ProgrammerDialogTest, ToolTipsCarryTheirTexts) {
    initialise();
    EXPECT_TRUE(view.toolTipsActive());
    EXPECT_EQ(view.toolTip(IDC_START),
              "Load Target Power parameters and start the selected actions on Programmer Unit");
    EXPECT_EQ(view.toolTip(IDC_LOAD_IMAGES),
              "Load Object Code File contents and Device Type parameters to Programmer Unit");
    EXPECT_EQ(view.toolTip(IDC_EXECUTE), "Execute process selected in 'Category'");
    EXPECT_EQ(view.timerPeriod(ID_TIMER_CONNECTION_POLL), 2000u);
}

TEST_F(ProgrammerDialogTest, WithoutToolTipsEverythingElseStillWorks) {
    view.toolTipsCanBeCreated = false;
    initialise();
    EXPECT_FALSE(view.hasToolTips());
    EXPECT_TRUE(view.timerRunning(ID_TIMER_CONNECTION_POLL));
    EXPECT_EQ(view.postedCount(), 1u);
    view.postClose();
    view.runPosted();
    EXPECT_TRUE(view.ended());
}

// Each notification reaches the subsystem that handles it: seen in the library call it
// makes, or else in the estimate it marks stale.
TEST_F(ProgrammerDialogTest, EveryNotificationReachesItsSubsystem) {
    initialise();
    for (int box : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY, IDC_SECURE, IDC_ERASE_MAIN,
                    IDC_ERASE_INFO, IDC_USE_DUOLINK}) {
        dialog.flags().estimateStale = false;
        dialog.onCommand(box, notify::kClicked);
        EXPECT_TRUE(dialog.flags().estimateStale) << box;
    }
    dialog.flags().estimateStale = false;
    dialog.onCommand(IDC_SETTLE_TIME, notify::kSelectionChange);
    EXPECT_TRUE(dialog.flags().estimateStale);

    struct Route {
        int id;
        int code;
        const char* libraryCall;
    };
    const Route routes[] = {
        {IDC_SUPPLY_BY_PROG, notify::kClicked, "OctoSetVccTarget"},
        {IDC_SWITCH_VCC_OFF, notify::kClicked, "OctoSetVccTarget"},
        {IDC_SUPPLY_VOLTAGE, notify::kSelectionChange, "OctoSetVccTarget"},
        {IDC_DEVICE_TYPE, notify::kSelectionChange, "GetDevice"},
        {IDC_COM_PORT, notify::kSelectionChange, "InitCom"},
        {IDC_BAUD_RATE, notify::kSelectionChange, "OctoSelectBaudrate"},
    };
    for (const Route& r : routes) {
        const int before = library->calls(r.libraryCall);
        dialog.onCommand(r.id, r.code);
        EXPECT_EQ(library->calls(r.libraryCall), before + 1) << r.id;
    }
    dialog.handled.clear();
    dialog.onCommand(IDC_STARTUP_COMMAND, 0);
    EXPECT_EQ(dialog.handled, std::vector<std::string>{"startup"});
}

TEST_F(ProgrammerDialogTest, OtherNotificationsAndEnterOrEscapeDoNothing) {
    initialise();
    dialog.handled.clear();
    dialog.onCommand(kIdOk, notify::kClicked);
    dialog.onCommand(kIdCancel, notify::kClicked);
    dialog.onCommand(IDC_COM_PORT, 3);                      // drop-down opened
    dialog.onCommand(IDC_START, 5);                         // a button's double click
    dialog.onCommand(IDC_IMAGE2_FILE, notify::kTextChange); // only the first name is watched
    dialog.onCommand(IDC_RESULT_FIRST, notify::kClicked);   // lamps are not buttons to press
    EXPECT_TRUE(dialog.handled.empty());
    EXPECT_FALSE(view.ended());
}

TEST_F(ProgrammerDialogTest, OperatorClicksReachHandlersOnlyOnEnabledControls) {
    initialise();
    dialog.flags().estimateStale = 0;
    view.click(IDC_ERASE);
    EXPECT_FALSE(view.isChecked(IDC_ERASE)); // the box flips before its handler runs
    view.setEnabled(IDC_START, false);
    view.click(IDC_START);
    view.click(IDC_IMAGE0); // hidden
    view.selectRowText(IDC_COM_PORT, "COM7");
    EXPECT_EQ(library->calls("InitCom"), 1);
    EXPECT_EQ(dialog.flags().estimateStale, 1) << "the Erase box reached its handler";
    dialog.takeControls();
    EXPECT_EQ(dialog.settings().erase, 0);
    EXPECT_EQ(dialog.settings().comPort, 6);
}

TEST_F(ProgrammerDialogTest, SystemCommandsDispatchOnTheirUpperBits) {
    initialise();
    view.topWindows().insert("Help for Octo Programmer");
    struct Case {
        unsigned command;
        bool handled;
        bool togglesLock;
        bool showsHelp;
    };
    const Case cases[] = {
        {0x10, true, false, false},    {0x1F, true, false, false},    {0x20, true, true, false},
        {0x21, true, true, false},     {0x2F, true, true, false},     {0x40, true, false, true},
        {0x4F, true, false, true},     {0x30, false, false, false},   {0xF060, false, false, false},
        {0xF020, false, false, false}, {0xF010, false, false, false},
    };
    for (const Case& c : cases) {
        const int locked = dialog.settings().showSettings;
        const std::size_t shown = view.activatedTopWindows().size();
        EXPECT_EQ(dialog.onSysCommand(c.command), c.handled) << std::hex << c.command;
        EXPECT_EQ(dialog.settings().showSettings != locked, c.togglesLock) << std::hex << c.command;
        EXPECT_EQ(view.activatedTopWindows().size() != shown, c.showsHelp) << std::hex << c.command;
    }
}

TEST_F(ProgrammerDialogTest, TimersReachThePollAndTheProgressBar) {
    initialise();
    library->setFallback("OctoGetResult", 5);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(library->calls("OctoGetResult"), 1);
    dialog.progress().startProgress(1000, 100, false);
    dialog.onTimer(ID_TIMER_PROGRESS);
    EXPECT_EQ(view.progressPosition(IDC_PROGRESS), 200);
}

TEST_F(ProgrammerDialogTest, PollIsSilentUntilTheUnitAnswersThenAnnouncesItOnce) {
    initialise();
    view.setText(IDC_STATUS_LINE, "something else");
    library->setFallback("OctoGetResult", 5);
    view.tick(ID_TIMER_CONNECTION_POLL);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "something else");
    EXPECT_EQ(dialog.flags().versionsKnown, 0);

    unitAnswers(0x0130, 0x0156);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "ZEL-OCTO816 Octo Programmer connected.");
    EXPECT_EQ(dialog.flags().versionsKnown, 1);
    EXPECT_EQ(dialog.unitInfo().firmwareVersion, 0x0156);

    view.setText(IDC_STATUS_LINE, "later text");
    const int reads = library->calls("OctoGetResult");
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "later text");
    EXPECT_EQ(library->calls("OctoGetResult"), reads);
}

TEST_F(ProgrammerDialogTest, ReadUnitInfoKeepsTheRecordWhenTheLibraryFails) {
    unitAnswers(0x0130, 0x0156);
    ASSERT_TRUE(dialog.readUnitInfo());
    library->resultBlock[11] = 0x57;
    library->script("OctoGetResult", {8});
    EXPECT_FALSE(dialog.readUnitInfo());
    EXPECT_EQ(dialog.unitInfo().firmwareVersion, 0x0156);
}

TEST_F(ProgrammerDialogTest, ShowStatusPicksItsText) {
    struct Case {
        int32_t code, textId;
        std::string expected;
    };
    const Case cases[] = {
        {99, 170, "ZEL-OCTO816 Octo Programmer connected."},
        {8, 412, "ERROR: Result of operation not received !"},
        {6, 412, FakeLibrary::errorText(6)},
        {0, 412, FakeLibrary::errorText(0)},
        {409, 0, "ERROR: Unable to load Image Memory !  Image Memory erased? Correct file format?"},
        {99, 999, ""},
        {407, 0, ""},
    };
    for (const Case& c : cases) {
        view.setText(IDC_STATUS_LINE, "old");
        dialog.showStatus(c.code, c.textId);
        EXPECT_EQ(view.text(IDC_STATUS_LINE), c.expected) << c.code << "/" << c.textId;
    }
}

TEST_F(ProgrammerDialogTest, InterfaceRulesWithoutAUnitPresetFromTheDeviceAlone) {
    initialise();
    library->setFallback("OctoGetResult", 5);
    dialog.deviceType().dlkAble = 1;
    dialog.catalogue().applyInterfaceRules();
    EXPECT_FALSE(view.isEnabled(IDC_USE_DUOLINK));
    EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_FALSE(view.isChecked(IDC_USE_JTAG4));
    EXPECT_EQ(dialog.flags().versionsKnown, 0);

    dialog.deviceType().dlkAble = 0;
    dialog.catalogue().applyInterfaceRules();
    EXPECT_FALSE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
}

TEST_F(ProgrammerDialogTest, InterfaceRulesFollowTheUnitsVersions) {
    initialise();
    struct Case {
        uint16_t hardware, firmware;
        int dlkAble, useDlk;
        bool dlkChecked, dlkEnabled;
        const char* tip;
    };
    const char* oldHardware = "To program DuoLink-capable device in 4Wire mode you have to "
                              "upgrade the OCTO816-Hardware to ver.1.30 or newer";
    const char* oldFirmware =
        "To program DuoLink-capable device in 4Wire mode you have to update the OCTO816-Firmware";
    const char* capable = "Check this box in order to program DuoLink-capable device in 2Wire mode";
    const Case cases[] = {
        {0x0120, 0x0156, 1, 0, true, false, oldHardware},
        {0x0130, 0x0129, 1, 0, true, false, oldFirmware},
        {0x0121, 0x0130, 1, 0, false, true, capable},
        {0x0121, 0x0130, 1, 1, true, true, capable},
        {0x0130, 0x0156, 0, 1, false, false, ""},
    };
    for (const Case& c : cases) {
        dialog.flags().versionsKnown = 0;
        unitAnswers(c.hardware, c.firmware);
        dialog.deviceType().dlkAble = c.dlkAble;
        dialog.settings().useDlk = c.useDlk;
        dialog.catalogue().applyInterfaceRules();
        SCOPED_TRACE(std::to_string(c.hardware) + "/" + std::to_string(c.firmware));
        EXPECT_EQ(dialog.flags().versionsKnown, 1);
        EXPECT_EQ(view.isChecked(IDC_USE_DUOLINK), c.dlkChecked);
        EXPECT_EQ(view.isChecked(IDC_USE_JTAG4), !c.dlkChecked);
        EXPECT_EQ(view.isEnabled(IDC_USE_DUOLINK), c.dlkEnabled);
        EXPECT_EQ(view.toolTip(IDC_USE_DUOLINK), c.tip);
    }
}

TEST_F(ProgrammerDialogTest, InterfaceRulesKeepJtagOffForTypesThatForbidIt) {
    initialise();
    unitAnswers(0x0130, 0x0156);
    dialog.deviceType().jtag4Allowed = 0;
    dialog.deviceType().dlkAble = 1;
    dialog.settings().useDlk = 0;
    dialog.catalogue().applyInterfaceRules();
    EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
    EXPECT_EQ(dialog.settings().useDlk, 1);
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));
}

TEST_F(ProgrammerDialogTest, InterfaceRulesLeaveTheButtonsAloneWhileLocked) {
    initialise();
    unitAnswers(0x0130, 0x0156);
    dialog.settings().showSettings = 0;
    dialog.deviceType().dlkAble = 1;
    dialog.settings().useDlk = 1;
    view.setChecked(IDC_USE_JTAG4, true);
    dialog.catalogue().applyInterfaceRules();
    EXPECT_EQ(dialog.flags().versionsKnown, 1);
    EXPECT_FALSE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
}

TEST_F(ProgrammerDialogTest, MinimisedWindowPaintsTheIconCentred) {
    initialise();
    EXPECT_FALSE(dialog.onPaint());
    view.minimised = true;
    view.client = {161, 37};
    view.icon = {32, 32};
    EXPECT_TRUE(dialog.onPaint());
    // (161 - 32 + 1) / 2 = 65, (37 - 32 + 1) / 2 = 3: an odd margin puts the extra pixel left
    EXPECT_EQ(view.paintedIcons(), (std::vector<std::pair<int, int>>{{65, 3}}));
    EXPECT_EQ(dialog.onQueryDragIcon(), view.appIconHandle());
}

TEST_F(ProgrammerDialogTest, ShutdownRunsInItsOrderAndSavesWhenTheFileExists) {
    initialise();
    dialog.setConfigPath("C:\\OCTO\\OCTO816.INI");
    dialog.markSettingsLoaded();
    platform.files.insert(dialog.configPath());
    view.topWindows().insert("Help for Octo Programmer");
    log.clear();
    view.postClose();
    view.runPosted();
    const std::vector<std::string> expected = {"ReleaseCom",
                                               "fileExists C:\\OCTO\\OCTO816.INI",
                                               "findTopWindow Help for Octo Programmer",
                                               "closeTopWindow Help for Octo Programmer",
                                               "toolTips destroy",
                                               "endDialog 1"};
    auto events = log.events();
    std::erase(events, "post close");
    EXPECT_EQ(events, expected);
    EXPECT_EQ(dialog.saves, 1);
    EXPECT_EQ(dialog.handled.back(), "saveSettings");
    EXPECT_TRUE(view.ended());
    EXPECT_EQ(view.endResult(), kIdOk);
}

TEST_F(ProgrammerDialogTest, ShutdownAfterAFailedStartupWritesNothing) {
    initialise();
    dialog.setConfigPath("C:\\OCTO\\OCTO816.INI");
    platform.files.insert(dialog.configPath()); // the file is there, but was never loaded
    view.postClose();
    view.runPosted();
    EXPECT_EQ(dialog.saves, 0);
    EXPECT_TRUE(view.ended());
}

TEST_F(ProgrammerDialogTest, ShutdownWithoutConfigurationFileOrHelpWindowWritesNothing) {
    initialise();
    dialog.setConfigPath("C:\\OCTO\\OCTO816.INI");
    dialog.markSettingsLoaded();
    library->setFallback("ReleaseCom", 3); // a failing release is ignored
    view.postClose();
    view.runPosted();
    EXPECT_EQ(dialog.saves, 0);
    EXPECT_TRUE(view.closedTopWindows().empty());
    EXPECT_TRUE(view.ended());
}

TEST_F(ProgrammerDialogTest, DataExchangeRoundTripsEveryBoundSetting) {
    initialise();
    dialog.settings() = {.comPort = 2,
                         .baudRate = 1,
                         .blowFuse = 1,
                         .erase = 0,
                         .category = 3,
                         .settleTime = 4,
                         .useDlk = 1,
                         .restoreDco = 1,
                         .supplyVoltage = 15,
                         .imageFile = "C:\\a.hex",
                         .image2File = "C:\\b.txt"};
    dialog.showMembers();
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM3");
    EXPECT_EQ(view.text(IDC_BAUD_RATE), "19200");
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), "3.3 V ");
    EXPECT_EQ(view.text(IDC_CATEGORY), "Erase Image");
    EXPECT_TRUE(view.isChecked(IDC_SECURE));
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_RESTORE_DCO));

    ProgrammerDialog other(view, platform, state);
    other.takeControls();
    const Settings& taken = other.settings();
    EXPECT_EQ(taken.comPort, 2);
    EXPECT_EQ(taken.baudRate, 1);
    EXPECT_EQ(taken.blowFuse, 1);
    EXPECT_EQ(taken.erase, 0);
    EXPECT_EQ(taken.useDlk, 1);
    EXPECT_EQ(taken.settleTime, 4);
    EXPECT_EQ(taken.category, 3);
    EXPECT_EQ(taken.imageFile, "C:\\a.hex");
    EXPECT_EQ(taken.image2File, "C:\\b.txt");
    EXPECT_EQ(taken.supplyVoltage, 15);
}

TEST_F(ProgrammerDialogTest, WithoutALibraryEveryCallFails) {
    NoLibrary none;
    const OctoSegmentEntry* table = reinterpret_cast<const OctoSegmentEntry*>(&none);
    EXPECT_NE(none.initCom("\\\\.\\COM1", 115200), 0);
    EXPECT_NE(none.getDevice("ZEL816 A110", &table), 0);
    EXPECT_EQ(table, nullptr);
    uint8_t block[OCTO_RESULT_BLOCK_BYTES] = {};
    EXPECT_NE(none.getResult(block), 0);
    EXPECT_FALSE(none.getErrorString(kNoLibraryResult).empty());

    dialog.useLibrary(nullptr);
    EXPECT_FALSE(dialog.readUnitInfo());
}

} // namespace
} // namespace octo
