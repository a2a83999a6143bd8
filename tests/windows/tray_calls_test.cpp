// The tray icon's calls to the taskbar, which take as long as the taskbar takes to answer: an add
// that took effect although it reported a failure, and a taskbar slow to answer at all. They need
// a notification area, so where the suite runs without a desktop they skip, and the end-to-end
// tier runs them on its display.
#include <gtest/gtest.h>

#include <thread>

#include "app/app_win.h"
#include "monitor/tray_win.h"

#include <shellapi.h>

namespace {

// The tool's window procedure over the Tool state, as the icon's owner; the test makes the tray
// calls itself, so creating the window adds no icon.
HWND CreateIconOwner(ToolState* state) {
    static ATOM atom = 0;
    if (atom == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PADWARDEN-TRAY-TEST";
        atom = RegisterClassExW(&wc);
    }
    state->instance = GetModuleHandleW(nullptr);
    CopyUtf16(state->caption, 256, u"Padwarden");
    state->enableTrayIcon = 0;
    HWND window = CreateWindowExW(0, L"PADWARDEN-TRAY-TEST", L"", WS_POPUP, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), state);
    state->enableTrayIcon = 1;
    return window;
}

void DestroyIconOwner(HWND window) {
    if (IsWindow(window))
        DestroyWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

NOTIFYICONDATAW BareRecord(HWND window) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof nid;
    nid.hWnd = window;
    nid.uID = kTrayIconId;
    return nid;
}

TEST(TrayOnDesktop, AnAddThatFailedButTookEffectIsFoundByAModify) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    HWND window = CreateIconOwner(&state);
    ASSERT_NE(window, nullptr);
    // What the taskbar did with an add it did not answer in time: the icon is there.
    NOTIFYICONDATAW taken = BareRecord(window);
    if (!Shell_NotifyIconW(NIM_ADD, &taken)) {
        DestroyIconOwner(window);
        GTEST_SKIP() << "no notification area";
    }
    EXPECT_EQ(AddTrayIcon(&state), 0);
    ASSERT_EQ(state.trayIconShown, 0);
    SendMessageW(window, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_EQ(state.trayIconShown, 1) << "the retry never finds the icon that is there";

    // The same failure with no icon left behind: the tries go on to an add.
    DeleteTrayIcon(&state);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &taken));
    EXPECT_EQ(AddTrayIcon(&state), 0);
    Shell_NotifyIconW(NIM_DELETE, &taken);
    for (int tick = 0; tick < 2 && !state.trayIconShown; ++tick)
        SendMessageW(window, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_EQ(state.trayIconShown, 1) << "the icon is not added again";
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &taken)) << "the icon is not there";

    DeleteTrayIcon(&state);
    DestroyIconOwner(window);
}

// A taskbar that takes `delayMs` over every call, as one still starting at log-on or a hung one.
// Its window is the first of the class, so the shell's calls come to it rather than to the real one.
class SlowTaskbar {
  public:
    explicit SlowTaskbar(DWORD delayMs) : delayMs_(delayMs) {
        thread_ = std::thread([this] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Procedure;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"Shell_TrayWnd";
            RegisterClassW(&wc);
            HWND made = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0,
                                        0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
            if (made != nullptr)
                SetWindowLongPtrW(made, GWLP_USERDATA, static_cast<LONG_PTR>(delayMs_));
            window_ = made;
            ready_ = 1;
            MSG message;
            while (made != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
            if (made != nullptr)
                DestroyWindow(made);
        });
        while (!ready_)
            Sleep(1);
    }
    ~SlowTaskbar() {
        if (window_ != nullptr)
            PostMessageW(window_, WM_QUIT, 0, 0);
        thread_.join();
    }
    bool Answers() const { return window_ != nullptr && FindWindowW(L"Shell_TrayWnd", nullptr) == window_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            Sleep(static_cast<DWORD>(GetWindowLongPtrW(window, GWLP_USERDATA)));
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    DWORD delayMs_;
    std::thread thread_;
    HWND window_ = nullptr;
    volatile LONG ready_ = 0;
};

ULONGLONG MillisecondsSince(ULONGLONG start) {
    return GetTickCount64() - start;
}

// While the Monitor thread's frame waits on the taskbar, the window thread neither waits for that
// call nor makes one of its own before it answers the end of the session.
TEST(TrayOnDesktop, TheWindowDoesNotWaitForASlowTaskbar) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    HWND window = CreateIconOwner(&state);
    ASSERT_NE(window, nullptr);
    AddTrayIcon(&state); // fills the record, whether or not a real notification area takes it
    {
        constexpr DWORD kDelayMs = 2500;
        SlowTaskbar taskbar(kDelayMs);
        if (!taskbar.Answers()) {
            DeleteTrayIcon(&state);
            DestroyIconOwner(window);
            GTEST_SKIP() << "the real taskbar comes first";
        }
        // At log-on: no add has gone through yet while the frames go on.
        state.trayIconShown = 0;
        std::thread monitor([] { ModifyTrayIcon(&state); });
        Sleep(300);
        state.trayPictureSize = 0; // a new scaling: the pictures are loaded again
        ULONGLONG start = GetTickCount64();
        LoadTrayIcons(&state);
        EXPECT_LT(MillisecondsSince(start), 1000u) << "the new pictures waited for the frame's call";

        start = GetTickCount64();
        EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
        SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        EXPECT_LT(MillisecondsSince(start), 1000u) << "the answer waited for the taskbar";
        monitor.join();
        // The window goes after the answer, icon and all.
        MSG message;
        for (start = GetTickCount64(); IsWindow(window) && MillisecondsSince(start) < 3 * kDelayMs;) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            else
                Sleep(5);
        }
        EXPECT_FALSE(IsWindow(window));
    }
    // What the real notification area holds goes too.
    NOTIFYICONDATAW nid = BareRecord(window);
    Shell_NotifyIconW(NIM_DELETE, &nid);
    DestroyIconOwner(window);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Corvane\\Padwarden\\Parameters");
}

// Pictures for a second new scaling, while the first set's predecessor is still named by a call
// under way, are refused for the moment, not lost.
TEST(TrayOnDesktop, PicturesRefusedDuringASlowCallComeOnceItEnds) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    HWND window = CreateIconOwner(&state);
    ASSERT_NE(window, nullptr);
    AddTrayIcon(&state);
    {
        SlowTaskbar taskbar(1500);
        if (!taskbar.Answers()) {
            DeleteTrayIcon(&state);
            DestroyIconOwner(window);
            GTEST_SKIP() << "the real taskbar comes first";
        }
        state.trayIconShown = 0;
        std::thread monitor([] { ModifyTrayIcon(&state); });
        Sleep(300);
        state.trayPictureSize = 0;
        EXPECT_EQ(LoadTrayIcons(&state), 1);
        state.trayPictureSize = 0;
        EXPECT_EQ(LoadTrayIcons(&state), 0) << "two old sets kept while a call may name the first";
        monitor.join();
        MSG message;
        for (ULONGLONG start = GetTickCount64();
             state.trayPictureSize == 0 && MillisecondsSince(start) < 3000;) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            else
                Sleep(5);
        }
        EXPECT_NE(state.trayPictureSize, 0) << "the refused pictures never came";
    }
    NOTIFYICONDATAW nid = BareRecord(window);
    Shell_NotifyIconW(NIM_DELETE, &nid);
    DestroyIconOwner(window);
}

} // namespace
