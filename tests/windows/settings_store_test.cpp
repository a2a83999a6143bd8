// The settings store against Wine's real registry.
#include <windows.h>

#include <gtest/gtest.h>

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
    state.usbAutoFirePlace.posX = 0x1234;
    state.bthInformationPlace.posY = -1200; // a monitor above the main one
    state.iconAnimationSpeed = 77;
    ASSERT_EQ(SaveToolSettings(&state), 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
    EXPECT_EQ(count, 20u);
    StoredToolSettings want;
    CaptureToolSettings(&state, &want);
    for (int i = 0; i < kToolSettingCount; ++i) {
        BYTE data[16] = {};
        DWORD type = 0, size = sizeof data;
        ASSERT_EQ(RegQueryValueExW(key, W(kToolSettingNames[i]), nullptr, &type, data, &size), ERROR_SUCCESS)
            << i;
        if (i < kPositionSettingCount) {
            EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << i;
            EXPECT_EQ(size, 2u) << i;
            EXPECT_EQ(data[0] | (data[1] << 8), want.positions[i]) << i;
            if (i == 13) {
                EXPECT_EQ(data[0] | (data[1] << 8), 0xFB50) << "two's complement in the same 2 bytes";
            }
        } else {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << i;
            EXPECT_EQ(size, 4u) << i;
            uint32_t value = 0;
            memcpy(&value, data, 4);
            EXPECT_EQ(value, want.dwords[i - kPositionSettingCount]) << i;
        }
    }
    RegCloseKey(key);

    ToolState& again = Fresh();
    LoadToolSettings(&again);
    EXPECT_EQ(again.usbAutoFirePlace.posX, 0x1234);
    EXPECT_EQ(again.bthInformationPlace.posY, -1200);
    EXPECT_EQ(again.iconAnimationSpeed.load(), 77u);
}

} // namespace
