// Text and value rules of the small dialogs.
#pragma once
#include <cstdint>

#include "core/text.h"

// " 0. 3. 5.0015": the tool version with the first three numbers in two columns.
void FormatVersionText(Utf16* out, size_t capacity, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
// "Mode : Debug" or "Mode : Normal".
void FormatModeText(Utf16* out, size_t capacity, uint32_t debugMode);

// The speed typed in the settings box: a number below 1 stores 1, above 300 stores 300; text that
// is no number keeps `previous`. `capacity` bounds the read; the text may end earlier.
uint32_t SpeedFromTypedText(const Utf16* text, size_t capacity, uint32_t previous);
