// The state tooltip: its lines for each state in both languages, the cut at the tray's 127 units,
// and that it is sent only when it changes, and never while the setting is off.
#include <gtest/gtest.h>

#include <string>

#include "driver/discovery.h"
#include "monitor/monitor.h"
#include "monitor/tray_tip.h"
#include "sim/sim_driver.h"
#include "tests/native/platform_fakes.h"

namespace {

// The Japanese string table's lines, written out here as the user reads them.
TrayTipTexts JapaneseTexts() {
    TrayTipTexts t;
    const std::pair<Utf16*, const char16_t*> lines[] = {
        {t.usbConnected, u"USB: 接続中"},
        {t.usbWaiting, u"USB: PSボタン待ち"},
        {t.usbNone, u"USB: 未接続"},
        {t.bthConnected, u"Bluetooth: 接続中"},
        {t.bthLevel, u"Bluetooth: 接続中、電池 %1/5"},
        {t.bthCharging, u"Bluetooth: 接続中、充電中"},
        {t.bthFull, u"Bluetooth: 接続中、充電完了"},
        {t.bthWaiting, u"Bluetooth: PSボタン待ち"},
        {t.bthNone, u"Bluetooth: 未接続"},
        {t.bthLastLevel, u"Bluetooth: %2 に電池 %1/5 で確認"},
        {t.bthLastSeen, u"Bluetooth: %2 に確認"},
        {t.ffNone, u"フォースフィードバック: クライアントなし"},
        {t.ffOne, u"フォースフィードバック: クライアント 1 個"},
        {t.ffMany, u"フォースフィードバック: クライアント %1 個"},
        {t.noListed, u"一覧にないとき"},
    };
    for (const auto& line : lines)
        CopyUtf16(line.first, kTrayTipTextUnits, line.second);
    return t;
}

TrayTipTexts EnglishTexts() {
    TrayTipTexts t;
    LoadTrayTipTexts(&t); // the fake holds the English table's lines
    return t;
}

std::u16string Compose(const char16_t* caption, const TrayTipFacts& facts, const TrayTipTexts& texts,
                       size_t capacity = kTrayTipUnits) {
    Utf16 out[kTrayTipUnits + 8];
    for (Utf16& unit : out)
        unit = u'#';
    ComposeTrayTip(out, capacity, caption, facts, texts);
    EXPECT_EQ(out[capacity], u'#') << "wrote past the capacity";
    return std::u16string(out);
}

TrayTipFacts Facts(TipLink usb, TipLink bth, uint8_t battery = 0, int32_t last = -1, uint32_t minute = 0,
                   int32_t rumble = 0, uint32_t clients = 0) {
    TrayTipFacts f;
    f.usb = usb;
    f.bth = bth;
    f.battery = battery;
    f.lastBattery = last;
    f.lastSeenMinute = minute;
    f.rumbleOn = rumble;
    f.clients = clients;
    return f;
}

TEST(TrayTip, EveryStateInBothLanguages) {
    using L = TipLink;
    struct Case {
        TrayTipFacts facts;
        const char16_t* english;
        const char16_t* japanese;
    };
    const Case cases[] = {
        {Facts(L::NotConnected, L::NotConnected), u"Padwarden\nUSB: not connected\nBluetooth: not connected",
         u"Padwarden\nUSB: 未接続\nBluetooth: 未接続"},
        {Facts(L::Waiting, L::Connected, 3),
         u"Padwarden\nUSB: waiting for the PS button\nBluetooth: connected, battery 3 of 5",
         u"Padwarden\nUSB: PSボタン待ち\nBluetooth: 接続中、電池 3/5"},
        {Facts(L::Connected, L::Connected, 0xEE),
         u"Padwarden\nUSB: connected\nBluetooth: connected, charging",
         u"Padwarden\nUSB: 接続中\nBluetooth: 接続中、充電中"},
        {Facts(L::Connected, L::Connected, 0xEF), u"Padwarden\nUSB: connected\nBluetooth: connected, full",
         u"Padwarden\nUSB: 接続中\nBluetooth: 接続中、充電完了"},
        {Facts(L::Connected, L::Connected, 9), u"Padwarden\nUSB: connected\nBluetooth: connected",
         u"Padwarden\nUSB: 接続中\nBluetooth: 接続中"},
        {Facts(L::NotConnected, L::Waiting),
         u"Padwarden\nUSB: not connected\nBluetooth: waiting for the PS button",
         u"Padwarden\nUSB: 未接続\nBluetooth: PSボタン待ち"},
        {Facts(L::NotConnected, L::NotConnected, 0, 3, 14 * 60 + 2),
         u"Padwarden\nUSB: not connected\nBluetooth: last seen 3 of 5 at 14:02",
         u"Padwarden\nUSB: 未接続\nBluetooth: 14:02 に電池 3/5 で確認"},
        {Facts(L::NotConnected, L::NotConnected, 0, 0xEE, 9 * 60),
         u"Padwarden\nUSB: not connected\nBluetooth: last seen at 09:00",
         u"Padwarden\nUSB: 未接続\nBluetooth: 09:00 に確認"},
        {Facts(L::Connected, L::NotConnected, 0, -1, 0, 1, 0),
         u"Padwarden\nUSB: connected\nBluetooth: not connected\nForce feedback: no clients",
         u"Padwarden\nUSB: 接続中\nBluetooth: 未接続\nフォースフィードバック: クライアントなし"},
        {Facts(L::Connected, L::NotConnected, 0, -1, 0, 1, 1),
         u"Padwarden\nUSB: connected\nBluetooth: not connected\nForce feedback: 1 client",
         u"Padwarden\nUSB: 接続中\nBluetooth: 未接続\nフォースフィードバック: クライアント 1 個"},
        {Facts(L::Waiting, L::NotConnected, 0, 5, 23 * 60 + 59, 1, 12),
         u"Padwarden\nUSB: waiting for the PS button\nBluetooth: last seen 5 of 5 at 23:59\nForce feedback: "
         u"12 clients",
         u"Padwarden\nUSB: PSボタン待ち\nBluetooth: 23:59 に電池 5/5 で確認\nフォースフィードバック: "
         u"クライアント 12 個"},
    };
    const TrayTipTexts english = EnglishTexts(), japanese = JapaneseTexts();
    for (const Case& c : cases) {
        EXPECT_EQ(Compose(u"Padwarden", c.facts, english), c.english);
        EXPECT_EQ(Compose(u"Padwarden", c.facts, japanese), c.japanese);
    }
    // The profile applied shows beside its connected transport, and not beside a waiting one.
    TrayTipFacts applied = Facts(L::Connected, L::Connected, 4);
    CopyUtf16(applied.usbProfile, kProfileTitleChars, u"Racing");
    CopyUtf16(applied.bthProfile, kProfileTitleChars, u"レース");
    EXPECT_EQ(Compose(u"Padwarden", applied, english),
              u"Padwarden\nUSB: connected (Racing)\nBluetooth: connected, battery 4 of 5 (レース)");
    applied.usb = L::Waiting;
    EXPECT_EQ(Compose(u"Padwarden", applied, japanese),
              u"Padwarden\nUSB: PSボタン待ち\nBluetooth: 接続中、電池 4/5 (レース)");
    // Chosen by an application rule: the program, or the rule for no listed program, after it.
    applied.usb = L::Connected;
    CopyUtf16(applied.chooser[0], kAppliedRuleChars, u"game.exe");
    applied.noListed[1] = 1;
    EXPECT_EQ(
        Compose(u"Padwarden", applied, english),
        u"Padwarden\nUSB: connected (Racing, game.exe)\nBluetooth: connected, battery 4 of 5 (レース, no "
        u"listed program)");
    EXPECT_EQ(
        Compose(u"Padwarden", applied, japanese),
        u"Padwarden\nUSB: 接続中 (Racing, game.exe)\nBluetooth: 接続中、電池 4/5 (レース, 一覧にないとき)");
}

TEST(TrayTip, TheCutDropsWholeLinesAndNeverHalfACharacter) {
    const TrayTipFacts facts = Facts(TipLink::Waiting, TipLink::NotConnected, 0, 3, 14 * 60 + 2, 1, 2);
    const TrayTipTexts english = EnglishTexts();
    // Caption 9 + 31 + 37 = 77 units; the fourth line needs 26 more.
    EXPECT_EQ(Compose(u"Padwarden", facts, english, 78),
              u"Padwarden\nUSB: waiting for the PS button\nBluetooth: last seen 3 of 5 at 14:02");
    EXPECT_EQ(Compose(u"Padwarden", facts, english, 102),
              u"Padwarden\nUSB: waiting for the PS button\nBluetooth: last seen 3 of 5 at 14:02");
    EXPECT_EQ(Compose(u"Padwarden", facts, english, 104).size(), 103u);
    // A caption whose surrogate pair would end on the 128th unit: the pair goes whole or not at
    // all, and no line follows.
    std::u16string caption(126, u'x');
    caption += u"\U0001F3AE";
    EXPECT_EQ(Compose(caption.c_str(), facts, english), std::u16string(126, u'x'));
    // The longest English state stays within the tray's 127 units, whole.
    const std::u16string longest =
        Compose(u"Padwarden", Facts(TipLink::Waiting, TipLink::Waiting, 0, -1, 0, 1, 32), english);
    EXPECT_LE(longest.size(), 127u);
    EXPECT_EQ(longest.substr(longest.rfind(u'\n') + 1), u"Force feedback: 32 clients");
}

struct TipPasses : ::testing::Test {
    void SetUp() override {
        SimReset();
        static ToolState state;
        InitializeToolStateDefaults(&state);
        CopyUtf16(state.caption, 256, u"Padwarden");
        state_ = &state;
        std::lock_guard<std::mutex> hold(TheFakeTray().lock);
        TheFakeTray().sentTips.clear();
        TheFakeTray().sentValues.clear();
    }
    void TearDown() override {
        CloseDevices(state_);
        SimReset();
    }
    std::vector<std::u16string> Sent() {
        std::lock_guard<std::mutex> hold(TheFakeTray().lock);
        return TheFakeTray().sentTips;
    }
    ToolState* state_ = nullptr;
};

TEST_F(TipPasses, OffSendsNothingAndASteadyStateSendsOnce) {
    const uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    SimUpdateDevice(bth, [](SimDevice& d) {
        d.fields.DriverStatus = 18;
        d.fields.BatteryStatus = 4;
    });
    DiscoverDevices(state_);
    for (int i = 0; i < 5; ++i)
        PollPass(state_);
    EXPECT_TRUE(Sent().empty()) << "the setting off keeps the caption the icon went up with";

    state_->showStateInTooltip = 1;
    for (int i = 0; i < 5; ++i)
        PollPass(state_);
    const std::u16string connected = u"Padwarden\nUSB: not connected\nBluetooth: connected, battery 4 of 5";
    EXPECT_EQ(Sent(), std::vector<std::u16string>{connected}) << "five passes of one state: one modify";

    SimUpdateDevice(bth, [](SimDevice& d) { d.fields.BatteryStatus = 2; });
    TheFakeLogFile().hour = 14;
    TheFakeLogFile().minute = 2;
    PollPass(state_);
    PollPass(state_);
    SimRemoveDevice(bth);
    CloseDevices(state_);
    PollPass(state_);
    PollPass(state_);
    state_->showStateInTooltip = 0;
    PollPass(state_);
    PollPass(state_);
    EXPECT_EQ(Sent(), (std::vector<std::u16string>{
                          connected,
                          u"Padwarden\nUSB: not connected\nBluetooth: connected, battery 2 of 5",
                          u"Padwarden\nUSB: not connected\nBluetooth: last seen 2 of 5 at 14:02",
                          u"Padwarden",
                      }));
}

} // namespace
