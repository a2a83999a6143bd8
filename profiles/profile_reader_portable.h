// A reader of initialization files that needs nothing but the C library, built to give the same
// answers as the Windows functions it stands in for (measured against them under Wine):
// - the file is UTF-16 (either byte order) or UTF-8 after a byte-order mark, else Windows-1252;
// - lines end at any run of CR and LF; tab, VT, FF, ^Z and space are trimmed from both ends of a
//   line, of a section name, of a key name and of the front of a value;
// - "[name]" runs to the last "]" of the line; key lines before any section belong to none;
// - names match without regard to ASCII case; the first section of a name is the only one looked
//   at, and in it the first key of a name wins; a key line without "=" has no value;
// - names and values end at an embedded NUL;
// - one pair of matching outer quotes is dropped from a value (and from a default), and text is
//   cut to the buffer; when the buffer only just holds the quoted text, the platform loses the
//   text's last character as well, and so does this reader;
// - an integer is the text read into a 30-unit buffer, parsed as RtlUnicodeStringToInteger with
//   base 0 does it: leading control characters and spaces skipped, one sign, a "0x", "0o" or
//   "0b" prefix, digits up to the first that does not fit, modulo 2^32; an empty text gives the
//   default.
// A file that cannot be read, or that is larger than kMaxPortableProfileBytes, has no keys.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"

constexpr size_t kMaxPortableProfileBytes = size_t{1} << 20;

uint32_t PortableReadProfileText(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                                 uint32_t capacity, const Utf16* path);
uint32_t PortableReadProfileInt(const Utf16* section, const Utf16* key, int32_t defaultValue,
                                const Utf16* path);

// UTF-8 to UTF-16 as the platform converts it: every ill-formed part becomes one U+FFFD.
void AppendUtf8AsUtf16(const uint8_t* bytes, size_t count, std::u16string* out);
// UTF-16 (terminated, at most maxUnits read) to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const Utf16* text, size_t maxUnits);
