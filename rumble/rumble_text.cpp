#include "rumble/rumble_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/bytes.h"
#include "rumble/rumble_block.h"

const uint32_t kRumbleEditFields[5] = {kSlotGain, kSlotSmallThreshold, kSlotLargeLow, kSlotLargeMid,
                                       kSlotLargeHigh};

namespace {

uint32_t SaturatedIncrement(uint32_t v) {
    return v == 0xFFFFFFFFu ? v : v + 1u;
}

// The next threshold must stay above the previous one; at the top of the range it equals it.
uint32_t Above(uint32_t value, uint32_t previous) {
    return value > previous ? value : SaturatedIncrement(previous);
}

void Put(Utf16* out, size_t capacity, size_t* n, Utf16 c) {
    if (*n + 1 < capacity)
        out[(*n)++] = c;
}

} // namespace

void FormatRumbleTitle(Utf16* out, size_t capacity, const Utf16* base, const uint8_t* slot) {
    if (capacity == 0)
        return;
    Utf16 name[kRumbleNameUnits + 1];
    uint32_t i = 0;
    // The owner writes the name; it need not end inside the field.
    for (; i < kRumbleNameUnits; ++i) {
        name[i] = static_cast<Utf16>(ReadU16LE(slot + kSlotClientName + 2 * i));
        if (name[i] == 0)
            break;
    }
    name[i] = 0;
    CopyUtf16(out, capacity, base);
    AppendAscii(out, capacity, " - ");
    AppendUtf16(out, capacity, name);
}

void FormatRumbleField(Utf16* out, size_t capacity, uint32_t field) {
    if (capacity == 0)
        return;
    char text[kRumbleFieldUnits];
    std::snprintf(text, sizeof text, "%3.2f", static_cast<double>(static_cast<float>(field)) / 100.0);
    out[0] = 0;
    AppendAscii(out, capacity, text);
}

int32_t RumbleValueFromText(const Utf16* text) {
    char narrow[32];
    size_t n = 0;
    // Only ASCII can be part of a number: anything else ends the conversion where it stands.
    for (; n < 31 && text[n] != 0; ++n)
        narrow[n] = text[n] < 0x80 ? static_cast<char>(text[n]) : '\x01';
    narrow[n] = 0;
    const double value = std::strtod(narrow, nullptr) * 100.0;
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT32_MAX;
    if (value <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void AcceptRumbleValues(uint8_t* slot, int enableTicked, const int32_t values[5]) {
    WriteU32LE(slot + kSlotEnable, enableTicked ? 1u : 0u);
    const uint32_t gain = static_cast<uint32_t>(values[0]);
    WriteU32LE(slot + kSlotGain, gain > kRumbleGainLimit ? kRumbleGainLimit : gain);
    const uint32_t small = static_cast<uint32_t>(values[1]);
    WriteU32LE(slot + kSlotSmallThreshold, small);
    const uint32_t low = Above(static_cast<uint32_t>(values[2]), ReadU32LE(slot + kSlotSmallThreshold));
    WriteU32LE(slot + kSlotLargeLow, low);
    const uint32_t mid = Above(static_cast<uint32_t>(values[3]), ReadU32LE(slot + kSlotLargeLow));
    WriteU32LE(slot + kSlotLargeMid, mid);
    const uint32_t high = Above(static_cast<uint32_t>(values[4]), ReadU32LE(slot + kSlotLargeMid));
    WriteU32LE(slot + kSlotLargeHigh, high);
    WriteU32LE(slot + kSlotRequestSequence, NextRumbleSequence(ReadU32LE(slot + kSlotRequestSequence)));
}

size_t FormatRumbleDump(const uint8_t* block, Utf16* out, size_t capacity) {
    static const char hex[] = "0123456789ABCDEF";
    size_t n = 0;
    for (uint32_t line = 0; line < 340; ++line) {
        const uint32_t offset = 16 * line;
        const uint32_t count = offset >= kRumbleBlockSize
                                   ? 0
                                   : (kRumbleBlockSize - offset < 16 ? kRumbleBlockSize - offset : 16);
        if (count == 0)
            break;
        for (uint32_t i = 0; i < count; ++i) {
            Put(out, capacity, &n, static_cast<Utf16>(hex[block[offset + i] >> 4]));
            Put(out, capacity, &n, static_cast<Utf16>(hex[block[offset + i] & 15]));
            Put(out, capacity, &n, u' ');
        }
        Put(out, capacity, &n, u' ');
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t b = block[offset + i];
            Put(out, capacity, &n, b >= 0x20 && b <= 0x7E ? static_cast<Utf16>(b) : u'.');
        }
        Put(out, capacity, &n, u' ');
        Put(out, capacity, &n, u'\r');
        Put(out, capacity, &n, u'\n');
    }
    if (capacity != 0)
        out[n] = 0;
    return n;
}

void FormatFfDriverVersion(const uint8_t* block, Utf16* out, size_t capacity) {
    if (capacity == 0)
        return;
    char text[kFfVersionUnits] = "-.--.--.----";
    if (block != nullptr && (ReadU32LE(block + kRumbleSlotMask) & 1u) != 0) {
        const uint8_t* slot = RumbleSlot(block, 0);
        std::snprintf(text, sizeof text, "%2d.%2d.%2d.%.4d", slot[kSlotVersionMajor], slot[kSlotVersionMinor],
                      slot[kSlotVersionType], static_cast<int>(ReadU16LE(slot + kSlotVersionBuild)));
    }
    out[0] = 0;
    AppendAscii(out, capacity, text);
}

void FormatMigrationResult(Utf16* out, size_t capacity, int ranToEnd, uint32_t notWritten, const Utf16* done,
                           const Utf16* failed, const Utf16* notWrittenText) {
    if (capacity == 0)
        return;
    if (ranToEnd && notWritten == 0) {
        CopyUtf16(out, capacity, done);
        return;
    }
    CopyUtf16(out, capacity, failed);
    if (notWritten == 0)
        return;
    AppendAscii(out, capacity, "\r\n");
    char number[16];
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(notWritten));
    size_t n = Utf16Length(out, capacity);
    for (size_t i = 0; notWrittenText[i] != 0; ++i) {
        if (notWrittenText[i] == u'%' && notWrittenText[i + 1] == u'u') {
            out[n] = 0;
            AppendAscii(out, capacity, number);
            n = Utf16Length(out, capacity);
            ++i;
            continue;
        }
        Put(out, capacity, &n, notWrittenText[i]);
    }
    out[n] = 0;
}
