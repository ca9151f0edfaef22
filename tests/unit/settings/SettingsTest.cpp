// LoadSettings and SaveSettings on a real configuration file: every key with its section,
// default and encoding, the limits, values without a list row, the dependent enabling,
// the write order with its failure message, and Busy after every save.
#include "CountingFileAccess.h"
#include "app/DialogTemplate.h"
#include "resources/resource.h"
#include "support/DialogWithIni.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <set>

namespace octo {
namespace {

using testing::DialogWithIni;

class SettingsTest : public DialogWithIni {};

struct Loaded {
    const char* what;
    std::function<int(const Settings&)> value;
    int whenMissing; // the file default
};

// Every setting LoadSettings reads, as the dialog holds it.
std::vector<Loaded> loadedSettings() {
    using S = const Settings&;
    return {
        {"ComPort (index)", [](S s) { return s.comPort; }, 0},
        {"JtagSpeed", [](S s) { return int{s.jtagSpeed}; }, 0},
        {"VerifyMarginal", [](S s) { return s.verifyMarginal; }, 1},
        {"DevType", [](S s) { return s.devType; }, 1},
        {"SupplyByProg", [](S s) { return s.supplyByProg; }, 1},
        {"EraseMain", [](S s) { return s.eraseMain; }, 1},
        {"EraseInfo", [](S s) { return s.eraseInfo; }, 1},
        {"ErasePINFO", [](S s) { return s.erasePinfo; }, 1},
        {"EraseBSLSegm", [](S s) { return s.eraseBslSegm; }, 0},
        {"RestoreDCO", [](S s) { return s.restoreDco; }, 1},
        {"UseDLK", [](S s) { return s.useDlk; }, 1},
        {"SupplyVoltage (index)", [](S s) { return s.supplyVoltage; }, 12},
        {"SwitchVccOff", [](S s) { return s.switchVccOff; }, 1},
        {"SettleTime", [](S s) { return s.settleTime; }, 0},
        {"Erase", [](S s) { return s.erase; }, 1},
        {"EraseCheck", [](S s) { return s.eraseCheck; }, 1},
        {"Program", [](S s) { return s.program; }, 1},
        {"Verify", [](S s) { return s.verify; }, 1},
        {"BlowFuse", [](S s) { return s.blowFuse; }, 0},
        {"ShowSettings", [](S s) { return s.showSettings; }, 1},
        {"CaptionIndexed", [](S s) { return s.captionIndexed; }, 0},
        {"MaxSupplyVoltage (index)", [](S s) { return s.maxSupplyIndex; }, 18},
        {"RepeatSelftest", [](S s) { return s.repeatSelftest; }, 0},
        {"RepeatOctoprog", [](S s) { return s.repeatOctoprog; }, 0},
        {"CreateLogFile", [](S s) { return s.createLogFile; }, 0},
        {"TimeSelfTest", [](S s) { return static_cast<int>(s.timeSelfTest); }, 5000},
        {"TimeOctoProg", [](S s) { return static_cast<int>(s.timeOctoProg); }, 60000},
        {"TimeEraseImage", [](S s) { return static_cast<int>(s.timeEraseImage); }, 1000},
        {"TimeLoadImage", [](S s) { return static_cast<int>(s.timeLoadImage); }, 4000},
        {"TimeLoadFirmware", [](S s) { return static_cast<int>(s.timeLoadFirmware); }, 2000},
        {"Serial Address", [](S s) { return static_cast<int>(s.serialAddress); }, 0},
        {"Serial Start", [](S s) { return static_cast<int>(s.serialStart); }, 0},
        {"Serial End", [](S s) { return static_cast<int>(s.serialEnd); }, 0},
        {"Serial Step", [](S s) { return static_cast<int>(s.serialStep); }, 1},
        {"Serial Width", [](S s) { return s.serialWidth; }, 0},
    };
}

TEST_F(SettingsTest, MissingKeysTakeTheFileDefaults) {
    // The construction values differ from the file defaults in several places, so each
    // default below is one that loading had to set.
    // (ErasePINFO, RestoreDCO, UseDLK, SwitchVccOff, SettleTime, DevType, and a duration.)
    dialog.settings() = Settings{.timeOctoProg = 1};
    ini("[System]\r\n");
    dialog.loadSettings();
    for (const Loaded& l : loadedSettings()) {
        EXPECT_EQ(l.value(dialog.settings()), l.whenMissing) << l.what;
    }
    EXPECT_EQ(dialog.settings().imageFile, "");
    EXPECT_EQ(dialog.settings().image2File, "");
    // ...and the window shows them.
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM1");
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), "3.0 V ");
    EXPECT_EQ(view.listSelection(IDC_SETTLE_TIME), 0);
    for (int id : {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY, IDC_USE_DUOLINK,
                   IDC_ERASE_PINFO, IDC_RESTORE_DCO, IDC_SWITCH_VCC_OFF}) {
        EXPECT_TRUE(view.isChecked(id)) << id;
    }
    EXPECT_FALSE(view.isChecked(IDC_SECURE));
    EXPECT_FALSE(view.isChecked(IDC_ERASE_BSL));
}

TEST_F(SettingsTest, EveryKeyIsReadFromItsSection) {
    ini("[System]\r\nImageFile=C:\\a.hex\r\nImage2File=C:\\b.txt\r\nComPort=7\r\nJtagSpeed=2\r\n"
        "VerifyMarginal=0\r\nDevType=4\r\nSupplyByProg=0\r\nEraseMain=0\r\nEraseInfo=0\r\n"
        "ErasePINFO=0\r\nEraseBSLSegm=1\r\nRestoreDCO=0\r\nUseDLK=0\r\nSupplyVoltage=25\r\n"
        "SwitchVccOff=0\r\nSettleTime=5\r\nErase=0\r\nEraseCheck=0\r\nProgram=0\r\nVerify=0\r\n"
        "BlowFuse=1\r\nShowSettings=0\r\n"
        "[User]\r\nCaptionIndexed=1\r\nMaxSupplyVoltage=33\r\nRepeatSelftest=3\r\n"
        "RepeatOctoprog=9\r\nCreateLogFile=1\r\n"
        "[Timing]\r\nTimeSelfTest=11\r\nTimeOctoProg=12\r\nTimeEraseImage=13\r\n"
        "TimeLoadImage=14\r\nTimeLoadFirmware=15\r\n"
        "[Serial]\r\nLedger=D:\\s.ledger\r\nAddress=0x1000\r\nStart=16\r\nEnd=0x20\r\n"
        "Step=2\r\nFormat=ascii\r\nWidth=6\r\nList=D:\\macs.txt\r\n");
    dialog.loadSettings();
    const std::vector<int> expected = {6, 2,  0,  4,  0,  0,  0,      0,  1,  0,  0, 7,
                                       0, 5,  0,  0,  0,  0,  1,      0,  1,  15, 3, 9,
                                       1, 11, 12, 13, 14, 15, 0x1000, 16, 32, 2,  6};
    const auto settings = loadedSettings();
    ASSERT_EQ(settings.size(), expected.size());
    for (size_t i = 0; i < settings.size(); ++i) {
        EXPECT_EQ(settings[i].value(dialog.settings()), expected[i]) << settings[i].what;
    }
    EXPECT_EQ(dialog.settings().imageFile, "C:\\a.hex");
    EXPECT_EQ(dialog.settings().serialLedger, "D:\\s.ledger");
    EXPECT_EQ(dialog.settings().serialFormat, "ascii");
    EXPECT_EQ(dialog.settings().serialList, "D:\\macs.txt");
    EXPECT_EQ(view.text(IDC_IMAGE2_FILE), "C:\\b.txt");
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM7");
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), "2.5 V ");
}

TEST_F(SettingsTest, KeysInTheWrongSectionAreNotTaken) {
    ini("[User]\r\nComPort=5\r\n[System]\r\nRepeatOctoprog=4\r\nTimeOctoProg=7\r\n");
    dialog.loadSettings();
    EXPECT_EQ(dialog.settings().comPort, 0);
    EXPECT_EQ(dialog.settings().repeatOctoprog, 0);
    EXPECT_EQ(dialog.settings().timeOctoProg, 60000u);
}

TEST_F(SettingsTest, NumbersAndFlagsAsTheFileWritesThem) {
    struct Case {
        const char* line;
        std::function<int()> value;
        int expected;
    };
    const std::vector<Case> cases = {
        {"JtagSpeed=7", [&] { return int{dialog.settings().jtagSpeed}; }, 3},
        {"JtagSpeed=256", [&] { return int{dialog.settings().jtagSpeed}; }, 0},
        {"JtagSpeed=259", [&] { return int{dialog.settings().jtagSpeed}; }, 3},
        {"JtagSpeed=-1", [&] { return int{dialog.settings().jtagSpeed}; }, 3},
        {"JtagSpeed=3", [&] { return int{dialog.settings().jtagSpeed}; }, 3},
        {"Erase=5", [&] { return dialog.settings().erase; }, 1},
        {"BlowFuse=-1", [&] { return dialog.settings().blowFuse; }, 1},
        {"Verify=abc", [&] { return dialog.settings().verify; }, 0},
        {"SupplyVoltage=33", [&] { return dialog.settings().supplyVoltage; }, 15},
        {"ComPort=50", [&] { return dialog.settings().comPort; }, 49},
        {"DevType=0x3", [&] { return dialog.settings().devType; }, 3},
    };
    for (const Case& c : cases) {
        ini(std::string("[System]\r\n") + c.line + "\r\n");
        dialog.loadSettings();
        EXPECT_EQ(c.value(), c.expected) << c.line;
    }
}

// Values that have no row in their list take the nearest row: the lists then show what is
// in effect, and no voltage outside the offered range is selected or sent.
TEST_F(SettingsTest, ValuesWithoutAListRowTakeTheNearestRow) {
    struct Case {
        const char* file;
        int supplyIndex;
        int maxSupplyIndex;
        int settleTime;
        int comPort;
    };
    const std::vector<Case> cases = {
        {"[System]\r\nSupplyVoltage=40\r\n", 18, 18, 0, 0},
        {"[System]\r\nSupplyVoltage=34\r\n[User]\r\nMaxSupplyVoltage=30\r\n", 12, 12, 0, 0},
        {"[System]\r\nSupplyVoltage=10\r\n", 0, 18, 0, 0},
        {"[System]\r\nSupplyVoltage=30\r\n[User]\r\nMaxSupplyVoltage=12\r\n", 0, 0, 0, 0},
        {"[User]\r\nMaxSupplyVoltage=50\r\n", 12, 18, 0, 0},
        {"[System]\r\nSettleTime=22\r\n", 12, 18, 21, 0},
        {"[System]\r\nSettleTime=-4\r\n", 12, 18, 0, 0},
        {"[System]\r\nComPort=0\r\n", 12, 18, 0, 0},
        {"[System]\r\nComPort=51\r\n", 12, 18, 0, 49},
    };
    for (const Case& c : cases) {
        ini(c.file);
        dialog.loadSettings();
        EXPECT_EQ(dialog.settings().supplyVoltage, c.supplyIndex) << c.file;
        EXPECT_EQ(dialog.settings().maxSupplyIndex, c.maxSupplyIndex) << c.file;
        EXPECT_EQ(dialog.settings().settleTime, c.settleTime) << c.file;
        EXPECT_EQ(dialog.settings().comPort, c.comPort) << c.file;
        EXPECT_EQ(view.listSelection(IDC_SUPPLY_VOLTAGE), c.supplyIndex) << c.file;
    }
}

TEST_F(SettingsTest, EraseBoxesFollowTheOptionsAndTheDevice) {
    struct Case {
        int erase, eraseCheck, eraseInfo, hasProtectedInfo, hasBsl;
        bool main, pinfo, bsl;
    };
    const std::vector<Case> cases = {
        {1, 0, 1, 1, 1, true, true, true},    {0, 1, 1, 1, 1, true, true, true},
        {1, 1, 0, 1, 1, true, false, true},   {1, 1, 1, 0, 0, true, false, false},
        {0, 0, 1, 1, 1, false, false, false},
    };
    for (const Case& c : cases) {
        ini("[System]\r\nErase=" + std::to_string(c.erase) + "\r\nEraseCheck=" +
            std::to_string(c.eraseCheck) + "\r\nEraseInfo=" + std::to_string(c.eraseInfo) + "\r\n");
        dialog.deviceType().hasProtectedInfo = c.hasProtectedInfo;
        dialog.deviceType().hasBsl = c.hasBsl;
        dialog.loadSettings();
        const std::string what = "erase " + std::to_string(c.erase) + " check " +
                                 std::to_string(c.eraseCheck) + " info " +
                                 std::to_string(c.eraseInfo);
        EXPECT_EQ(view.isEnabled(IDC_ERASE_MAIN), c.main) << what;
        EXPECT_EQ(view.isEnabled(IDC_ERASE_INFO), c.main) << what;
        EXPECT_EQ(view.isEnabled(IDC_ERASE_PINFO), c.pinfo) << what;
        EXPECT_EQ(view.isEnabled(IDC_ERASE_BSL), c.bsl) << what;
    }
}

TEST_F(SettingsTest, LongFileNamesAreCutToTheirBuffer) {
    const std::string longName(400, 'n');
    ini("[System]\r\nImageFile=" + longName + "\r\n");
    dialog.loadSettings();
    EXPECT_EQ(dialog.settings().imageFile, std::string(259, 'n'));
}

// ---- saving -------------------------------------------------------------------------------

TEST_F(SettingsTest, SaveWritesTheControlsInTheirEncodings) {
    ini("; operator's notes stay\r\n[System]\r\nDevType=3\r\nImageFile=x.hex\r\n"
        "[User]\r\nCaptionIndexed=0\r\n");
    dialog.loadSettings();
    view.setListSelection(IDC_COM_PORT, 2);
    view.setListSelection(IDC_BAUD_RATE, 1);
    view.setListSelection(IDC_SUPPLY_VOLTAGE, 15);
    view.setListSelection(IDC_SETTLE_TIME, 4);
    view.setListSelection(IDC_DEVICE_TYPE, 1);
    view.setChecked(IDC_SECURE, true);
    view.setChecked(IDC_VERIFY, false);
    view.setChecked(IDC_USE_DUOLINK, false);
    view.setText(IDC_IMAGE_FILE, "changed.hex");
    dialog.settings().showSettings = 0;
    dialog.saveSettings();
    struct Key {
        const char* section;
        const char* key;
        int32_t expected;
    };
    for (const Key& k : std::vector<Key>{{"System", "ComPort", 3},
                                         {"System", "BaudRate", 1},
                                         {"System", "SupplyVoltage", 33},
                                         {"System", "SettleTime", 4},
                                         {"System", "BlowFuse", 1},
                                         {"System", "Verify", 0},
                                         {"System", "Erase", 1},
                                         {"System", "UseDLK", 0},
                                         {"System", "ShowSettings", 0},
                                         {"System", "DevType", 3},
                                         {"User", "CaptionIndexed", 0},
                                         {"Diagnostic", "Busy", 1}}) {
        EXPECT_EQ(iniInt(k.section, k.key), k.expected) << k.key;
    }
    EXPECT_EQ(dialog.profile().readString("System", "ImageFile", "", 260), "x.hex")
        << "file names are written by image loading only";
    EXPECT_EQ(iniText().rfind("; operator's notes stay\r\n", 0), 0u);
}

TEST_F(SettingsTest, SaveWritesItsKeysInOrderIntoAnEmptyFile) {
    ini("[System]\r\n");
    dialog.loadSettings();
    dialog.saveSettings();
    EXPECT_EQ(iniText(),
              "[System]\r\nComPort=1\r\nBaudRate=4\r\nSupplyByProg=1\r\nEraseMain=1\r\n"
              "EraseInfo=1\r\nErasePINFO=1\r\nEraseBSLSegm=0\r\nRestoreDCO=1\r\nUseDLK=1\r\n"
              "SupplyVoltage=30\r\nSwitchVccOff=1\r\nSettleTime=0\r\nErase=1\r\nEraseCheck=1\r\n"
              "Program=1\r\nVerify=1\r\nBlowFuse=0\r\nShowSettings=1\r\n"
              "[User]\r\nCaptionIndexed=0\r\n[Diagnostic]\r\nBusy=1\r\n");
}

TEST_F(SettingsTest, CaptionIndexedEditedWhileRunningWinsOverMemory) {
    ini("[User]\r\nCaptionIndexed=0\r\n");
    dialog.loadSettings();
    EXPECT_EQ(dialog.settings().captionIndexed, 0);
    ini("[User]\r\nCaptionIndexed=1\r\n");
    dialog.saveSettings();
    EXPECT_EQ(dialog.settings().captionIndexed, 1);
    EXPECT_EQ(iniInt("User", "CaptionIndexed"), 1);
}

TEST_F(SettingsTest, LoadThenSaveChangesOnlyWhatIsNormalised) {
    const std::string file =
        "[Version]\r\nVersion=1.56\r\n[System]\r\nComPort=2\r\nBaudRate=4\r\nDevType=0\r\n"
        "SupplyByProg=1\r\nEraseMain=1\r\nEraseInfo=1\r\nErasePINFO=1\r\nEraseBSLSegm=0\r\n"
        "RestoreDCO=1\r\nUseDLK=1\r\nSupplyVoltage=33\r\nSwitchVccOff=1\r\nSettleTime=3\r\n"
        "Erase=1\r\nEraseCheck=1\r\nProgram=1\r\nVerify=1\r\nBlowFuse=0\r\nShowSettings=1\r\n"
        "[User]\r\nCaptionIndexed=0\r\n[Diagnostic]\r\nBusy=0\r\n[ZEL816 A110]\r\nGroup=1\r\n";
    ini(file);
    dialog.loadSettings();
    dialog.saveSettings();
    std::string expected = file;
    expected.replace(expected.find("Busy=0"), 6, "Busy=1");
    EXPECT_EQ(iniText(), expected);
}

TEST_F(SettingsTest, ReadOnlyFileShowsTheMessageAndWritesNothing) {
    const std::string file = "[System]\r\nComPort=1\r\n";
    ini(file);
    dialog.loadSettings();
    ::chmod(dialog.configPath().c_str(), 0444);
    view.setListSelection(IDC_COM_PORT, 4);
    dialog.saveSettings();
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_EQ(view.messageBoxes()[0].text,
              "Error writing to OCTO816.INI.\nNormal work is not possible.\n"
              "Please check if the file is not write protected");
    EXPECT_EQ(view.messageBoxes()[0].caption, "Error");
    EXPECT_EQ(view.messageBoxes()[0].style, mb::kOk | mb::kIconStop);
    EXPECT_EQ(iniText(), file);
    EXPECT_EQ(dialog.settings().comPort, 4) << "the members keep their values";
}

TEST_F(SettingsTest, LoadReadsTheFileOnceAndSaveReplacesItOnce) {
    testing::FileCounts counts;
    dialog.profile().useFileAccess(std::make_unique<testing::CountingFileAccess>(counts));
    // Just written, as at a start-up after a save: a key-by-key read would read it each time.
    ini("[System]\r\nComPort=2\r\n[User]\r\nCaptionIndexed=0\r\n");
    dialog.loadSettings();
    EXPECT_EQ(counts.reads, 1);
    dialog.saveSettings();
    EXPECT_EQ(counts.replaces, 1) << "every key and Busy in one flushed replace";
}

TEST_F(SettingsTest, BusyReadsOneAfterEverySave) {
    ini("[Diagnostic]\r\nBusy=0\r\n");
    dialog.saveSettings();
    EXPECT_EQ(iniInt("Diagnostic", "Busy"), 1);
}

// ---- the table of settings ----------------------------------------------------------------

// The exchange reads a row's control by its encoding: a flag from a box, a text from an
// edit field, anything else from a list. A row bound to the wrong kind of control would
// exchange nothing the operator sees.
TEST(SettingRows, EachControlIsOfTheKindItsEncodingExchanges) {
    for (const SettingRow& row : settingRows()) {
        if (row.control == kNoControl) {
            continue;
        }
        const ControlTemplate* control = findControl(row.control);
        ASSERT_NE(control, nullptr) << row.control;
        switch (row.encoding) {
        case Encoding::Flag:
            EXPECT_TRUE(control->kind == ControlKind::CheckBox ||
                        control->kind == ControlKind::RadioButton)
                << row.control;
            break;
        case Encoding::Text:
            EXPECT_EQ(control->kind, ControlKind::ReadOnlyEdit) << row.control;
            break;
        default:
            EXPECT_TRUE(control->kind == ControlKind::DropDownList ||
                        control->kind == ControlKind::SortedDropDownList)
                << row.control;
        }
    }
}

TEST(SettingRows, NoKeyOrControlIsDescribedTwice) {
    std::set<std::string> keys;
    std::set<int> controls;
    for (const SettingRow& row : settingRows()) {
        if (row.section != nullptr) {
            EXPECT_TRUE(keys.insert(std::string(row.section) + "/" + row.key).second) << row.key;
        }
        if (row.control != kNoControl) {
            EXPECT_TRUE(controls.insert(row.control).second) << row.control;
        }
    }
}

} // namespace
} // namespace octo
