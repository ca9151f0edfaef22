// octo_e2e_driver.exe: drives another program's windows from outside, the way an operator
// would, for the end-to-end tests. Runs under Wine in the same prefix as the program,
// reads one command per line on standard input and answers one line per command on
// standard output (see README.md beside this folder for the commands).
//
// Every wait has a deadline: the caller's, or for an action's control to become usable the
// protocol's kUsableWaitMs. Actions are sent with SendMessageTimeout:
// the answer says "done" when the program's handler has returned, "pending" when it had
// not returned at the deadline (a modal box opened, or long work); the message is
// delivered either way, and nothing the harness does later can overtake it.
#include "../protocol/LineProtocol.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using octo::e2e::hex32;
using octo::e2e::parseNumber;
using octo::e2e::quote;
using Args = std::vector<std::string>;

// How long a read-only query may wait for the program to answer a message. Generous: on a
// loaded machine a dialog that is still filling itself (a file dialog listing a folder) can
// take seconds, and a hung program only makes a failing test slower.
constexpr UINT kQueryTimeoutMs = 20000;
// How long an action waits for the program's handler before answering "pending".
constexpr UINT kDefaultActionTimeoutMs = 1000;
// How long the key command waits for the focus probe and for the foreground.
constexpr DWORD kKeyTimeoutMs = 5000;
constexpr DWORD kPollMs = 10;
// Wine's common file dialog: the file name box and the file type list.
constexpr int kFileNameId = 0x47C;
constexpr int kFileTypeId = 0x470;
constexpr int kStaticTextId = 0xFFFF;

struct Failure {
    std::string reason;
};

[[noreturn]] void fail(std::string reason) {
    throw Failure{std::move(reason)};
}

// Appends in place: GCC 12 warns falsely (-Wrestrict) on " " + std::string chains here.
void addToken(std::string& out, const std::string& token) {
    out += ' ';
    out += token;
}

std::string toUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring toWide(const std::string& text) {
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::uint32_t handleValue(HWND hwnd) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd));
}

std::int64_t number(const Args& args, std::size_t index, const char* what) {
    if (index >= args.size())
        fail(std::string("missing argument: ") + what);
    const auto value = parseNumber(args[index]);
    if (!value)
        fail(std::string("not a number for ") + what + ": " + args[index]);
    return *value;
}

std::int64_t numberOr(const Args& args, std::size_t index, std::int64_t fallback) {
    return index < args.size() ? number(args, index, "optional number") : fallback;
}

HWND windowArg(const Args& args, std::size_t index) {
    const auto value = number(args, index, "window handle");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    if (!IsWindow(hwnd))
        fail("no such window " + args[index]);
    return hwnd;
}

HWND controlArg(const Args& args, std::size_t index) {
    HWND dialog = windowArg(args, index);
    const auto id = number(args, index + 1, "control id");
    HWND control = GetDlgItem(dialog, static_cast<int>(id));
    if (!control)
        fail("no control " + args[index + 1] + " in window " + args[index]);
    return control;
}

// Dialog templates store "no id" as 0xFFFF; report it as -1, the way resource files write it.
int controlId(HWND hwnd) {
    const int id = GetDlgCtrlID(hwnd);
    return (id == 0xFFFF || id == -1) ? -1 : id;
}

LRESULT query(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    // Not SMTO_ABORTIFHUNG: Wine calls a thread hung after 5 s without reading its queue, which
    // a starved thread on a loaded machine can reach while it is working normally.
    SetLastError(0);
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, kQueryTimeoutMs, &result)) {
        const DWORD error = GetLastError();
        if (!IsWindow(hwnd))
            fail("window " + hex32(handleValue(hwnd)) + " is gone");
        fail("window " + hex32(handleValue(hwnd)) + " did not answer message " +
             std::to_string(msg) + ", error " + std::to_string(error));
    }
    return static_cast<LRESULT>(result);
}

// Sends an action and reports whether the program's handler returned before the deadline.
std::string act(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT timeoutMs) {
    DWORD_PTR result = 0;
    SetLastError(0);
    if (SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, timeoutMs, &result))
        return "done";
    const DWORD error = GetLastError();
    if (error == ERROR_TIMEOUT || error == 0)
        return "pending";
    fail("sending message " + std::to_string(msg) + " failed, error " + std::to_string(error));
}

// WM_GETTEXT in its wide form: Wine converts the ANSI form across processes badly.
std::string windowText(HWND hwnd) {
    const auto length = query(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied =
        query(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(static_cast<std::size_t>(copied));
    return toUtf8(buffer);
}

std::string className(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return toUtf8(name);
}

std::string rectTokens(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
           " " + std::to_string(r.bottom);
}

template <typename Predicate>
bool waitUntil(DWORD timeoutMs, Predicate done) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (true) {
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(kPollMs);
    }
}

// The reason an operator could not use the control now, or null when it is usable.
const char* unusable(HWND dialog, HWND control) {
    if (!IsWindow(control))
        return "control is gone";
    if (!IsWindowVisible(control))
        return "control is hidden";
    if (!IsWindowEnabled(control))
        return "control is disabled";
    // A posted or sent click reaches a window disabled behind a modal box; an operator's would not.
    if (!IsWindowEnabled(dialog))
        return "window is disabled";
    return nullptr;
}

// Waits, within kUsableWaitMs, for the control to be usable: a window that holds its painting
// reads as hidden for that moment, and an operation's end enables its controls a moment after
// it shows its result. Still unusable at the bound, the action is refused with the reason.
void waitUsable(HWND dialog, HWND control) {
    const char* reason = nullptr;
    if (!waitUntil(static_cast<DWORD>(octo::e2e::kUsableWaitMs),
                   [&] { return (reason = unusable(dialog, control)) == nullptr; }))
        fail(std::string(reason) + " (for " + std::to_string(octo::e2e::kUsableWaitMs) + " ms)");
}

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

// Top-level windows, in z-order.
std::vector<HWND> topLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND findVisibleTitled(const std::wstring& title) {
    for (HWND hwnd : topLevelWindows()) {
        if (!IsWindowVisible(hwnd))
            continue;
        wchar_t text[512] = {};
        // For top-level windows GetWindowText reads the caption without a message.
        GetWindowTextW(hwnd, text, 512);
        if (title == text)
            return hwnd;
    }
    return nullptr;
}

DWORD processOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

HWND focusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

// ---- keys ----------------------------------------------------------------------------

struct KeyName {
    const char* name;
    WORD vk;
};

constexpr KeyName kKeys[] = {
    {"enter", VK_RETURN}, {"return", VK_RETURN}, {"escape", VK_ESCAPE}, {"esc", VK_ESCAPE},
    {"tab", VK_TAB},      {"space", VK_SPACE},   {"up", VK_UP},         {"down", VK_DOWN},
    {"left", VK_LEFT},    {"right", VK_RIGHT},   {"home", VK_HOME},     {"end", VK_END},
    {"f1", VK_F1},        {"f4", VK_F4},         {"delete", VK_DELETE}, {"backspace", VK_BACK},
};

struct Chord {
    std::vector<WORD> modifiers;
    WORD key = 0;
};

Chord parseChord(const std::string& text) {
    Chord chord;
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::size_t start = 0;
    while (true) {
        const auto plus = lower.find('+', start);
        const std::string part =
            lower.substr(start, plus == std::string::npos ? plus : plus - start);
        if (plus != std::string::npos) {
            if (part == "alt")
                chord.modifiers.push_back(VK_MENU);
            else if (part == "shift")
                chord.modifiers.push_back(VK_SHIFT);
            else if (part == "ctrl")
                chord.modifiers.push_back(VK_CONTROL);
            else
                fail("unknown modifier " + part);
            start = plus + 1;
            continue;
        }
        for (const auto& k : kKeys)
            if (part == k.name)
                chord.key = k.vk;
        if (!chord.key && part.size() == 1 &&
            ((part[0] >= 'a' && part[0] <= 'z') || (part[0] >= '0' && part[0] <= '9')))
            chord.key = static_cast<WORD>(part[0] >= 'a' ? part[0] - 'a' + 'A' : part[0]);
        if (!chord.key)
            fail("unknown key " + part);
        return chord;
    }
}

void pushKey(std::vector<INPUT>& inputs, WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(in);
}

void sendChord(const Chord& chord) {
    std::vector<INPUT> inputs;
    for (WORD m : chord.modifiers)
        pushKey(inputs, m, false);
    pushKey(inputs, chord.key, false);
    pushKey(inputs, chord.key, true);
    for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it)
        pushKey(inputs, *it, true);
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        fail("SendInput failed");
}

void bringToForeground(HWND window) {
    if (GetForegroundWindow() == window)
        return;
    SetForegroundWindow(window);
    if (!waitUntil(kKeyTimeoutMs, [&] { return GetForegroundWindow() == window; }))
        fail("window did not come to the foreground");
}

// ---- commands ------------------------------------------------------------------------

using Handler = std::function<std::string(const Args&)>;

std::string cmdWaitWindow(const Args& a) {
    if (a.size() < 2)
        fail("usage: wait_window <title> <timeout_ms>");
    const std::wstring title = toWide(a[0]);
    HWND found = nullptr;
    if (!waitUntil(static_cast<DWORD>(number(a, 1, "timeout")),
                   [&] { return (found = findVisibleTitled(title)) != nullptr; }))
        fail("no visible window titled " + quote(a[0]));
    return hex32(handleValue(found)) + " " + std::to_string(processOf(found));
}

std::string cmdWaitPopup(const Args& a) {
    const auto pid = static_cast<DWORD>(number(a, 0, "process id"));
    const auto timeout = static_cast<DWORD>(number(a, 1, "timeout"));
    std::vector<HWND> excluded;
    for (std::size_t i = 2; i < a.size(); ++i)
        excluded.push_back(windowArg(a, i));
    HWND found = nullptr;
    const auto look = [&] {
        for (HWND hwnd : topLevelWindows()) {
            if (!IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd) || processOf(hwnd) != pid ||
                className(hwnd) != "#32770")
                continue;
            bool skip = false;
            for (HWND e : excluded)
                skip = skip || e == hwnd;
            if (!skip) {
                found = hwnd;
                return true;
            }
        }
        return false;
    };
    if (!waitUntil(timeout, look))
        fail("no dialog box of process " + a[0] + " appeared");
    return hex32(handleValue(found)) + " " + quote(windowText(found));
}

std::string cmdWaitGone(const Args& a) {
    const auto value = number(a, 0, "window handle");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    if (!waitUntil(static_cast<DWORD>(number(a, 1, "timeout")),
                   [&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); }))
        fail("window is still shown");
    return {};
}

std::string cmdExists(const Args& a) {
    const auto value = number(a, 0, "window handle");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
    return IsWindow(hwnd) ? "1" : "0";
}

std::string cmdCaption(const Args& a) {
    return quote(windowText(windowArg(a, 0)));
}

std::string cmdText(const Args& a) {
    return quote(windowText(controlArg(a, 0)));
}

std::string cmdSetText(const Args& a) {
    HWND control = controlArg(a, 0);
    if (a.size() < 3)
        fail("usage: settext <hwnd> <id> <text>");
    const std::wstring text = toWide(a[2]);
    query(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return {};
}

std::string cmdCheck(const Args& a) {
    return std::to_string(query(controlArg(a, 0), BM_GETCHECK, 0, 0));
}

struct ToolTipSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK findToolTips(HWND hwnd, LPARAM lParam) {
    auto* s = reinterpret_cast<ToolTipSearch*>(lParam);
    if (GetWindow(hwnd, GW_OWNER) == s->owner && className(hwnd) == "tooltips_class32") {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The tip a window's tooltip control keeps for one of its controls (a tool registered by the
// control's handle). The tooltip control answers in its own process, so the TOOLINFOW and
// the text buffer are made in that process's memory.
std::string cmdToolTip(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND control = controlArg(a, 0);
    ToolTipSearch search{dialog, nullptr};
    EnumWindows(findToolTips, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return quote("");
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        fail("cannot open the program's process");
    constexpr std::size_t kTipChars = 512;
    const std::size_t size = sizeof(TOOLINFOW) + kTipChars * sizeof(wchar_t);
    auto* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    std::wstring text(kTipChars, L'\0');
    if (remote) {
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = dialog;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(TOOLINFOW));
        WriteProcessMemory(process, remote, &tool, sizeof tool, nullptr);
        WriteProcessMemory(process, remote + sizeof(TOOLINFOW), text.data(),
                           kTipChars * sizeof(wchar_t), nullptr);
        query(search.found, TTM_GETTEXTW, kTipChars, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote + sizeof(TOOLINFOW), text.data(),
                          (kTipChars - 1) * sizeof(wchar_t), nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    text.resize(wcslen(text.c_str()));
    return quote(toUtf8(text));
}

std::string cmdEnabled(const Args& a) {
    return IsWindowEnabled(controlArg(a, 0)) ? "1" : "0";
}

std::string cmdVisible(const Args& a) {
    return IsWindowVisible(controlArg(a, 0)) ? "1" : "0";
}

std::string cmdClass(const Args& a) {
    HWND control = controlArg(a, 0);
    return quote(className(control)) + " " +
           hex32(static_cast<std::uint32_t>(GetWindowLongW(control, GWL_STYLE))) + " " +
           hex32(static_cast<std::uint32_t>(GetWindowLongW(control, GWL_EXSTYLE)));
}

std::string cmdRect(const Args& a) {
    return rectTokens(controlArg(a, 0));
}

std::string cmdWindowRect(const Args& a) {
    return rectTokens(windowArg(a, 0));
}

std::string cmdWindowStyle(const Args& a) {
    HWND hwnd = windowArg(a, 0);
    return hex32(static_cast<std::uint32_t>(GetWindowLongW(hwnd, GWL_STYLE))) + " " +
           hex32(static_cast<std::uint32_t>(GetWindowLongW(hwnd, GWL_EXSTYLE))) + " " +
           std::to_string(processOf(hwnd)) + " " + hex32(handleValue(GetWindow(hwnd, GW_OWNER)));
}

// Direct children in z-order, which for a dialog is the template's creation order.
std::string cmdChildren(const Args& a) {
    HWND dialog = windowArg(a, 0);
    std::string out;
    int count = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ++count;
        addToken(out, std::to_string(controlId(child)));
        addToken(out, quote(className(child)));
        addToken(out, hex32(static_cast<std::uint32_t>(GetWindowLongW(child, GWL_STYLE))));
        addToken(out, quote(windowText(child)));
        addToken(out, rectTokens(child));
    }
    return std::to_string(count) + out;
}

std::string cmdComboCount(const Args& a) {
    return std::to_string(query(controlArg(a, 0), CB_GETCOUNT, 0, 0));
}

std::string comboRow(HWND combo, LRESULT index) {
    const auto length = query(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        fail("no row " + std::to_string(index));
    // The wide form: ANSI CB_GETLBTEXT across processes returns only the first character.
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = query(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                              reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == CB_ERR)
        fail("no row " + std::to_string(index));
    buffer.resize(static_cast<std::size_t>(copied));
    return toUtf8(buffer);
}

std::string cmdComboRows(const Args& a) {
    HWND combo = controlArg(a, 0);
    const auto count = query(combo, CB_GETCOUNT, 0, 0);
    std::string out = std::to_string(count);
    for (LRESULT i = 0; i < count; ++i)
        addToken(out, quote(comboRow(combo, i)));
    return out;
}

std::string cmdComboSel(const Args& a) {
    HWND combo = controlArg(a, 0);
    const auto index = query(combo, CB_GETCURSEL, 0, 0);
    return std::to_string(index) + " " + quote(index == CB_ERR ? "" : comboRow(combo, index));
}

std::string cmdProgress(const Args& a) {
    HWND bar = controlArg(a, 0);
    const auto pos = query(bar, PBM_GETPOS, 0, 0);
    const auto low = query(bar, PBM_GETRANGE, TRUE, 0);
    const auto high = query(bar, PBM_GETRANGE, FALSE, 0);
    return std::to_string(pos) + " " + std::to_string(low) + " " + std::to_string(high);
}

// The colour on the screen at the control's centre: a bitmap button's image cannot be read
// across processes, but the screen can (the same pixels a screenshot shows).
std::string cmdPixel(const Args& a) {
    HWND control = controlArg(a, 0);
    RECT r{};
    GetWindowRect(control, &r);
    const int x = (r.left + r.right) / 2;
    const int y = (r.top + r.bottom) / 2;
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    if (c == CLR_INVALID)
        fail("pixel outside the screen");
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

// Every pixel on the screen under the control, row by row from the top: "<width> <height>"
// and one token of RRGGBB groups. Tells pictures apart whose centres look alike (a lamp
// with a tick and one without).
std::string cmdGrab(const Args& a) {
    HWND control = controlArg(a, 0);
    RECT r{};
    GetWindowRect(control, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        fail("the control has no area");
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    const int rows = copied ? GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                        &info, DIB_RGB_COLORS)
                            : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height)
        fail("cannot copy the screen under the control");
    std::string out = std::to_string(width) + " " + std::to_string(height) + " ";
    char buf[8];
    for (std::uint32_t p : pixels) {
        // A 32-bit DIB holds blue, green, red, unused from the lowest byte up.
        std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(p & 0xFFFFFFu));
        out += buf;
    }
    return out;
}

// Moves the mouse pointer, e.g. into a corner so that no tool tip covers the window;
// answers where it is now.
std::string cmdCursor(const Args& a) {
    const auto x = static_cast<int>(number(a, 0, "x"));
    const auto y = static_cast<int>(number(a, 1, "y"));
    // Wine warps the X pointer only when the position it knows changes, and it may not know
    // where Xvfb put the pointer: go to a neighbouring point first.
    if (!SetCursorPos(x + 1, y + 1) || !SetCursorPos(x, y))
        fail("SetCursorPos failed");
    POINT now{};
    GetCursorPos(&now);
    return std::to_string(now.x) + " " + std::to_string(now.y);
}

std::string cmdClick(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND control = controlArg(a, 0);
    waitUsable(dialog, control);
    return act(control, BM_CLICK, 0, 0, static_cast<UINT>(numberOr(a, 2, kDefaultActionTimeoutMs)));
}

std::string cmdSelect(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND combo = controlArg(a, 0);
    waitUsable(dialog, combo);
    const auto index = number(a, 2, "row index");
    if (query(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index)
        fail("no row " + a[2]);
    // CB_SETCURSEL sends no notification; an operator's selection does.
    return act(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo),
               static_cast<UINT>(numberOr(a, 3, kDefaultActionTimeoutMs)));
}

std::string cmdCommand(const Args& a) {
    HWND dialog = windowArg(a, 0);
    const auto id = static_cast<int>(number(a, 1, "command id"));
    const auto code = static_cast<int>(numberOr(a, 2, BN_CLICKED));
    HWND control = GetDlgItem(dialog, id);
    return act(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control),
               static_cast<UINT>(numberOr(a, 3, kDefaultActionTimeoutMs)));
}

std::string cmdSysCommand(const Args& a) {
    HWND dialog = windowArg(a, 0);
    const auto command = static_cast<WPARAM>(number(a, 1, "system command"));
    if (!PostMessageW(dialog, WM_SYSCOMMAND, command, 0))
        fail("posting WM_SYSCOMMAND failed");
    return {};
}

std::string cmdClose(const Args& a) {
    if (!PostMessageW(windowArg(a, 0), WM_CLOSE, 0, 0))
        fail("posting WM_CLOSE failed");
    return {};
}

std::string cmdFocus(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND control = controlArg(a, 0);
    waitUsable(dialog, control);
    bringToForeground(dialog);
    act(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE, kQueryTimeoutMs);
    if (!waitUntil(kKeyTimeoutMs, [&] { return focusOf(dialog) == control; }))
        fail("control did not take the focus");
    return {};
}

std::string cmdFocused(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND focus = focusOf(dialog);
    if (!focus)
        return "0 0x00000000";
    return std::to_string(IsChild(dialog, focus) ? controlId(focus) : 0) + " " +
           hex32(handleValue(focus));
}

// Keys go in as real keyboard input (SendInput to the foreground window), so they pass
// through the program's message loop and the dialog manager exactly as an operator's.
// To know the program has handled them, a probe follows: Tab, which the dialog manager
// turns into a focus move that can be seen from outside, then Shift+Tab to move back.
// Keyboard input is handled in order, so once the focus has moved the keys before it
// have been handled.
std::string cmdKey(const Args& a) {
    HWND dialog = windowArg(a, 0);
    if (a.size() < 2)
        fail("usage: key <hwnd> <keys> [sync|nosync]");
    const Chord chord = parseChord(a[1]);
    const bool sync = a.size() < 3 || a[2] == "sync";
    // A window that holds its painting reads as hidden and cannot come to the foreground.
    if (!waitUntil(static_cast<DWORD>(octo::e2e::kUsableWaitMs),
                   [&] { return IsWindowVisible(dialog) != FALSE; }))
        fail("window is hidden (for " + std::to_string(octo::e2e::kUsableWaitMs) + " ms)");
    HWND before = focusOf(dialog);
    if (sync && (!before || !IsChild(dialog, before)))
        fail("no control of the window has the focus");
    bringToForeground(dialog);
    sendChord(chord);
    if (!sync)
        return {};
    const auto gone = [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); };
    sendChord(parseChord("tab"));
    HWND moved = nullptr;
    if (!waitUntil(kKeyTimeoutMs, [&] {
            moved = focusOf(dialog);
            return gone() || (moved && moved != before);
        }))
        fail("the focus probe did not move: keys are not handled as dialog keys");
    if (gone())
        return "closed";
    sendChord(parseChord("shift+tab"));
    if (!waitUntil(kKeyTimeoutMs, [&] { return gone() || focusOf(dialog) == before; }))
        fail("the focus probe did not return");
    return gone() ? "closed" : "open";
}

// Wine's file dialog: the name goes into the file name box (an edit inside a ComboBoxEx).
std::string cmdFileName(const Args& a) {
    HWND dialog = windowArg(a, 0);
    if (a.size() < 2)
        fail("usage: file_name <hwnd> <path>");
    const std::wstring text = toWide(a[1]);
    // Wine's dialog may put a new name box in place of the old one just after it changed
    // folder: a box gone while the name went in is found again, within kUsableWaitMs.
    std::string reason = "no file name box in window " + a[0];
    std::string shown;
    const auto entered = [&] {
        HWND box = GetDlgItem(dialog, kFileNameId);
        if (!box)
            return false;
        try {
            query(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            shown = windowText(box);
            return true;
        } catch (const Failure& f) {
            if (IsWindow(box))
                throw;
            reason = f.reason;
            return false;
        }
    };
    if (!waitUntil(static_cast<DWORD>(octo::e2e::kUsableWaitMs), entered))
        fail(reason);
    return quote(shown);
}

// Choosing a filter: Wine's file dialog reacts to CBN_SELENDOK, programs to CBN_SELCHANGE.
std::string cmdFileFilter(const Args& a) {
    HWND dialog = windowArg(a, 0);
    HWND list = GetDlgItem(dialog, kFileTypeId);
    if (!list)
        fail("no file type list in window " + a[0]);
    const auto index = number(a, 1, "filter index");
    if (query(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != index)
        fail("no filter " + a[1]);
    query(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeId, CBN_SELCHANGE),
          reinterpret_cast<LPARAM>(list));
    query(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeId, CBN_SELENDOK),
          reinterpret_cast<LPARAM>(list));
    return {};
}

// A message box: its caption, its text (the static 0xFFFF) and its buttons' ids and texts.
std::string cmdMessageBox(const Args& a) {
    HWND box = windowArg(a, 0);
    HWND text = GetDlgItem(box, kStaticTextId);
    if (!text)
        fail("window " + a[0] + " is not a message box");
    std::string buttons;
    int count = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) != "Button" || !IsWindowVisible(child))
            continue;
        ++count;
        addToken(buttons, std::to_string(controlId(child)));
        addToken(buttons, quote(windowText(child)));
    }
    return quote(windowText(box)) + " " + quote(windowText(text)) + " " + std::to_string(count) +
           buttons;
}

// Answers a message box the way its button would: WM_COMMAND with BN_CLICKED.
std::string cmdPress(const Args& a) {
    HWND box = windowArg(a, 0);
    const auto id = static_cast<int>(number(a, 1, "button id"));
    HWND button = GetDlgItem(box, id);
    if (!button || !IsWindowVisible(button))
        fail("no button " + a[1] + " in window " + a[0]);
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)))
        fail("posting the button press failed");
    return {};
}

const std::map<std::string, Handler>& commands() {
    static const std::map<std::string, Handler> table = {
        {"ping", [](const Args&) { return std::string("pong"); }},
        {"wait_window", cmdWaitWindow},
        {"wait_popup", cmdWaitPopup},
        {"wait_gone", cmdWaitGone},
        {"exists", cmdExists},
        {"caption", cmdCaption},
        {"wstyle", cmdWindowStyle},
        {"wrect", cmdWindowRect},
        {"children", cmdChildren},
        {"text", cmdText},
        {"settext", cmdSetText},
        {"check", cmdCheck},
        {"enabled", cmdEnabled},
        {"tooltip", cmdToolTip},
        {"visible", cmdVisible},
        {"class", cmdClass},
        {"rect", cmdRect},
        {"combo_count", cmdComboCount},
        {"combo_rows", cmdComboRows},
        {"combo_sel", cmdComboSel},
        {"progress", cmdProgress},
        {"pixel", cmdPixel},
        {"grab", cmdGrab},
        {"cursor", cmdCursor},
        {"click", cmdClick},
        {"select", cmdSelect},
        {"command", cmdCommand},
        {"syscommand", cmdSysCommand},
        {"close", cmdClose},
        {"focus", cmdFocus},
        {"focused", cmdFocused},
        {"key", cmdKey},
        {"msgbox", cmdMessageBox},
        {"press", cmdPress},
        {"file_name", cmdFileName},
        {"file_filter", cmdFileFilter},
    };
    return table;
}

void writeLine(HANDLE out, const std::string& line) {
    const std::string data = line + "\n";
    DWORD written = 0;
    WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    FlushFileBuffers(out);
}

std::string answer(const std::string& line, bool& quit) {
    std::string error;
    const auto tokens = octo::e2e::splitTokens(line, error);
    if (!tokens)
        return "ERR " + quote(error);
    if (tokens->empty())
        return "ERR " + quote("empty command");
    const std::string& name = tokens->front();
    if (name == "quit") {
        quit = true;
        return "OK";
    }
    const auto it = commands().find(name);
    if (it == commands().end())
        return "ERR " + quote("unknown command " + name);
    try {
        const std::string payload = it->second(Args(tokens->begin() + 1, tokens->end()));
        return payload.empty() ? "OK" : "OK " + payload;
    } catch (const Failure& f) {
        return "ERR " + quote(f.reason);
    }
}

} // namespace

int main() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    writeLine(out, "OK ready");
    std::string pending;
    char chunk[4096];
    bool quit = false;
    while (!quit) {
        DWORD got = 0;
        if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0)
            break;
        pending.append(chunk, got);
        std::size_t newline;
        while (!quit && (newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            writeLine(out, answer(line, quit));
        }
    }
    return 0;
}
