// minimal_dialog.exe: a modal dialog from a resource template with one static text and
// nothing else, the baseline of the start-up benchmark (how long Wine takes to show any
// dialog program).
#include "MinimalDialog.h"

#include <windows.h>

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
    return static_cast<int>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, dialogProc, 0));
}
