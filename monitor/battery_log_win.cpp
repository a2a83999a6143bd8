// The battery log's clock and file writes on Windows, for the lines monitor/battery_log.cpp
// composes.
#include "core/shell_win.h"
#include "monitor/battery_log.h"

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
