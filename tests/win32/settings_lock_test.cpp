// The real dialog 102 in this process: the lock item's text and the grey states of the
// system menu through the settings lock and the operation bracket, mouse capture, and the
// lamps as the real bitmap buttons show them.
#include "DialogWindowTest.h"
#include "link/ResultGrid.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>

namespace octo {
namespace {

// The start-up command needs the program's files beside it; these tests set the window up
// themselves.
class WindowOnlyDialog : public ProgrammerDialog {
public:
    using ProgrammerDialog::ProgrammerDialog;

protected:
    void onStartupCommand() override {}
};

class SettingsLockWindowTest : public testing::DialogWindowTest<WindowOnlyDialog> {
protected:
    SettingsLockWindowTest() { pump(); }

    bool controlEnabled(int id) const { return IsWindowEnabled(GetDlgItem(hwnd, id)) != FALSE; }

    HBITMAP shownBitmap(int id) const {
        return reinterpret_cast<HBITMAP>(
            SendMessageA(GetDlgItem(hwnd, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
    }
};

TEST_F(SettingsLockWindowTest, LockItemTextAndOptionBoxesFollowTheSystemCommand) {
    struct Step {
        const char* itemText;
        bool optionsEnabled;
    };
    const Step steps[] = {{"&Unlock Settings", false}, {"&Lock Settings", true}};
    for (const Step& step : steps) {
        SendMessageA(hwnd, WM_SYSCOMMAND, IDM_LOCK_SETTINGS, 0);
        pump();
        const auto menu = systemMenuByCommand();
        ASSERT_TRUE(menu.contains(IDM_LOCK_SETTINGS));
        EXPECT_EQ(menu.at(IDM_LOCK_SETTINGS).text, step.itemText);
        EXPECT_FALSE(menu.at(IDM_LOCK_SETTINGS).grey);
        for (int id = IDC_ERASE; id <= IDC_SECURE; ++id) {
            EXPECT_EQ(controlEnabled(id), step.optionsEnabled) << id;
        }
        EXPECT_TRUE(controlEnabled(IDC_START));
        EXPECT_TRUE(controlEnabled(IDC_STATUS_LAMP));
    }
}

TEST_F(SettingsLockWindowTest, AnOperationGreysCloseAndAboutButNotTheLock) {
    dialog.beginOperation();
    auto menu = systemMenuByCommand();
    EXPECT_TRUE(menu.at(SC_CLOSE).grey);
    EXPECT_TRUE(menu.at(IDM_ABOUTBOX).grey);
    EXPECT_FALSE(menu.at(IDM_LOCK_SETTINGS).grey);
    EXPECT_EQ(GetCapture(), hwnd);
    EXPECT_FALSE(controlEnabled(IDC_START));
    EXPECT_FALSE(controlEnabled(IDC_COM_PORT));

    dialog.endOperation();
    menu = systemMenuByCommand();
    EXPECT_FALSE(menu.at(SC_CLOSE).grey);
    EXPECT_FALSE(menu.at(IDM_ABOUTBOX).grey);
    EXPECT_NE(GetCapture(), hwnd);
    EXPECT_TRUE(controlEnabled(IDC_START));
    EXPECT_TRUE(controlEnabled(IDC_COM_PORT));
}

TEST_F(SettingsLockWindowTest, StatusLampAndGridShowTheirBitmaps) {
    dialog.results().fillStatusLampTable();
    EXPECT_EQ(state.statusLampTable.entry[0], GetDlgItem(hwnd, IDC_STATUS_LAMP));
    const int pictures[] = {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_INFO, IDB_LAMP_GREY};
    for (int entry = 1; entry <= 4; ++entry) {
        dialog.results().setStatusLamp(entry);
        EXPECT_EQ(shownBitmap(IDC_STATUS_LAMP), view.bitmapHandle(pictures[entry - 1])) << entry;
    }

    state.runResult[kConnectedByte] = 0x01;
    state.runResult[kOverAllByte] = 0x01;
    dialog.results().showResult(true);
    EXPECT_EQ(shownBitmap(resultLampId(4, 0)), view.bitmapHandle(IDB_LAMP_GREEN_TICK));
    EXPECT_EQ(shownBitmap(resultLampId(0, 0)), view.bitmapHandle(IDB_LAMP_WHITE_TICK));
    dialog.results().showResult(false);
    for (int id = IDC_RESULT_FIRST; id <= IDC_RESULT_LAST; ++id) {
        EXPECT_EQ(shownBitmap(id), view.bitmapHandle(IDB_LAMP_GREY)) << id;
    }
}

} // namespace
} // namespace octo
