// Turns one profile file into one Profile record.
#pragma once
#include <cstdint>

#include "core/text.h"
#include "profiles/profile_record.h"

// The two reads a profile needs, so that the same parse can run over the platform's reader and
// over the portable one (the conformance test compares the two).
struct ProfileReader {
    uint32_t (*readText)(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                         uint32_t capacity, const Utf16* path);
    uint32_t (*readInt)(const Utf16* section, const Utf16* key, int32_t defaultValue, const Utf16* path);
};

// 1 when the file was accepted: Title and Setting are filled. 0 when it was rejected (no
// "IniFileVersion", or one that reads "ERROR" in its first five characters) or an argument is
// null; the record is then untouched. FileName is never written.
int LoadProfileFileWith(const ProfileReader* reader, const Utf16* path, ProfileRecord* record);
// The same through the profile-reader port.
int LoadProfileFile(const Utf16* path, ProfileRecord* record);
