// The main window's core through the in-memory view and the scripted library:
// construction values, initialisation order, routing, the connection poll, the status
// line rule, the interface rules and the shutdown.
#include "app/ProgrammerDialog.h"
#include "resources/resource.h"
#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "support/InMemoryView.h"

#include <gtest/gtest.h>

namespace octo {
namespace {

using testing::EventLog;
using testing::FakeLibrary;
using testing::FakePlatform;
using testing::InMemoryView;

// Records which handler each message reached.
class RecordingDialog : public ProgrammerDialog {
public:
    using ProgrammerDialog::ProgrammerDialog;
    std::vector<std::string> handled;
    int saves = 0;

protected:
    void onStartupCommand() override { handled.push_back("startup"); }
    void onRunMainProcess() override { handled.push_back("runMainProcess"); }
    void onStart() override { handled.push_back("start"); }
    void onMainProcessOption(int id) override { record("mainProcessOption", id); }
    void onTargetPowerOption(int id) override { record("targetPowerOption", id); }
    void onSupplyVoltageChanged() override { handled.push_back("supplyVoltage"); }
    void onSettleTimeChanged() override { handled.push_back("settleTime"); }
    void onEraseOption(int id) override { record("eraseOption", id); }
    void onDeviceGroupChanged() override { handled.push_back("deviceGroup"); }
    void onDeviceTypeChanged() override { handled.push_back("deviceType"); }
    void onUseDuoLink() override { handled.push_back("useDuoLink"); }
    void onLoadImages() override { handled.push_back("loadImages"); }
    void onImageFileChanged() override { handled.push_back("imageFileChanged"); }
    void onBrowseObjectFile(int id) override { record("browse", id); }
    void onImageNumberChanged() override { handled.push_back("imageNumber"); }
    void onSelectImage(int image) override { record("selectImage", image); }
    void onCategoryChanged() override { handled.push_back("category"); }
    void onExecute() override { handled.push_back("execute"); }
    void onSelftest() override { handled.push_back("selftest"); }
    void onTest1() override { handled.push_back("test1"); }
    void onComPortChanged() override { handled.push_back("comPort"); }
    void onBaudRateChanged() override { handled.push_back("baudRate"); }
    void onProgressTimer() override { handled.push_back("progressTimer"); }
    void onAbout() override { handled.push_back("about"); }
    void onToggleSettingsLock() override { handled.push_back("lock"); }
    void onHelpWindow() override { handled.push_back("helpWindow"); }
    void saveSettings() override {
        ++saves;
        handled.push_back("saveSettings");
    }

private:
    void record(const std::string& name, int arg) {
        handled.push_back(name + " " + std::to_string(arg));
    }
};

class ProgrammerDialogTest : public ::testing::Test {
protected:
    ProgrammerDialogTest() : view(&log), platform(&log), dialog(view, platform, state) {
        auto fake = std::make_unique<FakeLibrary>(&log);
        library = fake.get();
        dialog.useLibrary(std::move(fake));
        view.connect({[this](int id, int code) { dialog.onCommand(id, code); },
                      [this](int timer) { dialog.onTimer(timer); },
                      [this] { dialog.onClose(); }});
    }

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

    EventLog log;
    InMemoryView view;
    FakePlatform platform;
    ProgramState state;
    RecordingDialog dialog;
    FakeLibrary* library = nullptr;
};

TEST_F(ProgrammerDialogTest, ConstructionValuesShowInTheWindow) {
    initialise();
    for (int id : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY, IDC_SUPPLY_BY_PROG,
                   IDC_ERASE_MAIN, IDC_ERASE_INFO}) {
        EXPECT_TRUE(view.isChecked(id)) << id;
    }
    for (int id : {IDC_SECURE, IDC_SWITCH_VCC_OFF, IDC_ERASE_PINFO, IDC_ERASE_BSL,
                   IDC_USE_DUOLINK, IDC_RESTORE_DCO}) {
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

    EXPECT_EQ(dialog.verifyMarginal_, 1);
    EXPECT_EQ(dialog.reloadRequired_, 0);
    EXPECT_EQ(dialog.versionsKnown_, 0);
    EXPECT_EQ(dialog.comPortName_, "COM1");
    EXPECT_EQ(dialog.baudRateBps_, 115200u);
    EXPECT_EQ(dialog.configPath(), "");
    EXPECT_EQ(dialog.deviceType().dcoBytes, 0);
    EXPECT_EQ(dialog.deviceType().protectedInfoBytes, 0);
    EXPECT_EQ(state.supplyVoltageIndex, 12);
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
        "loadBitmap 139", "loadBitmap 138", "loadBitmap 140", "loadBitmap 143",
        "loadBitmap 142", "loadBitmap 141", "menu separator", "menu item 32 &Lock Settings",
        "menu separator", "menu item 16 &About Octo Programmer...", "menu remove 61440",
        "menu remove 61488", "setAppIcon", "post 103", "toolTips create", "toolTip 1003",
        "toolTip 1010", "toolTip 1019", "toolTips activate", "setTimer 1 2000"};
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

TEST_F(ProgrammerDialogTest, EveryNotificationReachesItsHandler) {
    initialise();
    struct Route {
        int id;
        int code;
        const char* handler;
    };
    const Route routes[] = {
        {103, 0, "startup"},
        {1087, 0, "runMainProcess"},
        {1003, notify::kClicked, "start"},
        {1004, notify::kClicked, "mainProcessOption 1004"},
        {1005, notify::kClicked, "mainProcessOption 1005"},
        {1006, notify::kClicked, "mainProcessOption 1006"},
        {1007, notify::kClicked, "mainProcessOption 1007"},
        {1008, notify::kClicked, "mainProcessOption 1008"},
        {1062, notify::kClicked, "targetPowerOption 1062"},
        {1064, notify::kClicked, "targetPowerOption 1064"},
        {1063, notify::kSelectionChange, "supplyVoltage"},
        {1067, notify::kSelectionChange, "settleTime"},
        {1115, notify::kClicked, "eraseOption 1115"},
        {1116, notify::kClicked, "eraseOption 1116"},
        {1066, notify::kClicked, "eraseOption 1066"},
        {1069, notify::kClicked, "eraseOption 1069"},
        {1070, notify::kClicked, "eraseOption 1070"},
        {1017, notify::kSelectionChange, "deviceGroup"},
        {1016, notify::kSelectionChange, "deviceType"},
        {1117, notify::kClicked, "useDuoLink"},
        {1010, notify::kClicked, "loadImages"},
        {1012, notify::kTextChange, "imageFileChanged"},
        {1013, notify::kClicked, "browse 1013"},
        {1060, notify::kClicked, "browse 1060"},
        {1071, notify::kSelectionChange, "imageNumber"},
        {1082, notify::kClicked, "selectImage 0"},
        {1084, notify::kClicked, "selectImage 1"},
        {1065, notify::kSelectionChange, "category"},
        {1019, notify::kClicked, "execute"},
        {1011, notify::kClicked, "selftest"},
        {1088, 0, "selftest"},
        {1083, notify::kClicked, "test1"},
        {1014, notify::kSelectionChange, "comPort"},
        {1015, notify::kSelectionChange, "baudRate"},
        {57670, 0, "about"},
    };
    for (const Route& r : routes) {
        dialog.handled.clear();
        dialog.onCommand(r.id, r.code);
        EXPECT_EQ(dialog.handled, std::vector<std::string>{r.handler}) << r.id;
    }
}

TEST_F(ProgrammerDialogTest, OtherNotificationsAndEnterOrEscapeDoNothing) {
    initialise();
    dialog.handled.clear();
    dialog.onCommand(kIdOk, notify::kClicked);
    dialog.onCommand(kIdCancel, notify::kClicked);
    dialog.onCommand(IDC_COM_PORT, 3);              // drop-down opened
    dialog.onCommand(IDC_START, 5);                 // a button's double click
    dialog.onCommand(IDC_IMAGE2_FILE, notify::kTextChange); // only the first name is watched
    dialog.onCommand(IDC_RESULT_FIRST, notify::kClicked);   // lamps are not buttons to press
    EXPECT_TRUE(dialog.handled.empty());
    EXPECT_FALSE(view.ended());
}

TEST_F(ProgrammerDialogTest, OperatorClicksReachHandlersOnlyOnEnabledControls) {
    initialise();
    dialog.handled.clear();
    view.click(IDC_ERASE);
    EXPECT_FALSE(view.isChecked(IDC_ERASE)); // the box flips before its handler runs
    view.setEnabled(IDC_START, false);
    view.click(IDC_START);
    view.click(IDC_IMAGE0); // hidden
    view.selectRowText(IDC_COM_PORT, "COM7");
    EXPECT_EQ(dialog.handled, (std::vector<std::string>{"mainProcessOption 1004", "comPort"}));
    dialog.takeControls();
    EXPECT_EQ(dialog.erase_, 0);
    EXPECT_EQ(dialog.comPort_, 6);
}

TEST_F(ProgrammerDialogTest, SystemCommandsDispatchOnTheirUpperBits) {
    initialise();
    struct Case {
        unsigned command;
        const char* handler; // nullptr: the default handling
    };
    const Case cases[] = {
        {0x10, "about"}, {0x11, "about"},      {0x1F, "about"},      {0x20, "lock"},
        {0x21, "lock"},  {0x2F, "lock"},       {0x40, "helpWindow"}, {0x4F, "helpWindow"},
        {0x30, nullptr}, {0xF060, nullptr},    {0xF020, nullptr},    {0xF010, nullptr},
    };
    for (const Case& c : cases) {
        dialog.handled.clear();
        const bool handled = dialog.onSysCommand(c.command);
        EXPECT_EQ(handled, c.handler != nullptr) << std::hex << c.command;
        if (c.handler) {
            EXPECT_EQ(dialog.handled, std::vector<std::string>{c.handler});
        } else {
            EXPECT_TRUE(dialog.handled.empty());
        }
    }
}

TEST_F(ProgrammerDialogTest, TimersReachThePollAndTheProgressBar) {
    initialise();
    library->setFallback("OctoGetResult", 5);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(library->calls("OctoGetResult"), 1);
    dialog.onTimer(ID_TIMER_PROGRESS);
    EXPECT_EQ(dialog.handled.back(), "progressTimer");
}

TEST_F(ProgrammerDialogTest, PollIsSilentUntilTheUnitAnswersThenAnnouncesItOnce) {
    initialise();
    view.setText(IDC_STATUS_LINE, "something else");
    library->setFallback("OctoGetResult", 5);
    view.tick(ID_TIMER_CONNECTION_POLL);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "something else");
    EXPECT_EQ(dialog.versionsKnown_, 0);

    unitAnswers(0x0130, 0x0156);
    view.tick(ID_TIMER_CONNECTION_POLL);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), "ZEL-OCTO816 Octo Programmer connected.");
    EXPECT_EQ(dialog.versionsKnown_, 1);
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
    dialog.applyInterfaceRules();
    EXPECT_FALSE(view.isEnabled(IDC_USE_DUOLINK));
    EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_FALSE(view.isChecked(IDC_USE_JTAG4));
    EXPECT_EQ(dialog.versionsKnown_, 0);

    dialog.deviceType().dlkAble = 0;
    dialog.applyInterfaceRules();
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
        dialog.versionsKnown_ = 0;
        unitAnswers(c.hardware, c.firmware);
        dialog.deviceType().dlkAble = c.dlkAble;
        dialog.useDlk_ = c.useDlk;
        dialog.applyInterfaceRules();
        SCOPED_TRACE(std::to_string(c.hardware) + "/" + std::to_string(c.firmware));
        EXPECT_EQ(dialog.versionsKnown_, 1);
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
    dialog.useDlk_ = 0;
    dialog.applyInterfaceRules();
    EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
    EXPECT_EQ(dialog.useDlk_, 1);
    EXPECT_TRUE(view.isChecked(IDC_USE_DUOLINK));
}

TEST_F(ProgrammerDialogTest, InterfaceRulesLeaveTheButtonsAloneWhileLocked) {
    initialise();
    unitAnswers(0x0130, 0x0156);
    dialog.showSettings_ = 0;
    dialog.deviceType().dlkAble = 1;
    dialog.useDlk_ = 1;
    view.setChecked(IDC_USE_JTAG4, true);
    dialog.applyInterfaceRules();
    EXPECT_EQ(dialog.versionsKnown_, 1);
    EXPECT_FALSE(view.isChecked(IDC_USE_DUOLINK));
    EXPECT_TRUE(view.isChecked(IDC_USE_JTAG4));
}

TEST_F(ProgrammerDialogTest, MinimisedWindowPaintsTheIconCentred) {
    initialise();
    EXPECT_FALSE(dialog.onPaint());
    view.minimised = true;
    view.client = {160, 31};
    view.icon = {32, 32};
    EXPECT_TRUE(dialog.onPaint());
    // (160 - 32 + 1) / 2 = 64, (31 - 32 + 1) / 2 = 0
    EXPECT_EQ(view.paintedIcons(), (std::vector<std::pair<int, int>>{{64, 0}}));
    EXPECT_EQ(dialog.onQueryDragIcon(), view.appIconHandle());
}

TEST_F(ProgrammerDialogTest, ShutdownRunsInItsOrderAndSavesWhenTheFileExists) {
    initialise();
    dialog.configPath_ = "C:\\OCTO\\OCTO816.INI";
    dialog.settingsLoaded_ = true;
    platform.files.insert(dialog.configPath_);
    view.topWindows().insert("Help for Octo Programmer");
    log.clear();
    view.postClose();
    view.runPosted();
    const std::vector<std::string> expected = {
        "ReleaseCom", "fileExists C:\\OCTO\\OCTO816.INI", "findTopWindow Help for Octo Programmer",
        "closeTopWindow Help for Octo Programmer", "toolTips destroy", "endDialog 1"};
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
    dialog.configPath_ = "C:\\OCTO\\OCTO816.INI";
    platform.files.insert(dialog.configPath_); // the file is there, but was never loaded
    view.postClose();
    view.runPosted();
    EXPECT_EQ(dialog.saves, 0);
    EXPECT_TRUE(view.ended());
}

TEST_F(ProgrammerDialogTest, ShutdownWithoutConfigurationFileOrHelpWindowWritesNothing) {
    initialise();
    dialog.configPath_ = "C:\\OCTO\\OCTO816.INI";
    dialog.settingsLoaded_ = true;
    library->setFallback("ReleaseCom", 3); // a failing release is ignored
    view.postClose();
    view.runPosted();
    EXPECT_EQ(dialog.saves, 0);
    EXPECT_TRUE(view.closedTopWindows().empty());
    EXPECT_TRUE(view.ended());
}

TEST_F(ProgrammerDialogTest, DataExchangeRoundTripsEveryBoundSetting) {
    initialise();
    dialog.comPort_ = 2;
    dialog.baudRate_ = 1;
    dialog.blowFuse_ = 1;
    dialog.erase_ = 0;
    dialog.useDlk_ = 1;
    dialog.restoreDco_ = 1;
    dialog.settleTime_ = 4;
    dialog.category_ = 3;
    dialog.imageFile_ = "C:\\a.hex";
    dialog.image2File_ = "C:\\b.txt";
    state.supplyVoltageIndex = 15;
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
    EXPECT_EQ(other.comPort_, 2);
    EXPECT_EQ(other.baudRate_, 1);
    EXPECT_EQ(other.blowFuse_, 1);
    EXPECT_EQ(other.erase_, 0);
    EXPECT_EQ(other.useDlk_, 1);
    EXPECT_EQ(other.settleTime_, 4);
    EXPECT_EQ(other.category_, 3);
    EXPECT_EQ(other.imageFile_, "C:\\a.hex");
    EXPECT_EQ(other.image2File_, "C:\\b.txt");
    EXPECT_EQ(state.supplyVoltageIndex, 15);
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
