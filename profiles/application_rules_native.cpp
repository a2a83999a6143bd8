// Native port of the application profiles' store: the key's values in memory, looked up without
// regard to ASCII case as the registry looks up value names. The Windows build uses
// application_rules_win.cpp.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "profiles/application_rules.h"
#include "profiles/application_rules_native.h"

struct RuleStore {
    int unused;
};

namespace {

struct StoredValue {
    uint32_t type;
    std::vector<uint8_t> bytes;
};

bool g_keyExists = false;
std::map<std::u16string, StoredValue> g_values;
RuleStore g_store;

std::u16string Key(const Utf16* name) {
    std::u16string key(name);
    for (Utf16& c : key)
        if (c >= u'a' && c <= u'z')
            c = static_cast<Utf16>(c - u'a' + u'A');
    return key;
}

} // namespace

void ClearNativeRuleStore() {
    g_keyExists = false;
    g_values.clear();
}

void SetNativeRuleValue(const Utf16* name, uint32_t type, const uint8_t* data, size_t size) {
    g_keyExists = true;
    g_values[Key(name)] = StoredValue{type, std::vector<uint8_t>(data, data + size)};
}

int GetNativeRuleValue(const Utf16* name, uint32_t* type, const uint8_t** data, size_t* size) {
    const auto found = g_values.find(Key(name));
    if (found == g_values.end())
        return 0;
    *type = found->second.type;
    *data = found->second.bytes.data();
    *size = found->second.bytes.size();
    return 1;
}

size_t NativeRuleValueCount() {
    return g_values.size();
}

RuleStore* OpenRuleStore(int forWriting) {
    if (forWriting)
        g_keyExists = true;
    return g_keyExists ? &g_store : nullptr;
}

int ReadRuleValue(RuleStore* store, const Utf16* name, uint32_t* type, uint8_t* data, size_t capacity,
                  size_t* size) {
    const auto found = store != nullptr ? g_values.find(Key(name)) : g_values.end();
    // Too large for the buffer: skipped, as ERROR_MORE_DATA is.
    if (found == g_values.end() || found->second.bytes.size() > capacity)
        return 0;
    *type = found->second.type;
    *size = found->second.bytes.size();
    std::copy(found->second.bytes.begin(), found->second.bytes.end(), data);
    return 1;
}

int WriteRuleValue(RuleStore* store, const Utf16* name, uint32_t type, const uint8_t* data, size_t size) {
    if (store == nullptr)
        return 0;
    SetNativeRuleValue(name, type, data, size);
    return 1;
}

int DeleteRuleValue(RuleStore* store, const Utf16* name) {
    if (store == nullptr)
        return 0;
    g_values.erase(Key(name));
    return 1;
}

void CloseRuleStore(RuleStore*) {}
