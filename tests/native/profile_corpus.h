// Profile files and the answers they must give, written by hand. The native suite checks the
// portable reader against them; the Windows suite checks the platform's own functions against
// the same answers, and the portable reader against the platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "profiles/profile_record.h"

namespace corpus {

template <size_t N> std::string Bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

inline std::string Utf16LeFile(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

inline std::string Utf16BeFile(const std::u16string& text) {
    std::string out = "\xFE\xFF";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

inline ProfileSetting DefaultSetting() {
    ProfileSetting s;
    std::memset(&s, 0, sizeof s);
    s.Interval = 8000;
    s.SliderBaseCenter1 = 1;
    s.SliderBaseCenter2 = 1;
    s.FunctionButtonMask = 0x10000;
    s.SpeedSelector = 1;
    s.Speed1 = 15;
    s.Speed2 = 30;
    s.Speed3 = 10;
    s.Speed4 = 8;
    const uint8_t axisMap[6] = {4, 3, 6, 0, 0, 5};
    std::memcpy(s.AxisMap, axisMap, sizeof axisMap);
    for (int i = 0; i < kProfileButtonCount; ++i)
        s.ButtonMap[i] = static_cast<uint8_t>(i);
    return s;
}

struct File {
    std::string name;
    std::string bytes;
    bool written = true;   // false: the path names no file
    bool ansi1252 = false; // non-ASCII bytes without a byte-order mark: read in code page 1252
    // An encoding Wine's initialization-file functions read but Windows' are not documented to
    // (they read ANSI in the system code page and UTF-16LE with a byte-order mark).
    bool wineOnly = false;
    bool accepted = false;
    std::u16string title;     // expected, when accepted
    ProfileSetting setting{}; // expected, when accepted
};

using Edit = void (*)(ProfileSetting&);

inline File Accept(const char* name, std::string bytes, std::u16string title, Edit edit = nullptr) {
    File f;
    f.name = name;
    f.bytes = std::move(bytes);
    f.accepted = true;
    f.title = std::move(title);
    f.setting = DefaultSetting();
    if (edit != nullptr)
        edit(f.setting);
    return f;
}

inline File Reject(const char* name, std::string bytes) {
    File f;
    f.name = name;
    f.bytes = std::move(bytes);
    return f;
}

inline ProfileRecord Expected(const File& f) {
    ProfileRecord r;
    std::memset(&r, 0, sizeof r);
    if (f.accepted) {
        for (size_t i = 0; i < f.title.size() && i + 1 < kProfileTitleChars; ++i)
            r.Title[i] = f.title[i];
        r.Setting = f.setting;
    }
    return r;
}

// Where two records differ, for the failure message; empty when they are equal.
inline std::string Difference(const ProfileRecord& want, const ProfileRecord& got) {
    const auto* a = reinterpret_cast<const uint8_t*>(&want);
    const auto* b = reinterpret_cast<const uint8_t*>(&got);
    std::string out;
    for (size_t i = 0; i < sizeof(ProfileRecord); ++i) {
        if (a[i] == b[i])
            continue;
        char line[96];
        if (i >= offsetof(ProfileRecord, Setting))
            std::snprintf(line, sizeof line, "setting byte %zu: want %u got %u\n",
                          i - offsetof(ProfileRecord, Setting), a[i], b[i]);
        else
            std::snprintf(line, sizeof line, "record byte %zu: want %u got %u\n", i, a[i], b[i]);
        out += line;
    }
    return out;
}

inline std::vector<File> ProfileFiles() {
    std::vector<File> files;

    files.push_back(Accept("header-only.ini", "[HEADER]\r\nIniFileVersion=2.0\r\n", u"Untitled"));

    files.push_back(
        Accept("full.ini",
               "[HEADER]\r\nTitle=Racing Wheel\r\nIniFileVersion=2.0\r\n"
               "[SETTING]\r\nInterval=4000\r\nDeviceType=2\r\nUseHatSwitch=1\r\nHatSwitchMode=3\r\n"
               "UseSlider1=1\r\nSliderBaseCenter1=0\r\nUseSlider2=1\r\nSliderBaseCenter2=0\r\n"
               "[DEADZONE]\r\nSystem=10\r\nL2=20\r\nR2=30\r\n"
               "[RAPID FIRE]\r\nEnableRapidFire=1\r\nFunctionButtonMask=65535\r\nSpeedSelector=3\r\n"
               "Speed1=1\r\nSpeed2=2\r\nSpeed3=3\r\nSpeed4=4\r\n"
               "[AXIS MAP]\r\nX=1\r\nY=2\r\nZ=3\r\nRotateX=4\r\nRotateY=5\r\nRotateZ=6\r\n"
               "[AXIS INVERT]\r\nX=1\r\nY=0\r\nZ=1\r\nRotateX=0\r\nRotateY=1\r\nRotateZ=0\r\n"
               "Slider1=1\r\nSlider2=1\r\n"
               "[CONVERT OUT]\r\nX=11\r\nY=12\r\nZ=13\r\nRotateX=14\r\nRotateY=15\r\nRotateZ=16\r\n"
               "[BUTTON MAP]\r\n00=18\r\n01=17\r\n02=16\r\n03=15\r\n04=14\r\n05=13\r\n06=12\r\n"
               "07=11\r\n08=10\r\n09=9\r\n10=8\r\n11=7\r\n12=6\r\n13=5\r\n14=4\r\n15=3\r\n16=2\r\n"
               "17=1\r\n18=0\r\n"
               "[AXIS MAP2]\r\nUseAxisMap2=1\r\nDigitalY=-1\r\nDigitalX=2\r\nAnalogLY=-3\r\n"
               "AnalogLX=4\r\nAnalogRY=-5\r\nAnalogRX=6\r\nTC=7\r\nSC=8\r\nSixaxisX=9\r\n"
               "SixaxisY=10\r\nSixaxisZ=11\r\n"
               "[CONVERT IN]\r\nDigitalY=21\r\nDigitalX=22\r\nAnalogLY=23\r\nAnalogLX=24\r\n"
               "AnalogRY=25\r\nAnalogRX=26\r\nTC=27\r\nSC=28\r\nSixaxisX=29\r\nSixaxisY=30\r\n"
               "SixaxisZ=31\r\n",
               u"Racing Wheel", [](ProfileSetting& s) {
                   s.Interval = 4000;
                   s.DeviceType = 2;
                   s.UseHatSwitch = 1;
                   s.HatSwitchMode = 3;
                   s.UseSlider1 = 1;
                   s.SliderBaseCenter1 = 0;
                   s.UseSlider2 = 1;
                   s.SliderBaseCenter2 = 0;
                   s.DeadZone[0] = 10;
                   s.DeadZone[1] = 20;
                   s.DeadZone[2] = 30;
                   s.EnableRapidFire = 1;
                   s.FunctionButtonMask = 65535;
                   s.SpeedSelector = 3;
                   s.Speed1 = 1;
                   s.Speed2 = 2;
                   s.Speed3 = 3;
                   s.Speed4 = 4;
                   const uint8_t axisMap[6] = {1, 2, 3, 4, 5, 6};
                   std::memcpy(s.AxisMap, axisMap, 6);
                   const uint8_t invert[8] = {1, 0, 1, 0, 1, 0, 1, 1};
                   std::memcpy(s.AxisInvert, invert, 8);
                   const uint8_t out[8] = {11, 12, 13, 14, 15, 16, 0, 0};
                   std::memcpy(s.ConvertOut, out, 8);
                   for (int i = 0; i < kProfileButtonCount; ++i)
                       s.ButtonMap[i] = static_cast<uint8_t>(18 - i);
                   s.UseAxisMap2 = 1;
                   const int16_t map2[6] = {-1, 2, -3, 4, -5, 6};
                   std::memcpy(s.AxisMap2, map2, sizeof map2);
                   for (int i = 0; i < 11; ++i)
                       s.ConvertIn[i] = static_cast<uint8_t>(21 + i);
               }));

    files.push_back(Accept("odd-spacing.ini",
                           Bytes("; written by hand\n"
                                 "\t[ header ]   ; a note\n"
                                 "  title =   Spaced Out  \n"
                                 "INIFILEVERSION\t=\t2.0\t\n"
                                 "\n"
                                 "[setting]\n"
                                 "\tInterval = 1234\n"
                                 ";DeviceType=9\n"
                                 "deviceType=  5\x0b\n"
                                 "  [ Rapid Fire ]\n"
                                 "speed1=\t3\x0c\n"
                                 "[BUTTON MAP]\n"
                                 " 05 = 50\n"
                                 "\x1a"),
                           u"Spaced Out", [](ProfileSetting& s) {
                               s.Interval = 1234;
                               s.DeviceType = 5;
                               s.Speed1 = 3;
                               s.ButtonMap[5] = 50;
                           }));

    files.push_back(Accept("v10.ini",
                           "[HEADER]\r\nTitle=First Format\r\nIniFileVersion=1.0\r\n"
                           "[AXIS INVERT]\r\nZ=1\r\nSlider1=1\r\n"
                           "[AXIS INVERTE]\r\nX=1\r\nRotateZ=1\r\nSlider1=1\r\nSlider2=1\r\n"
                           "[CONVERT OUT]\r\nY=5\r\n"
                           "[CONVERTE OUT]\r\nX=7\r\nRotateZ=8\r\n"
                           "[CONVERT IN]\r\nSC=5\r\n"
                           "[CONVERTE IN]\r\nDigitalY=2\r\nTC=9\r\nSixaxisZ=3\r\n",
                           u"First Format", [](ProfileSetting& s) {
                               s.AxisInvert[0] = 1;
                               s.AxisInvert[5] = 1;
                               s.ConvertOut[0] = 7;
                               s.ConvertOut[5] = 8;
                               s.ConvertIn[0] = 2;
                               s.ConvertIn[6] = 9;
                               s.ConvertIn[10] = 3;
                           }));

    files.push_back(Accept("v10-new-names.ini",
                           "[HEADER]\r\nTitle=Wrong Names\r\nIniFileVersion=1.0\r\n"
                           "[AXIS INVERT]\r\nX=1\r\n[CONVERT OUT]\r\nX=1\r\n[CONVERT IN]\r\nTC=1\r\n",
                           u"Wrong Names"));

    files.push_back(Accept("v11.ini",
                           "[HEADER]\r\nTitle=Later Format\r\nIniFileVersion=1.1\r\n"
                           "[AXIS INVERT]\r\nX=1\r\nSlider2=1\r\n[AXIS INVERTE]\r\nY=1\r\n"
                           "[CONVERTE OUT]\r\nX=4\r\n[CONVERT OUT]\r\nRotateY=6\r\n"
                           "[CONVERTE IN]\r\nTC=2\r\n[CONVERT IN]\r\nSixaxisY=4\r\n",
                           u"Later Format", [](ProfileSetting& s) {
                               s.AxisInvert[0] = 1;
                               s.AxisInvert[7] = 1;
                               s.ConvertOut[4] = 6;
                               s.ConvertIn[9] = 4;
                           }));

    files.push_back(
        Accept("v10-quoted.ini",
               "[HEADER]\r\nIniFileVersion=\"1.0\"\r\n[AXIS INVERT]\r\nX=1\r\n[AXIS INVERTE]\r\nY=1\r\n",
               u"Untitled", [](ProfileSetting& s) { s.AxisInvert[1] = 1; }));

    files.push_back(
        Accept("v10-suffix.ini",
               "[HEADER]\r\nIniFileVersion=1.0b\r\n[AXIS INVERTE]\r\nX=1\r\n[AXIS INVERT]\r\nSlider1=1\r\n",
               u"Untitled", [](ProfileSetting& s) { s.AxisInvert[6] = 1; }));

    files.push_back(Reject("no-version.ini", "[HEADER]\r\nTitle=No Version\r\n[SETTING]\r\nInterval=1\r\n"));
    files.push_back(Reject("error-suffix.ini", "[HEADER]\r\nTitle=Broken\r\nIniFileVersion=ERROR-2.0\r\n"));
    files.push_back(Reject("error-exact.ini", "[HEADER]\r\nIniFileVersion=ERROR\r\n"));
    files.push_back(Reject("version-no-equals.ini", "[HEADER]\r\nTitle=Half\r\nIniFileVersion\r\n"));
    files.push_back(Reject("version-in-setting.ini",
                           "[HEADER]\r\nTitle=Elsewhere\r\n[SETTING]\r\nIniFileVersion=2.0\r\n"));
    files.push_back(Reject("version-before-header.ini", "IniFileVersion=2.0\r\n[HEADER]\r\nTitle=Early\r\n"));
    files.push_back(
        Reject("version-second-header.ini",
               "[HEADER]\r\nTitle=One\r\n[SETTING]\r\nInterval=1\r\n[HEADER]\r\nIniFileVersion=2.0\r\n"));
    files.push_back(Reject("empty.ini", ""));
    files.push_back(Reject("bom-only.ini", Utf16LeFile(u"")));
    // A second mark is text: the first line no longer opens a section.
    files.push_back(Reject("double-bom.ini", "\xEF\xBB\xBF\xEF\xBB\xBF[HEADER]\r\nIniFileVersion=2.0\r\n"));
    File missing = Reject("missing.ini", "");
    missing.written = false;
    files.push_back(missing);

    files.push_back(Accept("error-lower-case.ini", "[HEADER]\r\nIniFileVersion=error\r\n", u"Untitled"));
    files.push_back(Accept("version-empty.ini",
                           "[HEADER]\r\nIniFileVersion=\r\n[AXIS INVERT]\r\nSlider2=1\r\n", u"Untitled",
                           [](ProfileSetting& s) { s.AxisInvert[7] = 1; }));

    files.push_back(
        Accept("numbers.ini",
               "[HEADER]\r\nIniFileVersion=2.0\r\n"
               "[SETTING]\r\nInterval=-1\r\nDeviceType=+5\r\nUseHatSwitch=0x1F\r\nHatSwitchMode=12abc\r\n"
               "UseSlider1=abc\r\nSliderBaseCenter1=\r\nUseSlider2=\"7\"\r\n"
               "SliderBaseCenter2=4294967297\r\n"
               "[DEADZONE]\r\nSystem=300\r\nL2=-1\r\nR2=256\r\n"
               "[RAPID FIRE]\r\nEnableRapidFire=0b11\r\nFunctionButtonMask=0xFFFFFFFF\r\n"
               "SpeedSelector=0X10\r\nSpeed1=010\r\nSpeed2=- 5\r\n"
               "Speed3=99999999999999999999999999999999999\r\nSpeed4= \t 9\r\n"
               "[AXIS MAP]\r\nX=260\r\nY=-256\r\n"
               "[BUTTON MAP]\r\n00=511\r\n"
               "[AXIS MAP2]\r\nUseAxisMap2=-2\r\nDigitalY=70000\r\nDigitalX=-70000\r\nAnalogLY=32768\r\n"
               "AnalogLX=-32769\r\nAnalogRY=65535\r\nAnalogRX=0o777\r\n",
               u"Untitled", [](ProfileSetting& s) {
                   s.Interval = 0xFFFFFFFFu;
                   s.DeviceType = 5;
                   s.UseHatSwitch = 31;
                   s.HatSwitchMode = 12;
                   s.UseSlider1 = 0;
                   s.SliderBaseCenter1 = 1;
                   s.UseSlider2 = 7;
                   s.SliderBaseCenter2 = 1;
                   s.DeadZone[0] = 44;
                   s.DeadZone[1] = 255;
                   s.DeadZone[2] = 0;
                   s.EnableRapidFire = 3;
                   s.FunctionButtonMask = 0xFFFFFFFFu;
                   s.SpeedSelector = 0;
                   s.Speed1 = 10;
                   s.Speed2 = 0;
                   s.Speed3 = 2684354559u; // 29 nines fit the 30-unit text; modulo 2^32
                   s.Speed4 = 9;
                   s.AxisMap[0] = 4;
                   s.AxisMap[1] = 0;
                   s.ButtonMap[0] = 255;
                   s.UseAxisMap2 = 0xFFFFFFFEu;
                   const int16_t map2[6] = {4464, -4464, -32768, 32767, -1, 511};
                   std::memcpy(s.AxisMap2, map2, sizeof map2);
               }));

    files.push_back(
        Accept("duplicates.ini",
               "[HEADER]\r\nTitle=First Title\r\nTitle=Second Title\r\nIniFileVersion=2.0\r\n"
               "[SETTING]\r\nInterval=1\r\nInterval=2\r\n[RAPID FIRE]\r\nSpeed1=5\r\n"
               "[SETTING]\r\nDeviceType=3\r\n[HEADER]\r\nTitle=Third Title\r\n[rapid fire]\r\nSpeed2=6\r\n",
               u"First Title", [](ProfileSetting& s) {
                   s.Interval = 1;
                   s.Speed1 = 5;
               }));

    files.push_back(Accept("missing-sections.ini",
                           "[HEADER]\r\nIniFileVersion=2.0\r\n[RAPID FIRE]\r\nSpeed4=44\r\n", u"Untitled",
                           [](ProfileSetting& s) { s.Speed4 = 44; }));

    files.push_back(
        Accept("long-title.ini",
               "[HEADER]\r\nTitle=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd\r\nIniFileVersion=2.0\r\n",
               u"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"));

    files.push_back(Accept("quoted-title.ini",
                           "[HEADER]\r\nTitle=\"  Quoted  Title  \"\r\nIniFileVersion=2.0\r\n",
                           u"  Quoted  Title  "));

    files.push_back(
        Accept("orphan-title.ini", "Title=Orphan\r\n[HEADER]\r\nIniFileVersion=2.0\r\n", u"Untitled"));

    files.push_back(
        Accept("utf16le.ini",
               Utf16LeFile(u"[HEADER]\r\nTitle=日本語のパッド設定\r\n名前=無視\r\nIniFileVersion=2.0\r\n"
                           u"[setting]\r\nInterval=500\r\n"),
               u"日本語のパッド設定", [](ProfileSetting& s) { s.Interval = 500; }));

    File be = Accept("utf16be.ini",
                     Utf16BeFile(u"[HEADER]\nTitle=Ελληνικά\nIniFileVersion=2.0\n[RAPID FIRE]\nSpeed1=7\n"),
                     u"Ελληνικά", [](ProfileSetting& s) { s.Speed1 = 7; });
    be.wineOnly = true;
    files.push_back(be);

    File utf8 = Accept(
        "utf8-bom.ini",
        "\xEF\xBB\xBF[HEADER]\r\nTitle=Café ☕ 日本 🎮\r\nIniFileVersion=2.0\r\n[DEADZONE]\r\nSystem=3\r\n",
        u"Café ☕ 日本 🎮", [](ProfileSetting& s) { s.DeadZone[0] = 3; });
    utf8.wineOnly = true;
    files.push_back(utf8);

    // The 31-unit cut falls between the two halves of a surrogate pair: the pair goes whole.
    files.push_back(
        Accept("utf16-cut-pair.ini",
               Utf16LeFile(u"[HEADER]\r\nTitle=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx🎮\r\nIniFileVersion=2.0\r\n"),
               std::u16string(30, u'x')));

    File ansi = Accept("ansi.ini", "[HEADER]\r\nTitle=Caf\xE9 \x80 \x93ok\x94\r\nIniFileVersion=2.0\r\n",
                       u"Café € “ok”");
    ansi.ansi1252 = true;
    files.push_back(ansi);

    files.push_back(
        Accept("button-map.ini",
               "[HEADER]\r\nIniFileVersion=2.0\r\n[BUTTON MAP]\r\n0=40\r\n1=41\r\n19=42\r\n00=50\r\n"
               "9=43\r\n09=51\r\n18=52\r\n010=44\r\n1 0=45\r\n",
               u"Untitled", [](ProfileSetting& s) {
                   s.ButtonMap[0] = 50;
                   s.ButtonMap[9] = 51;
                   s.ButtonMap[18] = 52;
               }));

    files.push_back(Accept("lone-cr.ini",
                           "[HEADER]\rTitle=Carriage\rIniFileVersion=2.0\r[SETTING]\rDeviceType=4\r",
                           u"Carriage", [](ProfileSetting& s) { s.DeviceType = 4; }));

    files.push_back(Accept("invalid-utf8.ini",
                           "\xEF\xBB\xBF[HEADER]\nTitle=a\xC3"
                           "b\xE0\x80\x80"
                           "c\xF4\x90\x80\x80\nIniFileVersion=2.0\n",
                           u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFD"));

    files.push_back(Accept("nul-inside.ini",
                           Bytes("[HEADER]\nTitle=Before\0After\nIniFileVersion=2.0\n"
                                 "[SETTING]\nDevice\0Type=6\nInterval=7\0 8\n"),
                           u"Before", [](ProfileSetting& s) { s.Interval = 7; }));

    return files;
}

// Single reads, for the reader's rules beyond what a profile exercises.
inline std::string ReaderFile() {
    return Bytes("; leading comment\r\n"
                 "Orphan=before any section\r\n"
                 "[Text]\r\n"
                 "Plain=hello world\r\n"
                 "Spaced  =   padded value   \r\n"
                 "\tTabbed\t=\ttab\t\x0b\r\n"
                 "Quoted=\"quoted\"\r\n"
                 "Single='single'\r\n"
                 "Mixed=\"mixed'\r\n"
                 "Lone=\"\r\n"
                 "EmptyQuotes=\"\"\r\n"
                 "InnerQuotes=\"a\"b\"\r\n"
                 "QuotedSpaces=\" a \"\r\n"
                 "Empty=\r\n"
                 "NoEquals\r\n"
                 "Equals=a=b\r\n"
                 "Dup=first\r\n"
                 "DUP=second\r\n"
                 ";Hidden=comment\r\n"
                 "Long=0123456789012345678901234567890123456789\r\n"
                 "Multi Word Key=multi\r\n"
                 "[BadHeader\r\n"
                 "Inside=after a bad header\r\n"
                 "[text]\r\n"
                 "Other=second section of the same name\r\n"
                 "[  Spaced Section\t]\r\n"
                 "Key=spaced section\r\n"
                 "[Last]]\r\n"
                 "Key=last bracket wins\r\n"
                 "[Int]\r\n"
                 "Plain=42\r\n"
                 "Negative=-12\r\n"
                 "Plus=+7\r\n"
                 "Hex=0x10\r\n"
                 "UpperHex=0X10\r\n"
                 "Octal=0o17\r\n"
                 "Binary=0b101\r\n"
                 "LeadingZero=010\r\n"
                 "Trailing=12abc\r\n"
                 "Letters=abc\r\n"
                 "Empty=\r\n"
                 "Quoted=\"42\"\r\n"
                 "QuotedSpace=\" 42\"\r\n"
                 "SpaceSign=- 5\r\n"
                 "DoubleSign=--5\r\n"
                 "Wrap=4294967297\r\n"
                 "Huge=99999999999999999999999999999999999\r\n"
                 "MinusHex=-0x10\r\n"
                 "AllOnes=0xFFFFFFFF\r\n"
                 "BadHex=0xg\r\n"
                 "Control=\x01"
                 "7\r\n"
                 "Spaced Digits=1 2\r\n"
                 "EmptyQuotes=\"\"\r\n");
}

struct TextProbe {
    const char16_t* section;
    const char16_t* key;
    const char16_t* fallback;
    uint32_t capacity;
    const char16_t* want;
};

inline std::vector<TextProbe> TextProbes() {
    return {
        {u"Text", u"Plain", u"d", 32, u"hello world"},
        {u"TEXT", u"plain", u"d", 32, u"hello world"},
        {u" Text\t", u"Plain ", u"d", 32, u"hello world"},
        {u"Text", u"Plain", u"d", 6, u"hello"},
        {u"Text", u"Plain", u"d", 1, u""},
        {u"Text", u"Spaced", u"d", 32, u"padded value"},
        {u"Text", u"Tabbed", u"d", 32, u"tab"},
        {u"Text", u"Quoted", u"d", 32, u"quoted"},
        {u"Text", u"Quoted", u"d", 8, u"quoted"},
        // The buffer holds the text and its closing quote but no terminator: the platform keeps
        // one character less.
        {u"Text", u"Quoted", u"d", 7, u"quote"},
        {u"Text", u"Quoted", u"d", 6, u"quote"},
        {u"Text", u"Single", u"d", 32, u"single"},
        {u"Text", u"Mixed", u"d", 32, u"\"mixed'"},
        {u"Text", u"Lone", u"d", 32, u"\""},
        {u"Text", u"EmptyQuotes", u"d", 32, u""},
        {u"Text", u"InnerQuotes", u"d", 32, u"a\"b"},
        {u"Text", u"QuotedSpaces", u"d", 32, u" a "},
        {u"Text", u"Empty", u"d", 32, u""},
        {u"Text", u"NoEquals", u"d", 32, u"d"},
        {u"Text", u"Equals", u"d", 32, u"a=b"},
        {u"Text", u"Dup", u"d", 32, u"first"},
        {u"Text", u";Hidden", u"d", 32, u"comment"},
        {u"Text", u"Hidden", u"d", 32, u"d"},
        {u"Text", u"Long", u"d", 32, u"0123456789012345678901234567890"},
        {u"Text", u"Multi Word Key", u"d", 32, u"multi"},
        {u"Text", u"Multi  Word Key", u"d", 32, u"d"},
        {u"Text", u"Inside", u"d", 32, u"after a bad header"},
        {u"Text", u"Other", u"d", 32, u"d"},
        {u"Text", u"Orphan", u"d", 32, u"d"},
        {u"Spaced Section", u"Key", u"d", 32, u"spaced section"},
        {u"Last]", u"Key", u"d", 32, u"last bracket wins"},
        {u"Nowhere", u"Key", u"fallback", 32, u"fallback"},
        {u"Nowhere", u"Key", u"fallback   ", 32, u"fallback"},
        {u"Nowhere", u"Key", u"\"quoted fallback\"", 32, u"quoted fallback"},
        {u"Nowhere", u"Key", u"ERROR", 6, u"ERROR"},
        {u"Nowhere", u"Key", u"Untitled", 4, u"Unt"},
    };
}

struct IntProbe {
    const char16_t* key;
    int32_t fallback;
    uint32_t want;
};

inline std::vector<IntProbe> IntProbes() {
    return {
        {u"Plain", 77, 42},
        {u"Negative", 77, 0xFFFFFFF4u},
        {u"Plus", 77, 7},
        {u"Hex", 77, 16},
        {u"UpperHex", 77, 0},
        {u"Octal", 77, 15},
        {u"Binary", 77, 5},
        {u"LeadingZero", 77, 10},
        {u"Trailing", 77, 12},
        {u"Letters", 77, 0},
        {u"Empty", 77, 77},
        {u"Quoted", 77, 42},
        {u"QuotedSpace", 77, 42},
        {u"SpaceSign", 77, 0},
        {u"DoubleSign", 77, 0},
        {u"Wrap", 77, 1},
        {u"Huge", 77, 2684354559u},
        {u"MinusHex", 77, 0xFFFFFFF0u},
        {u"AllOnes", 77, 0xFFFFFFFFu},
        {u"BadHex", 77, 0},
        {u"Control", 77, 7},
        {u"Spaced Digits", 77, 1},
        {u"EmptyQuotes", 77, 77},
        {u"Missing", 77, 77},
        {u"Missing", -5, 0xFFFFFFFBu},
    };
}

} // namespace corpus
