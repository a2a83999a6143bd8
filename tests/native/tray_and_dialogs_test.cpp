// The tray menu model, the tray picture choice and the small dialogs' texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/dialog_logic.h"
#include "monitor/battery_log.h"
#include "monitor/menu_model.h"
#include "monitor/tray_icon.h"

namespace {

std::string Narrow(const Utf16* s) {
    std::string out;
    for (; *s; ++s)
        out.push_back(static_cast<char>(*s));
    return out;
}

TEST(TrayMenu, GreyingAndTicksFollowTheFlags) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    struct Case {
        int debug, usb, bth, rumble, permission, profiles, admin;
        uint32_t count;
        TrayMenuModel want;
    } cases[] = {
        // No controller, nothing loaded, not an administrator.
        {0, 0, 0, 0, 1, 0, 0, 0, {113, {0, 0, 0}, {0, 0, 0}, 0, 1, 0, 0}},
        // USB up, no profiles: Profile greyed, reset follows the administrator flag.
        {0, 1, 0, 0, 1, 0, 0, 0, {113, {1, 0, 0}, {0, 0, 0}, 0, 1, 0, 0}},
        {0, 1, 0, 0, 1, 0, 1, 0, {113, {1, 0, 1}, {0, 0, 1}, 0, 1, 1, 0}},
        // Three profiles, both up.
        {0, 1, 1, 0, 1, 1, 1, 3, {113, {1, 1, 1}, {1, 1, 1}, 0, 1, 1, 3}},
        // Rumble client with the permission withdrawn: enabled, no tick.
        {0, 0, 0, 1, 0, 0, 0, 0, {113, {0, 0, 0}, {0, 0, 0}, 1, 0, 0, 0}},
        // Debug mode picks the debug menu.
        {1, 0, 1, 1, 1, 1, 0, 2, {114, {0, 1, 0}, {1, 1, 0}, 1, 1, 0, 2}},
        // More profiles than one transport's id range holds.
        {0, 1, 1, 0, 1, 1, 0, 400, {113, {1, 1, 0}, {1, 1, 0}, 0, 1, 0, 256}},
    };
    for (const Case& c : cases) {
        state.debugMode = static_cast<uint32_t>(c.debug);
        state.usbConnected = c.usb;
        state.bthConnected = c.bth;
        state.rumbleActive = c.rumble;
        state.rumbleEnabled = c.permission;
        state.profilesAvailable = c.profiles;
        state.profileCount = c.count;
        state.isAdmin = c.admin;
        state.canResetDriver = c.admin;
        const TrayMenuModel m = ComputeTrayMenuModel(&state);
        const TrayMenuModel& w = c.want;
        EXPECT_EQ(m.menuId, w.menuId);
        EXPECT_EQ(m.usb.enabled, w.usb.enabled);
        EXPECT_EQ(m.usb.profileEnabled, w.usb.profileEnabled);
        EXPECT_EQ(m.usb.resetEnabled, w.usb.resetEnabled);
        EXPECT_EQ(m.bth.enabled, w.bth.enabled);
        EXPECT_EQ(m.bth.profileEnabled, w.bth.profileEnabled);
        EXPECT_EQ(m.bth.resetEnabled, w.bth.resetEnabled);
        EXPECT_EQ(m.rumbleEnabled, w.rumbleEnabled);
        EXPECT_EQ(m.rumbleChecked, w.rumbleChecked);
        EXPECT_EQ(m.registryEnabled, w.registryEnabled);
        EXPECT_EQ(m.profileItems, w.profileItems);
    }
}

constexpr uint32_t kIcon = 201;

// The callback messages each gesture brings, in the order the notification area sends them; every
// gesture opens the menu once, at the point the message names.
TEST(TrayMenu, EachGestureOpensTheMenuOnceWhereTheShellSays) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    const auto v4 = [](uint32_t event, int x, int y) {
        return std::pair<uint64_t, uint64_t>{(static_cast<uint32_t>(y) & 0xFFFF) << 16 |
                                                 (static_cast<uint32_t>(x) & 0xFFFF),
                                             kIcon << 16 | event};
    };
    const auto old = [](uint32_t event) { return std::pair<uint64_t, uint64_t>{kIcon, event}; };
    constexpr TrayMenuOpen kNone = TrayMenuOpen::None, kMouse = TrayMenuOpen::ByMouse,
                           kKeys = TrayMenuOpen::ByKeyboard;
    struct Step {
        std::pair<uint64_t, uint64_t> message;
        int menuOpen; // the menu opened by an earlier step is still being tracked
        TrayMenuOpen want;
        int32_t anchored, x, y;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
    } gestures[] = {
        {"right click, the release seen while the menu is open",
         {{v4(0x200, 40, 700), 0, kNone, 1, 40, 700},
          {v4(0x204, 40, 700), 0, kMouse, 1, 40, 700},
          {v4(0x205, 40, 700), 1, kNone, 1, 40, 700},
          {v4(0x7B, 40, 700), 1, kNone, 1, 40, 700}}},
        {"right click, the release seen after the menu closed",
         {{v4(0x204, 40, 700), 0, kMouse, 1, 40, 700},
          {v4(0x205, 41, 700), 0, kNone, 1, 41, 700},
          {v4(0x7B, 41, 700), 0, kNone, 1, 41, 700}}},
        {"Shift+F10 on the focused icon", {{v4(0x7B, 1900, 1060), 0, kKeys, 1, 1900, 1060}}},
        {"Space, then Enter again while the menu is open",
         {{v4(0x401, 1900, 1060), 0, kKeys, 1, 1900, 1060},
          {v4(0x401, 1900, 1060), 1, kNone, 1, 1900, 1060}}},
        {"a click, then Shift+F10",
         {{v4(0x204, 10, 10), 0, kMouse, 1, 10, 10},
          {v4(0x205, 10, 10), 0, kNone, 1, 10, 10},
          {v4(0x7B, 10, 10), 0, kNone, 1, 10, 10},
          {v4(0x7B, 10, 10), 0, kKeys, 1, 10, 10}}},
        {"a monitor left of and above the main one", {{v4(0x204, -1200, -5), 0, kMouse, 1, -1200, -5}}},
        {"left click and its selection open nothing",
         {{v4(0x201, 5, 5), 0, kNone, 1, 5, 5},
          {v4(0x202, 5, 5), 0, kNone, 1, 5, 5},
          {v4(0x400, 5, 5), 0, kNone, 1, 5, 5}}},
        {"another icon of the window", {{{0, 202u << 16 | 0x204}, 0, kNone, 0, 0, 0}}},
        {"without the version: the press, at the cursor",
         {{old(0x200), 0, kNone, 0, 0, 0},
          {old(0x204), 0, kMouse, 0, 0, 0},
          {old(0x205), 1, kNone, 0, 0, 0}}},
        {"without the version, another icon", {{{202, 0x204}, 0, kNone, 0, 0, 0}}},
    };
    for (const auto& g : gestures) {
        state.trayAfterRightUp = 0;
        int n = 0;
        for (const Step& s : g.steps) {
            state.trayMenuOpen = s.menuOpen;
            const TrayMenuRequest r = TrayMenuRequestFor(&state, kIcon, s.message.first, s.message.second);
            EXPECT_EQ(static_cast<int>(r.open), static_cast<int>(s.want)) << g.what << ", step " << n;
            if (r.open != kNone) {
                EXPECT_EQ(r.anchored, s.anchored) << g.what << ", step " << n;
                EXPECT_EQ(r.x, s.x) << g.what << ", step " << n;
                EXPECT_EQ(r.y, s.y) << g.what << ", step " << n;
            }
            ++n;
        }
    }
}

TEST(TrayIcon, EveryCodePicksItsPicture) {
    const struct {
        uint32_t value;
        int index;
    } cases[] = {{1, 0}, {2, 1}, {4, 2}, {8, 3},  {0x10000000, 4},  {0x40000000, 5}, {0x80000000u, 6},
                 {0, 0}, {3, 0}, {6, 0}, {16, 0}, {0xC0000000u, 0}, {0x20000000, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(TrayIconIndex(c.value), c.index) << std::hex << c.value;
}

// Each scaling from 100 to 300 percent in the system's steps gets one of the icons' own pictures:
// the slot's size where a picture of that size exists, else the largest that fits.
TEST(TrayIcon, EveryScalingGetsAPictureOfItsOwn) {
    const struct {
        uint32_t dpi;
        int slot;
        int picture;
    } cases[] = {{96, 16, 16},  {120, 20, 20}, {144, 24, 24}, {168, 28, 24}, {192, 32, 32},
                 {216, 36, 32}, {240, 40, 40}, {264, 44, 40}, {288, 48, 48}};
    for (const auto& c : cases) {
        EXPECT_EQ(TraySlotSize(c.dpi), c.slot) << c.dpi;
        const int picture = TrayPictureSize(TraySlotSize(c.dpi));
        EXPECT_EQ(picture, c.picture) << c.dpi;
        int held = 0;
        for (int size : kTrayPictureSizes)
            held += size == picture;
        EXPECT_EQ(held, 1) << "the icons hold a " << picture << "-pixel picture";
    }
    // Whatever the system reports, the pick stays one of the pictures.
    EXPECT_EQ(TraySlotSize(0), 16);
    EXPECT_EQ(TrayPictureSize(TraySlotSize(0)), 16);
    EXPECT_EQ(TrayPictureSize(TraySlotSize(1)), 16);
    EXPECT_EQ(TraySlotSize(0xFFFFFFFFu), 256);
    EXPECT_EQ(TrayPictureSize(TraySlotSize(0xFFFFFFFFu)), 48);
    EXPECT_EQ(TrayPictureSize(-5), 16);
}

TEST(VersionDialog, VersionAndModeTexts) {
    Utf16 text[64];
    FormatVersionText(text, 64, 0, 3, 5, 15);
    EXPECT_EQ(Narrow(text), " 0. 3. 5.0015");
    EXPECT_EQ(std::char_traits<char16_t>::length(text), 13u);
    FormatVersionText(text, 64, 12, 34, 56, 78901);
    EXPECT_EQ(Narrow(text), "12.34.56.78901");
    FormatModeText(text, 64, 1);
    EXPECT_EQ(Narrow(text), "Mode : Debug");
    FormatModeText(text, 64, 0);
    EXPECT_EQ(Narrow(text), "Mode : Normal");
    Utf16 small[6];
    FormatVersionText(small, 6, 0, 3, 5, 15);
    EXPECT_EQ(Narrow(small), " 0. 3") << "cut to the buffer, terminated";
}

// What the user types in the speed box: below the range the fastest, above it the slowest, and
// anything that is no number leaves the speed as it was.
TEST(ToolSettingDialog, TypedSpeed) {
    const struct {
        const char16_t* text;
        uint32_t want;
    } cases[] = {{u"0", 1},     {u"-5", 1},    {u"1", 1},     {u"150", 150},
                 {u" 42 ", 42}, {u"300", 300}, {u"301", 300}, {u"99999999999", 300},
                 {u"abc", 77},  {u"", 77},     {u"12x", 77},  {u"-", 77},
                 {u"+7", 7},    {u"1e3", 77},  {u"0300", 300}};
    for (const auto& c : cases)
        EXPECT_EQ(SpeedFromTypedText(reinterpret_cast<const Utf16*>(c.text), 32, 77), c.want);
    const Utf16 unterminated[3] = {u'2', u'5', u'0'};
    EXPECT_EQ(SpeedFromTypedText(unterminated, 2, 77), 25u) << "read no further than the capacity";
    EXPECT_EQ(SpeedFromTypedText(nullptr, 32, 77), 77u);
}

TEST(BatteryLog, LineFormatNameAndChangeTest) {
    uint8_t bytes[15];
    for (int i = 0; i < 15; ++i)
        bytes[i] = static_cast<uint8_t>(i + 1);
    uint8_t line[kBatteryLogLineSize];
    memset(line, 0xEE, sizeof line);
    FormatBatteryLogLine(line, 9, 5, 3, bytes);
    const char want[] = "09:05:03 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  \n";
    ASSERT_EQ(sizeof want - 1, 56u);
    EXPECT_EQ(0, memcmp(line, want, 56));
    uint8_t high[15];
    memset(high, 0xAB, sizeof high);
    FormatBatteryLogLine(line, 23, 59, 59, high);
    EXPECT_EQ(0, memcmp(line, "23:59:59 AB AB", 14));
    EXPECT_EQ(line[54], ' ');
    EXPECT_EQ(line[55], '\n');

    Utf16 name[64];
    ASSERT_EQ(FormatBatteryLogName(name, 64, 2010, 7, 4), 1);
    EXPECT_EQ(Narrow(name), "PdwnBattery_20100704.log");
    EXPECT_EQ(FormatBatteryLogName(name, 10, 2010, 7, 4), 0);

    // The log's full path, in the user's own folder, whole or not at all.
    Utf16 path[48];
    ASSERT_EQ(FormatBatteryLogPath(path, 48, u"C:\\Users\\ann\\Padwarden", 2026, 12, 8), 1);
    EXPECT_EQ(Narrow(path), "C:\\Users\\ann\\Padwarden\\PdwnBattery_20261208.log");
    EXPECT_EQ(FormatBatteryLogPath(path, 47, u"C:\\Users\\ann\\Padwarden", 2026, 12, 8), 0);
    EXPECT_EQ(path[0], 0) << "no cut path is left to open";
    EXPECT_EQ(FormatBatteryLogPath(path, 48, u"", 2026, 12, 8), 0) << "never the current directory";

    uint8_t record[81] = {};
    uint8_t last[15] = {};
    EXPECT_EQ(BatteryBytesChanged(record, last), 0) << "all zero matches the start-up state";
    record[49] = 1;
    EXPECT_EQ(BatteryBytesChanged(record, last), 1) << "last logged byte";
    record[49] = 0;
    record[34] = 1;
    record[50] = 1;
    EXPECT_EQ(BatteryBytesChanged(record, last), 0) << "bytes outside 35..49 do not count";
}

} // namespace
