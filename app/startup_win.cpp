// Start-up and shut-down on Windows: the administrator test, the single-instance mutex, the
// window class, the Monitor thread, the rumble block and the elevated Driver Reset copy.
#include "app/command_line.h"
#include "app/settings.h"
#include "app/app_win.h"
#include "monitor/tray_win.h"

#include <commctrl.h>
#include "core/scope_win.h"
#include "core/system_dlls_win.h"
#include "core/ui_port.h"
#include "driver/discovery.h"
#include "driver/driver_reset.h"
#include "driver/driver_win.h"
#include "monitor/monitor.h"
#include "profiles/profile_library.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"

namespace {

// The one Tool state of the process; everything else reaches it through the pointer handed to
// the window, the dialogs and the Monitor thread.
ToolState toolState;

int RegisterMainClass(ToolState* state) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = static_cast<HINSTANCE>(state->instance);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_APPLICATION_LARGE));
    // Its own copy: the tray pictures are reloaded when the scaling changes.
    wc.hIconSm = static_cast<HICON>(LoadImageW(wc.hInstance, MAKEINTRESOURCEW(IDI_TRAY_BASE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = W(state->className);
    return RegisterClassExW(&wc) != 0;
}

HWND CreateMainWindow(ToolState* state) {
    HWND window = CreateWindowExW(0, W(state->className), W(state->caption), WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, static_cast<HINSTANCE>(state->instance), state);
    if (window != nullptr) {
        ShowWindow(window, SW_HIDE);
        UpdateWindow(window);
    }
    return window;
}

void RunMessageLoop(ToolState* state) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsModelessDialogMessage(state, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

DWORD WINAPI MonitorThreadEntry(LPVOID parameter) {
    MonitorThreadMain(static_cast<ToolState*>(parameter));
    return 0;
}

int QueryIsUserAnAdmin() {
    const SystemCalls& dll = SystemDlls();
    return dll.IsUserAnAdmin != nullptr && dll.IsUserAnAdmin() ? 1 : 0;
}

// An administrator's process started without elevation holds a limited token, for which
// IsUserAnAdmin answers 0.
ElevationType QueryElevationType() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return ElevationType::Unknown;
    OwnedHandle token(opened);
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token.handle, TokenElevationType, &type, sizeof type, &size);
    if (!read || size != sizeof type)
        return ElevationType::Unknown;
    switch (type) {
    case TokenElevationTypeDefault: return ElevationType::Default;
    case TokenElevationTypeFull: return ElevationType::Full;
    case TokenElevationTypeLimited: return ElevationType::Limited;
    default: return ElevationType::Unknown;
    }
}

// The elevated copy: checks that the id names the parent node of one of the driver's HID devices,
// restarts it and ends. No single-instance mutex, no window, no icon, no rumble block.
int RunDriverResetCopy(const Utf16* parentInstanceId) {
    if (!IsDriverParent(parentInstanceId))
        return static_cast<int>(ResetExitCode(ResetOutcome::Refused));
    return static_cast<int>(ResetExitCode(RestartParentDevice(parentInstanceId)));
}

} // namespace

void InitializeToolState(ToolState* state) {
    InitializeToolStateDefaults(state);
    const int admin = QueryIsUserAnAdmin();
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    const BOOL known = admin ? FALSE : GetVersionExW(&version);
    ApplyAdministratorTest(state, admin, known != FALSE, version.dwMajorVersion, version.dwMinorVersion,
                           QueryElevationType());
}

int IsDebugCommandLine() {
    static_assert(sizeof(wchar_t) == sizeof(Utf16), "UTF-16 wide characters");
    return IsDebugCommandLineText(reinterpret_cast<const Utf16*>(GetCommandLineW()));
}

int StartUp(HINSTANCE instance) {
    Utf16 resetId[kInstanceIdChars];
    if (DriverResetSwitchOf(reinterpret_cast<const Utf16*>(GetCommandLineW()), resetId, kInstanceIdChars))
        return RunDriverResetCopy(resetId);
    // Before the single-instance mutex: the copy that ends the running one must not be it, nor
    // the copy that hands it a command.
    if (!RunSetupSwitch())
        return 0;
    const int remote = RunRemoteSwitch();
    if (remote >= 0)
        return remote;
    wchar_t mutexName[128];
    LoadText(IDS_MUTEX_NAME, mutexName, 128);
    HANDLE single = CreateMutexW(nullptr, TRUE, mutexName);
    if (single == nullptr)
        return 0;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        ToolState* state = &toolState;
        InitializeToolState(state);
        state->instance = instance;
        LoadText(IDS_CLASS_NAME, W(state->className), 256);
        LoadText(IDS_CAPTION, W(state->caption), 256);
        for (int i = 0; i < kTrayIconCount; ++i)
            state->trayIcons[i] = LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRAY_BASE + i), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
        LoadToolSettings(state);
        if (LoadProfileLibrary(state) && state->profileCount != 0)
            state->profilesAvailable = 1;
        state->debugMode = static_cast<uint32_t>(IsDebugCommandLine());

        state->taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
        state->exitMessage = RegisterWindowMessageW(W(kExitMessageName));
        // Wine's tray needs help to show each frame cleanly (see the tray icon's code).
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        state->underWine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr ? 1 : 0;

        if (!OpenRumbleBlock(state)) {
            ShowErrorMessage(nullptr, IDS_FAILED_INITIALIZE);
        } else if (!RegisterMainClass(state)) {
            ShowErrorMessage(nullptr, IDS_CANNOT_REGISTER_CLASS);
        } else if (CreateMainWindow(state) == nullptr) {
            ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_WINDOW);
        } else if ((state->monitorThread = CreateThread(nullptr, 0, MonitorThreadEntry, state, 0, nullptr)) ==
                       nullptr ||
                   !StartDeviceWorkers(state)) {
            FailMonitorThreadStart(state);
        } else {
            // A setup that closes the tool through Restart Manager, as a silent install does,
            // brings it back; a crash, a hang or a reboot does not.
            RegisterApplicationRestart(state->debugMode ? L"-debug" : L"",
                                       RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
            StartApplicationProfiles(state);
            RunMessageLoop(state);
        }
        EndRun(state, single);
        return 0;
    }
    ReleaseMutex(single);
    CloseHandle(single);
    return 0;
}

void FailMonitorThreadStart(ToolState* state) {
    // The threads that did start end with the window's close below.
    state->running = 0;
    StopDeviceWorkers(state, GetTickCount64() + 1000);
    // The icon went up with the window: none is left behind when the tool ends here.
    if (state->enableTrayIcon)
        DeleteTrayIcon(state);
    // Before the window goes: its end posts the quit message, which would close the box at once.
    ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_THREAD);
    DestroyWindow(static_cast<HWND>(state->mainWindow));
}

void EndRun(ToolState* state, HANDLE single) {
    if (!MonitorThreadEnded(state) || !StopDeviceWorkers(state, GetTickCount64() + 200)) {
        // The thread is caught in a device call and may hold a slot lock: closing the devices
        // would wait for it. The settings are saved; the process's end releases the rest, and the
        // single-instance mutex with it, last: on Windows a process whose thread waits in a
        // driver lingers, holding the shared rumble objects, and a copy started meanwhile must
        // leave quietly rather than fail to create them.
        ExitProcess(0);
    }
    ShutDown(state);
    ReleaseMutex(single);
    CloseHandle(single);
}

int MonitorThreadEnded(ToolState* state) {
    HANDLE thread = static_cast<HANDLE>(state->monitorThread);
    // A thread that has just reported its end needs a moment to return.
    return thread == nullptr || WaitForSingleObject(thread, 200) == WAIT_OBJECT_0 ? 1 : 0;
}

void ShutDown(ToolState* state) {
    if (state->debugMode)
        CloseBatteryLog(state);
    CloseDevices(state);
    ReleasePendingWatches(state);
    CloseRumbleBlock(state);
    FreeProfileLibrary(state);
    if (state->monitorThread != nullptr) {
        CloseHandle(static_cast<HANDLE>(state->monitorThread));
        state->monitorThread = nullptr;
    }
}
