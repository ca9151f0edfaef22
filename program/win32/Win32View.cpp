#include "win32/Win32View.h"

#include "resources/resource.h"
#include "win32/Win32DialogWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace octo {

namespace {

constexpr int kStringBufferSize = 1024;
constexpr int kTextBufferGrowth = 256;
// Filter indexes of the file dialogs count from 1.
constexpr DWORD kFirstFilter = 1;

std::string toString(std::string_view text) {
    return std::string(text);
}

enum class FileDialog { Open, Save };

using FileDialogFunction = BOOL(WINAPI*)(LPOPENFILENAMEA);

// The file dialogs' library is loaded at their first use, not with the program: under Wine
// it brings the shell's libraries with it, which would lengthen every start-up. Null when
// it cannot be loaded.
FileDialogFunction fileDialogFunction(FileDialog kind) {
    static const HMODULE library = LoadLibraryA("comdlg32.dll");
    if (!library) {
        return nullptr;
    }
    const char* name = kind == FileDialog::Open ? "GetOpenFileNameA" : "GetSaveFileNameA";
    // GetProcAddress returns a generic pointer; the export's type is the header's.
    return reinterpret_cast<FileDialogFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The common file dialog with no initial name, no default extension and the read-only box
// hidden; an open dialog accepts only existing files.
FileChoice chooseFile(HWND owner, std::string_view title, std::string_view filter,
                      FileDialog kind) {
    // The dialog wants each description and pattern ended by a NUL and the list by one
    // more; the two added NULs end a filter that lacks its closing bars.
    std::string filters(filter);
    std::replace(filters.begin(), filters.end(), '|', '\0');
    filters.append(2, '\0');
    const std::string titleText(title);
    std::array<char, MAX_PATH> path{};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = kFirstFilter;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrTitle = titleText.c_str();
    dialog.Flags = OFN_HIDEREADONLY;
    if (kind == FileDialog::Open) {
        dialog.Flags |= OFN_FILEMUSTEXIST;
    }
    const FileDialogFunction show = fileDialogFunction(kind);
    if (!show || !show(&dialog)) {
        return {};
    }
    return {static_cast<int>(dialog.nFilterIndex), path.data()};
}

} // namespace

Win32View::Win32View(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

Win32View::~Win32View() {
    destroyToolTips();
    for (auto& [id, bitmap] : bitmaps_) {
        DeleteObject(bitmap);
    }
}

bool Win32View::hasControl(int id) const {
    return item(id) != nullptr;
}

bool Win32View::isChecked(int id) const {
    return dialog_ && IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Win32View::setChecked(int id, bool checked) {
    if (HWND c = item(id)) {
        SendMessageA(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

bool Win32View::isEnabled(int id) const {
    HWND c = item(id);
    return c && IsWindowEnabled(c);
}

void Win32View::setEnabled(int id, bool enabled) {
    if (HWND c = item(id)) {
        EnableWindow(c, enabled);
    }
}

bool Win32View::isVisible(int id) const {
    HWND c = item(id);
    return c && (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32View::setVisible(int id, bool visible) {
    if (HWND c = item(id)) {
        ShowWindow(c, visible ? SW_SHOW : SW_HIDE);
    }
}

std::string Win32View::text(int id) const {
    HWND c = item(id);
    if (!c) {
        return {};
    }
    std::vector<char> buffer(GetWindowTextLengthA(c) + kTextBufferGrowth);
    const int length = GetWindowTextA(c, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length > 0 ? length : 0);
}

void Win32View::setText(int id, std::string_view text) {
    // Only a real change is written: an edit control reports every SetWindowText as a text
    // change, and the data exchange writes all texts back on every transfer.
    if (HWND c = item(id); c && text != this->text(id)) {
        SetWindowTextA(c, toString(text).c_str());
    }
}

void Win32View::setListRows(int id, const std::vector<std::string>& rows) {
    HWND c = item(id);
    if (!c) {
        return;
    }
    // Wine's list box updates its scroll bar for every row added unless its painting is
    // off: the rows go in with it off, which takes about half the time.
    SendMessageA(c, WM_SETREDRAW, FALSE, 0);
    SendMessageA(c, CB_RESETCONTENT, 0, 0);
    for (const std::string& row : rows) {
        SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
    SendMessageA(c, WM_SETREDRAW, TRUE, 0);
    // Turning the painting on again does not repaint what changed meanwhile.
    InvalidateRect(c, nullptr, TRUE);
}

int Win32View::listCount(int id) const {
    HWND c = item(id);
    return c ? static_cast<int>(SendMessageA(c, CB_GETCOUNT, 0, 0)) : 0;
}

std::string Win32View::listRow(int id, int index) const {
    HWND c = item(id);
    if (!c) {
        return {};
    }
    const LRESULT length = SendMessageA(c, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) {
        return {};
    }
    std::vector<char> buffer(length + 1);
    SendMessageA(c, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data());
}

int Win32View::listSelection(int id) const {
    HWND c = item(id);
    return c ? static_cast<int>(SendMessageA(c, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32View::setListSelection(int id, int index) {
    if (HWND c = item(id)) {
        SendMessageA(c, CB_SETCURSEL, index, 0);
    }
}

ProgressRange Win32View::progressRange(int id) const {
    HWND c = item(id);
    if (!c) {
        return {};
    }
    PBRANGE range{};
    SendMessageA(c, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    return {range.iLow, range.iHigh};
}

void Win32View::setProgressRange(int id, ProgressRange range) {
    if (HWND c = item(id)) {
        SendMessageA(c, PBM_SETRANGE32, range.low, range.high);
    }
}

int32_t Win32View::progressPosition(int id) const {
    HWND c = item(id);
    return c ? static_cast<int32_t>(SendMessageA(c, PBM_GETPOS, 0, 0)) : 0;
}

void Win32View::setProgressPosition(int id, int32_t position) {
    if (HWND c = item(id)) {
        SendMessageA(c, PBM_SETPOS, position, 0);
    }
}

void Win32View::setProgressStep(int id, int32_t step) {
    if (HWND c = item(id)) {
        SendMessageA(c, PBM_SETSTEP, step, 0);
    }
}

void Win32View::stepProgress(int id) {
    if (HWND c = item(id)) {
        SendMessageA(c, PBM_STEPIT, 0, 0);
    }
}

bool Win32View::loadBitmap(int bitmapId) {
    if (bitmaps_.contains(bitmapId)) {
        return true;
    }
    HBITMAP bitmap = LoadBitmapA(instance_, MAKEINTRESOURCEA(bitmapId));
    if (!bitmap) {
        return false;
    }
    bitmaps_[bitmapId] = bitmap;
    return true;
}

void Win32View::setLamp(int id, int bitmapId) {
    setPicture(item(id), bitmapHandle(bitmapId));
}

int Win32View::lamp(int id) const {
    HWND c = item(id);
    if (!c) {
        return 0;
    }
    const auto shown = reinterpret_cast<HBITMAP>(SendMessageA(c, BM_GETIMAGE, IMAGE_BITMAP, 0));
    for (const auto& [bitmapId, bitmap] : bitmaps_) {
        if (bitmap == shown) {
            return bitmapId;
        }
    }
    return 0;
}

void* Win32View::controlHandle(int id) const {
    return item(id);
}

void* Win32View::bitmapHandle(int bitmapId) const {
    const auto found = bitmaps_.find(bitmapId);
    return found == bitmaps_.end() ? nullptr : found->second;
}

void Win32View::setPicture(void* control, void* bitmap) {
    if (control) {
        SendMessageA(static_cast<HWND>(control), BM_SETIMAGE, IMAGE_BITMAP,
                     reinterpret_cast<LPARAM>(bitmap));
    }
}

void Win32View::setRedraw(bool on) {
    if (!on) {
        // Turning the painting off drops the paint still due (WM_SETREDRAW validates the
        // window), so a window shown but not yet painted is remembered here.
        paintDue_ = GetUpdateRect(dialog_, nullptr, FALSE) != FALSE;
    }
    SendMessageA(dialog_, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) {
        // The controls changed while the window did not paint: each paints itself anew
        // when the message loop next runs, and so do the frame and background when their
        // paint was dropped.
        const UINT dropped = std::exchange(paintDue_, false) ? RDW_ERASE | RDW_FRAME : 0;
        RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | dropped);
    }
}

std::string Win32View::caption() const {
    std::vector<char> buffer(GetWindowTextLengthA(dialog_) + kTextBufferGrowth);
    const int length = GetWindowTextA(dialog_, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length > 0 ? length : 0);
}

void Win32View::setCaption(std::string_view caption) {
    SetWindowTextA(dialog_, toString(caption).c_str());
}

void Win32View::setAppIcon() {
    SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

bool Win32View::isMinimised() const {
    return IsIconic(dialog_);
}

Size Win32View::clientSize() const {
    RECT rect{};
    GetClientRect(dialog_, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

Size Win32View::systemIconSize() const {
    return {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

void Win32View::paintIcon(int x, int y) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(dialog_, &paint);
    SendMessageA(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    DrawIcon(dc, x, y, icon_);
    EndPaint(dialog_, &paint);
}

void Win32View::appendMenuSeparator() {
    AppendMenuA(GetSystemMenu(dialog_, FALSE), MF_SEPARATOR, 0, nullptr);
}

void Win32View::appendMenuItem(int command, std::string_view text) {
    AppendMenuA(GetSystemMenu(dialog_, FALSE), MF_STRING, command, toString(text).c_str());
}

void Win32View::removeMenuItem(int command) {
    RemoveMenu(GetSystemMenu(dialog_, FALSE), command, MF_BYCOMMAND);
}

void Win32View::setMenuItemText(int command, std::string_view text) {
    ModifyMenuA(GetSystemMenu(dialog_, FALSE), command, MF_BYCOMMAND | MF_STRING, command,
                toString(text).c_str());
}

void Win32View::setMenuItemEnabled(int command, bool enabled) {
    EnableMenuItem(GetSystemMenu(dialog_, FALSE), command,
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void Win32View::setCursor(Cursor cursor) {
    SetCursor(LoadCursorA(nullptr, cursor == Cursor::AppStarting ? IDC_APPSTARTING : IDC_ARROW));
}

void Win32View::captureMouse() {
    SetCapture(dialog_);
}

void Win32View::releaseMouse() {
    ReleaseCapture();
}

int Win32View::focusedControl() const {
    HWND focus = GetFocus();
    return focus && IsChild(dialog_, focus) ? GetDlgCtrlID(focus) : 0;
}

void Win32View::setFocus(int id) {
    if (HWND c = item(id)) {
        SetFocus(c);
    }
}

void Win32View::selectAll(int id) {
    if (HWND c = item(id)) {
        SendMessageA(c, EM_SETSEL, 0, -1);
        SendMessageA(c, EM_SCROLLCARET, 0, 0);
    }
}

bool Win32View::createToolTips() {
    toolTips_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_,
                                nullptr, instance_, nullptr);
    return toolTips_ != nullptr;
}

namespace {

// The version-2 size: accepted by every common-controls version, with or without a manifest.
TOOLINFOA toolFor(HWND dialog, HWND control) {
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND; // mouse messages come by relay from the message loop
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    return tool;
}

} // namespace

bool Win32View::hasTool(HWND control) const {
    TOOLINFOA tool = toolFor(dialog_, control);
    return SendMessageA(toolTips_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

void Win32View::addToolTip(int id, std::string_view text) {
    HWND control = item(id);
    if (!toolTips_ || !control) {
        return;
    }
    std::string copy = toString(text);
    TOOLINFOA tool = toolFor(dialog_, control);
    tool.lpszText = copy.data();
    SendMessageA(toolTips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32View::setToolTipText(int id, std::string_view text) {
    HWND control = item(id);
    if (!toolTips_ || !control) {
        return;
    }
    if (!hasTool(control)) {
        addToolTip(id, text);
        return;
    }
    std::string copy = toString(text);
    TOOLINFOA tool = toolFor(dialog_, control);
    tool.lpszText = copy.data();
    SendMessageA(toolTips_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32View::activateToolTips() {
    if (toolTips_) {
        SendMessageA(toolTips_, TTM_ACTIVATE, TRUE, 0);
    }
}

void Win32View::destroyToolTips() {
    if (toolTips_) {
        DestroyWindow(toolTips_);
        toolTips_ = nullptr;
    }
}

void Win32View::relayToolTipMessage(MSG& message) {
    if (toolTips_ && message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) {
        SendMessageA(toolTips_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
    }
}

bool Win32View::setTimer(int timerId, unsigned periodMs) {
    return SetTimer(dialog_, timerId, periodMs, nullptr) != 0;
}

void Win32View::killTimer(int timerId) {
    KillTimer(dialog_, timerId);
}

void Win32View::postCommand(int command) {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void Win32View::postClose() {
    PostMessageA(dialog_, WM_CLOSE, 0, 0);
}

void Win32View::endDialog(int result) {
    if (end_) {
        end_(result);
    }
}

bool Win32View::findTopWindow(std::string_view title) const {
    return FindWindowA(nullptr, toString(title).c_str()) != nullptr;
}

void Win32View::postCloseToTopWindow(std::string_view title) {
    if (HWND window = FindWindowA(nullptr, toString(title).c_str())) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

void Win32View::showAndActivateTopWindow(std::string_view title) {
    if (HWND window = FindWindowA(nullptr, toString(title).c_str())) {
        ShowWindow(window, SW_SHOWNORMAL);
        SetForegroundWindow(window);
    }
}

std::unique_ptr<DialogWindow> Win32View::createDialog(int templateId) {
    return std::make_unique<Win32DialogWindow>(instance_, dialog_, templateId);
}

int Win32View::messageBox(std::string_view text, std::string_view caption, unsigned style) {
    return MessageBoxA(dialog_, toString(text).c_str(), toString(caption).c_str(), style);
}

FileChoice Win32View::chooseFileToOpen(std::string_view title, std::string_view filter) {
    return chooseFile(dialog_, title, filter, FileDialog::Open);
}

FileChoice Win32View::chooseFileToSave(std::string_view title, std::string_view filter) {
    return chooseFile(dialog_, title, filter, FileDialog::Save);
}

void Win32View::beep(unsigned frequency, unsigned durationMs) {
    Beep(frequency, durationMs);
}

std::string Win32View::loadString(int id) const {
    char buffer[kStringBufferSize];
    const int length = LoadStringA(instance_, id, buffer, kStringBufferSize);
    return std::string(buffer, length > 0 ? length : 0);
}

} // namespace octo
