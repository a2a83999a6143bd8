// The command line for the running copy: which lines are commands, and which records the running
// copy takes. Records are built here byte by byte, not with the product's encoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/remote_command.h"
#include "profiles/profile_record.h"

namespace {

TEST(RemoteSwitch, LinesAndWhatTheyAsk) {
    struct Case {
        const char16_t* line;
        RemoteParse parse;
        RemoteVerb verb;
        uint32_t transport;
        const char16_t* name;
    };
    const Case cases[] = {
        {u"padwarden.exe", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"\"C:\\Program Files\\Padwarden\\padwarden.exe\" -debug", RemoteParse::None, RemoteVerb::None, 0,
         u""},
        {u"\"C:\\-status\\padwarden.exe\"", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -exit", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -statusbar", RemoteParse::Malformed, RemoteVerb::None, 0, u""},
        {u"padwarden.exe /x", RemoteParse::Malformed, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -debugging", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -exit-for-removal", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -driver-reset \"ROOT\\X\\0000\"", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -driver-resetx", RemoteParse::Malformed, RemoteVerb::None, 0, u""},
        {u"padwarden.exe settings.txt", RemoteParse::None, RemoteVerb::None, 0, u""},
        {u"padwarden.exe -Status", RemoteParse::Command, RemoteVerb::Status, 0, u""},
        {u"padwarden.exe -PROFILE BTH Racing", RemoteParse::Command, RemoteVerb::Profile, 1, u"Racing"},
        {u"padwarden.exe -status", RemoteParse::Command, RemoteVerb::Status, 0, u""},
        {u"padwarden.exe   -disconnect  ", RemoteParse::Command, RemoteVerb::Disconnect, 0, u""},
        {u"padwarden.exe -reconnect", RemoteParse::Command, RemoteVerb::Reconnect, 0, u""},
        {u"padwarden.exe -?", RemoteParse::Command, RemoteVerb::Help, 0, u""},
        {u"padwarden.exe -help", RemoteParse::Command, RemoteVerb::Help, 0, u""},
        {u"padwarden.exe -profile usb Racing", RemoteParse::Command, RemoteVerb::Profile, 0, u"Racing"},
        {u"padwarden.exe -profile bth \"Flight Sim.ini\"", RemoteParse::Command, RemoteVerb::Profile, 1,
         u"Flight Sim.ini"},
        {u"padwarden.exe -profile bth レース", RemoteParse::Command, RemoteVerb::Profile, 1, u"レース"},
        {u"padwarden.exe -profile usb", RemoteParse::Malformed, RemoteVerb::Profile, 0, u""},
        {u"padwarden.exe -profile wifi Racing", RemoteParse::Malformed, RemoteVerb::Profile, 0, u""},
        {u"padwarden.exe -profile usb \"Racing", RemoteParse::Malformed, RemoteVerb::Profile, 0, u""},
        {u"padwarden.exe -profile usb Racing extra", RemoteParse::Malformed, RemoteVerb::Profile, 0, u""},
        {u"padwarden.exe -status now", RemoteParse::Malformed, RemoteVerb::Status, 0, u""},
        {u"padwarden.exe -profile usb \"a\x01"
         u"b\"",
         RemoteParse::Malformed, RemoteVerb::Profile, 0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line, c.line + std::char_traits<char16_t>::length(c.line)).c_str());
        RemoteSwitch s;
        EXPECT_EQ(RemoteSwitchOf(c.line, &s), c.parse);
        EXPECT_EQ(s.verb, c.verb);
        if (c.parse == RemoteParse::Command) {
            EXPECT_EQ(s.transport, c.transport);
            EXPECT_EQ(std::u16string(s.name), c.name);
        }
    }
    // A name of 127 units fits; one more does not.
    std::u16string line = u"p -profile usb " + std::u16string(127, u'n');
    RemoteSwitch s;
    EXPECT_EQ(RemoteSwitchOf(line.c_str(), &s), RemoteParse::Command);
    line += u'n';
    EXPECT_EQ(RemoteSwitchOf(line.c_str(), &s), RemoteParse::Malformed);
}

// A request as a client of another make would send it: the layout written out field by field.
std::vector<uint8_t> Request(uint32_t magic, uint16_t version, uint16_t verb, uint32_t transport,
                             const std::u16string& name, uint32_t nameUnits) {
    std::vector<uint8_t> b(4 + 2 + 2 + 4 + 4 + 8 + 4 + 4 + 128 * 2, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, magic);
    b[4] = static_cast<uint8_t>(version);
    b[5] = static_cast<uint8_t>(version >> 8);
    b[6] = static_cast<uint8_t>(verb);
    b[7] = static_cast<uint8_t>(verb >> 8);
    put32(8, transport);
    put32(12, 77);     // request id
    put32(16, 0x1234); // reply window, low half
    put32(24, nameUnits);
    for (size_t i = 0; i < name.size() && i < 128; ++i) {
        b[32 + 2 * i] = static_cast<uint8_t>(name[i]);
        b[33 + 2 * i] = static_cast<uint8_t>(name[i] >> 8);
    }
    return b;
}

TEST(RemoteRecord, TheRunningCopyTakesOnlyWellFormedRequests) {
    const uint32_t magic = 0x31435250;
    ASSERT_EQ(sizeof(RemoteRequest), Request(magic, 1, 4, 0, u"", 0).size()) << "the layout on the wire";
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int taken;
    };
    std::vector<uint8_t> longer = Request(magic, 1, 4, 0, u"", 0);
    longer.push_back(0);
    const Case cases[] = {
        {"status", Request(magic, 1, 4, 0, u"", 0), 1},
        {"disconnect", Request(magic, 1, 2, 0, u"", 0), 1},
        {"a profile", Request(magic, 1, 1, 1, u"Racing", 6), 1},
        {"a profile with a pair", Request(magic, 1, 1, 0, u"\U0001F3AE", 2), 1},
        {"another magic", Request(0x31435251, 1, 4, 0, u"", 0), 0},
        {"another version", Request(magic, 2, 4, 0, u"", 0), 0},
        {"help never travels", Request(magic, 1, 5, 0, u"", 0), 0},
        {"a verb that does not exist", Request(magic, 1, 9, 0, u"", 0), 0},
        {"driver reset is not a verb", Request(magic, 1, 6, 0, u"", 0), 0},
        {"a third transport", Request(magic, 1, 1, 2, u"Racing", 6), 0},
        {"an empty name", Request(magic, 1, 1, 0, u"", 0), 0},
        {"a name longer than its field", Request(magic, 1, 1, 0, std::u16string(128, u'a'), 128), 0},
        {"a length past the name", Request(magic, 1, 1, 0, u"Race", 0xFFFFFFFF), 0},
        {"a lone high surrogate", Request(magic, 1, 1, 0, u"a\xD83C", 2), 0},
        {"a lone low surrogate",
         Request(magic, 1, 1, 0,
                 u"\xDFAE"
                 u"a",
                 2),
         0},
        {"a control character", Request(magic, 1, 1, 0, u"a\nb", 3), 0},
        {"a name on a verb without one", Request(magic, 1, 2, 0, u"x", 1), 0},
        {"one byte more", longer, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoteRequest r;
        EXPECT_EQ(DecodeRemoteRequest(c.bytes.data(), c.bytes.size(), &r), c.taken);
    }
    RemoteRequest r;
    std::vector<uint8_t> b = Request(magic, 1, 1, 1, u"Racing", 4);
    ASSERT_EQ(DecodeRemoteRequest(b.data(), b.size(), &r), 1);
    EXPECT_EQ(std::u16string(r.name), u"Raci") << "the length decides, not what follows it";
    EXPECT_EQ(r.requestId, 77u);
    EXPECT_EQ(r.replyWindow, 0x1234u);
    EXPECT_EQ(DecodeRemoteRequest(b.data(), b.size() - 1, &r), 0);
}

TEST(RemoteRecord, ProfilesAreFoundByTitleOrFileNameWithoutCase) {
    ProfileRecord records[3] = {};
    CopyUtf16(records[0].Title, kProfileTitleChars, u"Racing");
    CopyUtf16(records[0].FileName, kProfileFileNameChars, u"race01.ini");
    CopyUtf16(records[1].Title, kProfileTitleChars, u"Flight");
    CopyUtf16(records[1].FileName, kProfileFileNameChars, u"Flight Sim.INI");
    CopyUtf16(records[2].Title, kProfileTitleChars, u"レース");
    CopyUtf16(records[2].FileName, kProfileFileNameChars, u"jp.ini");
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.profiles = records;
    state.profileCount = 3;
    const std::pair<const char16_t*, int32_t> cases[] = {
        {u"racing", 0}, {u"RACE01.INI", 0}, {u"race01", 0},   {u"flight sim", 1}, {u"flight sim.ini", 1},
        {u"Flight", 1}, {u"レース", 2},     {u"race", -1},    {u"race01.in", -1}, {u"ini", -1},
        {u"", -1},      {u"jp.ini.", -1},   {u"Racing ", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindProfileByName(&state, c.first), c.second)
            << std::string(c.first, c.first + std::char_traits<char16_t>::length(c.first));
    state.profiles = nullptr;
    state.profileCount = 0;
}

} // namespace
