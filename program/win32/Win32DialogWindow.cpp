#include "win32/Win32DialogWindow.h"

namespace octo {

int Win32DialogWindow::runModal(DialogHandler& handler) {
    handler_ = &handler;
    const INT_PTR result =
        DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), owner_,
                        &Win32DialogWindow::dialogProc, reinterpret_cast<LPARAM>(this));
    view_.attach(nullptr);
    handler_ = nullptr;
    return static_cast<int>(result);
}

INT_PTR CALLBACK Win32DialogWindow::dialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, l);
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self || !self->handler_) {
        return FALSE;
    }
    // Nothing thrown may cross the window procedure.
    try {
        return self->handle(window, message, w);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR Win32DialogWindow::handle(HWND window, UINT message, WPARAM w) {
    switch (message) {
    case WM_INITDIALOG:
        view_.attach(window);
        view_.onEndDialog([window](int result) { EndDialog(window, result); });
        return handler_->onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        // Escape and the close box arrive as IDCANCEL, Enter as IDOK or the default button;
        // the fields' own notifications are not commands.
        if (HIWORD(w) == BN_CLICKED) {
            handler_->onCommand(LOWORD(w));
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace octo
