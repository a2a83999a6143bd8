// The native stand-in for the application profiles' registry key (tests fill and read it).
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"

// Removes the key and every value in it.
void ClearNativeRuleStore();
// Creates the key when needed and sets one value, as another program might have written it.
void SetNativeRuleValue(const Utf16* name, uint32_t type, const uint8_t* data, size_t size);
// 1 with the value's type and bytes (valid until the store next changes); 0 when it is missing.
int GetNativeRuleValue(const Utf16* name, uint32_t* type, const uint8_t** data, size_t* size);
// Values in the key.
size_t NativeRuleValueCount();
