// The settings store in the registry: the twenty values under the tool's Parameters key, read
// size-checked (they are untrusted) and written back for app/settings.cpp's rules.
#include "app/settings.h"
#include "app/app_win.h"

namespace {
const wchar_t kSettingsKey[] = L"Software\\Corvane\\Padwarden\\Parameters";

// Takes a value only when its data has exactly the member's size: anything else was written by
// another program and keeps the default.
template <typename T> void QueryExact(HKEY key, const Utf16* name, T* member) {
    T value{};
    DWORD size = sizeof(T);
    if (RegQueryValueExW(key, W(name), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        size == sizeof(T))
        *member = value;
}
} // namespace

void LoadToolSettings(ToolState* state) {
    StoredToolSettings stored;
    CaptureToolSettings(state, &stored);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (int i = 0; i < kPositionSettingCount; ++i)
            QueryExact(key, kToolSettingNames[i], &stored.positions[i]);
        for (int i = 0; i < kDwordSettingCount; ++i)
            QueryExact(key, kToolSettingNames[kPositionSettingCount + i], &stored.dwords[i]);
        uint32_t showState = 0;
        QueryExact(key, kShowStateInTooltipName, &showState);
        state->showStateInTooltip = showState != 0 ? 1 : 0;
        RegCloseKey(key);
    }
    ClampToolSettings(&stored.dwords[0], &stored.dwords[5]);
    ApplyToolSettings(state, &stored);
}

int SaveToolSettings(const ToolState* state) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    StoredToolSettings stored;
    CaptureToolSettings(state, &stored);
    for (int i = 0; i < kPositionSettingCount; ++i)
        RegSetValueExW(key, W(kToolSettingNames[i]), 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(&stored.positions[i]), sizeof(uint16_t));
    for (int i = 0; i < kDwordSettingCount; ++i)
        RegSetValueExW(key, W(kToolSettingNames[kPositionSettingCount + i]), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&stored.dwords[i]), sizeof(uint32_t));
    const uint32_t showState = 1;
    if (state->showStateInTooltip)
        RegSetValueExW(key, W(kShowStateInTooltipName), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&showState), sizeof showState);
    else
        RegDeleteValueW(key, W(kShowStateInTooltipName));
    RegCloseKey(key);
    return 1;
}
