// Application profiles: the switching decisions, the stored form as another program may have left
// it, the store's load and save, and which rule a program's path finds. Expected values are
// written out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/tool_state.h"
#include "profiles/application_rules.h"
#include "profiles/application_rules_native.h"
#include "profiles/profile_record.h"

namespace {

constexpr int32_t kAny = 1000;
constexpr int32_t F = kRuleFallback;

SwitchEvent Fg(uint64_t now, int32_t rule, uint32_t pid) {
    return {SwitchEventKind::Foreground, now, rule, pid, 0, 0};
}
SwitchEvent Dwell(uint64_t now, int32_t rule, uint32_t pid) {
    return {SwitchEventKind::DwellElapsed, now, rule, pid, 0, 0};
}
SwitchEvent End(uint64_t now, uint32_t pid) {
    return {SwitchEventKind::ProgramEnded, now, -1, pid, 0, 0};
}
SwitchEvent Hand(uint64_t now, int32_t transport, uint32_t profile) {
    return {SwitchEventKind::HandChoice, now, -1, 0, transport, profile};
}
SwitchEvent Arrive(uint64_t now, int32_t transport) {
    return {SwitchEventKind::DeviceArrived, now, -1, 0, transport, 0};
}
SwitchEvent Gone(uint64_t now, int32_t transport) {
    return {SwitchEventKind::DeviceGone, now, -1, 0, transport, 0};
}

struct Act {
    int32_t transport;
    uint32_t profile;
    int32_t rule;
};

struct Row {
    SwitchEvent event;
    std::vector<Act> want;
    uint64_t wake;
    int32_t inForce = kAny;
    int32_t usbBy = kAny; // who chose USB's last applied profile
    int32_t usbProfile = kAny;
};

struct Scenario {
    const char* name;
    int32_t enabled;
    std::vector<Row> rows;
};

TEST(ApplicationSwitch, DecisionTable) {
    // Rule 0 (pid 10..13): USB profile 1, Bluetooth 2. Rule 1 (pid 11): USB 3, Bluetooth no
    // change. Rule 2 (pid 12): USB's file missing, Bluetooth 4. The fallback: USB 0.
    auto rules = std::make_unique<ApplicationRules>();
    rules->count = 3;
    ResolvedRules resolved = {};
    const int32_t named[3][2] = {{1, 2}, {3, kRuleNoChange}, {kRuleProfileMissing, 4}};
    std::memcpy(resolved.profile, named, sizeof named);
    resolved.fallback[0] = 0;
    resolved.fallback[1] = kRuleNoChange;

    const Scenario scenarios[] = {
        {"dwell passes",
         1,
         {
             {Fg(0, 0, 10), {}, 1000, -1},
             {Dwell(999, 0, 10), {}, 1000, -1},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0, 0, 0, 1},
         }},
        {"alt+tab through listed programs",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Fg(400, -1, 20), {}, 0},
             {Fg(500, 0, 10), {}, 1500},
             {Fg(900, -1, 20), {}, 0},
             {Dwell(1000, -1, 20), {}, 0, -1},
             {Fg(1200, 0, 10), {}, 2200},
             {Fg(1300, 1, 11), {}, 2300},
             {Dwell(2200, 1, 11), {}, 2300, -1},
             {Dwell(2300, 1, 11), {{0, 3, 1}}, 0, 1},
         }},
        {"a program that comes and goes: one switch a second",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0, 0},
             {End(1100, 10), {}, 2000, F},
             {Fg(1150, 0, 12), {}, 2000, F},
             {End(1200, 12), {}, 2000, F},
             {Fg(1250, 0, 13), {}, 2000},
             {Dwell(2000, 0, 13), {{0, 0, F}}, 2250, F, F, 0},
             {Dwell(2250, 0, 13), {}, 3000, 0, F, 0},
             // Bluetooth still has profile 2 from the first switch: not sent again.
             {Dwell(3000, 0, 13), {{0, 1, 0}}, 0, 0, 0, 1},
         }},
        {"an unlisted window keeps the profile",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0},
             {Fg(5000, -1, 30), {}, 0, 0},
             {Fg(6000, 0, 10), {}, 0, 0},
         }},
        {"the program ends: the fallback",
         1,
         {
             {Fg(0, 1, 11), {}, 1000},
             {Dwell(1000, 1, 11), {{0, 3, 1}}, 0, 1},
             {End(5000, 99), {}, 0, 1},
             {End(6000, 11), {{0, 0, F}}, 0, F, F, 0},
         }},
        {"a hand choice holds until the next rule switch",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0},
             {Hand(2000, 0, 5), {}, 0, 0, kChosenByHand, 5},
             {Fg(2500, -1, 30), {}, 0},
             {Fg(2600, 0, 10), {}, 0},
             {Gone(2700, 0), {}, 0, 0, -1, -1},
             {Arrive(2800, 0), {}, 0, 0, -1, -1},
             {Fg(3000, 1, 11), {}, 4000},
             {Dwell(4000, 1, 11), {{0, 3, 1}}, 0, 1, 1, 3},
             {Gone(5000, 0), {}, 0},
             {Arrive(5100, 0), {{0, 3, 1}}, 0},
         }},
        {"a hand choice while a switch waits for the limit",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0},
             {End(1100, 10), {}, 2000, F},
             {Hand(1500, 0, 5), {}, 2000},
             {Dwell(2000, -1, 30), {}, 0, F, kChosenByHand, 5},
         }},
        {"a new connection gets the program's profile",
         1,
         {
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0},
             {Gone(2000, 1), {}, 0},
             {Arrive(3000, 1), {{1, 2, 0}}, 0},
         }},
        {"a new connection with only the fallback or nothing in force",
         1,
         {
             {Arrive(0, 0), {}, 0, -1},
             {Fg(0, 0, 10), {}, 1000},
             {Dwell(1000, 0, 10), {{0, 1, 0}, {1, 2, 0}}, 0},
             {End(2000, 10), {{0, 0, F}}, 0, F},
             {Gone(2100, 0), {}, 0},
             {Arrive(2200, 0), {}, 0, F, -1, -1},
             {Gone(2300, 1), {}, 0},
             {Arrive(2400, 1), {}, 0, F},
         }},
        {"the same profile never twice",
         1,
         {
             {Hand(0, 0, 1), {}, 0},
             {Fg(100, 0, 10), {}, 1100},
             {Dwell(1100, 0, 10), {{1, 2, 0}}, 0, 0, kChosenByHand, 1},
         }},
        {"a missing profile sends nothing",
         1,
         {
             {Fg(0, 2, 12), {}, 1000},
             {Dwell(1000, 2, 12), {{1, 4, 2}}, 0, 2},
             {Gone(2000, 0), {}, 0},
             {Arrive(2100, 0), {}, 0},
         }},
        {"switching off",
         0,
         {
             {Fg(0, 0, 10), {}, 0, -1},
             {Dwell(1000, 0, 10), {}, 0, -1},
             {Hand(1100, 0, 5), {}, 0, -1, kChosenByHand, 5},
             {End(1200, 10), {}, 0, -1},
             {Arrive(1300, 1), {}, 0, -1},
         }},
    };
    for (const Scenario& scenario : scenarios) {
        rules->enabled = scenario.enabled;
        ApplicationSwitch s = {};
        int row = 0;
        for (const Row& r : scenario.rows) {
            SCOPED_TRACE(std::string(scenario.name) + ", row " + std::to_string(row++));
            SwitchAction out[2] = {};
            uint64_t wake = 12345;
            const int n = StepApplicationSwitch(&s, rules.get(), &resolved, r.event, out, &wake);
            ASSERT_EQ(n, static_cast<int>(r.want.size()));
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(out[i].transport, r.want[i].transport);
                EXPECT_EQ(out[i].profileIndex, r.want[i].profile);
                EXPECT_EQ(out[i].rule, r.want[i].rule);
            }
            EXPECT_EQ(wake, r.wake);
            if (r.inForce != kAny) {
                EXPECT_EQ(ApplicationRuleInForce(&s), r.inForce);
            }
            if (r.usbBy != kAny) {
                EXPECT_EQ(LastAppliedChooser(&s, 0), r.usbBy);
            }
            if (r.usbProfile != kAny) {
                EXPECT_EQ(LastAppliedProfile(&s, 0), r.usbProfile);
            }
        }
    }
}

// UTF-16LE bytes of `text`, then `terminators` zero units.
std::vector<uint8_t> Le(const std::u16string& text, int terminators = 1) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.insert(bytes.end(), 2 * static_cast<size_t>(terminators), 0);
    return bytes;
}

bool AllZero(const void* p, size_t size) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < size; ++i)
        if (b[i] != 0)
            return false;
    return true;
}

TEST(ApplicationRuleText, ParsedAsStoredAndFormattedBack) {
    const std::u16string a259(259, u'a');
    const std::u16string a260(260, u'a');
    struct Case {
        const char* what;
        bool fallback;
        std::vector<uint8_t> bytes;
        uint32_t type;
        int want;
        std::u16string parts[3];
    };
    std::vector<uint8_t> odd = Le(u"game.exe|a.ini|");
    odd.push_back(0);
    const Case cases[] = {
        {"terminated", false, Le(u"game.exe|racing.ini|"), 1, 1, {u"game.exe", u"racing.ini", u""}},
        {"unterminated",
         false,
         Le(u"C:\\Games\\game.exe|a.ini|b.ini", 0),
         1,
         1,
         {u"C:\\Games\\game.exe", u"a.ini", u"b.ini"}},
        {"extra terminators",
         false,
         Le(u"\\\\srv\\share\\game.exe||b.ini", 3),
         1,
         1,
         {u"\\\\srv\\share\\game.exe", u"", u"b.ini"}},
        {"a surrogate pair",
         false,
         Le(u"g\xD83D\xDE00.exe|a.ini|"),
         1,
         1,
         {u"g\xD83D\xDE00.exe", u"a.ini", u""}},
        {"259 units", false, Le(a259 + u"|" + a259 + u"|" + a259), 1, 1, {a259, a259, a259}},
        {"REG_EXPAND_SZ", false, Le(u"game.exe|a.ini|"), 2, 0, {}},
        {"REG_BINARY", false, Le(u"game.exe|a.ini|"), 3, 0, {}},
        {"odd size", false, odd, 1, 0, {}},
        {"a lone high surrogate", false, Le(u"g\xD800.exe|a.ini|"), 1, 0, {}},
        {"a lone low surrogate", false, Le(u"game.exe|\xDC00.ini|"), 1, 0, {}},
        {"a control character", false, Le(u"game\x01.exe|a.ini|"), 1, 0, {}},
        {"two parts", false, Le(u"game.exe|a.ini"), 1, 0, {}},
        {"four parts", false, Le(u"game.exe|a.ini|b.ini|c.ini"), 1, 0, {}},
        {"an empty program", false, Le(u"|a.ini|b.ini"), 1, 0, {}},
        {"a relative path", false, Le(u"Games\\game.exe|a.ini|"), 1, 0, {}},
        {"a drive-relative path", false, Le(u"C:game.exe|a.ini|"), 1, 0, {}},
        {"a UNC path without a file", false, Le(u"\\\\srv\\share|a.ini|"), 1, 0, {}},
        {"a profile with a folder", false, Le(u"game.exe|p\\a.ini|"), 1, 0, {}},
        {"a profile with a slash", false, Le(u"game.exe||p/b.ini"), 1, 0, {}},
        {"a part of 260 units", false, Le(u"game.exe|" + a260 + u"|"), 1, 0, {}},
        {"a terminator inside", false, Le(std::u16string(u"game.exe\0|a.ini|", 16)), 1, 0, {}},
        {"too large", false, Le(u"game.exe|a.ini|", 1010), 1, 0, {}},
        {"empty", false, {}, 1, 0, {}},
        {"fallback", true, Le(u"a.ini|b.ini"), 1, 1, {u"a.ini", u"b.ini"}},
        {"fallback, no change", true, Le(u"|", 0), 1, 1, {u"", u""}},
        {"fallback, one part", true, Le(u"a.ini"), 1, 0, {}},
        {"fallback, three parts", true, Le(u"a.ini|b.ini|c.ini"), 1, 0, {}},
        {"fallback, a folder", true, Le(u"a.ini|x\\b.ini"), 1, 0, {}},
        {"fallback, REG_MULTI_SZ", true, Le(u"a.ini|b.ini", 2), 7, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Exactly the size given, on the heap, so that a read past it is seen under ASan.
        std::vector<uint8_t> bytes = c.bytes;
        const uint8_t* data = bytes.empty() ? nullptr : bytes.data();
        Utf16 text[kRuleValueUnits];
        if (!c.fallback) {
            ApplicationRule rule;
            std::memset(&rule, 0x55, sizeof rule);
            ASSERT_EQ(ParseApplicationRule(data, bytes.size(), c.type, &rule), c.want);
            if (!c.want) {
                EXPECT_TRUE(AllZero(&rule, sizeof rule));
                continue;
            }
            EXPECT_EQ(std::u16string(rule.program), c.parts[0]);
            EXPECT_EQ(std::u16string(rule.profile[0]), c.parts[1]);
            EXPECT_EQ(std::u16string(rule.profile[1]), c.parts[2]);
            ASSERT_EQ(FormatApplicationRule(&rule, text, kRuleValueUnits), 1);
            EXPECT_EQ(std::u16string(text), c.parts[0] + u"|" + c.parts[1] + u"|" + c.parts[2]);
            const std::vector<uint8_t> again = Le(text);
            ApplicationRule back;
            ASSERT_EQ(ParseApplicationRule(again.data(), again.size(), 1, &back), 1);
            EXPECT_EQ(std::memcmp(&back, &rule, sizeof rule), 0);
            // Exactly the room it needs, and one unit less.
            const size_t units = std::u16string(text).size() + 1;
            EXPECT_EQ(FormatApplicationRule(&rule, text, units), 1);
            EXPECT_EQ(FormatApplicationRule(&rule, text, units - 1), 0);
            EXPECT_EQ(text[0], 0);
        } else {
            Utf16 fallback[2][kRulePathChars];
            std::memset(fallback, 0x55, sizeof fallback);
            ASSERT_EQ(ParseFallbackRule(data, bytes.size(), c.type, fallback), c.want);
            if (!c.want) {
                EXPECT_TRUE(AllZero(fallback, sizeof fallback));
                continue;
            }
            EXPECT_EQ(std::u16string(fallback[0]), c.parts[0]);
            EXPECT_EQ(std::u16string(fallback[1]), c.parts[1]);
            ASSERT_EQ(FormatFallbackRule(fallback, text, kRuleValueUnits), 1);
            EXPECT_EQ(std::u16string(text), c.parts[0] + u"|" + c.parts[1]);
        }
    }
    // A rule the dialog might hold but could not read back is not formatted.
    ApplicationRule bad = {};
    CopyUtf16(bad.program, kRulePathChars, u"a|b.exe");
    EXPECT_EQ(FormatApplicationRule(&bad, nullptr, 0), 0);
    Utf16 text[64];
    EXPECT_EQ(FormatApplicationRule(&bad, text, 64), 0);
    CopyUtf16(bad.program, kRulePathChars, u"Games\\game.exe");
    EXPECT_EQ(FormatApplicationRule(&bad, text, 64), 0);
    EXPECT_EQ(text[0], 0);
}

void Put(const char16_t* name, const std::vector<uint8_t>& bytes, uint32_t type = 1) {
    SetNativeRuleValue(name, type, bytes.data(), bytes.size());
}

std::u16string RuleName(int i) {
    std::u16string name = u"Rule000";
    name[4] = static_cast<char16_t>(u'0' + i / 100);
    name[5] = static_cast<char16_t>(u'0' + i / 10 % 10);
    name[6] = static_cast<char16_t>(u'0' + i % 10);
    return name;
}

TEST(ApplicationRuleStore, LoadSkipsAndSaveReplaces) {
    auto rules = std::make_unique<ApplicationRules>();
    ClearNativeRuleStore();
    rules->enabled = 0;
    rules->count = 7;
    EXPECT_EQ(LoadApplicationRules(rules.get()), 0);
    EXPECT_EQ(rules->enabled, 1);
    EXPECT_EQ(rules->count, 0u);

    // What another program left: a gap, a wrong type, a value too large for the buffer, a name in
    // other case.
    Put(u"Rule000", Le(u"a.exe|a.ini|"));
    Put(u"Rule001", Le(u"b.exe|b.ini|"), 2);
    Put(u"Rule002", Le(u"c.exe||c.ini", 0));
    Put(u"Rule003", Le(u"d.exe|d.ini|", 2000));
    Put(u"rule007", Le(u"e.exe|e.ini|e.ini"));
    Put(u"NoListedProgram", Le(u"f.ini|"));
    const std::vector<uint8_t> off = {0, 0, 0, 0};
    Put(u"Enabled", off, 4);
    ASSERT_EQ(LoadApplicationRules(rules.get()), 1);
    EXPECT_EQ(rules->enabled, 0);
    ASSERT_EQ(rules->count, 3u);
    EXPECT_EQ(std::u16string(rules->rules[0].program), u"a.exe");
    EXPECT_EQ(std::u16string(rules->rules[1].program), u"c.exe");
    EXPECT_EQ(std::u16string(rules->rules[1].profile[1]), u"c.ini");
    EXPECT_EQ(std::u16string(rules->rules[2].program), u"e.exe");
    EXPECT_EQ(std::u16string(rules->fallback[0]), u"f.ini");

    // Ten stored, three saved: the seven beyond go, the rest is exactly what was saved.
    for (int i = 0; i < 10; ++i)
        Put(RuleName(i).c_str(), Le(u"old.exe||"));
    rules->enabled = 1;
    CopyUtf16(rules->rules[2].program, kRulePathChars, u"C:\\Games\\é.exe");
    ASSERT_EQ(SaveApplicationRules(rules.get()), 1);
    EXPECT_EQ(NativeRuleValueCount(), 5u);
    uint32_t type = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(GetNativeRuleValue(u"Rule002", &type, &data, &size));
    const std::vector<uint8_t> written = {'C', 0, ':',  0, '\\', 0, 'G', 0, 'a', 0, 'm', 0, 'e', 0,
                                          's', 0, '\\', 0, 0xE9, 0, '.', 0, 'e', 0, 'x', 0, 'e', 0,
                                          '|', 0, 'e',  0, '.',  0, 'i', 0, 'n', 0, 'i', 0, '|', 0,
                                          'e', 0, '.',  0, 'i',  0, 'n', 0, 'i', 0, 0,   0};
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), written);
    EXPECT_FALSE(GetNativeRuleValue(u"Rule003", &type, &data, &size));
    ASSERT_TRUE(GetNativeRuleValue(u"Enabled", &type, &data, &size));
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), std::vector<uint8_t>({1, 0, 0, 0}));
    auto again = std::make_unique<ApplicationRules>();
    ASSERT_EQ(LoadApplicationRules(again.get()), 1);
    EXPECT_EQ(again->enabled, 1);
    ASSERT_EQ(again->count, 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::u16string(again->rules[i].program), std::u16string(rules->rules[i].program));
        for (int t = 0; t < 2; ++t)
            EXPECT_EQ(std::u16string(again->rules[i].profile[t]), std::u16string(rules->rules[i].profile[t]));
    }
    EXPECT_EQ(std::u16string(again->fallback[0]), u"f.ini");
    EXPECT_EQ(std::u16string(again->fallback[1]), u"");

    // A rule that would not read back: nothing is written.
    CopyUtf16(rules->rules[1].program, kRulePathChars, u"Games\\c.exe");
    rules->count = 2;
    EXPECT_EQ(SaveApplicationRules(rules.get()), 0);
    EXPECT_EQ(NativeRuleValueCount(), 5u);

    // 257 values: the first 256 by name.
    ClearNativeRuleStore();
    for (int i = 0; i <= 256; ++i)
        Put(RuleName(i).c_str(), Le(u"p" + RuleName(i) + u".exe||"));
    ASSERT_EQ(LoadApplicationRules(again.get()), 1);
    ASSERT_EQ(again->count, 256u);
    EXPECT_EQ(std::u16string(again->rules[255].program), u"pRule255.exe");
    ClearNativeRuleStore();
}

TEST(ApplicationRuleMatch, PathsAndProfileNames) {
    auto rules = std::make_unique<ApplicationRules>();
    const char16_t* programs[] = {
        u"game.exe", u"C:\\Games\\Game.exe", u"\\\\srv\\share\\game.exe", u"other.exe",
        u"GAME.EXE", u"c:\\games\\game.exe"};
    for (const char16_t* p : programs)
        CopyUtf16(rules->rules[rules->count++].program, kRulePathChars, p);
    const std::u16string deep = u"D:\\" + std::u16string(247, u'x') + u"\\game.exe";
    const std::u16string deeper = u"D:\\" + std::u16string(248, u'x') + u"\\game.exe";
    struct Case {
        std::u16string path;
        int32_t want;
    };
    const Case cases[] = {
        {u"C:\\Games\\game.exe", 1},
        {u"c:\\GAMES\\GAME.EXE", 1},
        {u"D:\\Other\\game.exe", 0},
        {u"D:\\x\\xgame.exe", -1},
        {u"D:\\x\\game.exe.bak", -1},
        {u"\\\\srv\\share\\game.exe", 2},
        {u"\\\\srv\\share2\\game.exe", 0},
        {u"E:\\OTHER.exe", 3},
        {deep, 0},
        {deeper, -1},
        {u"", -1},
    };
    ASSERT_EQ(deep.size(), 259u);
    ASSERT_EQ(deeper.size(), 260u);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(MatchApplicationRule(rules.get(), c.path.c_str()), c.want);
    }

    // Profiles by file name, without case, only from accepted files.
    auto state = std::make_unique<ToolState>();
    ProfileRecord records[3] = {};
    uint8_t accepted[3] = {1, 0, 1};
    CopyUtf16(records[0].FileName, kProfileFileNameChars, u"Racing.ini");
    CopyUtf16(records[1].FileName, kProfileFileNameChars, u"broken.ini");
    CopyUtf16(records[2].FileName, kProfileFileNameChars, u"C:\\Profiles\\flight.ini");
    state->profiles = records;
    state->profileAccepted = accepted;
    state->profileCount = 3;
    rules->count = 2;
    CopyUtf16(rules->rules[0].profile[0], kRulePathChars, u"racing.INI");
    CopyUtf16(rules->rules[0].profile[1], kRulePathChars, u"broken.ini");
    CopyUtf16(rules->rules[1].profile[0], kRulePathChars, u"gone.ini");
    CopyUtf16(rules->fallback[1], kRulePathChars, u"Flight.ini");
    ResolvedRules resolved;
    std::memset(&resolved, 0x55, sizeof resolved);
    ResolveApplicationRules(rules.get(), state.get(), &resolved);
    EXPECT_EQ(resolved.profile[0][0], 0);
    EXPECT_EQ(resolved.profile[0][1], kRuleProfileMissing);
    EXPECT_EQ(resolved.profile[1][0], kRuleProfileMissing);
    EXPECT_EQ(resolved.profile[1][1], kRuleNoChange);
    EXPECT_EQ(resolved.fallback[0], kRuleNoChange);
    EXPECT_EQ(resolved.fallback[1], 2);
    EXPECT_EQ(resolved.profile[2][0], kRuleNoChange);
    state->profiles = nullptr;
    state->profileAccepted = nullptr;
}

} // namespace
