#include "app/shell_win.h"
#include "monitor/battery_log.h"
#include "resources/resource.h"

void GetLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    *hour = now.wHour;
    *minute = now.wMinute;
    *second = now.wSecond;
}

void AppendBatteryLog(KernelHandle file, const uint8_t* bytes, uint32_t size) {
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(file), bytes, size, &written, nullptr);
}

void SetBatteryLogging(HWND dialog) {
    ToolState* state = DialogState(dialog);
    std::lock_guard<std::mutex> hold(state->batteryLogLock);
    if (IsDlgButtonChecked(dialog, IDC_ENABLE_DEBUG_LOGGING) == BST_CHECKED) {
        state->batteryLogEnabled = 1;
        if (IsOpenLogFile(state->batteryLogFile))
            return;
        SYSTEMTIME now = {};
        GetLocalTime(&now);
        Utf16 name[260];
        if (!FormatBatteryLogName(name, 260, now.wYear, now.wMonth, now.wDay))
            return;
        HANDLE file = CreateFileW(W(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

void CloseBatteryLog(ToolState* state) {
    std::lock_guard<std::mutex> hold(state->batteryLogLock);
    if (IsOpenLogFile(state->batteryLogFile))
        CloseHandle(static_cast<HANDLE>(state->batteryLogFile));
    state->batteryLogFile = nullptr;
}
