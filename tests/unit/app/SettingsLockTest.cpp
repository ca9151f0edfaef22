// The system menu's commands and the settings lock: the lock item's text, the boxes it
// disables, every control that reverts while locked, and the help window command.
#include "support/DialogFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace octo {
namespace {

using testing::DialogFixture;

constexpr unsigned kLockCommand = 0x20;
constexpr unsigned kHelpCommand = 0x40;
constexpr int kMainOptions[] = {IDC_ERASE, IDC_ERASE_CHECK, IDC_PROGRAM, IDC_VERIFY, IDC_SECURE};

class SettingsLockTest : public DialogFixture<> {
protected:
    std::string lockItemText() const {
        const auto* item = view.menuItem(IDM_LOCK_SETTINGS);
        return item ? item->text : "";
    }
    void lock() {
        ASSERT_TRUE(dialog.onSysCommand(kLockCommand));
        ASSERT_EQ(dialog.settings().showSettings, 0);
    }
};

TEST_F(SettingsLockTest, ApplyingTheStateSetsTheItemTextAndTheMainOptions) {
    struct Case {
        int unlocked;
        const char* itemText;
        bool optionsEnabled;
    };
    for (const Case& c : {Case{0, "&Unlock Settings", false}, Case{1, "&Lock Settings", true},
                          Case{7, "&Lock Settings", true}}) {
        view.setEnabled(IDC_STATUS_LAMP, false);
        dialog.settingsLock().applySettingsLock(c.unlocked);
        EXPECT_EQ(lockItemText(), c.itemText);
        for (int id : kMainOptions) {
            EXPECT_EQ(view.isEnabled(id), c.optionsEnabled) << id;
        }
        EXPECT_TRUE(view.isEnabled(IDC_STATUS_LAMP));
        EXPECT_TRUE(view.isEnabled(IDC_START));
    }
}

TEST_F(SettingsLockTest, TogglingTwiceRestoresTheUnlockedWindow) {
    const unsigned commands[] = {0x20, 0x2F, 0x21, 0x20};
    int expected = 1;
    for (unsigned command : commands) {
        EXPECT_TRUE(dialog.onSysCommand(command));
        expected = expected ? 0 : 1;
        EXPECT_EQ(dialog.settings().showSettings, expected) << command;
        EXPECT_EQ(view.isEnabled(IDC_ERASE), expected == 1);
        EXPECT_EQ(lockItemText(), expected ? "&Lock Settings" : "&Unlock Settings");
    }
    // Nothing is written and nothing reaches the unit.
    EXPECT_TRUE(libraryCalls().empty());
}

TEST_F(SettingsLockTest, EveryLockedSettingRevertsToItsStoredValue) {
    struct Case {
        const char* what;
        std::function<void()> act;
        std::function<bool()> showsStored;
        bool marksEstimate;
    };
    const Case cases[] = {
        {"COM port", [&] { view.selectRow(IDC_COM_PORT, 5); },
         [&] { return view.listSelection(IDC_COM_PORT) == 0; }, false},
        {"baud rate", [&] { view.selectRow(IDC_BAUD_RATE, 1); },
         [&] { return view.listSelection(IDC_BAUD_RATE) == 4; }, false},
        {"supplied by programmer", [&] { view.click(IDC_SUPPLY_BY_PROG); },
         [&] { return view.isChecked(IDC_SUPPLY_BY_PROG); }, false},
        {"switch Vcc off", [&] { view.click(IDC_SWITCH_VCC_OFF); },
         [&] { return !view.isChecked(IDC_SWITCH_VCC_OFF); }, false},
        {"supply voltage", [&] { view.selectRow(IDC_SUPPLY_VOLTAGE, 3); },
         [&] { return view.listSelection(IDC_SUPPLY_VOLTAGE) == 12; }, false},
        {"settling time", [&] { view.selectRow(IDC_SETTLE_TIME, 9); },
         [&] { return view.listSelection(IDC_SETTLE_TIME) == 1; }, false},
        {"protected info", [&] { view.click(IDC_ERASE_PINFO); },
         [&] { return !view.isChecked(IDC_ERASE_PINFO); }, false},
        {"main memory", [&] { view.click(IDC_ERASE_MAIN); },
         [&] { return view.isChecked(IDC_ERASE_MAIN); }, true},
        {"info memory", [&] { view.click(IDC_ERASE_INFO); },
         [&] { return view.isChecked(IDC_ERASE_INFO); }, true},
        {"restore",
         [&] {
             view.setVisible(IDC_RESTORE_DCO, true);
             view.click(IDC_RESTORE_DCO);
         },
         [&] { return !view.isChecked(IDC_RESTORE_DCO); }, false},
        // Disabled while locked; a click that arrives anyway changes nothing.
        {"erase", [&] { dialog.onCommand(IDC_ERASE, notify::kClicked); },
         [&] { return view.isChecked(IDC_ERASE); }, false},
    };
    lock();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialog.flags().estimateStale = 0;
        c.act();
        EXPECT_TRUE(c.showsStored());
        EXPECT_EQ(dialog.flags().estimateStale, c.marksEstimate ? 1 : 0);
        EXPECT_TRUE(view.messageBoxes().empty());
    }
    EXPECT_TRUE(libraryCalls().empty());
    EXPECT_FALSE(dialog.bracket().operationActive());
}

TEST_F(SettingsLockTest, BslMemoryAsksEvenWhileLocked) {
    lock();
    view.answerMessageBoxes({mb::kIdYes});
    view.click(IDC_ERASE_BSL);
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_TRUE(view.isChecked(IDC_ERASE_BSL));
    EXPECT_EQ(dialog.settings().eraseBslSegm, 1);
}

TEST_F(SettingsLockTest, LockingKeepsWhatTheWindowShowedThen) {
    // Taken over at the next transfer: the lock itself is that transfer.
    view.click(IDC_ERASE_MAIN);
    EXPECT_FALSE(view.isChecked(IDC_ERASE_MAIN));
    lock();
    view.click(IDC_SUPPLY_BY_PROG); // reverted
    EXPECT_FALSE(view.isChecked(IDC_ERASE_MAIN));
    EXPECT_EQ(dialog.settings().eraseMain, 0);
}

TEST_F(SettingsLockTest, UnlockedSettingsActAgain) {
    lock();
    ASSERT_TRUE(dialog.onSysCommand(kLockCommand));
    view.selectRow(IDC_COM_PORT, 2);
    view.click(IDC_SUPPLY_BY_PROG);
    EXPECT_EQ(libraryCalls(),
              (std::vector<std::string>{"InitCom \\\\.\\COM3 115200", "OctoSetVccTarget 0"}));
}

TEST_F(SettingsLockTest, LockingDuringAnOperationHoldsAfterIt) {
    dialog.beginOperation();
    lock();
    EXPECT_FALSE(view.isEnabled(IDC_ERASE));
    dialog.endOperation();
    for (int id : kMainOptions) {
        EXPECT_FALSE(view.isEnabled(id)) << id;
    }
    EXPECT_TRUE(view.isEnabled(IDC_START));

    // Unlocking during an operation leaves the boxes closed until it ends.
    dialog.beginOperation();
    ASSERT_TRUE(dialog.onSysCommand(kLockCommand));
    EXPECT_FALSE(view.isEnabled(IDC_ERASE));
    dialog.endOperation();
    for (int id : kMainOptions) {
        EXPECT_TRUE(view.isEnabled(id)) << id;
    }
}

TEST_F(SettingsLockTest, HelpWindowCommandBringsAnOpenHelpWindowForward) {
    EXPECT_TRUE(dialog.onSysCommand(kHelpCommand));
    EXPECT_TRUE(view.activatedTopWindows().empty());
    view.topWindows().insert("Help for Octo Programmer");
    view.topWindows().insert("Other");
    EXPECT_TRUE(dialog.onSysCommand(kHelpCommand + 3));
    EXPECT_EQ(view.activatedTopWindows(), std::vector<std::string>{"Help for Octo Programmer"});
}

TEST_F(SettingsLockTest, AboutAndOtherCommandsLeaveTheLockAlone) {
    for (unsigned command : {0x10u, 0x30u, 0xF020u}) {
        dialog.onSysCommand(command);
        EXPECT_EQ(dialog.settings().showSettings, 1) << command;
        EXPECT_EQ(lockItemText(), "&Lock Settings");
    }
}

} // namespace
} // namespace octo
