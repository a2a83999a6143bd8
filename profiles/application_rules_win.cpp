// The application profiles' registry key, HKCU\Software\Corvane\Padwarden\ApplicationProfiles,
// for profiles/application_rules.cpp: opened, read into the caller's fixed buffer, written.
#include <windows.h>

#include <new>

#include "profiles/application_rules.h"

namespace {
// Apart from the tool's Parameters, so that the rules are never read or rewritten with them.
const wchar_t kRulesKey[] = L"Software\\Corvane\\Padwarden\\ApplicationProfiles";

const wchar_t* W(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
} // namespace

struct RuleStore {
    HKEY key;
};

RuleStore* OpenRuleStore(int forWriting) {
    HKEY key = nullptr;
    const LONG result =
        forWriting ? RegCreateKeyExW(HKEY_CURRENT_USER, kRulesKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr)
                   : RegOpenKeyExW(HKEY_CURRENT_USER, kRulesKey, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return nullptr;
    RuleStore* store = new (std::nothrow) RuleStore{key};
    if (store == nullptr)
        RegCloseKey(key);
    return store;
}

int ReadRuleValue(RuleStore* store, const Utf16* name, uint32_t* type, uint8_t* data, size_t capacity,
                  size_t* size) {
    if (store == nullptr || data == nullptr)
        return 0;
    DWORD valueType = 0;
    DWORD bytes = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    // ERROR_MORE_DATA, like any other error, skips the value: nothing larger is ever read.
    if (RegQueryValueExW(store->key, W(name), nullptr, &valueType, data, &bytes) != ERROR_SUCCESS ||
        bytes > capacity)
        return 0;
    *type = valueType;
    *size = bytes;
    return 1;
}

int WriteRuleValue(RuleStore* store, const Utf16* name, uint32_t type, const uint8_t* data, size_t size) {
    if (store == nullptr || size > MAXDWORD)
        return 0;
    return RegSetValueExW(store->key, W(name), 0, type, data, static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

int DeleteRuleValue(RuleStore* store, const Utf16* name) {
    if (store == nullptr)
        return 0;
    const LONG result = RegDeleteValueW(store->key, W(name));
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

void CloseRuleStore(RuleStore* store) {
    if (store == nullptr)
        return;
    RegCloseKey(store->key);
    delete store;
}
