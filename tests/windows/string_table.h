// Reads one string of the module's string tables in a given language, as the resource holds it.
#pragma once
#include <windows.h>

#include <string>

// Empty when the table or the string is missing. A table block holds 16 strings, each a length
// and that many units.
inline std::wstring TableString(UINT id, LANGID language) {
    HRSRC found = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (found == nullptr)
        return std::wstring();
    const auto* units = static_cast<const WORD*>(LockResource(LoadResource(nullptr, found)));
    if (units == nullptr)
        return std::wstring();
    for (UINT skip = 0; skip < id % 16; ++skip)
        units += 1 + *units;
    return std::wstring(reinterpret_cast<const wchar_t*>(units + 1), *units);
}
