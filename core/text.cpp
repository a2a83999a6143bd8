#include "core/text.h"

size_t Utf16Length(const Utf16* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n] != 0)
        ++n;
    return n;
}

int CopyUtf16(Utf16* dest, size_t capacity, const Utf16* src) {
    if (capacity == 0)
        return 0;
    dest[0] = 0;
    return AppendUtf16(dest, capacity, src);
}

int AppendUtf16(Utf16* dest, size_t capacity, const Utf16* src) {
    if (capacity == 0)
        return 0;
    size_t n = Utf16Length(dest, capacity - 1);
    size_t i = 0;
    while (src[i] != 0 && n + 1 < capacity)
        dest[n++] = src[i++];
    dest[n] = 0;
    return src[i] == 0;
}

int AppendAscii(Utf16* dest, size_t capacity, const char* src) {
    if (capacity == 0)
        return 0;
    size_t n = Utf16Length(dest, capacity - 1);
    size_t i = 0;
    while (src[i] != 0 && n + 1 < capacity)
        dest[n++] = static_cast<Utf16>(static_cast<unsigned char>(src[i++]));
    dest[n] = 0;
    return src[i] == 0;
}

int EqualUtf16(const Utf16* a, const Utf16* b) {
    size_t i = 0;
    for (; a[i] != 0 && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}

namespace {

bool IsHighSurrogate(Utf16 c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

int CopyUtf16Whole(Utf16* dest, size_t capacity, const Utf16* src) {
    const int whole = CopyUtf16(dest, capacity, src);
    if (!whole)
        TrimCutSurrogate(dest, capacity);
    return whole;
}

void TrimCutSurrogate(Utf16* text, size_t capacity) {
    if (text == nullptr || capacity == 0)
        return;
    const size_t n = Utf16Length(text, capacity);
    if (n > 0 && n < capacity && IsHighSurrogate(text[n - 1]))
        text[n - 1] = 0;
}

size_t WriteDecimal(Utf16* out, size_t at, size_t capacity, uint32_t value, int width) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 11);
    while (n < width && n < 11)
        digits[n++] = '0';
    while (n > 0 && at + 1 < capacity)
        out[at++] = static_cast<Utf16>(digits[--n]);
    return at;
}
