// The four texts of the debug information dialog, built line by line into a bounded buffer.
#pragma once
#include <cstdint>

#include "core/text.h"
#include "core/tool_state.h"

constexpr int kDebugTextChars = 2048;
constexpr int kDebugLineChars = 64;

// DRIVER_INFO: one line per field of the 81-byte Driver information record.
void FormatDriverInfoText(const uint8_t* record, Utf16* out, size_t capacity);
// Info types 1..3 from an 81-byte debug record; "No supported function" when the record is not of
// the type's layout. The selector's transport picks the thread-time names of DEBUG_INFO.
void FormatDebugRecordText(uint32_t selector, uint32_t infoType, const uint8_t* record, Utf16* out,
                           size_t capacity);
// The text of one view for the device the selector names: type 0 from the slot's record (copied
// under its record lock), types 1..3 from a debug query on the spot.
void BuildDebugInfoText(ToolState* state, uint32_t selector, uint32_t infoType, Utf16* out, size_t capacity);
