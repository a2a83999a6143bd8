// The profile-file reader port. The Windows build answers with GetPrivateProfileStringW and
// GetPrivateProfileIntW (profile_reader_win.cpp); the native build with the portable reader
// (profile_reader_portable.h), which follows the same rules.
#pragma once
#include <cstdint>

#include "core/text.h"

// Text of `key` in `section` of the file at `path`, or `defaultText` when the key is missing.
// Cut to capacity - 1 units and terminated when capacity is nonzero; returns the units kept.
uint32_t ReadProfileText(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                         uint32_t capacity, const Utf16* path);
// The number written after the key's "=" sign, or `defaultValue` when the key is missing or empty.
uint32_t ReadProfileInt(const Utf16* section, const Utf16* key, int32_t defaultValue, const Utf16* path);
