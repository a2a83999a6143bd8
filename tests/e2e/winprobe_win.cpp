// A small Win32 console program that end-to-end tests run in the tool's Wine prefix to look at
// windows of other processes: list them, read control texts and states, press buttons, post
// messages. One command per run; answers are UTF-8 lines on stdout; exit code 0 on success;
// stderr says it started.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void Print(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), out.data(), n, nullptr,
                        nullptr);
    fwrite(out.data(), 1, out.size(), stdout);
}

std::wstring Text(HWND window) {
    wchar_t buffer[4096] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    buffer[4095] = 0;
    return buffer;
}

// A combo box's entries, one line each, then "selected N".
void PrintCombo(HWND combo) {
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 64; ++i) {
        wchar_t entry[256] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 256)
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
        Print(entry);
    }
    Print(L"selected " + std::to_wstring(SendMessageW(combo, CB_GETCURSEL, 0, 0)));
}

// A progress bar as "position low high colour": the colour as 0xRRGGBB.
void PrintProgress(HWND bar) {
    // The range comes back in the result: a structure pointer would name this process's memory.
    const int low = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
    const int high = static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    const COLORREF colour = static_cast<COLORREF>(SendMessageW(bar, PBM_GETBARCOLOR, 0, 0));
    wchar_t line[128];
    swprintf(line, 128, L"%d %d %d 0x%02x%02x%02x", static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)),
             low, high, GetRValue(colour), GetGValue(colour), GetBValue(colour));
    Print(line);
}

HWND ParseWindow(const wchar_t* s) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(s, nullptr, 0)));
}

BOOL CALLBACK ListOne(HWND window, LPARAM) {
    wchar_t cls[256] = {};
    GetClassNameW(window, cls, 256);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT r = {};
    GetWindowRect(window, &r);
    wchar_t head[512];
    swprintf(head, 512, L"0x%llx\t%lu\t%d\t%ld,%ld,%ld,%ld\t%ls\t",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), pid,
             IsWindowVisible(window) ? 1 : 0, r.left, r.top, r.right - r.left, r.bottom - r.top, cls);
    // No message is sent here: a hung window must not stall the listing.
    wchar_t title[512] = {};
    InternalGetWindowText(window, title, 512);
    Print(std::wstring(head) + title);
    return TRUE;
}

// One line per direct child: handle, visible, class, check state (-1 for other than buttons), text.
// For windows whose controls carry no IDs, such as Windows Installer's dialogs.
BOOL CALLBACK ListChild(HWND child, LPARAM parent) {
    if (GetParent(child) != reinterpret_cast<HWND>(parent))
        return TRUE;
    wchar_t cls[256] = {};
    GetClassNameW(child, cls, 256);
    const LRESULT check = _wcsicmp(cls, L"Button") == 0 ? SendMessageW(child, BM_GETCHECK, 0, 0) : -1;
    wchar_t head[512];
    swprintf(head, 512, L"0x%llx\t%d\t%ls\t%d\t",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(child)),
             IsWindowVisible(child) ? 1 : 0, cls, static_cast<int>(check));
    Print(std::wstring(head) + Text(child));
    return TRUE;
}

// The child of `dialog` that holds its thread's keyboard focus (a combo box's own edit counts as
// the combo box), null when the focus is elsewhere; 0 when the dialog's thread cannot be read.
int FocusedControl(HWND dialog, HWND* control) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    if (thread == 0 || !GetGUIThreadInfo(thread, &info))
        return 0;
    *control = info.hwndFocus;
    while (*control != nullptr && GetParent(*control) != dialog)
        *control = GetParent(*control);
    return 1;
}

// The texts of every tool of a tooltip control in another process, one line each with its line
// ends as " | ": read through memory lent in that process, as a screen reader reads them.
int PrintTooltipTexts(HWND tip) {
    DWORD processId = 0;
    GetWindowThreadProcessId(tip, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr)
        return 1;
    constexpr SIZE_T kTextUnits = 1024;
    const SIZE_T size = sizeof(TTTOOLINFOW) + kTextUnits * sizeof(wchar_t);
    auto* lent =
        static_cast<BYTE*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    int failed = lent == nullptr;
    const LRESULT tools = failed ? 0 : SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < tools && !failed; ++i) {
        TTTOOLINFOW info = {};
        info.cbSize = sizeof info;
        info.lpszText = reinterpret_cast<LPWSTR>(lent + sizeof info);
        const wchar_t none[1] = {0};
        failed = !WriteProcessMemory(process, lent, &info, sizeof info, nullptr) ||
                 !WriteProcessMemory(process, lent + sizeof info, none, sizeof none, nullptr) ||
                 !SendMessageW(tip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(lent)) ||
                 !ReadProcessMemory(process, lent, &info, sizeof info, nullptr);
        if (failed)
            break;
        info.lpszText = reinterpret_cast<LPWSTR>(lent + sizeof info);
        wchar_t text[kTextUnits] = {};
        failed = !WriteProcessMemory(process, lent, &info, sizeof info, nullptr) ||
                 (SendMessageW(tip, TTM_GETTEXTW, kTextUnits, reinterpret_cast<LPARAM>(lent)), 0) ||
                 !ReadProcessMemory(process, lent + sizeof info, text, sizeof text, nullptr);
        text[kTextUnits - 1] = 0;
        std::wstring line;
        for (const wchar_t* c = text; *c != 0; ++c)
            line += *c == L'\n' ? std::wstring(L" | ") : *c == L'\r' ? std::wstring() : std::wstring(1, *c);
        Print(line);
    }
    if (lent != nullptr)
        VirtualFreeEx(process, lent, 0, MEM_RELEASE);
    CloseHandle(process);
    return failed ? 1 : 0;
}

// The number of visible menus on the screen: Wine draws each open menu level as one "#32768"
// window, and keeps none visible once tracking ends.
int OpenMenus() {
    int count = 0;
    HWND after = nullptr;
    while ((after = FindWindowExW(nullptr, after, MAKEINTATOM(32768), nullptr)) != nullptr)
        count += IsWindowVisible(after) ? 1 : 0;
    return count;
}

// The system clock in seconds since 1970: under Wine it is the Linux clock, so a test can hold
// it against its own time.time().
std::wstring WallClock() {
    // Looked up, not linked: the build targets systems older than the call.
    using PreciseTime = void(WINAPI*)(FILETIME*);
    static const auto precise = reinterpret_cast<PreciseTime>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now = {};
    if (precise != nullptr)
        precise(&now);
    else
        GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long unix = ticks - 116444736000000000ULL;
    wchar_t text[64];
    swprintf(text, 64, L"%llu.%06llu", unix / 10000000ULL, (unix % 10000000ULL) / 10ULL);
    return text;
}

int Usage() {
    Print(
        L"usage: winprobe windows | foreground | workarea | children HWND | focus HWND | focus-trace HWND "
        L"MILLISECONDS | menu-watch MILLISECONDS | text HWND ID | "
        L"check HWND ID | visible HWND ID | enabled HWND ID | click HWND ID | settext HWND ID TEXT | "
        L"post HWND MSG WPARAM LPARAM [COUNT] | send HWND MSG WPARAM LPARAM [TIMEOUT_MS] | combo HWND ID | "
        L"select HWND ID INDEX | progress HWND ID | move HWND X Y | broadcast MESSAGE_NAME | rect HWND ID | "
        L"tray-delete HWND ICON_ID (an ID of - names HWND itself) | tooltip HWND");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // A line on stderr before anything is done: a run that ended without it never got to act, so
    // the harness may run it again whatever the command.
    static const char kStarted[] = "winprobe: started\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kStarted, sizeof kStarted - 1, &written, nullptr);
    if (argc < 2)
        return Usage();
    const std::wstring cmd = argv[1];
    if (cmd == L"windows") {
        EnumWindows(ListOne, 0);
        return 0;
    }
    if (cmd == L"focus" && argc >= 3) {
        HWND control = nullptr;
        if (!FocusedControl(ParseWindow(argv[2]), &control))
            return 1;
        if (control == nullptr) {
            Print(L"none");
            return 0;
        }
        wchar_t line[64];
        swprintf(line, 64, L"%d 0x%llx", GetDlgCtrlID(control),
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(control)));
        Print(line);
        return 0;
    }
    if (cmd == L"focus-trace" && argc >= 4) {
        // Watches rather than answers once, so that a test can send a run of keys in one go and
        // still see every step: one line per change of the focused control's ID ("none" when the
        // focus is elsewhere, "gone" when the dialog is), the first value included, for MILLISECONDS.
        HWND dialog = ParseWindow(argv[2]);
        const ULONGLONG end = GetTickCount64() + wcstoul(argv[3], nullptr, 0);
        std::wstring last;
        int printed = 0;
        while (GetTickCount64() < end) {
            HWND control = nullptr;
            const int alive = FocusedControl(dialog, &control);
            const std::wstring now = !alive    ? L"gone"
                                     : control ? std::to_wstring(GetDlgCtrlID(control))
                                               : L"none";
            if (printed == 0 || now != last) {
                Print(now);
                fflush(stdout);
                last = now;
                printed = 1;
                if (!alive)
                    return 0;
            }
            Sleep(5);
        }
        return 0;
    }
    if (cmd == L"menu-watch" && argc >= 3) {
        // Started before a click, so that what it times is the tool and not this program's own
        // start: "ready TIME", then "COUNT TIME" for the first count of open menus and at each
        // change. Ends once the menus that opened are all gone, or after MILLISECONDS.
        const ULONGLONG end = GetTickCount64() + wcstoul(argv[2], nullptr, 0);
        int last = OpenMenus();
        int opened = last > 0;
        Print(L"ready " + WallClock());
        Print(std::to_wstring(last) + L" " + WallClock());
        fflush(stdout);
        while (GetTickCount64() < end) {
            const int now = OpenMenus();
            if (now != last) {
                Print(std::to_wstring(now) + L" " + WallClock());
                fflush(stdout);
                last = now;
                opened |= now > 0;
                if (opened && now == 0)
                    return 0;
            }
            // A tight loop, but one that leaves the cores to the tool it watches.
            Sleep(1);
        }
        Print(L"timeout " + WallClock());
        return 1;
    }
    if (cmd == L"workarea") {
        // The main monitor's work area, "left top right bottom": where dialogs must open.
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &info))
            return 1;
        wchar_t line[96];
        swprintf(line, 96, L"%ld %ld %ld %ld", info.rcWork.left, info.rcWork.top, info.rcWork.right,
                 info.rcWork.bottom);
        Print(line);
        return 0;
    }
    if (cmd == L"foreground") {
        Print(std::to_wstring(
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetForegroundWindow()))));
        return 0;
    }
    if (cmd == L"broadcast" && argc >= 3) {
        // A registered message to every top-level window, as Explorer announces a new taskbar.
        const UINT msg = RegisterWindowMessageW(argv[2]);
        return msg != 0 && PostMessageW(HWND_BROADCAST, msg, 0, 0) ? 0 : 1;
    }
    if (cmd == L"tooltip" && argc >= 3)
        return PrintTooltipTexts(ParseWindow(argv[2]));
    if (cmd == L"children" && argc >= 3) {
        EnumChildWindows(ParseWindow(argv[2]), ListChild, reinterpret_cast<LPARAM>(ParseWindow(argv[2])));
        return 0;
    }
    if (argc < 4)
        return Usage();
    HWND window = ParseWindow(argv[2]);
    if (cmd == L"move") {
        if (argc < 5)
            return Usage();
        return SetWindowPos(window, nullptr, wcstol(argv[3], nullptr, 0), wcstol(argv[4], nullptr, 0), 0, 0,
                            SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)
                   ? 0
                   : 1;
    }
    if (cmd == L"tray-delete") {
        // What a tray that goes away does to every icon: it forgets it.
        NOTIFYICONDATAW nid = {};
        nid.cbSize = sizeof nid;
        nid.hWnd = window;
        nid.uID = static_cast<UINT>(wcstoul(argv[3], nullptr, 0));
        return Shell_NotifyIconW(NIM_DELETE, &nid) ? 0 : 1;
    }
    if (cmd == L"post" || cmd == L"send") {
        if (argc < 6)
            return Usage();
        const UINT msg = static_cast<UINT>(wcstoul(argv[3], nullptr, 0));
        const WPARAM wp = static_cast<WPARAM>(wcstoull(argv[4], nullptr, 0));
        const LPARAM lp = static_cast<LPARAM>(wcstoll(argv[5], nullptr, 0));
        if (cmd == L"post") {
            // An optional count posts the message that many times at once, as a burst.
            const long count = argc >= 7 ? wcstol(argv[6], nullptr, 0) : 1;
            for (long i = 0; i < count; ++i)
                if (!PostMessageW(window, msg, wp, lp))
                    return 1;
            return 0;
        }
        // As the system sends its notices: an answer that does not come in time fails the send.
        const DWORD timeout = argc >= 7 ? static_cast<DWORD>(wcstoul(argv[6], nullptr, 0)) : 15000;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, msg, wp, lp, SMTO_ABORTIFHUNG, timeout, &result)) {
            Print(L"no answer");
            return 1;
        }
        Print(std::to_wstring(static_cast<unsigned long long>(result)));
        return 0;
    }
    // "-" for the ID: the handle is the control itself.
    HWND control = wcscmp(argv[3], L"-") == 0
                       ? window
                       : GetDlgItem(window, static_cast<int>(wcstol(argv[3], nullptr, 0)));
    if (control == nullptr) {
        Print(L"no such control");
        return 1;
    }
    if (cmd == L"text") {
        Print(Text(control));
    } else if (cmd == L"check") {
        Print(std::to_wstring(SendMessageW(control, BM_GETCHECK, 0, 0)));
    } else if (cmd == L"visible") {
        Print(std::to_wstring(IsWindowVisible(control) ? 1 : 0));
    } else if (cmd == L"enabled") {
        Print(std::to_wstring(IsWindowEnabled(control) ? 1 : 0));
    } else if (cmd == L"click") {
        // Posted, so a button that opens a message box does not block the probe.
        PostMessageW(control, BM_CLICK, 0, 0);
    } else if (cmd == L"combo") {
        PrintCombo(control);
    } else if (cmd == L"progress") {
        PrintProgress(control);
    } else if (cmd == L"rect") {
        // The control's client area on the screen, as "x y width height", to read its pixels.
        RECT r = {};
        GetClientRect(control, &r);
        POINT origin = {0, 0};
        ClientToScreen(control, &origin);
        Print(std::to_wstring(origin.x) + L" " + std::to_wstring(origin.y) + L" " + std::to_wstring(r.right) +
              L" " + std::to_wstring(r.bottom));
    } else if (cmd == L"select" && argc >= 5) {
        // As a user's pick: the selection, then the notice, posted so a slow handler does not block.
        SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(wcstol(argv[4], nullptr, 0)), 0);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
    } else if (cmd == L"settext" && argc >= 5) {
        SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), SMTO_ABORTIFHUNG, 2000,
                            nullptr);
    } else {
        return Usage();
    }
    return 0;
}
