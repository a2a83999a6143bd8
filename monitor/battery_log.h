// The daily battery log's line format and the change test that decides a line.
#pragma once
#include <cstdint>

#include "core/battery_log_file.h"
#include "core/tool_state.h"

constexpr int kBatteryLogLineSize = 56;
// The logged span of the DEBUGRAWDATA record.
constexpr int kBatteryLogFirstByte = 35;

// "hh:mm:ss " + fifteen "XX " groups + " " + LF, exactly 56 bytes, no terminator.
void FormatBatteryLogLine(uint8_t out[kBatteryLogLineSize], uint32_t hour, uint32_t minute, uint32_t second,
                          const uint8_t bytes[kBatteryLogBytes]);
// 1 when the record's logged bytes differ from the last line's.
int BatteryBytesChanged(const uint8_t record[81], const uint8_t last[kBatteryLogBytes]);

// Platform services of the log: the local time of day and one write to the open file.
void GetLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second);
void AppendBatteryLog(KernelHandle file, const uint8_t* bytes, uint32_t size);
