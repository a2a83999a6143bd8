#include "profiles/profile_file.h"

#include <cstring>

#include "profiles/profile_reader.h"

namespace {

const Utf16* const kAxisKeys[8] = {u"X",       u"Y",       u"Z",       u"RotateX",
                                   u"RotateY", u"RotateZ", u"Slider1", u"Slider2"};
const Utf16* const kAxisMap2Keys[6] = {u"DigitalY", u"DigitalX", u"AnalogLY",
                                       u"AnalogLX", u"AnalogRY", u"AnalogRX"};
const Utf16* const kConvertInKeys[11] = {u"DigitalY", u"DigitalX", u"AnalogLY", u"AnalogLX",
                                         u"AnalogRY", u"AnalogRX", u"TC",       u"SC",
                                         u"SixaxisX", u"SixaxisY", u"SixaxisZ"};

struct SectionReads {
    const ProfileReader* reader;
    const Utf16* path;
    const Utf16* section;

    uint32_t Int(const Utf16* key, int32_t defaultValue) const {
        return reader->readInt(section, key, defaultValue, path);
    }
    // A value wider than its field keeps its low bits.
    uint8_t Byte(const Utf16* key, int32_t defaultValue) const {
        return static_cast<uint8_t>(Int(key, defaultValue));
    }
    int16_t Half(const Utf16* key, int32_t defaultValue) const {
        return static_cast<int16_t>(static_cast<uint16_t>(Int(key, defaultValue)));
    }
};

} // namespace

int LoadProfileFileWith(const ProfileReader* reader, const Utf16* path, ProfileRecord* record) {
    if (reader == nullptr || reader->readText == nullptr || reader->readInt == nullptr || path == nullptr ||
        record == nullptr)
        return 0;

    ProfileSetting s;
    std::memset(&s, 0, sizeof s);

    Utf16 title[kProfileTitleChars] = {};
    Utf16 version[6] = {};
    reader->readText(u"HEADER", u"Title", u"Untitled", title, kProfileTitleChars, path);
    reader->readText(u"HEADER", u"IniFileVersion", u"ERROR", version, 6, path);
    title[kProfileTitleChars - 1] = 0;
    // The reader cuts a long title at 31 units, which may fall inside a surrogate pair.
    TrimCutSurrogate(title, kProfileTitleChars);
    version[5] = 0;
    // The 6-unit buffer keeps five characters, so any version text that begins with ERROR is
    // refused, and so is a file without the key.
    if (EqualUtf16(version, u"ERROR"))
        return 0;

    SectionReads r{reader, path, u"SETTING"};
    s.Interval = r.Int(u"Interval", 8000);
    s.DeviceType = r.Int(u"DeviceType", 0);
    s.UseHatSwitch = r.Int(u"UseHatSwitch", 0);
    s.HatSwitchMode = r.Int(u"HatSwitchMode", 0);
    s.UseSlider1 = r.Int(u"UseSlider1", 0);
    s.SliderBaseCenter1 = r.Int(u"SliderBaseCenter1", 1);
    s.UseSlider2 = r.Int(u"UseSlider2", 0);
    s.SliderBaseCenter2 = r.Int(u"SliderBaseCenter2", 1);

    r.section = u"DEADZONE";
    s.DeadZone[0] = r.Byte(u"System", 0);
    s.DeadZone[1] = r.Byte(u"L2", 0);
    s.DeadZone[2] = r.Byte(u"R2", 0);

    r.section = u"RAPID FIRE";
    s.EnableRapidFire = r.Int(u"EnableRapidFire", 0);
    s.FunctionButtonMask = r.Int(u"FunctionButtonMask", 0x10000);
    s.SpeedSelector = r.Int(u"SpeedSelector", 1);
    s.Speed1 = r.Int(u"Speed1", 15);
    s.Speed2 = r.Int(u"Speed2", 30);
    s.Speed3 = r.Int(u"Speed3", 10);
    s.Speed4 = r.Int(u"Speed4", 8);

    r.section = u"AXIS MAP";
    const int32_t axisMapDefaults[6] = {4, 3, 6, 0, 0, 5};
    for (int i = 0; i < 6; ++i)
        s.AxisMap[i] = r.Byte(kAxisKeys[i], axisMapDefaults[i]);

    r.section = u"BUTTON MAP";
    for (int i = 0; i < kProfileButtonCount; ++i) {
        const Utf16 key[3] = {static_cast<Utf16>(u'0' + i / 10), static_cast<Utf16>(u'0' + i % 10), 0};
        s.ButtonMap[i] = r.Byte(key, i);
    }

    r.section = u"AXIS MAP2";
    s.UseAxisMap2 = r.Int(u"UseAxisMap2", 0);
    for (int i = 0; i < 6; ++i)
        s.AxisMap2[i] = r.Half(kAxisMap2Keys[i], 0);

    // Version 1.0 files spell three section names differently and have no slider inversion; the
    // two spellings are never mixed.
    const bool firstVersion = EqualUtf16(version, u"1.0") != 0;
    r.section = firstVersion ? u"AXIS INVERTE" : u"AXIS INVERT";
    const int invertKeys = firstVersion ? 6 : 8;
    for (int i = 0; i < invertKeys; ++i)
        s.AxisInvert[i] = r.Byte(kAxisKeys[i], 0);

    r.section = firstVersion ? u"CONVERTE OUT" : u"CONVERT OUT";
    for (int i = 0; i < 6; ++i)
        s.ConvertOut[i] = r.Byte(kAxisKeys[i], 0);

    r.section = firstVersion ? u"CONVERTE IN" : u"CONVERT IN";
    for (int i = 0; i < 11; ++i)
        s.ConvertIn[i] = r.Byte(kConvertInKeys[i], 0);

    std::memcpy(&record->Setting, &s, sizeof s);
    CopyUtf16(record->Title, kProfileTitleChars, title);
    return 1;
}

int LoadProfileFile(const Utf16* path, ProfileRecord* record) {
    static const ProfileReader platform = {ReadProfileText, ReadProfileInt};
    return LoadProfileFileWith(&platform, path, record);
}
