// Text and value rules of the small dialogs, and the placement rule every modeless dialog follows.
#pragma once
#include <cstdint>

#include "app/text.h"

// " 0. 3. 5.0015": the tool version with the first three numbers in two columns.
void FormatVersionText(Utf16* out, size_t capacity, uint32_t a, uint32_t b, uint32_t c, uint32_t d);
// "Mode : Debug" or "Mode : Normal".
void FormatModeText(Utf16* out, size_t capacity, uint32_t debugMode);

// The speed typed in the settings box: a number below 1 stores 1, above 300 stores 300; text that
// is no number keeps `previous`. `capacity` bounds the read; the text may end earlier.
uint32_t SpeedFromTypedText(const Utf16* text, size_t capacity, uint32_t previous);

// Pulls a saved position back so that a w x h dialog lies on a screenW x screenH screen. A dialog
// larger than the screen is placed at 0 rather than at a wrapped-around coordinate.
void PlaceDialogOnScreen(uint16_t* posX, uint16_t* posY, int32_t screenW, int32_t screenH, int32_t w,
                         int32_t h);
