// The profile library's Windows port: the profile folder's path from the registry and the scan
// of its files, for profiles/profile_library.cpp.
#include <windows.h>

#include <new>

#include "profiles/profile_library.h"

namespace {

// A name the platform gave without a terminator, or one too long for the caller, is passed on
// as empty text so that its slot stays zero instead of naming some other file.
void GiveName(const WIN32_FIND_DATAW& found, Utf16* name, size_t capacity) {
    if (name == nullptr || capacity == 0)
        return;
    size_t n = 0;
    while (n < MAX_PATH && found.cFileName[n] != 0)
        ++n;
    if (n == MAX_PATH || n >= capacity)
        n = 0;
    for (size_t i = 0; i < n; ++i)
        name[i] = static_cast<Utf16>(found.cFileName[i]);
    name[n] = 0;
}

} // namespace

struct ProfileScan {
    HANDLE find;
};

int ReadSettingFilePath(Utf16* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = 0;
    // Read access is all the tool needs, and all a standard user may have on another tool's key.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Padtuner\\Parameters", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return 0;
    wchar_t value[kProfilePathChars + 1] = {};
    DWORD bytes = kProfilePathChars * sizeof(wchar_t);
    const LONG result =
        RegQueryValueExW(key, L"SettingFilePath", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    // The type is not checked, so the data need not carry its terminator: it must end within
    // the units read.
    const size_t units = bytes / sizeof(wchar_t);
    size_t n = 0;
    while (n < units && value[n] != 0)
        ++n;
    if (n >= kProfilePathChars || n >= capacity)
        return 0;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<Utf16>(value[i]);
    out[n] = 0;
    return 1;
}

ProfileScan* BeginProfileScan(const Utf16* pattern, Utf16* name, size_t capacity) {
    if (pattern == nullptr)
        return nullptr;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern), &found);
    if (find == INVALID_HANDLE_VALUE)
        return nullptr;
    auto* scan = new (std::nothrow) ProfileScan{find};
    if (scan == nullptr) {
        FindClose(find);
        return nullptr;
    }
    GiveName(found, name, capacity);
    return scan;
}

int NextProfileScan(ProfileScan* scan, Utf16* name, size_t capacity) {
    if (scan == nullptr)
        return 0;
    WIN32_FIND_DATAW found;
    if (!FindNextFileW(scan->find, &found))
        return 0;
    GiveName(found, name, capacity);
    return 1;
}

void EndProfileScan(ProfileScan* scan) {
    if (scan == nullptr)
        return;
    FindClose(scan->find);
    delete scan;
}
