// The battery log's file on Windows: a dated file under the user's local application data, opened
// and closed by the debug dialog's switch; monitor/battery_log.cpp writes the lines.
#include "core/battery_log_file.h"
#include "core/shell_win.h"
#include "resources/resource.h"

#include <shlobj.h>

namespace {

constexpr size_t kLogPathUnits = 1024;

// The user's local application data, under Padwarden: a folder the user can find and write,
// elevated or not. The current directory of a tool started at log-on is System32.
int BatteryLogPath(Utf16* path, size_t capacity, int create) {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)))
        return 0;
    Utf16 folder[kLogPathUnits] = {};
    CopyUtf16(folder, kLogPathUnits, reinterpret_cast<const Utf16*>(base));
    if (!AppendAscii(folder, kLogPathUnits, "\\Padwarden"))
        return 0;
    if (create && !CreateDirectoryW(W(folder), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return FormatBatteryLogPath(path, capacity, folder, now.wYear, now.wMonth, now.wDay);
}

} // namespace

void SetBatteryLogging(HWND dialog) {
    ToolState* state = DialogState(dialog);
    std::lock_guard<std::mutex> hold(state->batteryLogLock);
    if (IsDlgButtonChecked(dialog, IDC_ENABLE_DEBUG_LOGGING) == BST_CHECKED) {
        state->batteryLogEnabled = 1;
        if (IsOpenLogFile(state->batteryLogFile))
            return;
        Utf16 path[kLogPathUnits];
        if (!BatteryLogPath(path, kLogPathUnits, 1))
            return;
        HANDLE file = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        SetFilePointer(file, 0, nullptr, FILE_END);
        state->batteryLogFile = file;
    } else {
        state->batteryLogEnabled = 0;
        if (IsOpenLogFile(state->batteryLogFile)) {
            CloseHandle(static_cast<HANDLE>(state->batteryLogFile));
            state->batteryLogFile = nullptr;
        }
    }
}

void ShowBatteryLogPath(HWND dialog) {
    Utf16 path[kLogPathUnits];
    if (BatteryLogPath(path, kLogPathUnits, 0))
        SetDlgItemTextW(dialog, IDC_BATTERY_LOG_PATH, W(path));
}

void CloseBatteryLog(ToolState* state) {
    std::lock_guard<std::mutex> hold(state->batteryLogLock);
    if (IsOpenLogFile(state->batteryLogFile))
        CloseHandle(static_cast<HANDLE>(state->batteryLogFile));
    state->batteryLogFile = nullptr;
}
