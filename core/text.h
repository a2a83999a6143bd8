// UTF-16 text helpers shared by the portable logic. All user text is UTF-16 (char16_t here,
// wchar_t in the Win32 layer, which has the same size there).
#pragma once
#include <cstddef>
#include <cstdint>

using Utf16 = char16_t;

// Length of a terminated UTF-16 string, never reading past max units.
size_t Utf16Length(const Utf16* s, size_t max);
// Copies at most capacity-1 units and always terminates; returns 1 when nothing was cut.
int CopyUtf16(Utf16* dest, size_t capacity, const Utf16* src);
// Appends, bounded by capacity; returns 1 when nothing was cut.
int AppendUtf16(Utf16* dest, size_t capacity, const Utf16* src);
// Appends ASCII text (formatting output) to a UTF-16 buffer, bounded by capacity.
int AppendAscii(Utf16* dest, size_t capacity, const char* src);
// Writes `value` in decimal at out[at], led by zeros to `width` digits, as far as capacity-1
// allows; the position after it. Does not terminate.
size_t WriteDecimal(Utf16* out, size_t at, size_t capacity, uint32_t value, int width);
int EqualUtf16(const Utf16* a, const Utf16* b);
// Copies at most capacity-1 units, never ending on the first half of a surrogate pair; returns 1
// when nothing was cut.
int CopyUtf16Whole(Utf16* dest, size_t capacity, const Utf16* src);
// Drops a trailing lone high surrogate, the mark of text cut inside a pair.
void TrimCutSurrogate(Utf16* text, size_t capacity);
