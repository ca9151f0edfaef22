// A modal sub-dialog on Win32: DialogBoxParam over the main window with the template by id,
// a dialog procedure that hands WM_INITDIALOG and WM_COMMAND to the dialog's class, and a
// Win32View bound to the dialog while it runs.
#pragma once

#include "app/View.h"
#include "win32/Win32View.h"

#include <windows.h>

namespace octo {

class Win32DialogWindow final : public DialogWindow {
public:
    Win32DialogWindow(HINSTANCE instance, HWND owner, int templateId)
        : instance_(instance), owner_(owner), templateId_(templateId), view_(instance) {}

    DialogView& view() override { return view_; }
    int runModal(DialogHandler& handler) override;

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM w, LPARAM l);
    INT_PTR handle(HWND window, UINT message, WPARAM w);

    HINSTANCE instance_;
    HWND owner_;
    int templateId_;
    Win32View view_;
    DialogHandler* handler_ = nullptr;
};

} // namespace octo
