#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/control_report.h"
#include "profiles/profile_record.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
    return std::vector<uint8_t>(p, p + n);
}

void ExpectTailZero(const uint8_t* report) {
    for (uint32_t i = kRequestContentSize; i < kReportSize; ++i)
        ASSERT_EQ(report[i], 0) << "byte " << i;
}

TEST(ControlReport, AutoFireRequestsCarryTheKnownChecksums) {
    const uint8_t header[21] = {0x02, 'P',  'W',  'R',  'Q',  0x00, 0x00, 0x00, 0x01, 0x01, 0x00,
                                0x00, 0x00, 0xA8, 0x6B, 0xE9, 0x08, 0x00, 0x00, 0x08, 0x00};
    uint8_t report[kReportSize];
    std::memset(report, 0xCC, sizeof report);
    ASSERT_EQ(BuildAutoFireRequest(report, 0), 1);
    EXPECT_EQ(Bytes(report, 21), Bytes(header, 21));
    for (uint32_t i = 21; i < kReportSize; ++i)
        ASSERT_EQ(report[i], 0) << "byte " << i;

    std::memset(report, 0xCC, sizeof report);
    ASSERT_EQ(BuildAutoFireRequest(report, 0x00000001), 1);
    EXPECT_EQ(report[105], 0x01);
    EXPECT_EQ(report[13] | report[14] << 8 | report[15] << 16 | static_cast<uint32_t>(report[16]) << 24,
              0x08E96B88u);
    ExpectTailZero(report);

    // The checksum is taken with its own field still zero.
    uint8_t copy[kReportSize];
    std::memcpy(copy, report, sizeof copy);
    std::memset(copy + 13, 0, 4);
    EXPECT_EQ(RequestChecksum(copy), 0x08E96B88u);
    EXPECT_EQ(RequestChecksum(nullptr), 0u);
}

// Every sent field holds a value no other field holds; the flags use values whose low byte is 0
// or that are not 1, so a byte test or an equality test would show.
ProfileSetting DistinctSetting() {
    ProfileSetting s = {};
    s.Interval = 0x11111111;
    s.DeviceType = 0x22222222;
    s.UseHatSwitch = 0x1A3;
    s.HatSwitchMode = 2;
    s.UseSlider1 = 0x1B4;
    s.UseSlider2 = 0xC5;
    s.SliderBaseCenter1 = 0;
    s.SliderBaseCenter2 = 7;
    s.EnableRapidFire = 0x100;
    s.FunctionButtonMask = 0x0A0B0C0D;
    s.SpeedSelector = 0x1D6;
    s.Speed1 = 0x2E7;
    s.Speed2 = 0xF8;
    s.Speed3 = 0x109;
    s.Speed4 = 0x11A;
    const uint8_t axisMap[6] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36};
    std::memcpy(s.AxisMap, axisMap, 6);
    const uint8_t invert[8] = {1, 0, 5, 0, 0, 0xFF, 0, 2};
    std::memcpy(s.AxisInvert, invert, 8);
    const uint8_t deadZone[4] = {0x41, 0x42, 0x43, 0x44};
    std::memcpy(s.DeadZone, deadZone, 4);
    for (int i = 0; i < 8; ++i)
        s.ConvertOut[i] = static_cast<uint8_t>(0x51 + i);
    for (int i = 0; i < 19; ++i)
        s.ButtonMap[i] = static_cast<uint8_t>(0x60 + i);
    s.UseAxisMap2 = 0x10000;
    const int16_t axisMap2[6] = {0x7101, -2, 0x7303, 0x7404, 0x7505, 0x7606};
    std::memcpy(s.AxisMap2, axisMap2, sizeof axisMap2);
    for (int i = 0; i < 11; ++i)
        s.ConvertIn[i] = static_cast<uint8_t>(0x81 + i);
    return s;
}

TEST(ControlReport, ProfileRequestPlacesEveryFieldAtItsOffset) {
    const uint8_t expected[kRequestContentSize] = {
        0x02,                                                       // report id
        'P',  'W',  'R',  'Q',                                      // 1 Signature
        0x00, 0x00, 0x00, 0x01,                                     // 5 ProtocolVersion
        0x01, 0x00, 0x00, 0x00,                                     // 9 Command
        0x3E, 0xB3, 0x93, 0xDE,                                     // 13 Checksum
        0xFF, 0xFF, 0x07, 0x00,                                     // 17 FieldMask
        0x1B, 0x00, 0x00, 0x00,                                     // 21 SettingFlags: bits 0, 1, 3, 4
        0x41, 0x42, 0x43, 0x44,                                     // 25 DeadZone
        0xA3, 0xB4, 0xC5,                                           // 29 hat switch, sliders
        0x31, 0x32, 0x33, 0x34, 0x35, 0x36,                         // 32 AxisMap
        0xA5, 0x00, 0x00, 0x00,                                     // 38 InvertBits: 0, 2, 5, 7
        0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,             // 42 ConvertOut
        0x01, 0x71, 0xFE, 0xFF, 0x03, 0x73, 0x04, 0x74, 0x05, 0x75, // 50 AxisMap2
        0x06, 0x76,                                                 //
        0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, // 62 ConvertIn
        0x8B,                                                       //
        0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, // 73 ButtonMap
        0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72,       //
        0x0D, 0x0C, 0x0B, 0x0A,                                     // 92 FunctionButtonMask
        0x00, 0x00, 0x00, 0x00,                                     // 96 reserved
        0xD6,                                                       // 100 SpeedSelector
        0xE7, 0xF8, 0x09, 0x1A,                                     // 101 Speed1..4
        0x00, 0x00, 0x00, 0x00,                                     // 105 auto-fire buttons
    };
    ProfileSetting s = DistinctSetting();
    uint8_t report[kReportSize];
    std::memset(report, 0xCC, sizeof report);
    ASSERT_EQ(BuildProfileRequest(report, &s), 1);
    EXPECT_EQ(Bytes(report, kRequestContentSize), Bytes(expected, kRequestContentSize));
    ExpectTailZero(report);

    // Interval and DeviceType never reach the driver.
    s.Interval = 0;
    s.DeviceType = 0xFFFFFFFF;
    uint8_t again[kReportSize];
    ASSERT_EQ(BuildProfileRequest(again, &s), 1);
    EXPECT_EQ(Bytes(again, kReportSize), Bytes(report, kReportSize));

    EXPECT_EQ(BuildProfileRequest(nullptr, &s), 0);
    EXPECT_EQ(BuildProfileRequest(report, nullptr), 0);
}

TEST(ControlReport, ProfileFlagsFollowNonzeroTests) {
    struct Case {
        const char* name;
        void (*edit)(ProfileSetting&);
        size_t offset;
        uint8_t expected;
    };
    const Case cases[] = {
        {"HatSwitchMode 1", [](ProfileSetting& s) { s.HatSwitchMode = 1; }, 21, 0x02},
        {"HatSwitchMode 2", [](ProfileSetting& s) { s.HatSwitchMode = 2; }, 21, 0x02},
        {"SliderBaseCenter1 high bit", [](ProfileSetting& s) { s.SliderBaseCenter1 = 0x80000000u; }, 21,
         0x04},
        {"UseHatSwitch 256", [](ProfileSetting& s) { s.UseHatSwitch = 256; }, 29, 0x00},
        {"UseHatSwitch 257", [](ProfileSetting& s) { s.UseHatSwitch = 257; }, 29, 0x01},
        {"AxisInvert[1] 5", [](ProfileSetting& s) { s.AxisInvert[1] = 5; }, 38, 0x02},
        {"AxisInvert[7] 1", [](ProfileSetting& s) { s.AxisInvert[7] = 1; }, 38, 0x80},
    };
    for (const Case& c : cases) {
        ProfileSetting s = {};
        c.edit(s);
        uint8_t report[kReportSize];
        ASSERT_EQ(BuildProfileRequest(report, &s), 1);
        EXPECT_EQ(report[c.offset], c.expected) << c.name;
    }
}

TEST(ControlReport, TagsAndInfoTypeIds) {
    struct TagCase {
        const char* tag;
        TagKind kind;
    };
    const TagCase tags[] = {
        {"DS3U", TagKind::Usb},       {"DS3D", TagKind::Usb},     {"DS3B", TagKind::Bluetooth},
        {"DS3X", TagKind::Bluetooth}, {"DBGU", TagKind::Debug},   {"DBGB", TagKind::Debug},
        {"ds3u", TagKind::Foreign},   {"DS3 ", TagKind::Foreign}, {"\0\0\0\0", TagKind::Foreign},
    };
    for (const TagCase& t : tags) {
        uint8_t answer[kReportSize] = {2};
        std::memcpy(answer + 1, t.tag, 4);
        EXPECT_EQ(ClassifyDeviceTag(answer), t.kind) << t.tag;
    }

    uint8_t record[kDebugRecordSize] = {2, 'D', 'B', 'G', 'B', 'D', 'R', 'A', 'W'};
    EXPECT_EQ(HasExpectedInfoTypeId(record, 3), 1);
    EXPECT_EQ(HasExpectedInfoTypeId(record, 1), 0);
    EXPECT_EQ(HasExpectedInfoTypeId(record, 0), 0);
    std::memcpy(record + 5, "BTSP", 4);
    EXPECT_EQ(HasExpectedInfoTypeId(record, 2), 1);
    std::memcpy(record + 5, "INFO", 4);
    EXPECT_EQ(HasExpectedInfoTypeId(record, 1), 1);
    EXPECT_EQ(HasExpectedInfoTypeId(record, 4), 0);
}

TEST(ControlReport, DriverInfoDecodesEveryField) {
    uint8_t r[kDriverInfoRecordSize] = {};
    const uint8_t bytes[] = {
        0x02, 'D',  'S',  '3',  'B',                    // 0 id, tag
        0x01, 0x02, 0x03, 0x34, 0x12,                   // 5 versions, build 0x1234
        0x01, 0x00, 0x00, 0x00,                         // 10 DriverModeFlags
        0x12, 0x00, 0x00, 0x00,                         // 14 DriverStatus
        0x78, 0x56, 0x34, 0x12,                         // 18 ErrorCode
        0x06, 0x0A, 0x0B, 0x07, 0x0C, 0x0D, 0x0F, 0x00, // 22 HCI/LMP/Manufacturer
        0x00, 0x11, 0x22, 0x33, 0x44, 0x55,             // 30 Adapter_BDADDR
        0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,             // 36 Remote_BDADDR
        0xF6, 0x7F, 0xC8, 0xEF, 0x05,                   // 42 power levels, quality, battery, sensitivity
        0x01, 0x80, 0x01,                               // 47 MotorStatus, AutoFireSpeedSelector
        0x01, 0x00, 0x01, 0x00,                         // 50 AutoFireButtons
        0x44, 0x33, 0x22, 0x11,                         // 54 DriverSettingTagId
    };
    std::memcpy(r, bytes, sizeof bytes);
    r[80] = 0xEE;
    DriverInfo d;
    ASSERT_EQ(DecodeDriverInfo(r, &d), 1);
    EXPECT_EQ(d.reportId, 2);
    EXPECT_EQ(std::memcmp(d.DeviceTag, "DS3B", 4), 0);
    EXPECT_EQ(d.DriverVersionMajor, 1);
    EXPECT_EQ(d.DriverVersionMinor, 2);
    EXPECT_EQ(d.DriverVersionType, 3);
    EXPECT_EQ(d.DriverVersionBuild, 0x1234);
    EXPECT_EQ(d.DriverModeFlags, 1u);
    EXPECT_EQ(d.DriverStatus, 18u);
    EXPECT_EQ(d.ErrorCode, 0x12345678u);
    EXPECT_EQ(d.HCI_Version, 6);
    EXPECT_EQ(d.HCI_Revision, 0x0B0A);
    EXPECT_EQ(d.LMP_Version, 7);
    EXPECT_EQ(d.LMP_Subversion, 0x0D0C);
    EXPECT_EQ(d.Manufacturer_ID, 0x000F);
    const uint8_t adapter[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const uint8_t remote[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
    EXPECT_EQ(Bytes(d.Adapter_BDADDR, 6), Bytes(adapter, 6));
    EXPECT_EQ(Bytes(d.Remote_BDADDR, 6), Bytes(remote, 6));
    EXPECT_EQ(d.MaxTransmitPowerLevel, -10);
    EXPECT_EQ(d.CurrentTransmitPowerLevel, 127);
    EXPECT_EQ(d.LinkQuality, 0xC8);
    EXPECT_EQ(d.BatteryStatus, 0xEF);
    EXPECT_EQ(d.ReceiverSensitivity, 0x05);
    EXPECT_EQ(d.MotorStatus, 0x8001);
    EXPECT_EQ(d.AutoFireSpeedSelector, 1);
    EXPECT_EQ(d.AutoFireButtons, 0x00010001u);
    EXPECT_EQ(d.DriverSettingTagId, 0x11223344u);

    EXPECT_EQ(DecodeDriverInfo(nullptr, &d), 0);
    EXPECT_EQ(DecodeDriverInfo(r, nullptr), 0);
}

} // namespace
