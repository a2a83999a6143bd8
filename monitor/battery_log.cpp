#include "monitor/battery_log.h"

#include <cstdio>
#include <cstring>

#include "driver/driver_link.h"
#include "monitor/monitor.h"

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

void WriteBatteryLogLine(ToolState* state) {
    {
        std::lock_guard<std::mutex> hold(state->batteryLogLock);
        if (!IsOpenLogFile(state->batteryLogFile))
            return;
    }
    uint8_t record[81] = {};
    // No line without a read: a failed one leaves the cleared buffer, report id and zeros, which
    // would pass for a record.
    if (!QueryDebugRecord(state, 0x00010000, 3, record))
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
