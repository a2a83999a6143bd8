#include "dialogs/dialog_logic.h"

#include <cstdio>

void FormatVersionText(Utf16* out, size_t capacity, uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    char text[64];
    std::snprintf(text, sizeof text, "%2u.%2u.%2u.%04u", a, b, c, d);
    if (capacity > 0)
        out[0] = 0;
    AppendAscii(out, capacity, text);
}

void FormatModeText(Utf16* out, size_t capacity, uint32_t debugMode) {
    if (capacity > 0)
        out[0] = 0;
    AppendAscii(out, capacity, debugMode ? "Mode : Debug" : "Mode : Normal");
}

uint32_t SpeedFromUpDownReply(uint32_t reply) {
    if (reply == 0)
        return 1;
    if (reply > 300)
        return 300;
    return reply;
}

namespace {
uint16_t PullBack(uint16_t pos, int32_t screen, int32_t size) {
    if (static_cast<int64_t>(size) + pos >= screen) {
        const int32_t edge = screen - size;
        return edge > 0 ? static_cast<uint16_t>(edge > 0xFFFF ? 0xFFFF : edge) : 0;
    }
    return pos;
}
} // namespace

void PlaceDialogOnScreen(uint16_t* posX, uint16_t* posY, int32_t screenW, int32_t screenH, int32_t w,
                         int32_t h) {
    *posX = PullBack(*posX, screenW, w);
    *posY = PullBack(*posY, screenH, h);
}
