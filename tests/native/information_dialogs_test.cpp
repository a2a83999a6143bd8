// The driver information, debug information and auto-fire dialogs' texts and values, from
// records built byte by byte and from the simulated driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/bytes.h"
#include "dialogs/debug_text.h"
#include "dialogs/information.h"
#include "driver/control_report.h"
#include "driver/discovery.h"
#include "driver/driver_link.h"
#include "resources/resource.h"
#include "tests/native/driver_sim_helpers.h"

namespace {

struct Record {
    uint8_t b[kDriverInfoSize] = {};
    Record() {
        b[0] = 2;
        std::memcpy(b + 1, "DS3B", 4);
    }
    Record& Version(uint8_t major, uint8_t minor, uint8_t type, uint16_t build) {
        b[5] = major;
        b[6] = minor;
        b[7] = type;
        WriteU16LE(b + 8, build);
        return *this;
    }
    Record& U32(size_t at, uint32_t v) {
        WriteU32LE(b + at, v);
        return *this;
    }
    Record& U16(size_t at, uint16_t v) {
        WriteU16LE(b + at, v);
        return *this;
    }
    Record& U8(size_t at, uint8_t v) {
        b[at] = v;
        return *this;
    }
    Record& Bytes(size_t at, std::initializer_list<uint8_t> bytes) {
        for (uint8_t v : bytes)
            b[at++] = v;
        return *this;
    }
};

std::string Narrow(const Utf16* s) {
    std::string out;
    for (; *s; ++s)
        out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    return out;
}

std::string DriverInfoText(const Record& r) {
    Utf16 text[kDebugTextChars];
    FormatDriverInfoText(r.b, text, kDebugTextChars);
    return Narrow(text);
}

std::string RecordText(uint32_t selector, uint32_t type, const uint8_t* record) {
    Utf16 text[kDebugTextChars];
    FormatDebugRecordText(selector, type, record, text, kDebugTextChars);
    return Narrow(text);
}

TEST(InformationTexts, BluetoothFieldsFromARecord) {
    Record r;
    r.Version(1, 4, 0, 12)
        .U32(10, 1)
        .U32(14, 16)
        .U32(18, 0)
        .U8(22, 6)
        .U16(23, 0x22BB)
        .U8(25, 5)
        .U16(26, 777)
        .U16(28, 0x00AB)
        .Bytes(30, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55})
        .Bytes(36, {0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB})
        .U8(42, 4)
        .U8(43, 0xFC) // -4
        .U8(44, 0x0E)
        .U8(45, 4)
        .U8(49, 1)
        .U32(50, 0xFFFE0003);
    InformationTexts t;
    FormatInformation(r.b, 0, &t);
    EXPECT_STREQ(t.version, "1.4.0.0012");
    EXPECT_EQ(t.modeStringId, uint32_t(IDS_MODE_ADVANCED));
    EXPECT_EQ(t.statusStringId, 221u);
    EXPECT_EQ(t.errorStringId, uint32_t(IDS_NO_ERROR));
    EXPECT_STREQ(t.hci, "6  Rev.8891");
    EXPECT_STREQ(t.lmp, "5  Sub ver.777");
    EXPECT_STREQ(t.manufacturer, "0x00AB");
    EXPECT_STREQ(t.adapter, "00:11:22:33:44:55");
    EXPECT_STREQ(t.remote, "66:77:88:99:aa:bb");
    EXPECT_STREQ(t.power, "-004 / 004(MAX)");
    EXPECT_STREQ(t.linkQuality, "0x0e");
    EXPECT_EQ(t.speedSelectorRight, 1);
    EXPECT_EQ(t.autoFireButtons, 0x00000003u) << "bits above 16 have no box";
    EXPECT_EQ(t.battery.enabled, 1);
    EXPECT_EQ(t.battery.position, 4);

    r.U8(42, 10).U8(43, 4).U8(44, 0xFF).U32(18, 7).U32(10, 2).U8(49, 0).Version(12, 34, 56, 65535);
    FormatInformation(r.b, 0, &t);
    EXPECT_STREQ(t.power, "004 / 010(MAX)");
    EXPECT_STREQ(t.linkQuality, "0xff");
    EXPECT_EQ(t.errorStringId, 0u) << "a nonzero error shows ---";
    EXPECT_EQ(t.modeStringId, 0u) << "a mode without a text shows ---";
    EXPECT_EQ(t.speedSelectorRight, 0);
    EXPECT_STREQ(t.version, "12.34.56.65535");
    r.U8(42, 0x80).U8(43, 0x80);
    FormatInformation(r.b, 0, &t);
    EXPECT_STREQ(t.power, "-128 / -128(MAX)");
}

TEST(InformationTexts, StatusModeAndErrorTextsPerTransport) {
    struct Case {
        uint32_t status, usbId, bthId;
    } cases[] = {
        {0, IDS_USB_WAIT_PS, 210},
        {1, IDS_USB_RUNNING, 211},
        {2, 0, 212},
        {5, 0, 215},
        {6, 0, 0},
        {7, 0, 0},
        {9, 0, 0},
        {10, 0, 216},
        {13, 0, 219},
        {14, 0, 221},
        {15, 0, 222},
        {16, 0, 221},
        {17, 0, 220},
        {18, 0, IDS_BTH_RUNNING},
        {19, 0, 0},
        {0xFFFFFFFF, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UsbStatusStringId(c.status), c.usbId) << c.status;
        EXPECT_EQ(BthStatusStringId(c.status), c.bthId) << c.status;
        Record r;
        r.U32(14, c.status);
        InformationTexts t;
        FormatInformation(r.b, 1, &t);
        EXPECT_EQ(t.statusStringId, c.usbId);
        FormatInformation(r.b, 0, &t);
        EXPECT_EQ(t.statusStringId, c.bthId);
    }
    EXPECT_EQ(ModeStringId(0), uint32_t(IDS_MODE_NORMAL));
    EXPECT_EQ(ModeStringId(1), uint32_t(IDS_MODE_ADVANCED));
    EXPECT_EQ(ModeStringId(0x100), 0u);
    EXPECT_EQ(ErrorStringId(0), uint32_t(IDS_NO_ERROR));
    EXPECT_EQ(ErrorStringId(1), 0u);
}

TEST(InformationTexts, BatteryBarFollowsTheVersionAsAVersion) {
    struct Case {
        uint8_t major, minor, type;
        uint16_t build;
        int enabled;
    } versions[] = {
        {1, 4, 0, 12, 1},  {1, 5, 0, 0, 1},  {2, 0, 0, 20, 1},  {1, 4, 1, 0, 1},    {255, 0, 0, 0, 1},
        {1, 3, 9, 100, 0}, {1, 4, 0, 11, 0}, {0, 9, 9, 999, 0}, {1, 0, 5, 1520, 0}, {0, 0, 0, 0, 0},
    };
    for (const Case& c : versions) {
        Record r;
        r.Version(c.major, c.minor, c.type, c.build).U8(45, 4);
        EXPECT_EQ(ChooseBatteryBar(r.b).enabled, c.enabled)
            << int(c.major) << "." << int(c.minor) << "." << int(c.type) << "." << c.build;
    }
    struct Bar {
        uint8_t status;
        int position;
        uint8_t red, green, blue;
    } bars[] = {
        {0, 0, 0, 0, 0},      {1, 1, 0, 0, 0},        {2, 2, 255, 0, 0},    {3, 3, 255, 255, 0},
        {4, 4, 0, 255, 0},    {5, 5, 0, 255, 0},      {6, 5, 0, 0, 0},      {15, 5, 0, 0, 0},
        {16, 5, 0, 255, 255}, {0xEE, 5, 0, 255, 255}, {0xEF, 5, 0, 0, 255}, {0xFF, 5, 0, 255, 255},
    };
    for (const Bar& c : bars) {
        Record r;
        r.Version(1, 4, 0, 12).U8(45, c.status);
        const BatteryBar bar = ChooseBatteryBar(r.b);
        EXPECT_EQ(bar.enabled, 1);
        EXPECT_EQ(bar.position, c.position) << int(c.status);
        EXPECT_EQ(bar.red, c.red) << int(c.status);
        EXPECT_EQ(bar.green, c.green) << int(c.status);
        EXPECT_EQ(bar.blue, c.blue) << int(c.status);
    }
}

TEST(DebugTexts, DriverInfoTextListsEveryFieldAndEndsWithTheSettingTag) {
    Record r;
    r.Version(1, 4, 0, 12)
        .U32(10, 0)
        .U32(14, 0x12)
        .U32(18, 0x1234)
        .U8(22, 6)
        .U16(23, 300)
        .U8(25, 7)
        .U16(26, 4000)
        .U16(28, 0x0a)
        .Bytes(30, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55})
        .Bytes(36, {0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb})
        .U8(42, 0xF6)
        .U8(43, 3)
        .U8(44, 200)
        .U8(45, 0xEF)
        .U8(46, 0x40)
        .U16(47, 0x1ff)
        .U8(49, 1)
        .U32(50, 0x10001)
        .U32(54, 0xA1B2C3D4);
    EXPECT_EQ(DriverInfoText(r), "DriverVersionMajor 1\r\n"
                                 "DriverVersionMinor 4\r\n"
                                 "DriverVersionType 0\r\n"
                                 "DriverVersionBuild 12\r\n"
                                 "DriverModeFlags 0x00 (Normal)\r\n"
                                 "DriverStatus 0x0012\r\n"
                                 "ErrorCode 0x1234\r\n"
                                 "HCI_Version 6\r\n"
                                 "HCI_Revision 300\r\n"
                                 "LMP_Version 7\r\n"
                                 "LMP_Subversion 4000\r\n"
                                 "Manufacturer_ID 0x000a\r\n"
                                 "Adapter_BDADDR 00:11:22:33:44:55\r\n"
                                 "Remote_BDADDR 66:77:88:99:aa:bb\r\n"
                                 "MaxTransmitPowerLevel -10\r\n"
                                 "CurrentTransmitPowerLevel 3\r\n"
                                 "LinkQuality 200\r\n"
                                 "Receiver Sensitivity 0x40\r\n"
                                 "Battery Charge and Left Status 0xef\r\n"
                                 "MotorStatus 0x01ff\r\n"
                                 "AutoFireSpeedSelector 0x01\r\n"
                                 "AutoFireButtons 0x00010001\r\n"
                                 "DriverSettingTagId 0xa1b2c3d4\r\n");
    r.U32(10, 0x1F3);
    EXPECT_NE(DriverInfoText(r).find("DriverModeFlags 0x1f3 (Advanced)\r\n"), std::string::npos);
}

TEST(DebugTexts, DebugRecordTextsPerTypeAndTransport) {
    uint8_t info[kDebugRecordSize] = {};
    info[0] = 2;
    std::memcpy(info + 1, "DBGB", 4);
    std::memcpy(info + 5, "INFO", 4);
    WriteU32LE(info + 9, 0x13);
    WriteU32LE(info + 13, 3000000000u); // 3000000000 as a 64-bit value
    const int64_t times[4] = {1250000, -5, INT64_MAX, INT64_MIN};
    for (int i = 0; i < 4; ++i) {
        WriteU32LE(info + 21 + 8 * i, static_cast<uint32_t>(times[i]));
        WriteU32LE(info + 25 + 8 * i, static_cast<uint32_t>(static_cast<uint64_t>(times[i]) >> 32));
    }
    // The bytes after the tag are not text: the tag prints as its four letters only.
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 1, info), "InfoTypeId 'INFO'\r\n"
                                                        "FeatureFlag 0x00000013\r\n"
                                                        "ThreadTime\r\n"
                                                        "  PerformanceFrequency 3000000000\r\n"
                                                        "  ThreadTimeHci 1250000\r\n"
                                                        "  ThreadTimeHciEvent -5\r\n"
                                                        "  ThreadTimeAcl 9223372036854775807\r\n"
                                                        "  ThreadTimeAclOut -9223372036854775808\r\n");
    EXPECT_EQ(RecordText(kSelectorUsb0, 1, info), "InfoTypeId 'INFO'\r\n"
                                                  "FeatureFlag 0x00000013\r\n"
                                                  "ThreadTime\r\n"
                                                  "  PerformanceFrequency 3000000000\r\n"
                                                  "  ThreadTimeIn 1250000\r\n"
                                                  "  ThreadTimeOut -5\r\n");

    uint8_t btsp[kDebugRecordSize] = {};
    std::memcpy(btsp + 5, "BTSP", 4);
    for (int i = 0; i < 64; ++i)
        btsp[9 + i] = static_cast<uint8_t>(i * 4 + 3);
    for (int i = 0; i < 8; ++i)
        btsp[73 + i] = static_cast<uint8_t>(0xF0 + i);
    std::string want = "InfoTypeId 'BTSP'\r\nSupported Commands\r\n";
    for (int row = 0; row < 4; ++row) {
        for (int i = 0; i < 16; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, " %02x", (row * 16 + i) * 4 + 3);
            want += hex;
        }
        want += "\r\n";
    }
    want += "Supported Features\r\n f0 f1 f2 f3 f4 f5 f6 f7";
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 2, btsp), want) << "no line end after the last feature byte";

    uint8_t draw[kDebugRecordSize] = {};
    std::memcpy(draw + 5, "DRAW", 4);
    draw[9] = 1;
    for (int i = 0; i < 48; ++i)
        draw[10 + i] = static_cast<uint8_t>(0xA0 + i);
    const std::string drawText = RecordText(kSelectorUsb0, 3, draw);
    EXPECT_EQ(drawText.substr(0, 35), "InfoTypeId 'DRAW'\r\nReport Id 0x01\r\n");
    EXPECT_EQ(drawText.size(), 35u + 3 * (16 * 3 + 2));
    EXPECT_EQ(drawText.substr(drawText.size() - 8), " ce cf\r\n");

    // A record of another layout, or nothing at all, is not printed as the asked one.
    const uint8_t zeros[kDebugRecordSize] = {};
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 1, draw), "No supported function");
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 3, info), "No supported function");
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 2, zeros), "No supported function");
    EXPECT_EQ(RecordText(kSelectorBluetooth0, 4, info), "No supported function");
}

TEST(DebugTexts, TextsStayWithinTheirBuffer) {
    Record r;
    r.U32(50, 0xFFFFFFFF);
    Utf16 small[40];
    for (Utf16& c : small)
        c = 0x5A5A;
    FormatDriverInfoText(r.b, small, 30);
    EXPECT_EQ(Narrow(small), "DriverVersionMajor 0\r\nDriverV");
    EXPECT_EQ(small[30], 0x5A5A) << "nothing written past the capacity";
    FormatDriverInfoText(r.b, small, 0);
    EXPECT_EQ(small[0], u'D');
}

TEST(AutoFireMask, BoxesAndMaskBothWays) {
    int32_t ticks[kAutoFireBoxCount];
    AutoFireBoxesFromMask(0x10001, ticks);
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        EXPECT_EQ(ticks[i], i == 0 || i == 16) << i;
    EXPECT_EQ(AutoFireMaskFromBoxes(ticks), 0x10001u);
    AutoFireBoxesFromMask(0xFFFF0000u, ticks);
    EXPECT_EQ(AutoFireMaskFromBoxes(ticks), 0x10000u) << "bits 17..31 are never shown or sent";
    int32_t only[kAutoFireBoxCount] = {};
    only[1] = 1;
    EXPECT_EQ(AutoFireMaskFromBoxes(only), 2u);
    for (int32_t& t : only)
        t = 7; // any nonzero tick state counts
    EXPECT_EQ(AutoFireMaskFromBoxes(only), 0x1FFFFu);
}

class DialogsOnTheDriver : public SimulatedDriver {
  protected:
    void SetUp() override {
        SimulatedDriver::SetUp();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        SimClearLog();
    }

    std::string View(uint32_t selector, uint32_t type) {
        Utf16 text[kDebugTextChars];
        BuildDebugInfoText(state.get(), selector, type, text, kDebugTextChars);
        return Narrow(text);
    }

    uint32_t usb = 0;
    uint32_t bth = 0;
};

TEST_F(DialogsOnTheDriver, ScriptedRecordsReachTheDebugViews) {
    std::string reply;
    for (const char* line : {"set 2 info-flag 0x55", "set 2 info-frequency 3000000000", "set 2 info-drift 0",
                             "set 2 info-time 0 -7", "set 2 info-time 3 9000000000",
                             "set 2 btsp-features 6 0xAB 0xCD", "set 2 btsp-commands 63 0x11"})
        ASSERT_EQ(SimRunCommand(line, &reply), SimCommandResult::Done) << line << ": " << reply;
    const std::string info = View(kSelectorBluetooth0, 1);
    EXPECT_NE(info.find("FeatureFlag 0x00000055\r\n"), std::string::npos) << info;
    EXPECT_NE(info.find("  PerformanceFrequency 3000000000\r\n"), std::string::npos);
    EXPECT_NE(info.find("  ThreadTimeHci -7\r\n"), std::string::npos);
    EXPECT_NE(info.find("  ThreadTimeAclOut 9000000000\r\n"), std::string::npos);
    EXPECT_EQ(View(kSelectorBluetooth0, 1), info) << "no drift: the same record twice";
    const std::string btsp = View(kSelectorBluetooth0, 2);
    EXPECT_EQ(btsp.substr(btsp.size() - 24), " ff ff 8f fe db ff ab cd");
    EXPECT_NE(btsp.find(" 00 11\r\nSupported Features"), std::string::npos) << btsp;
    // Every view leaves the driver in normal mode: the next poll reads the normal record.
    EXPECT_EQ(ReadDriverInfo(&state->bthDevices[0]), 1);
    EXPECT_TRUE(HasDeviceTag(state->bthDevices[0].driverInfo, "DS3B"));

    EXPECT_EQ(View(kSelectorUsb0, 1).find("  ThreadTimeIn 1251530\r\n  ThreadTimeOut 981210\r\n"), 90u)
        << "USB names two thread times, drifting by one step per query";
    ASSERT_EQ(SimRunCommand("set 1 answer info draw", &reply), SimCommandResult::Done) << reply;
    EXPECT_EQ(View(kSelectorUsb0, 1), "No supported function");
    EXPECT_NE(View(kSelectorUsb0, 3).find("InfoTypeId 'DRAW'"), std::string::npos);
    ASSERT_EQ(SimRunCommand("set 1 answer draw none", &reply), SimCommandResult::Done);
    EXPECT_EQ(View(kSelectorUsb0, 3), "No supported function");
    EXPECT_EQ(View(0x00010001, 1), "No supported function") << "index 1 names no device";
    for (const char* bad :
         {"set 2 answer none info", "set 2 answer info bogus", "set 2 info-time 4 1",
          "set 2 btsp-features 7 1 2", "set 2 info-frequency 9223372036854775808", "set 2 btsp-commands 0"})
        EXPECT_EQ(SimRunCommand(bad, &reply), SimCommandResult::Failed) << bad;
    ASSERT_EQ(SimRunCommand("set 2 info-frequency -9223372036854775808", &reply), SimCommandResult::Done);
    EXPECT_NE(View(kSelectorBluetooth0, 1).find("  PerformanceFrequency -9223372036854775808\r\n"),
              std::string::npos);
}

TEST_F(DialogsOnTheDriver, DriverInfoViewCopiesTheSlotsRecord) {
    SimUpdateDevice(bth, [](SimDevice& d) { d.fields.DriverSettingTagId = 0xCAFE; });
    ASSERT_EQ(ReadDriverInfo(&state->bthDevices[0]), 1);
    const std::string text = View(kSelectorBluetooth0, 0);
    EXPECT_EQ(text.substr(text.size() - 31), "DriverSettingTagId 0x0000cafe\r\n");
    EXPECT_EQ(CountLog("GET"), 1) << "only the poll above read the device";
    EXPECT_EQ(CountLog("SET"), 0) << "DRIVER_INFO sends no request";
    EXPECT_NE(View(0x00000001, 0).find("Remote_BDADDR 00:00:00:00:00:00\r\n"), std::string::npos)
        << "a selector naming no device prints a zeroed record";
}

TEST_F(DialogsOnTheDriver, InformationCopyNeedsAnOpenSlotAndAutoFireReachesTheDriver) {
    SimUpdateDevice(usb, [](SimDevice& d) { d.fields.AutoFireButtons = 0xFFFF0001; });
    ASSERT_EQ(ReadDriverInfo(&state->usbDevices[0]), 1);
    int32_t ticks[kAutoFireBoxCount];
    AutoFireBoxesFromMask(CachedAutoFireButtons(&state->usbDevices[0]), ticks);
    ticks[1] = 1;
    const uint32_t mask = AutoFireMaskFromBoxes(ticks);
    EXPECT_EQ(mask, 0x10003u);
    EXPECT_EQ(SetAutoFireButtons(&state->usbDevices[0], mask), 1);
    SimDevice d;
    ASSERT_EQ(SimGetDevice(usb, &d), 1);
    EXPECT_EQ(d.fields.AutoFireButtons, 0x10003u);

    std::string reply;
    ASSERT_EQ(SimRunCommand("fault 1 fail-settings", &reply), SimCommandResult::Done);
    EXPECT_EQ(SetAutoFireButtons(&state->usbDevices[0], 0), 0);
    EXPECT_EQ(View(kSelectorUsb0, 1).rfind("InfoTypeId 'INFO'", 0), 0u) << "other writes still pass";
    ASSERT_EQ(SimGetDevice(usb, &d), 1);
    EXPECT_EQ(d.fields.AutoFireButtons, 0x10003u) << "the failed write changed nothing";

    uint8_t copy[kDriverInfoSize];
    std::memset(copy, 0x77, sizeof copy);
    EXPECT_EQ(CopyOpenDriverInfo(&state->usbDevices[0], copy), 1);
    EXPECT_TRUE(HasDeviceTag(copy, "DS3U"));
    CloseDevices(state.get());
    std::memset(copy, 0x77, sizeof copy);
    EXPECT_EQ(CopyOpenDriverInfo(&state->usbDevices[0], copy), 0);
    EXPECT_EQ(copy[0], 0x77) << "a closed slot changes nothing";
    EXPECT_EQ(CopyOpenDriverInfo(nullptr, copy), 0);
    EXPECT_EQ(CachedAutoFireButtons(nullptr), 0u);
}

} // namespace
