// The real dialog 102 in this process, with a scripted library: what only the process
// itself can see (system menu items and their states, each control's class and style,
// the resources), and the message routing of the Win32 binding.
#include "DialogWindowTest.h"
#include "TemplateChecks.h"
#include "app/DialogTemplate.h"
#include "app/StringTable.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <windows.h>

#include <map>

namespace octo {
namespace {

class RecordingDialog : public ProgrammerDialog {
public:
    using ProgrammerDialog::ProgrammerDialog;
    bool startupSeen = false;
    bool visibleAtStartup = false;
    HWND window = nullptr;

protected:
    void onStartupCommand() override {
        startupSeen = true;
        visibleAtStartup = IsWindowVisible(window);
    }
};

class MainWindowTest : public testing::DialogWindowTest<RecordingDialog> {
protected:
    MainWindowTest() {
        dialog.window = hwnd;
        pump();
    }
};

using testing::className;
using testing::MenuEntry;
using testing::windowText;

TEST_F(MainWindowTest, WindowHasItsCaptionFrameAndSize) {
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(windowText(hwnd), "ZEL816 FLASH Octo Programmer");
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
    RECT units{0, 0, kDialogWidth, kDialogHeight};
    MapDialogRect(hwnd, &units);
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0),
              reinterpret_cast<LRESULT>(view.appIconHandle()));
    EXPECT_NE(view.appIconHandle(), nullptr);
}

TEST_F(MainWindowTest, SystemMenuHasLockAndAboutButNoSizeOrMaximize) {
    const auto menu = systemMenu();
    for (const MenuEntry& e : menu) {
        EXPECT_NE(e.command, static_cast<UINT>(SC_SIZE));
        EXPECT_NE(e.command, static_cast<UINT>(SC_MAXIMIZE));
    }
    ASSERT_GE(menu.size(), 5u);
    const std::size_t n = menu.size();
    EXPECT_EQ(menu[n - 4].command, 0u); // separator
    EXPECT_EQ(menu[n - 3].command, static_cast<UINT>(IDM_LOCK_SETTINGS));
    EXPECT_EQ(menu[n - 3].text, "&Lock Settings");
    EXPECT_FALSE(menu[n - 3].grey);
    EXPECT_EQ(menu[n - 2].command, 0u);
    EXPECT_EQ(menu[n - 1].command, static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(menu[n - 1].text, "&About Octo Programmer...");
    EXPECT_FALSE(menu[n - 1].grey);

    // The view's menu operations reach the real menu by command.
    view.setMenuItemText(IDM_LOCK_SETTINGS, "&Unlock Settings");
    view.setMenuItemEnabled(IDM_ABOUTBOX, false);
    view.setMenuItemEnabled(SC_CLOSE, false);
    auto byCommand = systemMenuByCommand();
    EXPECT_EQ(byCommand[IDM_LOCK_SETTINGS].text, "&Unlock Settings");
    EXPECT_TRUE(byCommand[IDM_ABOUTBOX].grey);
    EXPECT_TRUE(byCommand[SC_CLOSE].grey);
}

TEST_F(MainWindowTest, EveryControlHasItsIdClassStyleAndCaption) {
    testing::expectControlsOfTemplate(hwnd, mainDialogControls());
}

TEST_F(MainWindowTest, TemplateListsAreFilledWithConstructionSelections) {
    for (const InitialList& list : mainDialogInitialLists()) {
        ASSERT_EQ(view.listCount(list.id), static_cast<int>(list.rows.size())) << list.id;
    }
    EXPECT_EQ(view.listRow(IDC_DEVICE_TYPE, 0), "Device Type info");
    EXPECT_EQ(view.listRow(IDC_DEVICE_TYPE, 1), "INI file contains no");
    EXPECT_EQ(view.listRow(IDC_DEVICE_TYPE, 2), "ZEL816 Axxx");
    EXPECT_EQ(view.listRow(IDC_SUPPLY_VOLTAGE, 12), "3.0 V ");
    EXPECT_EQ(view.listSelection(IDC_COM_PORT), 0);
    EXPECT_EQ(view.listSelection(IDC_BAUD_RATE), 4);
    EXPECT_EQ(view.listSelection(IDC_SUPPLY_VOLTAGE), 12);
    EXPECT_EQ(view.listSelection(IDC_SETTLE_TIME), 1);
    EXPECT_TRUE(view.isChecked(IDC_ERASE));
    EXPECT_FALSE(view.isChecked(IDC_SECURE));
}

TEST_F(MainWindowTest, StartupCommandArrivesAfterTheWindowShows) {
    EXPECT_TRUE(dialog.startupSeen);
    EXPECT_TRUE(dialog.visibleAtStartup);
}

TEST_F(MainWindowTest, ResourcesLoad) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    for (int id = 0; id < 1000; ++id) {
        const std::string_view expected = stringTableText(id);
        EXPECT_EQ(view.loadString(id), expected) << id;
    }
    for (int bitmapId : {IDB_LAMP_RED, IDB_LAMP_GREEN_TICK, IDB_LAMP_GREY, IDB_LAMP_WHITE_TICK,
                         IDB_LAMP_WHITE, IDB_LAMP_INFO}) {
        ASSERT_NE(view.bitmapHandle(bitmapId), nullptr) << bitmapId;
        BITMAP info{};
        GetObjectA(static_cast<HBITMAP>(view.bitmapHandle(bitmapId)), sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, 10) << bitmapId;
        EXPECT_EQ(info.bmHeight, 10) << bitmapId;
    }
    HBITMAP logo = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_LOGO));
    EXPECT_NE(logo, nullptr);
    DeleteObject(logo);
}

TEST_F(MainWindowTest, LampsShowTheBitmapsTheyAreGiven) {
    view.setLamp(IDC_RESULT_FIRST, IDB_LAMP_GREY);
    EXPECT_EQ(view.lamp(IDC_RESULT_FIRST), IDB_LAMP_GREY);
    view.setPicture(view.controlHandle(IDC_STATUS_LAMP), view.bitmapHandle(IDB_LAMP_INFO));
    EXPECT_EQ(view.lamp(IDC_STATUS_LAMP), IDB_LAMP_INFO);
}

TEST_F(MainWindowTest, ToolTipsAreAttachedToTheirControls) {
    ASSERT_TRUE(view.hasToolTips());
    HWND tips = nullptr;
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (className(w) == TOOLTIPS_CLASSA && GetWindow(w, GW_OWNER) == hwnd) {
            tips = w;
        }
    }
    ASSERT_NE(tips, nullptr);
    EXPECT_EQ(SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0), 3);
    // The DuoLink tool is added when its text is first set.
    view.setToolTipText(IDC_USE_DUOLINK, "text");
    EXPECT_EQ(SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0), 4);
}

TEST_F(MainWindowTest, CommandsAndCloseAreRouted) {
    // Enter and Escape arrive as OK and Cancel and are ignored.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pump();
    EXPECT_FALSE(window.ended());
    EXPECT_TRUE(IsWindow(hwnd));

    platform.files.clear();
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    pump();
    EXPECT_TRUE(window.ended());
    EXPECT_EQ(library->calls("ReleaseCom"), 1);
}

// The background erases the window receives while a hook counts them.
struct PaintCount {
    static inline HWND window = nullptr;
    static inline int erases = 0;
    static LRESULT CALLBACK hook(int code, WPARAM w, LPARAM l) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(l);
        if (code == HC_ACTION && message->hwnd == window) {
            erases += message->message == WM_ERASEBKGND;
        }
        return CallNextHookEx(nullptr, code, w, l);
    }
};

// The window as created: shown, and not yet painted.
class FirstPaintTest : public testing::DialogWindowTest<RecordingDialog> {};

TEST_F(FirstPaintTest, AHoldBeforeTheFirstPaintStillErasesTheBackground) {
    // As the start-up command holds the painting while it sets the controls.
    view.setRedraw(false);
    view.setRedraw(true);
    PaintCount::window = hwnd;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, PaintCount::hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    pump();
    UnhookWindowsHookEx(hook);
    EXPECT_GT(PaintCount::erases, 0);
}

} // namespace
} // namespace octo
