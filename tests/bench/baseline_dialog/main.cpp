// The baselines of the start-up benchmark: a modal dialog from a resource template whose
// procedure does nothing, showing what Wine needs to show that template at all. Built twice:
// minimal_dialog.exe with a one-line template (how long any dialog program takes), and
// bare_window.exe with the resources OCTO816.EXE is linked with, showing its main window.
// BASELINE_HEADER names the header of the template id BASELINE_TEMPLATE.
#include BASELINE_HEADER

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
    // The main window's template holds a progress bar: its class must be registered before
    // the dialog is made.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                        ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return static_cast<int>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(BASELINE_TEMPLATE), nullptr, dialogProc, 0));
}
