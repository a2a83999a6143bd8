// Modeless dialogs on Windows: opening one at most of each, their messages in the main loop, the
// common controls loaded on first use, and placement on the monitors core/placement.cpp reasons about.
#include "core/shell_win.h"
#include "core/ui_port.h"
#include "core/system_dlls_win.h"
#include "core/placement.h"
#include "resources/resource.h"

#include <commctrl.h>

void RegisterModelessDialog(ToolState* state, HWND dialog) {
    for (WindowHandle& slot : state->modelessDialogs) {
        if (slot == nullptr) {
            slot = dialog;
            return;
        }
    }
}

void UnregisterModelessDialog(ToolState* state, HWND dialog) {
    for (WindowHandle& slot : state->modelessDialogs) {
        if (slot == dialog)
            slot = nullptr;
    }
}

int IsModelessDialogMessage(ToolState* state, MSG* message) {
    // Tab, Enter and Escape reach a modeless dialog only through IsDialogMessageW.
    for (WindowHandle slot : state->modelessDialogs) {
        if (slot != nullptr && IsDialogMessageW(static_cast<HWND>(slot), message))
            return 1;
    }
    return 0;
}

namespace {

// Ties an open dialog to its place's open flag, so a second command finds the dialog again.
const wchar_t kOpenFlagProperty[] = L"PadwardenOpenFlag";

// The user asked for a dialog that is open, perhaps behind other windows: show it to them.
void BringOpenDialogForward(ToolState* state, int32_t* openFlag) {
    for (WindowHandle slot : state->modelessDialogs) {
        HWND dialog = static_cast<HWND>(slot);
        if (dialog == nullptr || GetPropW(dialog, kOpenFlagProperty) != openFlag)
            continue;
        if (IsIconic(dialog))
            ShowWindow(dialog, SW_RESTORE);
        SetForegroundWindow(dialog);
        return;
    }
}

} // namespace

void LoadCommonControls() {
    // Loaded on first use rather than imported: the common controls and the theme engine they
    // bring cost a resident tray tool about 3 MB, and most of its life no dialog is open.
    static int loaded = 0;
    if (loaded)
        return;
    // By plain name, which the entry routine keeps to System32: the manifest's activation context
    // then takes it to version 6, which a full path would bypass.
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = controls != nullptr ? reinterpret_cast<InitControls>(reinterpret_cast<void*>(
                                          GetProcAddress(controls, "InitCommonControlsEx")))
                                    : nullptr;
    if (init == nullptr)
        return;
    // The up-down control of the settings dialog, the battery bar and the application profiles'
    // list need their classes registered.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS |
                                                        ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    loaded = init(&classes) ? 1 : 0;
}

void OpenModelessDialog(ToolState* state, int32_t* openFlag, int resourceId, DLGPROC procedure) {
    if (*openFlag) {
        BringOpenDialogForward(state, openFlag);
        return;
    }
    LoadCommonControls();
    HWND dialog = CreateDialogParamW(static_cast<HINSTANCE>(state->instance), MAKEINTRESOURCEW(resourceId),
                                     nullptr, procedure, reinterpret_cast<LPARAM>(state));
    if (dialog == nullptr) {
        ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_DIALOG);
        return;
    }
    // Its initialisation declined (and said why): it goes before it is ever shown.
    if (!*openFlag) {
        DestroyWindow(dialog);
        return;
    }
    RegisterModelessDialog(state, dialog);
    SetPropW(dialog, kOpenFlagProperty, openFlag);
    ShowWindow(dialog, SW_SHOW);
}

ToolState* DialogState(HWND dialog) {
    return reinterpret_cast<ToolState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

namespace {

constexpr size_t kMaxMonitors = 16;

struct MonitorList {
    MonitorArea areas[kMaxMonitors];
    size_t count;
};

ScreenRect FromRect(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// Per-monitor scaling (Windows 8.1 and 10 and later); 0 where the system has none to tell.
uint32_t MonitorDpi(HMONITOR monitor) {
    auto dpiForMonitor = SystemDlls().GetDpiForMonitor;
    UINT x = 0, y = 0;
    return dpiForMonitor != nullptr && SUCCEEDED(dpiForMonitor(monitor, 0 /* MDT_EFFECTIVE_DPI */, &x, &y))
               ? x
               : 0;
}

uint32_t WindowDpi(HWND window) {
    auto dpiForWindow = SystemDlls().GetDpiForWindow;
    return dpiForWindow != nullptr ? dpiForWindow(window) : 0;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto* list = reinterpret_cast<MonitorList*>(data);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (list->count >= kMaxMonitors || !GetMonitorInfoW(monitor, &info))
        return TRUE;
    const MonitorArea area = {FromRect(info.rcMonitor), FromRect(info.rcWork), MonitorDpi(monitor)};
    // The main monitor first: it wins a tie between equally near monitors.
    if (info.dwFlags & MONITORINFOF_PRIMARY) {
        for (size_t i = list->count; i > 0; --i)
            list->areas[i] = list->areas[i - 1];
        list->areas[0] = area;
    } else {
        list->areas[list->count] = area;
    }
    ++list->count;
    return TRUE;
}

void ListMonitors(MonitorList* list) {
    list->count = 0;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(list));
    if (list->count > 0)
        return;
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const RECT screen = work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    list->areas[0] = {FromRect(screen), FromRect(work)};
    list->count = 1;
}

} // namespace

void BeginDialogPlace(HWND dialog, int32_t* openFlag, int16_t* posX, int16_t* posY) {
    *openFlag = 1;
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    MonitorList monitors;
    ListMonitors(&monitors);
    const ScreenPoint place =
        PlaceScalingDialog({*posX, *posY}, rect.right - rect.left, rect.bottom - rect.top, WindowDpi(dialog),
                           monitors.areas, monitors.count);
    *posX = PositionFromScreen(place.x);
    *posY = PositionFromScreen(place.y);
}

void MoveDialogToPlace(HWND dialog, int16_t posX, int16_t posY) {
    RECT before = {};
    GetWindowRect(dialog, &before);
    const int32_t width = before.right - before.left;
    const int32_t height = before.bottom - before.top;
    MoveWindow(dialog, posX, posY, width, height, FALSE);
    // Landed on a monitor of another scaling, the dialog has been rescaled to it, perhaps about
    // another corner than the one expected: it is fitted again at the size it has now.
    RECT after = {};
    if (!GetWindowRect(dialog, &after) ||
        (after.right - after.left == width && after.bottom - after.top == height))
        return;
    MonitorList monitors;
    ListMonitors(&monitors);
    const ScreenPoint place = PlaceDialog({after.left, after.top}, after.right - after.left,
                                          after.bottom - after.top, monitors.areas, monitors.count);
    if (place.x != after.left || place.y != after.top)
        SetWindowPos(dialog, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void StoreDialogPlace(HWND dialog, int16_t* posX, int16_t* posY) {
    RECT rect = {};
    if (GetWindowRect(dialog, &rect)) {
        *posX = PositionFromScreen(rect.left);
        *posY = PositionFromScreen(rect.top);
    }
}

void EndDialogPlace(ToolState* state, HWND dialog, int32_t* openFlag) {
    *openFlag = 0;
    UnregisterModelessDialog(state, dialog);
    RemovePropW(dialog, kOpenFlagProperty);
    DestroyWindow(dialog);
}
