// One profile file as the tool keeps it: its name, its menu title and the setting block that
// ApplyProfileSetting sends to the driver. The setting block is a byte-exact little-endian layout;
// every member sits at its natural alignment, so no packing pragma is needed and the asserts below
// hold on every compiler that builds the tool.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/text.h"

constexpr int kProfileFileNameChars = 260;
constexpr int kProfileTitleChars = 32;
constexpr int kProfileButtonCount = 19;

struct ProfileSetting {
    uint32_t reserved0;
    uint32_t Interval;
    uint32_t DeviceType;
    uint32_t UseHatSwitch;
    uint32_t HatSwitchMode;
    uint32_t UseSlider1;
    uint32_t UseSlider2;
    uint32_t SliderBaseCenter1;
    uint32_t SliderBaseCenter2;
    uint32_t EnableRapidFire;
    uint32_t FunctionButtonMask;
    uint32_t reserved44;
    uint32_t SpeedSelector;
    uint32_t Speed1;
    uint32_t Speed2;
    uint32_t Speed3;
    uint32_t Speed4;
    uint8_t AxisMap[6];
    uint8_t AxisInvert[8];
    uint8_t DeadZone[4];
    uint8_t reserved86[12];
    uint8_t ConvertOut[8];
    uint8_t ButtonMap[kProfileButtonCount];
    uint8_t reserved125[3];
    uint32_t UseAxisMap2;
    int16_t AxisMap2[6];
    uint8_t ConvertIn[11];
    uint8_t reserved155;
};

struct ProfileRecord {
    Utf16 FileName[kProfileFileNameChars];
    Utf16 Title[kProfileTitleChars];
    ProfileSetting Setting;
};

static_assert(offsetof(ProfileSetting, reserved0) == 0);
static_assert(offsetof(ProfileSetting, Interval) == 4);
static_assert(offsetof(ProfileSetting, DeviceType) == 8);
static_assert(offsetof(ProfileSetting, UseHatSwitch) == 12);
static_assert(offsetof(ProfileSetting, HatSwitchMode) == 16);
static_assert(offsetof(ProfileSetting, UseSlider1) == 20);
static_assert(offsetof(ProfileSetting, UseSlider2) == 24);
static_assert(offsetof(ProfileSetting, SliderBaseCenter1) == 28);
static_assert(offsetof(ProfileSetting, SliderBaseCenter2) == 32);
static_assert(offsetof(ProfileSetting, EnableRapidFire) == 36);
static_assert(offsetof(ProfileSetting, FunctionButtonMask) == 40);
static_assert(offsetof(ProfileSetting, reserved44) == 44);
static_assert(offsetof(ProfileSetting, SpeedSelector) == 48);
static_assert(offsetof(ProfileSetting, Speed1) == 52);
static_assert(offsetof(ProfileSetting, Speed2) == 56);
static_assert(offsetof(ProfileSetting, Speed3) == 60);
static_assert(offsetof(ProfileSetting, Speed4) == 64);
static_assert(offsetof(ProfileSetting, AxisMap) == 68);
static_assert(offsetof(ProfileSetting, AxisInvert) == 74);
static_assert(offsetof(ProfileSetting, DeadZone) == 82);
static_assert(offsetof(ProfileSetting, reserved86) == 86);
static_assert(offsetof(ProfileSetting, ConvertOut) == 98);
static_assert(offsetof(ProfileSetting, ButtonMap) == 106);
static_assert(offsetof(ProfileSetting, reserved125) == 125);
static_assert(offsetof(ProfileSetting, UseAxisMap2) == 128);
static_assert(offsetof(ProfileSetting, AxisMap2) == 132);
static_assert(offsetof(ProfileSetting, ConvertIn) == 144);
static_assert(offsetof(ProfileSetting, reserved155) == 155);
static_assert(sizeof(ProfileSetting) == 156);
static_assert(offsetof(ProfileRecord, Title) == 520);
static_assert(offsetof(ProfileRecord, Setting) == 584);
static_assert(sizeof(ProfileRecord) == 740);
// Other code reads the block's fields as the driver's little-endian words.
static_assert(std::endian::native == std::endian::little);
