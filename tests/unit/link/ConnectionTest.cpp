// The connection and the operation bracket: the port path and rate handed to the library,
// the COM port and baud-rate changes locked and unlocked, the restore rule of the
// bracket, its continual-series exceptions, the progress bar and the status texts.
#include "app/StringTable.h"
#include "support/DialogFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace octo {
namespace {

using testing::DialogFixture;
using testing::FakeLibrary;

constexpr int kFirstBracketed = 1003;
constexpr int kLastBracketed = 1068;
constexpr char kPortOpened[] = "COM port settings modified. ZEL-OCTO816 Octo Programmer connected.";
constexpr char kBaudRefused[] = "ERROR: Select Baudrate Command not accepted !";

class ConnectionTest : public DialogFixture<> {
protected:
    std::vector<int> bracketedControls() const {
        std::vector<int> ids;
        for (int id = kFirstBracketed; id <= kLastBracketed; ++id) {
            if (view.hasControl(id)) {
                ids.push_back(id);
            }
        }
        return ids;
    }
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    bool menuEnabled(int command) const {
        const auto* item = view.menuItem(command);
        return item && item->enabled;
    }
};

TEST_F(ConnectionTest, OpenConnectionHandsThePortPathAndRateOfTheLists) {
    struct Case {
        int comIndex, baudIndex;
        const char* expectedCall;
    };
    const Case cases[] = {
        {0, 4, "InitCom \\\\.\\COM1 115200"}, {2, 0, "InitCom \\\\.\\COM3 9600"},
        {9, 1, "InitCom \\\\.\\COM10 19200"}, {49, 2, "InitCom \\\\.\\COM50 38400"},
        {6, 3, "InitCom \\\\.\\COM7 57600"},
    };
    for (const Case& c : cases) {
        view.setListSelection(IDC_COM_PORT, c.comIndex);
        view.setListSelection(IDC_BAUD_RATE, c.baudIndex);
        view.setText(IDC_STATUS_LINE, "old");
        EXPECT_EQ(dialog.connection().openConnection(), 1);
        EXPECT_EQ(library->callLog().back(), c.expectedCall);
        EXPECT_EQ(dialog.settings().comPort, c.comIndex);
        EXPECT_EQ(status(), kPortOpened);
    }
    EXPECT_EQ(dialog.connection().portName(), "\\\\.\\COM7");
    EXPECT_EQ(dialog.connection().baudRateBps(), 57600u);
}

TEST_F(ConnectionTest, AFailedOpenReturnsZeroAndLeavesTheStatusLine) {
    library->script("InitCom", {2});
    view.setText(IDC_STATUS_LINE, "before");
    EXPECT_EQ(dialog.connection().openConnection(), 0);
    EXPECT_EQ(status(), "before");
    EXPECT_EQ(library->calls("GetErrorString"), 0);
}

TEST_F(ConnectionTest, WithoutSelectionsThePortIsNumberZeroAndTheRateStays) {
    view.setListSelection(IDC_BAUD_RATE, 1);
    dialog.connection().openConnection();
    view.setListSelection(IDC_COM_PORT, -1);
    view.setListSelection(IDC_BAUD_RATE, -1);
    dialog.connection().openConnection();
    EXPECT_EQ(library->callLog().back(), "InitCom \\\\.\\COM0 19200");
}

TEST_F(ConnectionTest, ComPortChangeReconnectsInsideTheBracket) {
    view.setFocus(IDC_COM_PORT);
    view.selectRow(IDC_COM_PORT, 4);
    EXPECT_EQ(libraryCalls(), std::vector<std::string>{"InitCom \\\\.\\COM5 115200"});
    EXPECT_EQ(status(), kPortOpened);
    // The bracket ran around it: the grid is grey, the window usable again.
    EXPECT_EQ(view.lamp(IDC_RESULT_FIRST), IDB_LAMP_GREY);
    EXPECT_TRUE(view.isEnabled(IDC_COM_PORT));
    EXPECT_FALSE(view.mouseCaptured());
    EXPECT_EQ(view.cursor(), Cursor::Arrow);
    EXPECT_FALSE(dialog.bracket().operationActive());
}

TEST_F(ConnectionTest, ComPortChangeThatFailsShowsNothing) {
    library->script("InitCom", {2});
    view.setText(IDC_STATUS_LINE, "before");
    view.selectRow(IDC_COM_PORT, 1);
    EXPECT_EQ(status(), "before");
    EXPECT_EQ(dialog.settings().comPort, 1);
}

TEST_F(ConnectionTest, LockedPortAndRateListsSnapBackWithoutALibraryCall) {
    dialog.settings().showSettings = 0;
    view.selectRow(IDC_COM_PORT, 6);
    view.selectRow(IDC_BAUD_RATE, 0);
    EXPECT_EQ(view.text(IDC_COM_PORT), "COM1");
    EXPECT_EQ(view.text(IDC_BAUD_RATE), "115200");
    EXPECT_TRUE(libraryCalls().empty());
    EXPECT_EQ(dialog.settings().comPort, 0);
    EXPECT_EQ(dialog.settings().baudRate, 4);
}

TEST_F(ConnectionTest, BaudRateChangeReopensOnlyWhenTheUnitSwitched) {
    struct Case {
        int32_t answer;
        bool reopened;
        std::string expectedStatus;
    };
    const Case cases[] = {
        {0, true, kPortOpened},
        {1, true, kPortOpened},
        {6, true, kPortOpened},
        {8, false, kBaudRefused},
        {5, false, FakeLibrary::errorText(5)},
        {2, false, FakeLibrary::errorText(2)},
        {409, false, std::string(stringTableText(409))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        view.setListSelection(IDC_BAUD_RATE, 4);
        dialog.connection().openConnection(); // back at 115200
        library->script("OctoSelectBaudrate", {c.answer});
        log.clear();
        view.selectRow(IDC_BAUD_RATE, 2);
        EXPECT_EQ(state.lastResult, c.answer);
        EXPECT_EQ(status(), c.expectedStatus);
        // The status text comes first, then the command over the old rate.
        const int changing = log.indexOf("text 1001 Changing Baudrate...");
        const int select = log.indexOf("OctoSelectBaudrate 2");
        ASSERT_GE(changing, 0);
        EXPECT_GT(select, changing);
        EXPECT_EQ(log.contains("InitCom \\\\.\\COM1 38400"), c.reopened);
        if (c.reopened) {
            EXPECT_EQ(dialog.connection().baudRateBps(), 38400u);
            EXPECT_EQ(view.text(IDC_BAUD_RATE), "38400");
        } else {
            // The port stays at the rate in use, and the list says so.
            EXPECT_EQ(dialog.connection().baudRateBps(), 115200u);
            EXPECT_EQ(view.text(IDC_BAUD_RATE), "115200");
            EXPECT_EQ(dialog.settings().baudRate, 4);
        }
        EXPECT_FALSE(dialog.bracket().operationActive());
        EXPECT_TRUE(view.isEnabled(IDC_BAUD_RATE));
    }
}

TEST_F(ConnectionTest, BracketRestoresEachControlToItsRecordedState) {
    view.setEnabled(IDC_PROGRAM, false);
    view.setEnabled(IDC_SETTLE_TIME, false);
    dialog.beginOperation();
    for (int id : bracketedControls()) {
        EXPECT_FALSE(view.isEnabled(id)) << id;
    }
    // Something enables one that was disabled and disables one that was enabled.
    view.setEnabled(IDC_PROGRAM, true);
    view.setEnabled(IDC_VERIFY, false);
    dialog.endOperation();
    for (int id : bracketedControls()) {
        const bool wasDisabled = id == IDC_PROGRAM || id == IDC_SETTLE_TIME;
        EXPECT_EQ(view.isEnabled(id), !wasDisabled) << id;
    }
}

TEST_F(ConnectionTest, BracketGreysTheGridMenuCursorAndCapturesTheMouse) {
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        view.setLamp(id, IDB_LAMP_GREEN_TICK);
    }
    dialog.beginOperation();
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        EXPECT_EQ(view.lamp(id), IDB_LAMP_GREY) << id;
    }
    EXPECT_FALSE(menuEnabled(sc::kClose));
    EXPECT_FALSE(menuEnabled(IDM_ABOUTBOX));
    EXPECT_TRUE(menuEnabled(IDM_LOCK_SETTINGS));
    EXPECT_EQ(view.cursor(), Cursor::AppStarting);
    EXPECT_TRUE(view.mouseCaptured());
    dialog.endOperation();
    EXPECT_TRUE(menuEnabled(sc::kClose));
    EXPECT_TRUE(menuEnabled(IDM_ABOUTBOX));
    EXPECT_EQ(view.cursor(), Cursor::Arrow);
    EXPECT_FALSE(view.mouseCaptured());
}

TEST_F(ConnectionTest, BracketGivesTheFocusBackUnlessASeriesIsConfigured) {
    struct Case {
        int repeatOctoprog, repeatSelftest;
        int focusAfter;
    };
    const Case cases[] = {{0, 0, IDC_SETTLE_TIME}, {3, 0, IDC_START}, {0, 2, IDC_START}};
    for (const Case& c : cases) {
        dialog.settings().repeatOctoprog = c.repeatOctoprog;
        dialog.settings().repeatSelftest = c.repeatSelftest;
        view.setFocus(IDC_SETTLE_TIME);
        dialog.beginOperation();
        view.setFocus(IDC_START);
        dialog.endOperation();
        EXPECT_EQ(view.focusedControl(), c.focusAfter) << c.repeatOctoprog << c.repeatSelftest;
    }
}

TEST_F(ConnectionTest, BracketKeepsTheSeriesButtonUsableAndTheMouseFree) {
    struct Case {
        int continualMain, continualSelftest;
        bool startEnabled, executeEnabled, captured;
    };
    const Case cases[] = {
        {0, 0, false, false, true},
        {1, 0, true, false, false},
        {0, 1, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.continualMain) + std::to_string(c.continualSelftest));
        dialog.flags().continualMain = c.continualMain;
        dialog.flags().continualSelftest = c.continualSelftest;
        dialog.beginOperation();
        EXPECT_EQ(view.isEnabled(IDC_START), c.startEnabled);
        EXPECT_EQ(view.isEnabled(IDC_EXECUTE), c.executeEnabled);
        EXPECT_EQ(view.mouseCaptured(), c.captured);
        // A Stop press in the middle disables Start; the end gives it back.
        view.setEnabled(IDC_START, false);
        dialog.endOperation();
        EXPECT_TRUE(view.isEnabled(IDC_START));
        EXPECT_TRUE(view.isEnabled(IDC_EXECUTE));
        EXPECT_FALSE(view.mouseCaptured());
    }
}

TEST_F(ConnectionTest, EraseAreaBoxesFollowTheOptionsAndTheDeviceAfterTheBracket) {
    struct Case {
        const char* what;
        int erase, eraseCheck, erasePinfo;
        int hasBsl;
        uint16_t dcoBytes, protectedInfoBytes;
        bool main, info, bsl, restore;
    };
    const Case cases[] = {
        {"erase with BSL and DCO data", 1, 0, 1, 1, 64, 0, true, true, true, true},
        {"check only, no BSL", 0, 1, 1, 0, 64, 0, true, true, false, true},
        {"protected info off", 1, 1, 0, 1, 64, 0, true, true, true, false},
        {"no DCO data", 1, 1, 1, 0, 0, 0, true, true, false, false},
        {"DCO as long as protected info", 1, 1, 1, 0, 64, 64, true, true, false, false},
        {"neither erase nor check", 0, 0, 1, 1, 64, 0, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.settings().erase = c.erase;
        dialog.settings().eraseCheck = c.eraseCheck;
        dialog.settings().erasePinfo = c.erasePinfo;
        dialog.deviceType().hasBsl = c.hasBsl;
        dialog.deviceType().dcoBytes = c.dcoBytes;
        dialog.deviceType().protectedInfoBytes = c.protectedInfoBytes;
        for (int id : {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_ERASE_BSL, IDC_RESTORE_DCO}) {
            view.setEnabled(id, true);
        }
        dialog.beginOperation();
        for (int id : {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_ERASE_BSL, IDC_RESTORE_DCO}) {
            EXPECT_FALSE(view.isEnabled(id)) << id;
        }
        dialog.endOperation();
        EXPECT_EQ(view.isEnabled(IDC_ERASE_MAIN), c.main);
        EXPECT_EQ(view.isEnabled(IDC_ERASE_INFO), c.info);
        EXPECT_EQ(view.isEnabled(IDC_ERASE_BSL), c.bsl);
        EXPECT_EQ(view.isEnabled(IDC_RESTORE_DCO), c.restore);
    }
}

TEST_F(ConnectionTest, InterfaceButtonsComeBackOnlyForDuoLinkTypes) {
    struct Case {
        int dlkAble;
        bool duoLinkBefore, jtagBefore;
        bool duoLinkAfter, jtagAfter;
    };
    const Case cases[] = {
        {1, true, true, true, true},
        {1, false, true, false, true},
        {0, true, true, false, false},
    };
    for (const Case& c : cases) {
        dialog.deviceType().dlkAble = c.dlkAble;
        view.setEnabled(IDC_USE_DUOLINK, c.duoLinkBefore);
        view.setEnabled(IDC_USE_JTAG4, c.jtagBefore);
        dialog.beginOperation();
        EXPECT_FALSE(view.isEnabled(IDC_USE_DUOLINK));
        EXPECT_FALSE(view.isEnabled(IDC_USE_JTAG4));
        dialog.endOperation();
        EXPECT_EQ(view.isEnabled(IDC_USE_DUOLINK), c.duoLinkAfter) << c.dlkAble;
        EXPECT_EQ(view.isEnabled(IDC_USE_JTAG4), c.jtagAfter) << c.dlkAble;
    }
}

TEST_F(ConnectionTest, ANestedBracketRestoresOnlyAtTheOuterEnd) {
    dialog.beginOperation();
    dialog.beginOperation();
    dialog.endOperation();
    EXPECT_FALSE(view.isEnabled(IDC_START));
    EXPECT_TRUE(view.mouseCaptured());
    dialog.endOperation();
    EXPECT_TRUE(view.isEnabled(IDC_START));
    EXPECT_FALSE(view.mouseCaptured());
    // An end without a beginning changes nothing.
    view.setEnabled(IDC_START, false);
    dialog.endOperation();
    EXPECT_FALSE(view.isEnabled(IDC_START));
}

class ProgressTest : public DialogFixture<> {
protected:
    ProgressRange range() const { return view.progressRange(IDC_PROGRESS); }
    int32_t position() const { return view.progressPosition(IDC_PROGRESS); }
};

TEST_F(ProgressTest, StartSetsRangePositionStepAndTheTimer) {
    dialog.progress().startProgress(5000, kProgressPeriodMs, true);
    EXPECT_EQ(range(), (ProgressRange{0, 5000}));
    EXPECT_EQ(position(), kProgressPeriodMs);
    EXPECT_TRUE(view.timerRunning(ID_TIMER_PROGRESS));
    EXPECT_EQ(view.timerPeriod(ID_TIMER_PROGRESS), kProgressPeriodMs);
    view.tick(ID_TIMER_PROGRESS);
    EXPECT_EQ(position(), 2 * kProgressPeriodMs);

    dialog.progress().stopProgress(true);
    EXPECT_EQ(position(), 0);
    EXPECT_FALSE(view.timerRunning(ID_TIMER_PROGRESS));
}

TEST_F(ProgressTest, WithoutTheTimerFlagNoTimerStartsOrStops) {
    dialog.progress().startProgress(1000, kProgressPeriodMs, false);
    EXPECT_FALSE(view.timerRunning(ID_TIMER_PROGRESS));
    dialog.progress().startProgress(1000, kProgressPeriodMs, true);
    dialog.progress().stopProgress(false);
    EXPECT_EQ(position(), 0);
    EXPECT_TRUE(view.timerRunning(ID_TIMER_PROGRESS));
}

TEST_F(ProgressTest, AnOperationTwiceAsLongAsExpectedFillsTheBarAtHalfTimeAndKeepsItFull) {
    // Ranges that the step divides and ranges where the last step would pass the end.
    for (const uint32_t expectedMs : {2000u, 2050u, 1234u, 150u}) {
        SCOPED_TRACE(expectedMs);
        dialog.progress().startProgress(expectedMs, kProgressPeriodMs, true);
        const int ticksToFull = static_cast<int>((expectedMs - 1) / kProgressPeriodMs);
        int32_t last = position();
        for (int tick = 1; tick <= 2 * ticksToFull + 2; ++tick) {
            view.tick(ID_TIMER_PROGRESS);
            EXPECT_GE(position(), last) << "tick " << tick; // never starts over
            EXPECT_EQ(position() == static_cast<int32_t>(expectedMs), tick >= ticksToFull)
                << "tick " << tick;
            last = position();
        }
        dialog.progress().stopProgress(true);
    }
}

TEST(StatusStrings, EveryStatusTextIsExact) {
    struct Row {
        int id;
        const char* text;
    };
    // Trailing blanks and double blanks are part of the texts.
    const Row rows[] = {
        {110, "&Lock Settings"},
        {111, "&Unlock Settings"},
        {113, "&About Octo Programmer..."},
        {170, "ZEL-OCTO816 Octo Programmer connected."},
        {301, "FATAL ERROR: Image Memory corrupted or erased !"},
        {302, "ERROR: Selftest failed - No JTAG access to Image Buffer !"},
        {303, "ERROR: Selftest failed - Data connections to Image Buffer invalid !"},
        {304, "ERROR: Selftest failed - No access to one ore more Image Buffer devices ! "},
        {305, "ERROR: Selftest failed - No JTAG access to one or more Target channels !"},
        {306, "ERROR: Selftest failed - Target Voltage Generator (VCCT) does not work properly !"},
        {307, "ERROR: Selftest failed - System Voltage (VCC) not in range !"},
        {308, "ERROR: Selftest failed - Blow Fuse Voltage (VPP) not in range !"},
        {400, "Result of the Operation: See Result Section."},
        {401, "Selftest passed."},
        {402, "COM port settings modified. ZEL-OCTO816 Octo Programmer connected."},
        {403, "WARNING: Target voltage too low for Erase / Program operation ! Set to Vpp_min."},
        {404, "ERROR: Firmware section cannot be erased !"},
        {405, "ERROR: Unable to load Firmware. Correct file format?"},
        {406, "ERROR: Selected file is not a Firmware Update file !"},
        {408, "ERROR: Unable to open INI file !"},
        {409, "ERROR: Unable to load Image Memory !  Image Memory erased? Correct file format?"},
        {410, "ERROR: Unable to refresh Octo Programmer system parameters !"},
        {411, "ERROR: Main Process failed - Timeout?"},
        {412, "ERROR: Result of operation not received !"},
        {414, "ERROR: Image Memory cannot be erased !"},
        {415, "ERROR: Select Baudrate Command not accepted !"},
        {416, "ERROR: Unable to read Target !"},
        {460, "General Error !"},
        {461, "ERROR: NAK (Not-Acknowledge) received !"},
        {462, "ERROR: Unable to set target voltage !"},
        {463, "Target power settings modified.  "},
        {200, "Operation successful."},
        {201, "ERROR: Communication - Frame has errors !"},
        {202, "ERROR: Unable to open COM port - already in use?"},
        {203, "ERROR: Unable to close COM port !"},
        {205, "ERROR: Synchronization failed. Programmer connected?"},
        {206, "ERROR: Timeout during operation - Correct COM port selected?"},
        {211, "ERROR: File contains invalid record !"},
        {212, "ERROR: Unexpected end of file !"},
        {213, "ERROR: Error during file I/O !"},
        {214, "ERROR: Selected file is of unrecognizable format !"},
        {215, "ERROR: Unable to open file !"},
        {216, "ERROR: DLL function argument(s) out of range !"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(stringTableText(r.id), r.text) << r.id;
    }
    // Ids in the ranges that have no text give an empty status line.
    for (int id : {0, 204, 300, 309, 407, 413, 417, 459, 464}) {
        EXPECT_EQ(stringTableText(id), "") << id;
    }
}

} // namespace
} // namespace octo
