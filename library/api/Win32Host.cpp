#include "api/Host.h"

// <windows.h> must come before <commctrl.h>.
#include <windows.h>

#include <commctrl.h>

#include <chrono>

namespace octo::library {

namespace {

// Longest one pump serves messages before the waiting call looks at its deadline again.
constexpr std::chrono::milliseconds kPumpBudget{5};

class Win32Host final : public Host {
public:
    void pumpMessages() override {
        // Bounded in time: a handler that posts a message each time it runs would
        // otherwise keep the queue from ever emptying, and the call from its deadline.
        const auto end = std::chrono::steady_clock::now() + kPumpBudget;
        MSG msg;
        while (std::chrono::steady_clock::now() < end &&
               PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Not ours to take: put it back for the caller's own loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    void setText(OctoHandle window, const std::string& text) override {
        const HWND hwnd = static_cast<HWND>(window);
        if (hwnd && IsWindow(hwnd)) {
            SetWindowTextA(hwnd, text.c_str());
            UpdateWindow(hwnd);
        }
    }

    void setProgress(OctoHandle bar, uint32_t position, uint32_t range) override {
        const HWND hwnd = static_cast<HWND>(bar);
        if (hwnd && IsWindow(hwnd)) {
            SendMessageA(hwnd, PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
            SendMessageA(hwnd, PBM_SETPOS, position, 0);
        }
    }

    void setPicture(OctoHandle lamp, OctoHandle picture) override {
        const HWND hwnd = static_cast<HWND>(lamp);
        if (hwnd && IsWindow(hwnd)) {
            SendMessageA(hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
        }
    }
};

} // namespace

Host& platformHost() {
    static Win32Host host;
    return host;
}

} // namespace octo::library
