#include "monitor/battery_log.h"

#include <cstdio>
#include <cstring>

#include "driver/driver_link.h"
#include "monitor/monitor.h"

int FormatBatteryLogName(Utf16* out, size_t capacity, uint32_t year, uint32_t month, uint32_t day) {
    char name[64];
    std::snprintf(name, sizeof name, "PdwnBattery_%04u%02u%02u.log", year % 100000u, month % 100u,
                  day % 100u);
    if (capacity == 0)
        return 0;
    out[0] = 0;
    return AppendAscii(out, capacity, name);
}

int FormatBatteryLogPath(Utf16* out, size_t capacity, const Utf16* folder, uint32_t year, uint32_t month,
                         uint32_t day) {
    if (capacity == 0)
        return 0;
    out[0] = 0;
    Utf16 name[64];
    if (folder == nullptr || folder[0] == 0 || !FormatBatteryLogName(name, 64, year, month, day))
        return 0;
    const size_t folderUnits = Utf16Length(folder, capacity);
    const size_t nameUnits = Utf16Length(name, 64);
    if (folderUnits + 1 + nameUnits + 1 > capacity)
        return 0;
    for (size_t i = 0; i < folderUnits; ++i)
        out[i] = folder[i];
    out[folderUnits] = u'\\';
    for (size_t i = 0; i <= nameUnits; ++i)
        out[folderUnits + 1 + i] = name[i];
    return 1;
}

void FormatBatteryLogLine(uint8_t out[kBatteryLogLineSize], uint32_t hour, uint32_t minute, uint32_t second,
                          const uint8_t bytes[kBatteryLogBytes]) {
    char text[kBatteryLogLineSize + 8];
    int n = std::snprintf(text, sizeof text, "%02u:%02u:%02u ", hour % 100u, minute % 100u, second % 100u);
    for (int i = 0; i < kBatteryLogBytes; ++i)
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02X ", bytes[i]);
    std::memcpy(out, text, kBatteryLogLineSize);
    out[54] = ' ';
    out[55] = '\n';
}

int BatteryBytesChanged(const uint8_t record[81], const uint8_t last[kBatteryLogBytes]) {
    return std::memcmp(record + kBatteryLogFirstByte, last, kBatteryLogBytes) != 0;
}

int IsOpenLogFile(KernelHandle file) {
    return file != nullptr && file != reinterpret_cast<KernelHandle>(~static_cast<uintptr_t>(0));
}

void WriteBatteryLogLine(ToolState* state) {
    {
        std::lock_guard<std::mutex> hold(state->batteryLogLock);
        if (!IsOpenLogFile(state->batteryLogFile))
            return;
    }
    uint8_t record[81] = {};
    QueryDebugRecord(state, 0x00010000, 3, record);
    // A record the query never filled (the device went away before it) carries no report id.
    if (record[0] != 2)
        return;
    if (!BatteryBytesChanged(record, state->batteryLogLast))
        return;
    uint32_t hour = 0, minute = 0, second = 0;
    GetLocalClock(&hour, &minute, &second);
    uint8_t line[kBatteryLogLineSize];
    FormatBatteryLogLine(line, hour, minute, second, record + kBatteryLogFirstByte);
    {
        // The main thread may close the file meanwhile; the lock keeps the handle alive for the write.
        std::lock_guard<std::mutex> hold(state->batteryLogLock);
        if (!IsOpenLogFile(state->batteryLogFile))
            return;
        AppendBatteryLog(state->batteryLogFile, line, kBatteryLogLineSize);
    }
    std::memcpy(state->batteryLogLast, record + kBatteryLogFirstByte, kBatteryLogBytes);
}
