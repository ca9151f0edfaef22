#include "win32/MainWindow.h"

#include "app/DialogTemplate.h"
#include "resources/resource.h"

#include <commctrl.h>

#include <vector>

namespace octo {

MainWindow::MainWindow(HINSTANCE instance, Win32View& view, ProgrammerDialog& dialog)
    : instance_(instance), view_(view), dialog_(dialog) {
    view_.onEndDialog([this](int result) {
        ended_ = true;
        result_ = result;
        // Wakes the message loop so that it sees the end.
        PostMessageA(window_, WM_NULL, 0, 0);
    });
}

void initCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                        ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
}

HWND MainWindow::create() {
    ended_ = false;
    window_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_OCTO816_DIALOG), nullptr,
                                 &MainWindow::dialogProc, reinterpret_cast<LPARAM>(this));
    return window_;
}

void MainWindow::destroy() {
    if (window_) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    view_.attach(nullptr);
}

int MainWindow::runModal() {
    if (!create()) {
        return -1;
    }
    // Comes up as the active window, as a modal dialog does.
    SetForegroundWindow(window_);
    MSG message;
    while (!ended_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (preTranslate(message)) {
            continue;
        }
        if (!IsDialogMessageA(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    destroy();
    return result_;
}

bool MainWindow::preTranslate(MSG& message) {
    view_.relayToolTipMessage(message);
    // F1 without Shift, Ctrl or Alt asks for help, as the application's help command.
    const bool modifier = (GetKeyState(VK_SHIFT) | GetKeyState(VK_CONTROL) |
                           GetKeyState(VK_MENU)) & 0x8000;
    if (message.message == WM_KEYDOWN && message.wParam == VK_F1 && !modifier &&
        (message.hwnd == window_ || IsChild(window_, message.hwnd))) {
        PostMessageA(window_, WM_COMMAND, MAKEWPARAM(ID_HELP_COMMAND, 0), 0);
        return true;
    }
    return false;
}

namespace {

// The logo's margin is drawn in the classic face colour; give it the face colour of this
// desktop so that the picture control's centring margin does not show as a grey block.
void blendLogoIntoFace(HBITMAP logo) {
    BITMAP info{};
    if (!GetObjectA(logo, sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight <= 0) {
        return;
    }
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = -info.bmHeight; // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    HDC screen = GetDC(nullptr);
    if (GetDIBits(screen, logo, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS)) {
        const DWORD margin = pixels.front() & 0xFFFFFF;
        const COLORREF face = GetSysColor(COLOR_3DFACE);
        const DWORD faceRgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
        for (DWORD& pixel : pixels) {
            if ((pixel & 0xFFFFFF) == margin) {
                pixel = faceRgb;
            }
        }
        SetDIBits(screen, logo, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
    }
    ReleaseDC(nullptr, screen);
}

} // namespace

void MainWindow::showLogo() {
    // The template names the logo bitmap, but not every static control loads a bitmap
    // named by number; the picture control always gets the logo from here.
    if (!view_.loadBitmap(IDB_LOGO)) {
        return;
    }
    blendLogoIntoFace(static_cast<HBITMAP>(view_.bitmapHandle(IDB_LOGO)));
    for (HWND c = GetWindow(window_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        if ((style & SS_TYPEMASK) != SS_BITMAP) {
            continue;
        }
        // The picture the template loaded (if the static control did) is replaced by the
        // blended one and released: the control does not free what it is given.
        const auto previous = reinterpret_cast<HBITMAP>(
            SendMessageA(c, STM_SETIMAGE, IMAGE_BITMAP,
                         reinterpret_cast<LPARAM>(view_.bitmapHandle(IDB_LOGO))));
        if (previous && previous != view_.bitmapHandle(IDB_LOGO)) {
            DeleteObject(previous);
        }
    }
}

void MainWindow::fillTemplateLists() {
    for (const InitialList& list : mainDialogInitialLists()) {
        view_.setListRows(list.id, list.rows);
    }
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainWindow*>(l);
        SetWindowLongPtrA(window, DWLP_USER, l);
        self->window_ = window;
        self->view_.attach(window);
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) {
        return FALSE;
    }
    // Nothing thrown may cross the window procedure.
    try {
        return self->handle(message, w, l);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR MainWindow::handle(UINT message, WPARAM w, LPARAM /*l*/) {
    switch (message) {
    case WM_INITDIALOG:
        fillTemplateLists();
        showLogo();
        // The template's preselected rows: the construction values.
        dialog_.showMembers();
        return dialog_.onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        dialog_.onCommand(LOWORD(w), HIWORD(w));
        return TRUE;
    case WM_SYSCOMMAND:
        if (dialog_.onSysCommand(static_cast<unsigned>(w))) {
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        dialog_.onTimer(static_cast<int>(w));
        return FALSE; // the tick also goes to the default handling
    case WM_PAINT:
        return dialog_.onPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        // One of the messages whose answer is the dialog procedure's return value.
        return reinterpret_cast<INT_PTR>(dialog_.onQueryDragIcon());
    case WM_CLOSE:
        dialog_.onClose();
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace octo
