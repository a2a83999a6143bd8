#include "profiles/profile_reader_portable.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// What the platform's reader trims; CR and LF only ever end lines.
bool IsBlank(Utf16 c) {
    return c == 0x09 || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x1A || c == 0x20;
}

struct Span {
    const Utf16* p;
    size_t n;
};

Span TrimBoth(Span s) {
    while (s.n > 0 && IsBlank(s.p[0])) {
        ++s.p;
        --s.n;
    }
    while (s.n > 0 && IsBlank(s.p[s.n - 1]))
        --s.n;
    return s;
}

Span CutAtNul(Span s) {
    for (size_t i = 0; i < s.n; ++i)
        if (s.p[i] == 0)
            return {s.p, i};
    return s;
}

Utf16 FoldAscii(Utf16 c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<Utf16>(c + 32) : c;
}

bool SameName(Span a, Span b) {
    if (a.n != b.n)
        return false;
    for (size_t i = 0; i < a.n; ++i)
        if (FoldAscii(a.p[i]) != FoldAscii(b.p[i]))
            return false;
    return true;
}

Span TerminatedSpan(const Utf16* s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return {s, n};
}

FILE* OpenForReading(const Utf16* path) {
#ifdef _WIN32
    return _wfopen(reinterpret_cast<const wchar_t*>(path), L"rb");
#else
    const std::string name = Utf16ToUtf8(path, 32768);
    return std::fopen(name.c_str(), "rb");
#endif
}

// The whole file, or nothing when it cannot be read or is too large to be a profile.
bool ReadWholeFile(const Utf16* path, std::vector<uint8_t>* bytes) {
    FILE* f = OpenForReading(path);
    if (f == nullptr)
        return false;
    bytes->clear();
    uint8_t chunk[4096];
    bool ok = true;
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, f);
        if (bytes->size() + got > kMaxPortableProfileBytes) {
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            ok = std::ferror(f) == 0;
            break;
        }
    }
    std::fclose(f);
    if (!ok)
        bytes->clear();
    return ok;
}

// Windows-1252, the ANSI code page of the platform this reader is measured against; the five
// unassigned bytes map to the control characters of the same value, as there.
const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void DecodeProfileBytes(const std::vector<uint8_t>& b, std::u16string* text) {
    text->clear();
    const size_t n = b.size();
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        AppendUtf8AsUtf16(b.data() + 3, n - 3, text);
        return;
    }
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        const bool bigEndian = b[0] == 0xFE;
        // An odd last byte still yields a unit, its other half zero.
        for (size_t i = 2; i < n; i += 2) {
            const uint16_t first = b[i];
            const uint16_t second = i + 1 < n ? b[i + 1] : uint16_t{0};
            text->push_back(static_cast<Utf16>(bigEndian ? (first << 8) | second : (second << 8) | first));
        }
        return;
    }
    text->reserve(n);
    for (uint8_t c : b)
        text->push_back(static_cast<Utf16>(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c));
}

struct Lookup {
    bool found;
    bool hasValue;
    Span value;
};

// The first section named `section`, and in it the first key named `key`.
Lookup FindKey(const std::u16string& text, Span section, Span key) {
    const Utf16* p = text.data();
    const Utf16* end = p + text.size();
    bool inSection = false;
    while (p < end) {
        const Utf16* lineStart = p;
        while (p < end && *p != u'\r' && *p != u'\n')
            ++p;
        Span line = TrimBoth({lineStart, static_cast<size_t>(p - lineStart)});
        while (p < end && (*p == u'\r' || *p == u'\n'))
            ++p;
        if (line.n == 0)
            continue;

        if (line.p[0] == u'[') {
            size_t close = line.n;
            while (close > 1 && line.p[close - 1] != u']')
                --close;
            if (close > 1) {
                if (inSection)
                    return {false, false, {}};
                const Span name = CutAtNul(TrimBoth({line.p + 1, close - 2}));
                inSection = SameName(name, section);
                continue;
            }
            // Without a closing bracket the line is an ordinary key line.
        }
        if (!inSection)
            continue;

        size_t equals = 0;
        while (equals < line.n && line.p[equals] != u'=')
            ++equals;
        const Span name = CutAtNul(TrimBoth({line.p, equals}));
        if (!SameName(name, key))
            continue;
        if (equals == line.n)
            return {true, false, {}};
        const Span value = CutAtNul(TrimBoth({line.p + equals + 1, line.n - equals - 1}));
        return {true, true, value};
    }
    return {false, false, {}};
}

uint32_t CopyEntry(Span value, Utf16* out, uint32_t capacity) {
    bool quoted = false;
    if (value.n >= 2 && (value.p[0] == u'"' || value.p[0] == u'\'') && value.p[value.n - 1] == value.p[0]) {
        quoted = true;
        ++value.p;
        --value.n;
    }
    size_t kept = value.n < capacity - 1 ? value.n : capacity - 1;
    std::memcpy(out, value.p, kept * sizeof(Utf16));
    out[kept] = 0;
    // The platform drops the closing quote from what it copied, whether or not it was copied.
    if (quoted && capacity >= value.n && kept > 0)
        out[--kept] = 0;
    return static_cast<uint32_t>(kept);
}

} // namespace

void AppendUtf8AsUtf16(const uint8_t* b, size_t n, std::u16string* out) {
    size_t i = 0;
    while (i < n) {
        const uint8_t lead = b[i++];
        if (lead < 0x80) {
            out->push_back(lead);
            continue;
        }
        const int follow = lead >= 0xC2 && lead <= 0xDF   ? 1
                           : lead >= 0xE0 && lead <= 0xEF ? 2
                           : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                          : 0;
        if (i + follow > n) {
            // A sequence cut off by the end of the text swallows the rest.
            out->push_back(0xFFFD);
            break;
        }
        static const uint8_t kLeadMask[4] = {0x7F, 0x1F, 0x0F, 0x07};
        uint32_t cp = lead & kLeadMask[follow];
        bool good = follow != 0;
        if (good && follow == 3) {
            const uint8_t c = static_cast<uint8_t>(b[i] ^ 0x80u);
            good = c < 0x40;
            if (good) {
                cp = (cp << 6) | c;
                ++i;
                good = cp >= 0x10;
            }
        }
        if (good && follow >= 2) {
            const uint8_t c = static_cast<uint8_t>(b[i] ^ 0x80u);
            good = c < 0x40 && ((cp << 6) | c) < (0x110000 >> 6);
            if (good) {
                cp = (cp << 6) | c;
                ++i;
                good = cp >= 0x20 && !(cp >= (0xD800 >> 6) && cp <= (0xDFFF >> 6));
            }
        }
        if (good) {
            const uint8_t c = static_cast<uint8_t>(b[i] ^ 0x80u);
            good = c < 0x40;
            if (good) {
                cp = (cp << 6) | c;
                ++i;
            }
        }
        if (!good) {
            out->push_back(0xFFFD);
        } else if (cp >= 0x10000) {
            out->push_back(static_cast<Utf16>(0xD800 + ((cp - 0x10000) >> 10)));
            out->push_back(static_cast<Utf16>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out->push_back(static_cast<Utf16>(cp));
        }
    }
}

std::string Utf16ToUtf8(const Utf16* text, size_t maxUnits) {
    std::string out;
    if (text == nullptr)
        return out;
    const size_t n = Utf16Length(text, maxUnits);
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

uint32_t PortableReadProfileText(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                                 uint32_t capacity, const Utf16* path) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = 0;
    if (section == nullptr || key == nullptr)
        return 0;

    // The platform drops trailing spaces (only spaces) from the default, keeping its first unit.
    Span fallback = defaultText != nullptr ? TerminatedSpan(defaultText) : Span{u"", 0};
    while (fallback.n > 1 && fallback.p[fallback.n - 1] == u' ')
        --fallback.n;

    std::vector<uint8_t> bytes;
    if (path == nullptr || !ReadWholeFile(path, &bytes))
        return CopyEntry(fallback, out, capacity);
    std::u16string text;
    DecodeProfileBytes(bytes, &text);
    const Lookup hit = FindKey(text, TrimBoth(TerminatedSpan(section)), TrimBoth(TerminatedSpan(key)));
    return CopyEntry(hit.found && hit.hasValue ? hit.value : fallback, out, capacity);
}

uint32_t PortableReadProfileInt(const Utf16* section, const Utf16* key, int32_t defaultValue,
                                const Utf16* path) {
    Utf16 text[30];
    const uint32_t n = PortableReadProfileText(section, key, u"", text, 30, path);
    if (n == 0)
        return static_cast<uint32_t>(defaultValue);

    uint32_t i = 0;
    while (i < n && text[i] <= u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    uint32_t base = 10;
    if (n - i >= 2 && text[i] == u'0') {
        const Utf16 mark = text[i + 1];
        base = mark == u'x' ? 16 : mark == u'o' ? 8 : mark == u'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    uint32_t total = 0;
    for (; i < n; ++i) {
        const Utf16 c = text[i];
        uint32_t digit = 99;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'Z')
            digit = c - u'A' + 10;
        else if (c >= u'a' && c <= u'z')
            digit = c - u'a' + 10;
        if (digit >= base)
            break;
        total = total * base + digit;
    }
    return negative ? 0u - total : total;
}
