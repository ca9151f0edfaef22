// Target power and the erase options: the list values, the supply code sent to the unit
// and its outcome in the status line, the settling time, the dependencies of the erase
// boxes and the two confirmations.
#include "ops/TargetPower.h"
#include "support/DialogFixture.h"

#include <gtest/gtest.h>

namespace octo {
namespace {

using testing::DialogFixture;
using testing::FakeLibrary;

constexpr char kModified[] = "Target power settings modified.  ";
constexpr char kSupplyFailed[] = "ERROR: Unable to set target voltage !";
constexpr char kAttention[] = "Attention!";
constexpr char kAskProtected[] =
    "This option will enable erasing of protected data.\nAre you sure?";
constexpr char kAskBsl[] =
    "This option will enable erasing of protected BSL memory data.\nAre you sure?";

TEST(TargetPowerLists, SettlingTimesRiseByTenthsThenByHalves) {
    const struct {
        int row;
        uint16_t ms;
    } cases[] = {{0, 100},   {1, 200},   {9, 1000},  {13, 1400}, {14, 1500}, {15, 2000},
                 {16, 2500}, {20, 4500}, {21, 5000}, {-1, 100},  {22, 5000}, {1000, 5000}};
    for (const auto& c : cases) {
        EXPECT_EQ(settleTimeMs(c.row), c.ms) << c.row;
    }
    for (int row = 0; row < 22; ++row) {
        EXPECT_EQ(settleTimeMs(row), row < 15 ? 100 * (row + 1) : 1500 + 500 * (row - 14)) << row;
    }
    const auto rows = settleTimeRows();
    ASSERT_EQ(rows.size(), 22u);
    EXPECT_EQ(rows.front().text, " 0.1 s");
    EXPECT_EQ(rows[13].text, " 1.4 s");
    EXPECT_EQ(rows[14].text, " 1.5 s");
    EXPECT_EQ(rows[15].text, " 2.0 s");
    EXPECT_EQ(rows.back().text, " 5.0 s");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].ms, settleTimeMs(static_cast<int>(i)));
        EXPECT_NE(rows[i].text, " 0.0 s");
    }
}

TEST(TargetPowerLists, VoltagesRunFromTheLowestToTheHighestOffered) {
    const struct {
        int maxIndex; // MaxSupplyVoltage - 18
        std::size_t rows;
        const char* last;
    } cases[] = {
        {18, 19, " 3.6 V"},
        {15, 16, " 3.3 V"},
        {0, 1, " 1.8 V"},
        // Below the lowest voltage one row stays; above what the unit generates, none is added.
        {-3, 1, " 1.8 V"},
        {25, 19, " 3.6 V"},
    };
    for (const auto& c : cases) {
        const auto rows = supplyVoltageRows(c.maxIndex);
        ASSERT_EQ(rows.size(), c.rows) << c.maxIndex;
        EXPECT_EQ(rows.front(), " 1.8 V");
        EXPECT_EQ(rows.back(), c.last);
    }
    const auto rows = supplyVoltageRows(18);
    EXPECT_EQ(rows[2], " 2.0 V");
    EXPECT_EQ(rows[12], " 3.0 V");
}

class TargetPowerTest : public DialogFixture<> {
protected:
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    void setPower(bool supplied, bool switchOff, int voltageIndex) {
        view.setChecked(IDC_SUPPLY_BY_PROG, supplied);
        view.setChecked(IDC_SWITCH_VCC_OFF, switchOff);
        view.setListSelection(IDC_SUPPLY_VOLTAGE, voltageIndex);
    }
};

TEST_F(TargetPowerTest, ListsAreFilledAndStoredPositionsFitIntoThem) {
    EXPECT_EQ(view.listCount(IDC_SUPPLY_VOLTAGE), 19);
    EXPECT_EQ(view.listCount(IDC_SETTLE_TIME), 22);
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), " 3.0 V");
    EXPECT_EQ(view.text(IDC_SETTLE_TIME), " 0.2 s");

    dialog.settings().maxSupplyIndex = 33 - 18;
    dialog.settings().supplyVoltage = 36 - 18;
    dialog.settings().settleTime = 40;
    dialog.targetPower().fillTargetPowerLists();
    dialog.showMembers();
    EXPECT_EQ(view.listCount(IDC_SUPPLY_VOLTAGE), 16);
    EXPECT_EQ(view.listCount(IDC_SETTLE_TIME), 22) << "filled anew, not appended to";
    EXPECT_EQ(view.text(IDC_SUPPLY_VOLTAGE), " 3.3 V");
    EXPECT_EQ(view.text(IDC_SETTLE_TIME), " 5.0 s");

    dialog.settings().supplyVoltage = -2;
    dialog.settings().settleTime = -1;
    dialog.targetPower().fillTargetPowerLists();
    EXPECT_EQ(dialog.settings().supplyVoltage, 0);
    EXPECT_EQ(dialog.settings().settleTime, 0);
}

TEST_F(TargetPowerTest, TheSupplyCodeAndItsOutcomeReachTheStatusLine) {
    struct Case {
        const char* what;
        bool supplied, switchOff;
        int voltageIndex;
        int32_t answer;
        const char* expectedCall;
        std::string expectedStatus;
        int32_t expectedLastResult;
    };
    const Case cases[] = {
        {"supplied at 3.0 V", true, false, 12, 0, "OctoSetVccTarget 30", kModified, 0},
        {"supplied at 1.8 V", true, false, 0, 0, "OctoSetVccTarget 18", kModified, 0},
        {"supplied at 3.6 V", true, false, 18, 0, "OctoSetVccTarget 36", kModified, 0},
        {"switched off between operations", true, true, 12, 0, "OctoSetVccTarget 1", kModified, 0},
        {"not supplied", false, true, 12, 0, "OctoSetVccTarget 0", kModified, 0},
        {"not supplied, nothing to switch", false, false, 12, 46, "OctoSetVccTarget 0", kModified,
         0},
        {"supplied, nothing switched", true, false, 12, 46, "OctoSetVccTarget 30",
         FakeLibrary::errorText(46), 46},
        {"failed with details", true, false, 12, 8, "OctoSetVccTarget 30", kSupplyFailed, 8},
        {"no answer", true, false, 12, 6, "OctoSetVccTarget 30", FakeLibrary::errorText(6), 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        library->script("OctoSetVccTarget", {c.answer});
        setPower(c.supplied, c.switchOff, c.voltageIndex);
        const int sent = library->calls("OctoSetVccTarget");
        log.clear();
        dialog.targetPower().applyTargetPower();
        EXPECT_EQ(library->calls("OctoSetVccTarget"), sent + 1);
        EXPECT_TRUE(log.contains(c.expectedCall));
        EXPECT_EQ(status(), c.expectedStatus);
        EXPECT_EQ(state.lastResult, c.expectedLastResult);
        for (int id : {IDC_SUPPLY_VOLTAGE, IDC_SWITCH_VCC_OFF, IDC_SETTLE_TIME}) {
            EXPECT_EQ(view.isEnabled(id), c.supplied) << id;
        }
    }
}

TEST_F(TargetPowerTest, ClearingSuppliedByProgrammerSendsZeroAndDisablesThePowerControls) {
    view.selectRow(IDC_SETTLE_TIME, 5);
    EXPECT_EQ(dialog.targetPower().settleMs(), 600);
    view.click(IDC_SUPPLY_BY_PROG);
    EXPECT_EQ(libraryCalls().back(), "OctoSetVccTarget 0");
    EXPECT_EQ(dialog.settings().supplyByProg, 0);
    EXPECT_EQ(dialog.targetPower().settleMs(), 0);
    EXPECT_FALSE(view.isEnabled(IDC_SUPPLY_VOLTAGE));
    EXPECT_FALSE(view.isEnabled(IDC_SWITCH_VCC_OFF));
    EXPECT_FALSE(view.isEnabled(IDC_SETTLE_TIME));
    EXPECT_EQ(status(), kModified);

    view.click(IDC_SUPPLY_BY_PROG);
    EXPECT_EQ(libraryCalls().back(), "OctoSetVccTarget 30");
    EXPECT_EQ(dialog.targetPower().settleMs(), 600);
    EXPECT_TRUE(view.isEnabled(IDC_SETTLE_TIME));
}

TEST_F(TargetPowerTest, WithSwitchVccOffAVoltageChangeSendsOne) {
    view.click(IDC_SWITCH_VCC_OFF);
    EXPECT_EQ(libraryCalls().back(), "OctoSetVccTarget 1");
    view.selectRow(IDC_SUPPLY_VOLTAGE, 15);
    EXPECT_EQ(libraryCalls().back(), "OctoSetVccTarget 1");
    EXPECT_EQ(dialog.settings().supplyVoltage, 15);
    view.click(IDC_SWITCH_VCC_OFF);
    EXPECT_EQ(libraryCalls().back(), "OctoSetVccTarget 33");
}

TEST_F(TargetPowerTest, WithoutAnOfferedVoltageNothingIsSent) {
    view.setListSelection(IDC_SUPPLY_VOLTAGE, -1);
    dialog.targetPower().applyTargetPower();
    EXPECT_EQ(library->calls("OctoSetVccTarget"), 0);
    EXPECT_EQ(status(), kSupplyFailed);
    EXPECT_NE(state.lastResult, 0);
    EXPECT_EQ(dialog.targetPower().targetSupplyCode(), -1);
}

TEST_F(TargetPowerTest, SettleTimeFollowsTheListAndIsNotSent) {
    const struct {
        int row;
        uint16_t ms;
    } cases[] = {{14, 1500}, {15, 2000}, {0, 100}, {21, 5000}};
    for (const auto& c : cases) {
        dialog.flags().estimateStale = 0;
        view.selectRow(IDC_SETTLE_TIME, c.row);
        EXPECT_EQ(dialog.targetPower().settleMs(), c.ms) << c.row;
        EXPECT_EQ(dialog.settings().settleTime, c.row);
        EXPECT_EQ(dialog.flags().estimateStale, 1);
    }
    EXPECT_TRUE(libraryCalls().empty());
}

class EraseOptionsTest : public TargetPowerTest {
protected:
    void deviceHas(bool bsl, bool protectedInfo) {
        dialog.deviceType().hasBsl = bsl ? 1 : 0;
        dialog.deviceType().hasProtectedInfo = protectedInfo ? 1 : 0;
    }
};

TEST_F(EraseOptionsTest, ClearingEraseAndEraseCheckClosesTheEraseArea) {
    deviceHas(true, true);
    view.setChecked(IDC_ERASE_BSL, true);
    view.setChecked(IDC_ERASE_PINFO, true);
    view.click(IDC_ERASE);
    EXPECT_TRUE(view.isEnabled(IDC_ERASE_MAIN)); // Erase Check still set
    view.click(IDC_ERASE_CHECK);
    for (int id : {IDC_ERASE_MAIN, IDC_ERASE_INFO, IDC_ERASE_PINFO}) {
        EXPECT_FALSE(view.isChecked(id)) << id;
        EXPECT_FALSE(view.isEnabled(id)) << id;
    }
    EXPECT_TRUE(view.isChecked(IDC_RESTORE_DCO));
    EXPECT_FALSE(view.isEnabled(IDC_RESTORE_DCO));
    EXPECT_FALSE(view.isEnabled(IDC_ERASE_BSL));
    EXPECT_TRUE(view.isChecked(IDC_ERASE_BSL)); // its check mark stays
    EXPECT_EQ(dialog.flags().estimateStale, 1);
}

TEST_F(EraseOptionsTest, CheckingEraseAgainOpensTheAreaByTheDevice) {
    struct Case {
        const char* what;
        bool bsl, protectedInfo, infoChecked;
        bool bslEnabled, pinfoEnabled;
    };
    const Case cases[] = {
        {"everything", true, true, true, true, true},
        {"no BSL memory", false, true, true, false, true},
        {"no protected info", true, false, true, true, false},
        {"info memory cleared", true, true, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        deviceHas(c.bsl, c.protectedInfo);
        view.setChecked(IDC_ERASE, false);
        view.setChecked(IDC_ERASE_CHECK, false);
        dialog.targetPower().eraseOptionsChanged();
        view.setChecked(IDC_ERASE_INFO, c.infoChecked);
        view.click(IDC_ERASE);
        EXPECT_TRUE(view.isChecked(IDC_ERASE_MAIN));
        EXPECT_TRUE(view.isEnabled(IDC_ERASE_MAIN));
        EXPECT_TRUE(view.isEnabled(IDC_ERASE_INFO));
        EXPECT_EQ(view.isEnabled(IDC_ERASE_BSL), c.bslEnabled);
        EXPECT_EQ(view.isEnabled(IDC_ERASE_PINFO), c.pinfoEnabled);
    }
}

TEST_F(EraseOptionsTest, EraseCheckedMainMemoryIsCheckedAgainEvenIfClearedBefore) {
    view.click(IDC_ERASE_MAIN);
    EXPECT_FALSE(view.isChecked(IDC_ERASE_MAIN));
    view.click(IDC_ERASE_CHECK);
    EXPECT_TRUE(view.isChecked(IDC_ERASE_MAIN));
}

TEST_F(EraseOptionsTest, InfoMemoryRulesTheProtectedInfoBox) {
    deviceHas(false, true);
    view.setChecked(IDC_ERASE_PINFO, true);
    view.click(IDC_ERASE_INFO); // cleared
    EXPECT_FALSE(view.isChecked(IDC_ERASE_PINFO));
    EXPECT_FALSE(view.isEnabled(IDC_ERASE_PINFO));
    EXPECT_TRUE(view.messageBoxes().empty()); // clearing asks nothing
    view.click(IDC_ERASE_INFO);               // checked again
    EXPECT_TRUE(view.isEnabled(IDC_ERASE_PINFO));
    EXPECT_EQ(dialog.settings().eraseInfo, 1);

    deviceHas(false, false);
    view.click(IDC_ERASE_INFO);
    view.click(IDC_ERASE_INFO);
    EXPECT_FALSE(view.isEnabled(IDC_ERASE_PINFO));
}

TEST_F(EraseOptionsTest, RecheckingInfoMemoryWithProtectedInfoCheckedAsksAgain) {
    deviceHas(false, true);
    view.setChecked(IDC_ERASE_INFO, false);
    view.setChecked(IDC_ERASE_PINFO, true);
    view.answerMessageBoxes({mb::kIdNo});
    view.click(IDC_ERASE_INFO);
    ASSERT_EQ(view.messageBoxes().size(), 1u);
    EXPECT_FALSE(view.isChecked(IDC_ERASE_PINFO));
    EXPECT_EQ(dialog.settings().erasePinfo, 0);
}

TEST_F(EraseOptionsTest, ProtectedDataQuestionsKeepTheBoxOnlyOnYes) {
    struct Case {
        int box;
        const char* question;
        int answer;
        bool keptChecked;
    };
    const Case cases[] = {
        {IDC_ERASE_PINFO, kAskProtected, mb::kIdYes, true},
        {IDC_ERASE_PINFO, kAskProtected, mb::kIdNo, false},
        {IDC_ERASE_BSL, kAskBsl, mb::kIdYes, true},
        {IDC_ERASE_BSL, kAskBsl, mb::kIdNo, false},
        {IDC_ERASE_BSL, kAskBsl, mb::kIdCancel, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.box) + " " + std::to_string(c.answer));
        view.setChecked(c.box, false);
        view.setEnabled(c.box, true);
        const std::size_t shown = view.messageBoxes().size();
        view.answerMessageBoxes({c.answer});
        view.click(c.box);
        ASSERT_EQ(view.messageBoxes().size(), shown + 1);
        const auto& box = view.messageBoxes().back();
        EXPECT_EQ(box.caption, kAttention);
        EXPECT_EQ(box.text, c.question);
        EXPECT_EQ(box.style, mb::kYesNo | mb::kIconExclamation);
        EXPECT_EQ(view.isChecked(c.box), c.keptChecked);
        const int flag = c.box == IDC_ERASE_PINFO ? dialog.settings().erasePinfo
                                                  : dialog.settings().eraseBslSegm;
        EXPECT_EQ(flag, c.keptChecked ? 1 : 0);

        // Clearing the box asks nothing.
        if (c.keptChecked) {
            view.click(c.box);
            EXPECT_EQ(view.messageBoxes().size(), shown + 1);
            EXPECT_FALSE(view.isChecked(c.box));
        }
    }
}

TEST_F(EraseOptionsTest, ActionBoxesOnlyMarkTheEstimateStale) {
    for (int id : {IDC_PROGRAM, IDC_VERIFY, IDC_SECURE}) {
        dialog.flags().estimateStale = 0;
        view.setChecked(IDC_ERASE_MAIN, false);
        view.click(id);
        EXPECT_EQ(dialog.flags().estimateStale, 1) << id;
        EXPECT_FALSE(view.isChecked(IDC_ERASE_MAIN)) << id; // no erase rule ran
    }
    EXPECT_TRUE(libraryCalls().empty());
}

TEST_F(EraseOptionsTest, RestoreIsTakenOverWithoutMarkingTheEstimate) {
    view.setVisible(IDC_RESTORE_DCO, true); // hidden in the window; a click still arrives
    dialog.flags().estimateStale = 0;
    view.click(IDC_RESTORE_DCO);
    EXPECT_EQ(dialog.settings().restoreDco, 1);
    EXPECT_EQ(dialog.flags().estimateStale, 0);
    dialog.flags().estimateStale = 0;
    view.click(IDC_ERASE_MAIN);
    EXPECT_EQ(dialog.flags().estimateStale, 1);
    EXPECT_EQ(dialog.settings().eraseMain, 1); // taken over at the next transfer
}

} // namespace
} // namespace octo
