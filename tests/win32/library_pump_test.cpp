// The library's message pump on Windows: a handler that posts a message each time it runs
// must not keep a waiting call inside the pump for good.
#include "api/Host.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

constexpr UINT kSelfPost = WM_APP + 1;
// Far more messages than one pump of a few milliseconds can serve.
constexpr int kEnough = 200000;
constexpr const char* kClassName = "OctoSelfPosting";

int handled = 0;

LRESULT CALLBACK selfPosting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kSelfPost) {
        if (++handled < kEnough) {
            PostMessageA(window, kSelfPost, 0, 0);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(LibraryPump, ASelfPostingHandlerDoesNotHoldThePump) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = selfPosting;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    const HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostMessageA(window, kSelfPost, 0, 0));

    octo::library::platformHost().pumpMessages();
    EXPECT_GT(handled, 0);
    EXPECT_LT(handled, kEnough);
    // What the pump left stays queued for the caller's own loop.
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, kSelfPost, kSelfPost, PM_NOREMOVE));

    DestroyWindow(window);
    UnregisterClassA(kClassName, windowClass.hInstance);
}

} // namespace
