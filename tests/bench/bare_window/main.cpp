// bare_window.exe: the main window's template (the same resources OCTO816.EXE is linked
// with) shown as a modal dialog whose procedure does nothing, the baseline of the start-up
// benchmark for what Wine needs to show that window at all.
#include "resources/resource.h"

#include <windows.h>

#include <commctrl.h>

namespace {

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The template holds a progress bar: its class must be registered before the dialog.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                        ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return static_cast<int>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_OCTO816_DIALOG), nullptr, dialogProc, 0));
}
