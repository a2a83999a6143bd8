// The daily battery log's file: its name and place, and the test for an open handle. The
// settings dialog opens and closes it and the Monitor thread writes to it, so it sits below both.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"
#include "core/tool_state.h"

// "PdwnBattery_YYYYMMDD.log"; 0 when it does not fit.
int FormatBatteryLogName(Utf16* out, size_t capacity, uint32_t year, uint32_t month, uint32_t day);
// `folder`, a backslash and the day's file name; 0 (and nothing usable in `out`) when the folder
// is empty or the whole path does not fit.
int FormatBatteryLogPath(Utf16* out, size_t capacity, const Utf16* folder, uint32_t year, uint32_t month,
                         uint32_t day);
int IsOpenLogFile(KernelHandle file);
