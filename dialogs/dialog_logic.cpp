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

uint32_t SpeedFromTypedText(const Utf16* text, size_t capacity, uint32_t previous) {
    if (text == nullptr)
        return previous;
    size_t i = 0;
    while (i < capacity && text[i] == u' ')
        ++i;
    int negative = 0;
    if (i < capacity && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    const size_t digits = i;
    uint32_t value = 0;
    for (; i < capacity && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value > 300 ? 301 : value * 10 + static_cast<uint32_t>(text[i] - u'0');
    if (i == digits)
        return previous;
    while (i < capacity && text[i] == u' ')
        ++i;
    if (i < capacity && text[i] != 0)
        return previous; // letters after the number: not a number the user meant
    if (negative || value < 1)
        return 1;
    return value > 300 ? 300 : value;
}
