// A small program with a window, to stand for a game or a chat program in front:
//   foreground TITLE   shows a window titled TITLE and brings it to the front; it comes to the
//                      front again on the message WM_APP (posted by the test), and ends on
//                      WM_CLOSE. Copied under several names, it is several programs.
#include <windows.h>

namespace {

LRESULT CALLBACK ForegroundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_APP: SetForegroundWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ForegroundProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"PadwardenForegroundTest";
    if (RegisterClassW(&wc) == 0)
        return 1;
    HWND window =
        CreateWindowExW(0, wc.lpszClassName, argc > 1 ? argv[1] : L"foreground", WS_OVERLAPPEDWINDOW, 100,
                        100, 320, 200, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr)
        return 1;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
