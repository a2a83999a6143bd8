// The profile reader's Windows port: the system's private-profile functions read each key, for
// profiles/profile_reader.cpp's checks.
#include <windows.h>

#include "profiles/profile_reader.h"

namespace {
const wchar_t* W(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
} // namespace

uint32_t ReadProfileText(const Utf16* section, const Utf16* key, const Utf16* defaultText, Utf16* out,
                         uint32_t capacity, const Utf16* path) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = 0;
    const DWORD n = GetPrivateProfileStringW(W(section), W(key), W(defaultText),
                                             reinterpret_cast<wchar_t*>(out), capacity, W(path));
    // The platform terminates within the buffer; the guard keeps that true whatever it returns.
    out[capacity - 1] = 0;
    return n < capacity ? n : capacity - 1;
}

uint32_t ReadProfileInt(const Utf16* section, const Utf16* key, int32_t defaultValue, const Utf16* path) {
    return GetPrivateProfileIntW(W(section), W(key), defaultValue, W(path));
}
