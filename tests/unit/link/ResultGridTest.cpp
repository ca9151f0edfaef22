// The result block as lamps: the locked-target rule, the addressed rows, the pictures of
// each row, greying before an operation, and the status lamp table.
#include "link/ResultGrid.h"
#include "settings/ConfigKeys.h"
#include "support/DialogFixture.h"
#include "support/DialogWithIni.h"

#include <gtest/gtest.h>

#include <array>

namespace octo {
namespace {

using testing::DialogFixture;
using State = LampState;

constexpr uint8_t kTarget1 = 0x01;
constexpr uint8_t kTarget3 = 0x04;
constexpr uint8_t kAll = 0xFF;
constexpr std::array<bool, kResultRows> kAllRows = {true, true, true, true, true};
constexpr std::array<bool, kResultRows> kOuterRows = {true, false, false, false, true};

std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block(uint8_t connected, uint8_t eraseChecked,
                                                   uint8_t verified, uint8_t fuseBlown,
                                                   uint8_t overAll, uint8_t miscErrors = 0) {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> b{};
    b[0] = connected;
    b[1] = eraseChecked;
    b[2] = verified;
    b[3] = fuseBlown;
    b[4] = overAll;
    b[5] = miscErrors;
    return b;
}

TEST(ResultLampState, FollowsTheBitsTheLockAndTheAddressedRows) {
    struct Case {
        const char* what;
        std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block;
        std::array<bool, kResultRows> addressed;
        bool afterRun;
        int target;
        std::array<State, kResultRows> expected; // rows 0 to 4
    };
    const Case cases[] = {
        {"passed target after a run",
         block(kTarget1, kTarget1, kTarget1, kTarget1, kTarget1),
         kAllRows,
         true,
         0,
         {State::On, State::On, State::On, State::On, State::On}},
        {"connected target that failed everything",
         block(kTarget1, 0, 0, 0, 0),
         kAllRows,
         true,
         0,
         {State::On, State::Off, State::Off, State::Off, State::Off}},
        {"unconnected target",
         block(0, kAll, kAll, 0, kAll),
         kAllRows,
         true,
         0,
         {State::Grey, State::Grey, State::Grey, State::Grey, State::Grey}},
        {"rows the run did not address",
         block(kTarget1, kTarget1, kTarget1, 0, kTarget1),
         kOuterRows,
         true,
         0,
         {State::On, State::Grey, State::Grey, State::Grey, State::On}},
        {"locked target that answered",
         block(kTarget1, kTarget1, kTarget1, kTarget1, 0),
         kAllRows,
         true,
         0,
         {State::On, State::Grey, State::Grey, State::On, State::Off}},
        {"locked target that did not answer",
         block(0, kTarget1, kTarget1, kTarget1, 0),
         kAllRows,
         true,
         0,
         {State::Off, State::Grey, State::Grey, State::On, State::Grey}},
        {"locked target, secured row not addressed",
         block(kTarget1, 0, 0, kTarget1, 0),
         kOuterRows,
         true,
         0,
         {State::On, State::Grey, State::Grey, State::On, State::Off}},
        {"secured target that passed is not locked",
         block(0, 0, 0, kTarget1, kTarget1),
         kAllRows,
         true,
         0,
         {State::Grey, State::Grey, State::Grey, State::Grey, State::Grey}},
        {"before a run nothing counts but the lock",
         block(kTarget1, kTarget1, kTarget1, 0, kTarget1),
         kAllRows,
         false,
         0,
         {State::Grey, State::Grey, State::Grey, State::Grey, State::Grey}},
        {"bit of another target",
         block(kTarget1, kTarget1, kTarget1, kTarget1, kTarget1),
         kAllRows,
         true,
         2,
         {State::Grey, State::Grey, State::Grey, State::Grey, State::Grey}},
        {"target 3 on its own bit",
         block(kTarget3, 0, kTarget3, 0, kTarget3),
         kAllRows,
         true,
         2,
         {State::On, State::Off, State::On, State::Off, State::On}},
        {"target 8",
         block(0x80, 0x80, 0, 0, 0x80),
         kAllRows,
         true,
         7,
         {State::On, State::On, State::Off, State::Off, State::On}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int row = 0; row < kResultRows; ++row) {
            EXPECT_EQ(resultLampState(c.block, c.addressed, c.afterRun, row, c.target),
                      c.expected[row])
                << "row " << row;
        }
    }
}

TEST(ResultLampState, AddressedRowsFollowTheOptions) {
    EXPECT_EQ(addressedRows(false, false, false), kOuterRows);
    EXPECT_EQ(addressedRows(true, true, true), kAllRows);
    EXPECT_EQ(addressedRows(true, false, false),
              (std::array<bool, kResultRows>{true, true, false, false, true}));
    EXPECT_EQ(addressedRows(false, true, false),
              (std::array<bool, kResultRows>{true, false, true, false, true}));
    EXPECT_EQ(addressedRows(false, false, true),
              (std::array<bool, kResultRows>{true, false, false, true, true}));
}

TEST(ResultLampBitmap, RowsZeroToThreeUseWhiteAndTheLastRowGreenAndRed) {
    for (int row = 0; row < kResultRows - 1; ++row) {
        EXPECT_EQ(resultLampBitmap(row, State::On), IDB_LAMP_WHITE_TICK) << row;
        EXPECT_EQ(resultLampBitmap(row, State::Off), IDB_LAMP_WHITE) << row;
        EXPECT_EQ(resultLampBitmap(row, State::Grey), IDB_LAMP_GREY) << row;
    }
    EXPECT_EQ(resultLampBitmap(kOverAllByte, State::On), IDB_LAMP_GREEN_TICK);
    EXPECT_EQ(resultLampBitmap(kOverAllByte, State::Off), IDB_LAMP_RED);
    EXPECT_EQ(resultLampBitmap(kOverAllByte, State::Grey), IDB_LAMP_GREY);
    EXPECT_EQ(resultLampId(0, 0), 1020);
    EXPECT_EQ(resultLampId(4, 7), 1059);
    EXPECT_EQ(resultLampId(2, 3), 1039);
}

class ShowResultTest : public DialogFixture<> {
protected:
    void setBlock(const std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES>& b) { state.runResult = b; }
    int lampOf(int row, int target) const { return view.lamp(resultLampId(row, target)); }
};

TEST_F(ShowResultTest, BeforeAnOperationEveryLampTurnsGreyAndTheFuseByteIsCleared) {
    setBlock(block(kAll, kAll, kAll, kTarget3, 0, 7));
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        view.setLamp(id, IDB_LAMP_GREEN_TICK);
    }
    EXPECT_EQ(dialog.results().showResult(false), 7);
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        EXPECT_EQ(view.lamp(id), IDB_LAMP_GREY) << id;
    }
    EXPECT_EQ(state.runResult[kFuseBlownByte], 0);
    EXPECT_EQ(state.runResult[kConnectedByte], kAll);
    EXPECT_EQ(state.runResult[kMiscErrorsByte], 7);
}

TEST_F(ShowResultTest, AfterARunEachTargetShowsItsOwnColumn) {
    // Target 1 passed, 2 failed verify, 3 is locked and did not answer, 4 answered and
    // failed everything, 5 to 8 are absent.
    dialog.settings().eraseCheck = 1;
    dialog.settings().verify = 1;
    dialog.settings().blowFuse = 1;
    setBlock(block(0x0B, 0x03, 0x01, 0x05, 0x01, 0));
    EXPECT_EQ(dialog.results().showResult(true), 0);
    const int expected[4][kResultRows] = {
        {IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE_TICK,
         IDB_LAMP_GREEN_TICK},
        {IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE, IDB_LAMP_WHITE, IDB_LAMP_RED},
        {IDB_LAMP_WHITE, IDB_LAMP_GREY, IDB_LAMP_GREY, IDB_LAMP_WHITE_TICK, IDB_LAMP_GREY},
        {IDB_LAMP_WHITE_TICK, IDB_LAMP_WHITE, IDB_LAMP_WHITE, IDB_LAMP_WHITE, IDB_LAMP_RED},
    };
    for (int target = 0; target < 4; ++target) {
        for (int row = 0; row < kResultRows; ++row) {
            EXPECT_EQ(lampOf(row, target), expected[target][row])
                << "target " << target + 1 << " row " << row;
        }
    }
    for (int target = 4; target < kResultTargets; ++target) {
        for (int row = 0; row < kResultRows; ++row) {
            EXPECT_EQ(lampOf(row, target), IDB_LAMP_GREY) << target << "/" << row;
        }
    }
}

TEST_F(ShowResultTest, WithOnlyTheOuterRowsAddressedTheMiddleRowsStayGrey) {
    dialog.settings().eraseCheck = 0;
    dialog.settings().verify = 0;
    dialog.settings().blowFuse = 0;
    setBlock(block(kAll, kAll, kAll, 0, 0x0F));
    dialog.results().showResult(true);
    for (int target = 0; target < kResultTargets; ++target) {
        EXPECT_EQ(lampOf(0, target), IDB_LAMP_WHITE_TICK);
        for (int row = 1; row <= 3; ++row) {
            EXPECT_EQ(lampOf(row, target), IDB_LAMP_GREY) << target << "/" << row;
        }
        EXPECT_EQ(lampOf(4, target), target < 4 ? IDB_LAMP_GREEN_TICK : IDB_LAMP_RED);
    }
}

class DiagnosticTest : public testing::DialogWithIni {
protected:
    std::array<int32_t, kDiagnosticKeys.size()> diagnostic() {
        std::array<int32_t, kDiagnosticKeys.size()> values{};
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = iniInt(ini::kDiagnostic, kDiagnosticKeys[i]);
        }
        return values;
    }
};

TEST_F(DiagnosticTest, EachShowMirrorsTheSixBytesIntoTheFile) {
    ini("[System]\r\nErase=1\r\n[Diagnostic]\r\nBusy=1\r\nConnected=9\r\n");
    state.runResult = block(0xFF, 0x0F, 0x03, 0x81, 0x7E, 4);
    dialog.results().showResult(true);
    EXPECT_EQ(diagnostic(), (std::array<int32_t, 6>{255, 15, 3, 129, 126, 4}));
    // Before an operation the fuse byte is cleared first; the others keep the block's.
    dialog.results().showResult(false);
    EXPECT_EQ(diagnostic(), (std::array<int32_t, 6>{255, 15, 3, 0, 126, 4}));
    EXPECT_EQ(iniInt(ini::kDiagnostic, ini::kBusy), 1);
    EXPECT_EQ(iniInt(ini::kSystem, ini::kErase), 1);
}

TEST_F(DiagnosticTest, WithoutAConfigurationFileNoneIsCreated) {
    dialog.results().showResult(false);
    EXPECT_FALSE(std::filesystem::exists(dialog.configPath()));
    EXPECT_EQ(view.lamp(IDC_RESULT_FIRST), IDB_LAMP_GREY);
}

class StatusLampTest : public DialogFixture<> {};

TEST_F(StatusLampTest, TableHoldsTheLampAndItsFourPictures) {
    const auto& table = state.statusLampTable;
    EXPECT_EQ(table.entry[0], view.controlHandle(IDC_STATUS_LAMP));
    EXPECT_EQ(table.entry[1], view.bitmapHandle(IDB_LAMP_RED));
    EXPECT_EQ(table.entry[2], view.bitmapHandle(IDB_LAMP_GREEN_TICK));
    EXPECT_EQ(table.entry[3], view.bitmapHandle(IDB_LAMP_INFO));
    EXPECT_EQ(table.entry[4], view.bitmapHandle(IDB_LAMP_GREY));
    for (void* entry : table.entry) {
        EXPECT_NE(entry, nullptr);
    }
}

TEST_F(StatusLampTest, EachEntryShowsItsPictureAndOthersChangeNothing) {
    const int pictures[] = {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO, IDB_LAMP_GREY};
    for (int entry = 1; entry <= 4; ++entry) {
        dialog.results().setStatusLamp(entry);
        EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), pictures[entry - 1]) << entry;
    }
    dialog.results().setStatusLamp(2);
    for (int outside : {0, 5, -1}) {
        dialog.results().setStatusLamp(outside);
        EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_GREEN_TICK) << outside;
    }
    // The grid is not the status lamp.
    EXPECT_EQ(view.lamp(IDC_RESULT_FIRST), 0);
}

TEST_F(StatusLampTest, InitHandsTheSameTableToTheLibraryOnce) {
    const OctoStatusLampTable before = state.statusLampTable;
    dialog.results().initStatusLamp();
    EXPECT_EQ(library->calls("InitStatusLamp"), 1);
    for (int entry = 0; entry < OCTO_STATUS_LAMP_ENTRIES; ++entry) {
        EXPECT_EQ(state.statusLampTable.entry[entry], before.entry[entry]) << entry;
    }
}

} // namespace
} // namespace octo
