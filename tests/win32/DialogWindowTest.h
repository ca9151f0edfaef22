// The fixture of the in-process tests: the real dialog 102 in a window of this process,
// with a scripted library, and what only the process can read of it (the system menu).
#pragma once

#include "support/FakeLibrary.h"
#include "support/FakePlatform.h"
#include "win32/MainWindow.h"
#include "win32/Win32View.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace octo::testing {

struct MenuEntry {
    UINT command = 0;
    std::string text;
    bool grey = false;
};

template <typename Dialog>
class DialogWindowTest : public ::testing::Test {
protected:
    static constexpr int kPumpRounds = 3;
    static constexpr DWORD kPumpPauseMs = 10;
    static constexpr int kMenuTextSize = 128;
    // The result request fails as it does without a unit on the line.
    static constexpr int32_t kNoUnit = 5;

    // The window exists afterwards; the test pumps its first messages.
    DialogWindowTest()
        : view(GetModuleHandleA(nullptr)), dialog(view, platform, state),
          window(GetModuleHandleA(nullptr), view, dialog) {
        initCommonControls();
        auto fake = std::make_unique<FakeLibrary>();
        library = fake.get();
        library->setFallback("OctoGetResult", kNoUnit);
        dialog.useLibrary(std::move(fake));
        hwnd = window.create();
    }
    ~DialogWindowTest() override { window.destroy(); }

    // Delivers what is queued, as the message loop would.
    void pump() {
        MSG message;
        for (int round = 0; round < kPumpRounds; ++round) {
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(hwnd, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            }
            Sleep(kPumpPauseMs);
        }
    }

    // The system menu's entries in menu order, as the menu itself holds them.
    std::vector<MenuEntry> systemMenu() const {
        HMENU menu = GetSystemMenu(hwnd, FALSE);
        std::vector<MenuEntry> entries;
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            char text[kMenuTextSize] = {};
            GetMenuStringA(menu, i, text, sizeof(text), MF_BYPOSITION);
            const UINT itemState = GetMenuState(menu, i, MF_BYPOSITION);
            entries.push_back(
                {GetMenuItemID(menu, i), text, (itemState & (MF_GRAYED | MF_DISABLED)) != 0});
        }
        return entries;
    }

    std::map<UINT, MenuEntry> systemMenuByCommand() const {
        std::map<UINT, MenuEntry> byCommand;
        for (const MenuEntry& entry : systemMenu()) {
            byCommand[entry.command] = entry;
        }
        return byCommand;
    }

    FakePlatform platform;
    ProgramState state;
    Win32View view;
    Dialog dialog;
    MainWindow window;
    FakeLibrary* library = nullptr;
    HWND hwnd = nullptr;
};

} // namespace octo::testing
