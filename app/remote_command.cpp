#include "app/remote_command.h"

#include <cstring>

#include "app/command_line.h"
#include "driver/control_report.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"

const char16_t kRemoteHelpText[] =
    u"padwarden.exe -profile usb|bth NAME  apply the profile whose title or file name is NAME\r\n"
    u"padwarden.exe -disconnect            drop the Bluetooth link\r\n"
    u"padwarden.exe -reconnect             restore the Bluetooth link\r\n"
    u"padwarden.exe -status                print the state as key=value lines\r\n"
    u"padwarden.exe -help | -?             print this text\r\n"
    u"Exit codes: 0 done, 1 the driver refused or failed, 2 no running copy, 3 unknown switch or\r\n"
    u"profile, 4 busy or no answer in time.\r\n";

namespace {

const Utf16* SkipBlanks(const Utf16* p) {
    while (*p == u' ' || *p == u'\t')
        ++p;
    return p;
}

// The word at p if it is exactly `word`; p after it, or null.
Utf16 Folded(Utf16 c) {
    return c >= u'A' && c <= u'Z' ? static_cast<Utf16>(c - u'A' + u'a') : c;
}

// Switches are read without case, as Windows programs' switches are.
const Utf16* Word(const Utf16* p, const char16_t* word) {
    for (; *word != 0; ++p, ++word)
        if (Folded(*p) != *word)
            return nullptr;
    return *p == 0 || *p == u' ' || *p == u'\t' ? p : nullptr;
}

// The first arguments that other parts of the tool read: the debug switch (any word after its
// hyphen that begins with "debug"), the installer's switches and the elevated reset.
int OtherSwitch(const Utf16* commandLine, const Utf16* p) {
    static const char16_t kDebug[] = u"-debug";
    size_t i = 0;
    while (kDebug[i] != 0 && p[i] == kDebug[i])
        ++i;
    if (kDebug[i] == 0)
        return 1;
    static const char16_t kReset[] = u"-driver-reset";
    for (i = 0; kReset[i] != 0 && p[i] == kReset[i];)
        ++i;
    return (kReset[i] == 0 && (p[i] == 0 || p[i] == u' ' || p[i] == u'\t')) ||
           SetupSwitchOf(commandLine) != SetupSwitch::None;
}

// Exactly `length` units of `a` against all of `b`, letters without case.
int SameName(const Utf16* a, size_t length, const Utf16* b, size_t capacity) {
    size_t i = 0;
    for (; i < length; ++i)
        if (i >= capacity || b[i] == 0 || Folded(a[i]) != Folded(b[i]))
            return 0;
    return i >= capacity || b[i] == 0;
}

// Checked UTF-16: pairs whole, no control characters but, where allowed, line ends.
int CleanText(const Utf16* text, size_t units, int lineEnds = 0) {
    for (size_t i = 0; i < units; ++i) {
        const Utf16 c = text[i];
        if ((c < 0x20 && !(lineEnds && (c == u'\r' || c == u'\n'))) || c == 0x7F)
            return 0;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return 0;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return 0;
        }
    }
    return 1;
}

int AppendLine(Utf16* out, size_t capacity, const char* key, const Utf16* value) {
    int whole = AppendAscii(out, capacity, key);
    whole &= AppendAscii(out, capacity, "=");
    whole &= AppendUtf16(out, capacity, value);
    whole &= AppendAscii(out, capacity, "\r\n");
    return whole;
}

void Decimal(Utf16* out, size_t capacity, uint32_t value) {
    if (capacity != 0)
        out[WriteDecimal(out, 0, capacity, value, 1)] = 0;
}

void TransportLines(ToolState* state, Utf16* out, size_t capacity, int transport) {
    const char* p = transport == 0 ? "usb." : "bth.";
    char key[24];
    DeviceSlot& slot = transport == 0 ? state->usbDevices[0] : state->bthDevices[0];
    const int up = (transport == 0 ? state->usbConnected.load() : state->bthConnected.load()) != 0;
    const TrayTipWatch& w = state->trayTipWatch;
    const int waiting = up && (transport == 0 ? w.usbWaiting : w.bthWaiting);
    DriverInfo info = {};
    int haveInfo = 0;
    if (up) {
        std::lock_guard<std::mutex> hold(slot.recordLock);
        haveInfo = DecodeDriverInfo(slot.driverInfo, &info);
    }
    Utf16 value[kProfileFileNameChars];
    auto line = [&](const char* name, const Utf16* text) {
        std::strcpy(key, p);
        std::strcat(key, name);
        AppendLine(out, capacity, key, text);
    };
    line("connected", up ? u"1" : u"0");
    line("waiting", waiting ? u"1" : u"0");
    value[0] = 0;
    if (haveInfo && !waiting) {
        if (info.BatteryStatus <= 5)
            Decimal(value, 4, info.BatteryStatus);
        else if (info.BatteryStatus == 0xEF)
            CopyUtf16(value, 8, u"full");
        else if (info.BatteryStatus >= 16)
            CopyUtf16(value, 12, u"charging");
    }
    line("battery", value);
    value[0] = 0;
    const uint32_t applied = state->appliedProfile[transport].load();
    if (applied != 0 && state->profiles != nullptr && applied <= state->profileCount)
        ProfileMenuText(state, applied - 1, value, kProfileTitleChars);
    line("profile", value);
    // The application rule that chose it; empty for a choice by hand.
    value[0] = 0;
    {
        std::lock_guard<std::mutex> hold(state->appliedLock);
        if (state->appliedChooser[transport] == 1)
            CopyUtf16Whole(value, kAppliedRuleChars, state->appliedRule[transport]);
        else if (state->appliedChooser[transport] == 2)
            CopyUtf16(value, kAppliedRuleChars, u"(no listed program)");
    }
    line("rule", value);
    value[0] = 0;
    if (haveInfo) {
        Utf16 part[12];
        const uint32_t parts[4] = {info.DriverVersionMajor, info.DriverVersionMinor, info.DriverVersionType,
                                   info.DriverVersionBuild};
        for (int i = 0; i < 4; ++i) {
            if (i != 0)
                AppendAscii(value, kProfileFileNameChars, ".");
            Decimal(part, 12, parts[i]);
            AppendUtf16(value, kProfileFileNameChars, part);
        }
    }
    line("driver", value);
}

} // namespace

RemoteParse RemoteSwitchOf(const Utf16* commandLine, RemoteSwitch* out) {
    *out = RemoteSwitch{};
    if (commandLine == nullptr)
        return RemoteParse::None;
    const Utf16* p = SkipBlanks(SkipCommandLineProgram(commandLine));
    const Utf16* rest = nullptr;
    if ((rest = Word(p, u"-status")) != nullptr)
        out->verb = RemoteVerb::Status;
    else if ((rest = Word(p, u"-disconnect")) != nullptr)
        out->verb = RemoteVerb::Disconnect;
    else if ((rest = Word(p, u"-reconnect")) != nullptr)
        out->verb = RemoteVerb::Reconnect;
    else if ((rest = Word(p, u"-help")) != nullptr || (rest = Word(p, u"-?")) != nullptr)
        out->verb = RemoteVerb::Help;
    else if ((rest = Word(p, u"-profile")) != nullptr)
        out->verb = RemoteVerb::Profile;
    else if ((*p == u'-' || *p == u'/') && !OtherSwitch(commandLine, p))
        return RemoteParse::Malformed; // a switch nothing in the tool knows
    else
        return RemoteParse::None;
    p = SkipBlanks(rest);
    if (out->verb == RemoteVerb::Profile) {
        if ((rest = Word(p, u"usb")) != nullptr)
            out->transport = 0;
        else if ((rest = Word(p, u"bth")) != nullptr)
            out->transport = 1;
        else
            return RemoteParse::Malformed;
        p = SkipBlanks(rest);
        // The name: quoted (blanks inside), or one word.
        const int quoted = *p == u'"';
        if (quoted)
            ++p;
        size_t n = 0;
        for (; *p != 0 && (quoted ? *p != u'"' : (*p != u' ' && *p != u'\t')); ++p) {
            if (n + 1 >= kRemoteNameUnits)
                return RemoteParse::Malformed;
            out->name[n++] = *p;
        }
        if (quoted) {
            if (*p != u'"')
                return RemoteParse::Malformed;
            ++p;
        }
        out->name[n] = 0;
        if (n == 0 || !CleanText(out->name, n))
            return RemoteParse::Malformed;
        p = SkipBlanks(p);
    }
    return *p == 0 ? RemoteParse::Command : RemoteParse::Malformed;
}

void EncodeRemoteRequest(const RemoteSwitch& command, uint32_t requestId, uint64_t replyWindow,
                         RemoteRequest* out) {
    std::memset(out, 0, sizeof *out);
    out->magic = static_cast<uint32_t>(kRemoteRequestTag);
    out->version = kRemoteVersion;
    out->verb = static_cast<uint16_t>(command.verb);
    out->transport = command.transport;
    out->requestId = requestId;
    out->replyWindow = replyWindow;
    out->nameUnits = static_cast<uint32_t>(Utf16Length(command.name, kRemoteNameUnits - 1));
    for (uint32_t i = 0; i < out->nameUnits; ++i)
        out->name[i] = command.name[i];
}

int DecodeRemoteRequest(const void* data, size_t size, RemoteRequest* out) {
    if (data == nullptr || size != sizeof(RemoteRequest))
        return 0;
    std::memcpy(out, data, sizeof *out);
    if (out->magic != static_cast<uint32_t>(kRemoteRequestTag) || out->version != kRemoteVersion)
        return 0;
    const RemoteVerb verb = static_cast<RemoteVerb>(out->verb);
    switch (verb) {
    case RemoteVerb::Profile:
        if (out->transport > 1 || out->nameUnits == 0 || out->nameUnits >= kRemoteNameUnits ||
            !CleanText(out->name, out->nameUnits))
            return 0;
        break;
    case RemoteVerb::Disconnect:
    case RemoteVerb::Reconnect:
    case RemoteVerb::Status:
        if (out->nameUnits != 0)
            return 0;
        break;
    default: return 0; // Help never travels; nothing else exists
    }
    // Whatever followed the name is not trusted to be a terminator.
    for (size_t i = out->nameUnits; i < kRemoteNameUnits; ++i)
        out->name[i] = 0;
    return 1;
}

void EncodeRemoteReply(uint32_t requestId, uint32_t code, const Utf16* text, RemoteReply* out) {
    std::memset(out, 0, sizeof *out);
    out->magic = static_cast<uint32_t>(kRemoteReplyTag);
    out->version = kRemoteVersion;
    out->requestId = requestId;
    out->code = code;
    if (text != nullptr)
        CopyUtf16Whole(out->text, kRemoteTextUnits, text);
    out->textUnits = static_cast<uint32_t>(Utf16Length(out->text, kRemoteTextUnits));
}

int DecodeRemoteReply(const void* data, size_t size, RemoteReply* out) {
    if (data == nullptr || size != sizeof(RemoteReply))
        return 0;
    std::memcpy(out, data, sizeof *out);
    if (out->magic != static_cast<uint32_t>(kRemoteReplyTag) || out->version != kRemoteVersion ||
        out->code > kRemoteAccepted || out->textUnits >= kRemoteTextUnits)
        return 0;
    if (!CleanText(out->text, out->textUnits, 1))
        return 0;
    for (size_t i = out->textUnits; i < kRemoteTextUnits; ++i)
        out->text[i] = 0;
    return 1;
}

int32_t FindProfileByName(const ToolState* state, const Utf16* name) {
    if (state->profiles == nullptr || name == nullptr)
        return -1;
    const size_t length = Utf16Length(name, kRemoteNameUnits);
    for (uint32_t i = 0; i < state->profileCount && i <= 0x7FFFFFFF; ++i) {
        const ProfileRecord& record = state->profiles[i];
        if (SameName(name, length, record.Title, kProfileTitleChars))
            return static_cast<int32_t>(i);
        // The file name, with and without its extension.
        const Utf16* file = record.FileName;
        size_t fileLength = Utf16Length(file, kProfileFileNameChars);
        for (size_t k = fileLength; k > 0; --k)
            if (file[k - 1] == u'\\' || file[k - 1] == u'/') {
                file += k;
                fileLength -= k;
                break;
            }
        if (fileLength == 0)
            continue;
        if (length == fileLength && SameName(name, length, file, fileLength))
            return static_cast<int32_t>(i);
        size_t stem = fileLength;
        while (stem > 0 && file[stem - 1] != u'.')
            --stem;
        if (stem > 1 && length == stem - 1 && SameName(name, length, file, stem - 1))
            return static_cast<int32_t>(i);
    }
    return -1;
}

void FormatRemoteStatus(ToolState* state, Utf16* out, size_t capacity) {
    if (capacity == 0)
        return;
    out[0] = 0;
    TransportLines(state, out, capacity, 0);
    TransportLines(state, out, capacity, 1);
    const int on = state->rumbleEnabled.load() != 0;
    AppendLine(out, capacity, "rumble", on ? u"on" : u"off");
    uint32_t clients = 0;
    for (uint32_t mask = on ? state->rumbleSlotMask : 0; mask != 0; mask &= mask - 1)
        ++clients;
    Utf16 count[12];
    Decimal(count, 12, clients);
    AppendLine(out, capacity, "rumble.clients", count);
}
