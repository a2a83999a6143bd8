// The native build reads profiles with the portable reader; the Windows build uses the platform's
// own functions (profile_reader_win.cpp).
#include "profiles/profile_reader.h"
#include "profiles/profile_reader_portable.h"

uint32_t ReadProfileText(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                         uint32_t capacity, const Utf16* path) {
    return PortableReadProfileText(section, key, defaultText, out, capacity, path);
}

uint32_t ReadProfileInt(const Utf16* section, const Utf16* key, int32_t defaultValue, const Utf16* path) {
    return PortableReadProfileInt(section, key, defaultValue, path);
}
