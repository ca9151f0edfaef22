// Runs a ProgrammerDialog in the real dialog 102: creates the window from its template,
// fills the template's lists, turns window messages into calls on the dialog and runs the
// modal message loop with its pre-translation (tool-tip relay, F1).
#pragma once

#include "app/ProgrammerDialog.h"
#include "win32/Win32View.h"

#include <windows.h>

namespace octo {

class MainWindow {
public:
    MainWindow(HINSTANCE instance, Win32View& view, ProgrammerDialog& dialog);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window and runs it until the dialog ends; returns the end result.
    // The window is destroyed before this returns.
    int runModal();

    // Creates the window without running the loop, for in-process tests; the caller
    // pumps messages and calls destroy().
    HWND create();
    void destroy();
    bool ended() const { return ended_; }

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM w, LPARAM l);
    INT_PTR handle(UINT message, WPARAM w, LPARAM l);
    bool preTranslate(MSG& message);
    void fillTemplateLists();
    void showLogo();

    HINSTANCE instance_;
    Win32View& view_;
    ProgrammerDialog& dialog_;
    HWND window_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
};

// Registers the common control classes the dialog uses (progress bar, tool tips).
void initCommonControls();

} // namespace octo
