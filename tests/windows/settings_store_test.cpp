// The settings store against Wine's real registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "app/settings.h"
#include "app/app_win.h"

namespace {

const wchar_t kKey[] = L"Software\\Corvane\\Padwarden\\Parameters";

class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
    static void Put(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static ToolState& Fresh() {
        static ToolState state;
        InitializeToolStateDefaults(&state);
        return state;
    }
};

TEST_F(SettingsStore, NoKeyLeavesTheDefaults) {
    ToolState& state = Fresh();
    LoadToolSettings(&state);
    EXPECT_EQ(state.threadInterval, 100u);
    EXPECT_EQ(state.iconAnimationSpeed.load(), 10u);
    EXPECT_EQ(state.enableTrayIcon, 1);
    EXPECT_EQ(state.enableAnimationIcon.load(), 1);
    EXPECT_EQ(state.enableNotifyPSButton.load(), 1);
    EXPECT_EQ(state.enableNotifyLowBattery.load(), 0);
    EXPECT_EQ(state.versionPlace.posX, 0);
    EXPECT_EQ(state.bthInformationPlace.posY, 0);
}

TEST_F(SettingsStore, ValuesOfTheRightSizeAreTakenAndClamped) {
    const DWORD interval = 50, speed = 0xFFFFFFFF, lowBattery = 1;
    const uint16_t x = 300, y = 200;
    const DWORD wideX = 400;
    const uint8_t oneByte = 7;
    Put(L"ThreadInterval", REG_DWORD, &interval, 4);
    Put(L"IconAnimationSpeed", REG_DWORD, &speed, 4);
    Put(L"EnableNotifyLowBattery", REG_DWORD, &lowBattery, 4);
    Put(L"RumblePosX", REG_BINARY, &x, 2);
    Put(L"RumblePosY", REG_BINARY, &y, 2);
    Put(L"VersionPosX", REG_DWORD, &wideX, 4);       // another writer's 4-byte position
    Put(L"EnableTrayIcon", REG_BINARY, &oneByte, 1); // too small for a 32-bit value
    ToolState& state = Fresh();
    LoadToolSettings(&state);
    EXPECT_EQ(state.threadInterval, 100u);
    EXPECT_EQ(state.iconAnimationSpeed.load(), 300u);
    EXPECT_EQ(state.enableNotifyLowBattery.load(), 1);
    EXPECT_EQ(state.rumblePlace.posX, 300);
    EXPECT_EQ(state.rumblePlace.posY, 200);
    EXPECT_EQ(state.versionPlace.posX, 0) << "a 4-byte position is not taken";
    EXPECT_EQ(state.enableTrayIcon, 1) << "a 1-byte flag is not taken";
}

TEST_F(SettingsStore, SaveWritesAllTwentyValuesWithTypesAndSizes) {
    ToolState& state = Fresh();
    state.toolSettingPlace = {0, 1, 2};
    state.versionPlace = {0, 3, 4};
    state.rumblePlace = {0, 5, 6};
    state.usbAutoFirePlace = {0, 0x1234, 8};
    state.bthAutoFirePlace = {0, 9, 10};
    state.usbInformationPlace = {0, 0, 11, 12};
    state.bthInformationPlace = {0, 0, 13, -1200}; // a monitor above the main one
    state.threadInterval = 250;
    state.enableTrayIcon = 0;
    state.enableAnimationIcon = 1;
    state.enableNotifyPSButton = 0;
    state.enableNotifyLowBattery = 1;
    state.iconAnimationSpeed = 77;
    ASSERT_EQ(SaveToolSettings(&state), 1);
    // The stored form other versions and the user's exported keys rely on, written out by hand.
    const struct {
        const wchar_t* name;
        DWORD type;
        DWORD size;
        uint32_t value;
    } stored[] = {
        {L"ToolSettingPosX", REG_BINARY, 2, 1},
        {L"ToolSettingPosY", REG_BINARY, 2, 2},
        {L"VersionPosX", REG_BINARY, 2, 3},
        {L"VersionPosY", REG_BINARY, 2, 4},
        {L"RumblePosX", REG_BINARY, 2, 5},
        {L"RumblePosY", REG_BINARY, 2, 6},
        {L"USBRapidFireSettingPosX", REG_BINARY, 2, 0x1234},
        {L"USBRapidFireSettingPosY", REG_BINARY, 2, 8},
        {L"BTHRapidFireSettingPosX", REG_BINARY, 2, 9},
        {L"BTHRapidFireSettingPosY", REG_BINARY, 2, 10},
        {L"USBInformationPosX", REG_BINARY, 2, 11},
        {L"USBInformationPosY", REG_BINARY, 2, 12},
        {L"BTHInformationPosX", REG_BINARY, 2, 13},
        {L"BTHInformationPosY", REG_BINARY, 2, 0xFB50}, // two's complement in the same 2 bytes
        {L"ThreadInterval", REG_DWORD, 4, 250},
        {L"EnableTrayIcon", REG_DWORD, 4, 0},
        {L"EnableAnimationIcon", REG_DWORD, 4, 1},
        {L"EnableNotifyPSButton", REG_DWORD, 4, 0},
        {L"EnableNotifyLowBattery", REG_DWORD, 4, 1},
        {L"IconAnimationSpeed", REG_DWORD, 4, 77},
    };
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
    EXPECT_EQ(count, 20u);
    for (const auto& want : stored) {
        BYTE data[16] = {};
        DWORD type = 0, size = sizeof data;
        const std::string name(want.name, want.name + wcslen(want.name));
        ASSERT_EQ(RegQueryValueExW(key, want.name, nullptr, &type, data, &size), ERROR_SUCCESS) << name;
        EXPECT_EQ(type, want.type) << name;
        EXPECT_EQ(size, want.size) << name;
        uint32_t value = 0;
        memcpy(&value, data, 4);
        EXPECT_EQ(value, want.value) << name;
    }
    RegCloseKey(key);

    ToolState& again = Fresh();
    LoadToolSettings(&again);
    EXPECT_EQ(again.usbAutoFirePlace.posX, 0x1234);
    EXPECT_EQ(again.bthInformationPlace.posY, -1200);
    EXPECT_EQ(again.iconAnimationSpeed.load(), 77u);
    EXPECT_EQ(again.showStateInTooltip.load(), 0);

    // The state tooltip: a twenty-first value while it is on, gone again once it is off.
    auto values = [] {
        HKEY k = nullptr;
        DWORD n = 0;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
            RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &n, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(k);
        }
        return n;
    };
    again.showStateInTooltip = 1;
    ASSERT_EQ(SaveToolSettings(&again), 1);
    EXPECT_EQ(values(), 21u);
    DWORD type = 0, data = 0, size = sizeof data;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"ShowStateInTooltip", RRF_RT_ANY, &type, &data, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data, 1u);
    ToolState& on = Fresh();
    LoadToolSettings(&on);
    EXPECT_EQ(on.showStateInTooltip.load(), 1);
    on.showStateInTooltip = 0;
    ASSERT_EQ(SaveToolSettings(&on), 1);
    EXPECT_EQ(values(), 20u);
    const uint8_t oneByte = 1;
    Put(L"ShowStateInTooltip", REG_BINARY, &oneByte, 1);
    ToolState& stray = Fresh();
    LoadToolSettings(&stray);
    EXPECT_EQ(stray.showStateInTooltip.load(), 0) << "a 1-byte value is not taken";
}

} // namespace
