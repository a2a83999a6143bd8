// The simulator's script language: the command set is SimScriptHelp's text, which
// `ds3sim.exe --help` prints. Numbers are decimal or 0x-hex; a line whose first non-blank character
// is '#' is a comment.
#include <chrono>
#include <cstring>
#include <thread>

#include "sim/sim_driver.h"

namespace {

struct Line {
    std::vector<std::string> words;
    std::vector<size_t> starts; // offset of each word in the text, for "rest of line" arguments
    std::string text;
};

Line Split(const char* text) {
    Line line;
    line.text = text;
    size_t i = 0;
    const std::string& t = line.text;
    while (i < t.size()) {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\r' || t[i] == '\n'))
            ++i;
        if (i >= t.size())
            break;
        size_t start = i;
        while (i < t.size() && !(t[i] == ' ' || t[i] == '\t' || t[i] == '\r' || t[i] == '\n'))
            ++i;
        line.words.push_back(t.substr(start, i - start));
        line.starts.push_back(start);
    }
    return line;
}

// The text from word `index` to the end of the line, trailing blanks removed.
std::string Rest(const Line& line, size_t index) {
    if (index >= line.words.size())
        return std::string();
    std::string rest = line.text.substr(line.starts[index]);
    while (!rest.empty() &&
           (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r' || rest.back() == '\n'))
        rest.pop_back();
    return rest;
}

int ParseU32(const std::string& word, uint32_t max, uint32_t* value) {
    size_t i = 0;
    unsigned base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= word.size())
        return 0;
    uint64_t v = 0;
    for (; i < word.size(); ++i) {
        char c = word[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return 0;
        v = v * base + digit;
        if (v > max)
            return 0;
    }
    *value = static_cast<uint32_t>(v);
    return 1;
}

int ParseI8(const std::string& word, int8_t* value) {
    uint32_t magnitude = 0;
    if (!word.empty() && word[0] == '-') {
        if (!ParseU32(word.substr(1), 128, &magnitude))
            return 0;
        *value = static_cast<int8_t>(-static_cast<int32_t>(magnitude));
        return 1;
    }
    if (!ParseU32(word, 127, &magnitude))
        return 0;
    *value = static_cast<int8_t>(magnitude);
    return 1;
}

int ParseI64(const std::string& word, int64_t* value) {
    const int negative = !word.empty() && word[0] == '-';
    const std::string digits = negative ? word.substr(1) : word;
    const int hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (digits.empty() || digits.size() > (hex ? 18u : 19u))
        return 0;
    uint64_t v = 0;
    for (size_t i = hex ? 2 : 0; i < digits.size(); ++i) {
        const char c = digits[i];
        uint64_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        else
            return 0;
        v = v * (hex ? 16u : 10u) + digit;
    }
    if (v > (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull))
        return 0;
    *value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return 1;
}

int ParseQuery(const std::string& word, SimQuery* query) {
    static const struct {
        const char* name;
        SimQuery query;
    } names[] = {{"none", SimQuery::None},
                 {"info", SimQuery::DebugInfo},
                 {"btsp", SimQuery::BthSupportInfo},
                 {"draw", SimQuery::DebugRawData}};
    for (const auto& n : names) {
        if (word == n.name) {
            *query = n.query;
            return 1;
        }
    }
    return 0;
}

int ParseAddress(const std::string& word, uint8_t* out) {
    if (word.size() != 17)
        return 0;
    for (int i = 0; i < 6; ++i) {
        if (i < 5 && word[3 * i + 2] != ':')
            return 0;
        uint32_t v = 0;
        if (!ParseU32("0x" + word.substr(3 * i, 2), 255, &v))
            return 0;
        out[i] = static_cast<uint8_t>(v);
    }
    return 1;
}

// Parses word `index` into a value of at most `max`; the reply names what went wrong.
struct Args {
    const Line& line;
    std::string* reply;
    int Number(size_t index, uint32_t max, uint32_t* value) {
        if (index < line.words.size() && ParseU32(line.words[index], max, value))
            return 1;
        *reply = index < line.words.size() ? "bad number: " + line.words[index] : "missing argument";
        return 0;
    }
};

SimCommandResult Fail(std::string* reply, const std::string& why) {
    *reply = why;
    return SimCommandResult::Failed;
}

SimCommandResult Done(std::string* reply, const std::string& text) {
    *reply = text;
    return SimCommandResult::Done;
}

std::string Describe(const SimDevice& d) {
    char text[512];
    std::snprintf(
        text, sizeof text,
        "dev=%u present=%d gen=%u tag=%.4s debug=%d link=%d status=%u battery=0x%02X autofire=0x%08X "
        "profile=0x%08X restarts=%u accepted=%u rejected=%u reads=%u",
        d.id, d.present, d.generation, d.tags[d.useSecondTag ? 1 : 0], d.debugMode, d.linkConnected,
        d.fields.DriverStatus, d.fields.BatteryStatus, d.fields.AutoFireButtons, d.profileMask, d.restarts,
        d.acceptedWrites, d.rejectedWrites, d.reads);
    return text;
}

SimCommandResult RunSet(uint32_t id, const Line& line, std::string* reply) {
    Args args{line, reply};
    if (line.words.size() < 4)
        return Fail(reply, "usage: set N FIELD VALUE...");
    const std::string& field = line.words[2];
    // Everything the edit reads lives here: it runs after the parsing branches have closed.
    std::function<void(SimDevice&)> edit;
    uint32_t v[4] = {};
    uint8_t address[6] = {};
    int8_t levels[2] = {};
    std::string text;
    uint8_t bytes[64] = {}; // the longest byte list: btsp-commands
    size_t count = 0;
    if (field == "status" || field == "mode" || field == "error" || field == "autofire" ||
        field == "setting-tag") {
        if (!args.Number(3, 0xFFFFFFFFu, &v[0]))
            return SimCommandResult::Failed;
        edit = [&field, &v](SimDevice& d) {
            if (field == "status") {
                d.fields.DriverStatus = v[0];
                if (d.kind == SimKind::DriverBluetooth)
                    d.linkConnected = v[0] != 17;
            } else if (field == "mode") {
                d.fields.DriverModeFlags = v[0];
            } else if (field == "error") {
                d.fields.ErrorCode = v[0];
            } else if (field == "autofire") {
                d.fields.AutoFireButtons = v[0];
            } else {
                d.fields.DriverSettingTagId = v[0];
            }
        };
    } else if (field == "battery" || field == "link-quality" || field == "sensitivity" ||
               field == "speed-selector") {
        if (!args.Number(3, 255, &v[0]))
            return SimCommandResult::Failed;
        edit = [&field, &v](SimDevice& d) {
            uint8_t b = static_cast<uint8_t>(v[0]);
            if (field == "battery")
                d.fields.BatteryStatus = b;
            else if (field == "link-quality")
                d.fields.LinkQuality = b;
            else if (field == "sensitivity")
                d.fields.ReceiverSensitivity = b;
            else
                d.fields.AutoFireSpeedSelector = b;
        };
    } else if (field == "motor" || field == "manufacturer") {
        if (!args.Number(3, 0xFFFF, &v[0]))
            return SimCommandResult::Failed;
        edit = [&field, &v](SimDevice& d) {
            if (field == "motor")
                d.fields.MotorStatus = static_cast<uint16_t>(v[0]);
            else
                d.fields.Manufacturer_ID = static_cast<uint16_t>(v[0]);
        };
    } else if (field == "version") {
        if (!args.Number(3, 255, &v[0]) || !args.Number(4, 255, &v[1]) || !args.Number(5, 255, &v[2]) ||
            !args.Number(6, 0xFFFF, &v[3]))
            return SimCommandResult::Failed;
        edit = [&v](SimDevice& d) {
            d.fields.DriverVersionMajor = static_cast<uint8_t>(v[0]);
            d.fields.DriverVersionMinor = static_cast<uint8_t>(v[1]);
            d.fields.DriverVersionType = static_cast<uint8_t>(v[2]);
            d.fields.DriverVersionBuild = static_cast<uint16_t>(v[3]);
        };
    } else if (field == "hci" || field == "lmp" || field == "usage") {
        uint32_t firstMax = field == "usage" ? 0xFFFF : 255;
        if (!args.Number(3, firstMax, &v[0]) || !args.Number(4, 0xFFFF, &v[1]))
            return SimCommandResult::Failed;
        edit = [&field, &v](SimDevice& d) {
            if (field == "hci") {
                d.fields.HCI_Version = static_cast<uint8_t>(v[0]);
                d.fields.HCI_Revision = static_cast<uint16_t>(v[1]);
            } else if (field == "lmp") {
                d.fields.LMP_Version = static_cast<uint8_t>(v[0]);
                d.fields.LMP_Subversion = static_cast<uint16_t>(v[1]);
            } else {
                d.usagePage = static_cast<uint16_t>(v[0]);
                d.usage = static_cast<uint16_t>(v[1]);
            }
        };
    } else if (field == "adapter" || field == "remote") {
        if (!ParseAddress(line.words[3], address))
            return Fail(reply, "bad address: " + line.words[3]);
        edit = [&field, &address](SimDevice& d) {
            std::memcpy(field == "adapter" ? d.fields.Adapter_BDADDR : d.fields.Remote_BDADDR, address, 6);
        };
    } else if (field == "power") {
        if (line.words.size() < 5 || !ParseI8(line.words[3], &levels[0]) ||
            !ParseI8(line.words[4], &levels[1]))
            return Fail(reply, "usage: set N power MAX CUR (-128..127)");
        edit = [&levels](SimDevice& d) {
            d.fields.MaxTransmitPowerLevel = levels[0];
            d.fields.CurrentTransmitPowerLevel = levels[1];
        };
    } else if (field == "tag") {
        const std::string& tag = line.words[3];
        if (tag.size() != 4)
            return Fail(reply, "a tag has four letters");
        edit = [&tag](SimDevice& d) {
            if (std::memcmp(d.tags[1], tag.data(), 4) == 0) {
                d.useSecondTag = 1;
            } else {
                std::memcpy(d.tags[0], tag.data(), 4);
                d.useSecondTag = 0;
            }
        };
    } else if (field == "path" || field == "parent") {
        text = Rest(line, 3);
        if (text.size() > 400)
            return Fail(reply, "too long");
        edit = [&field, &text](SimDevice& d) { (field == "path" ? d.path : d.parentInstanceId) = text; };
    } else if (field == "debug" || field == "raw-drift") {
        if (!args.Number(3, 1, &v[0]))
            return SimCommandResult::Failed;
        edit = [&field, &v](SimDevice& d) {
            if (field == "debug") {
                d.debugMode = static_cast<int32_t>(v[0]);
                if (!d.debugMode)
                    d.query = SimQuery::None;
            } else {
                d.rawDrift = static_cast<int32_t>(v[0]);
            }
        };
    } else if (field == "raw") {
        count = line.words.size() - 4;
        if (!args.Number(3, kSimRawDataSize - 1, &v[0]))
            return SimCommandResult::Failed;
        if (count == 0 || v[0] + count > kSimRawDataSize)
            return Fail(reply, "raw bytes must fit in 48");
        for (size_t i = 0; i < count; ++i) {
            uint32_t b = 0;
            if (!args.Number(4 + i, 255, &b))
                return SimCommandResult::Failed;
            bytes[i] = static_cast<uint8_t>(b);
        }
        edit = [&v, &bytes, &count](SimDevice& d) { std::memcpy(d.rawData + v[0], bytes, count); };
    } else if (field == "info-flag" || field == "info-frequency" || field == "info-time" ||
               field == "info-drift") {
        int64_t wide = 0;
        const size_t at = field == "info-time" ? 4 : 3;
        if (field == "info-time" && !args.Number(3, 3, &v[0]))
            return SimCommandResult::Failed;
        if (field == "info-flag" && !args.Number(3, 0xFFFFFFFFu, &v[1]))
            return SimCommandResult::Failed;
        if (field == "info-drift" && !args.Number(3, 1, &v[1]))
            return SimCommandResult::Failed;
        if ((field == "info-frequency" || field == "info-time") &&
            (line.words.size() <= at || !ParseI64(line.words[at], &wide)))
            return Fail(reply,
                        "usage: set N " + field + (at == 4 ? " INDEX" : "") + " VALUE (signed 64-bit)");
        edit = [&field, &v, wide](SimDevice& d) {
            if (field == "info-flag")
                d.featureFlag = v[1];
            else if (field == "info-drift")
                d.infoDrift = static_cast<int32_t>(v[1]);
            else if (field == "info-frequency")
                d.performanceFrequency = wide;
            else
                d.threadTimes[v[0]] = wide;
        };
    } else if (field == "btsp-commands" || field == "btsp-features") {
        const uint32_t size = field == "btsp-commands" ? 64 : 8;
        count = line.words.size() - 4;
        if (!args.Number(3, size - 1, &v[0]))
            return SimCommandResult::Failed;
        if (count == 0 || v[0] + count > size)
            return Fail(reply, field + " bytes must fit in " + std::to_string(size));
        for (size_t i = 0; i < count; ++i) {
            uint32_t b = 0;
            if (!args.Number(4 + i, 255, &b))
                return SimCommandResult::Failed;
            bytes[i] = static_cast<uint8_t>(b);
        }
        edit = [&field, &v, &bytes, &count](SimDevice& d) {
            std::memcpy((field == "btsp-commands" ? d.supportedCommands : d.supportedFeatures) + v[0], bytes,
                        count);
        };
    } else if (field == "answer") {
        SimQuery asked = SimQuery::None;
        SimQuery with = SimQuery::None;
        if (line.words.size() < 5 || !ParseQuery(line.words[3], &asked) || asked == SimQuery::None ||
            !ParseQuery(line.words[4], &with))
            return Fail(reply, "usage: set N answer info|btsp|draw info|btsp|draw|none");
        edit = [asked, with](SimDevice& d) { d.answerFor[static_cast<int>(asked)] = with; };
    } else if (field == "link") {
        const std::string& state = line.words[3];
        if (state != "connected" && state != "disconnected")
            return Fail(reply, "link connected|disconnected");
        edit = [&state](SimDevice& d) {
            d.linkConnected = state == "connected";
            d.fields.DriverStatus = d.linkConnected ? 18 : 17;
        };
    } else {
        return Fail(reply, "unknown field: " + field);
    }
    if (!SimUpdateDevice(id, edit))
        return Fail(reply, "no device " + line.words[1]);
    return Done(reply, "ok");
}

SimCommandResult RunFault(uint32_t id, const Line& line, std::string* reply) {
    if (line.words.size() < 3)
        return Fail(reply, "usage: fault N KIND");
    const std::string& kind = line.words[2];
    uint32_t ms = 0;
    if (kind == "slow") {
        Args args{line, reply};
        if (!args.Number(3, 10000, &ms))
            return SimCommandResult::Failed;
    } else if (kind != "refuse-read" && kind != "fail-write" && kind != "fail-settings" &&
               kind != "stuck-debug" && kind != "fail-restart" && kind != "needs-restart" &&
               kind != "no-parent" && kind != "no-caps" && kind != "hang" && kind != "none") {
        return Fail(reply, "unknown fault: " + kind);
    }
    int found = SimUpdateDevice(id, [&kind, ms](SimDevice& d) {
        SimFaults& f = d.faults;
        if (kind == "slow")
            f.slowMs = ms;
        else if (kind == "refuse-read")
            f.refuseRead = 1;
        else if (kind == "fail-write")
            f.failWrite = 1;
        else if (kind == "fail-settings")
            f.failSettings = 1;
        else if (kind == "stuck-debug")
            f.stuckDebug = 1;
        else if (kind == "fail-restart")
            f.failRestart = 1;
        else if (kind == "needs-restart")
            f.needRestart = 1;
        else if (kind == "no-parent")
            f.noParent = 1;
        else if (kind == "no-caps")
            f.noCaps = 1;
        else if (kind == "hang")
            f.hang = 1;
        else
            f = SimFaults();
    });
    return found ? Done(reply, "ok") : Fail(reply, "no device " + line.words[1]);
}

} // namespace

SimCommandResult SimRunCommand(const char* text, std::string* reply) {
    std::string scratch;
    if (reply == nullptr)
        reply = &scratch;
    reply->clear();
    if (text == nullptr)
        return Fail(reply, "no command");
    Line line = Split(text);
    if (line.words.empty() || line.words[0][0] == '#')
        return Done(reply, "");
    const std::string& verb = line.words[0];
    Args args{line, reply};

    if (verb == "quit")
        return SimCommandResult::Quit;
    if (verb == "add") {
        if (line.words.size() != 2)
            return Fail(reply, "usage: add usb|bth|foreign-joystick|non-joystick");
        const std::string& kind = line.words[1];
        SimKind k = SimKind::DriverUsb;
        if (kind == "usb")
            k = SimKind::DriverUsb;
        else if (kind == "bth")
            k = SimKind::DriverBluetooth;
        else if (kind == "foreign-joystick")
            k = SimKind::ForeignJoystick;
        else if (kind == "non-joystick")
            k = SimKind::NonJoystick;
        else
            return Fail(reply, "unknown kind: " + kind);
        uint32_t id = SimAddDevice(k);
        return id != 0 ? Done(reply, std::to_string(id)) : Fail(reply, "too many devices");
    }
    if (verb == "restart-delay" || verb == "sleep") {
        uint32_t ms = 0;
        if (!args.Number(1, 600000, &ms))
            return SimCommandResult::Failed;
        if (verb == "sleep")
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        else
            SimSetRestartDelay(ms);
        return Done(reply, "ok");
    }
    if (verb == "element-order") {
        const std::string which = line.words.size() > 1 ? line.words[1] : "";
        if (which != "same" && which != "reversed")
            return Fail(reply, "usage: element-order same|reversed");
        SimSetElementOrder(which == "reversed");
        return Done(reply, "ok");
    }
    if (verb == "list-fault") {
        const std::string which = line.words.size() > 1 ? line.words[1] : "";
        if (which != "hid" && which != "present" && which != "none")
            return Fail(reply, "usage: list-fault hid|present|none");
        SimSetListFaults(which == "hid", which == "present");
        return Done(reply, "ok");
    }
    if (verb == "log") {
        std::string path = Rest(line, 1);
        if (path.empty())
            return Fail(reply, "usage: log FILE|off");
        return SimSetLogFile(path == "off" ? nullptr : path.c_str()) ? Done(reply, "ok")
                                                                     : Fail(reply, "cannot open " + path);
    }
    if (verb == "clear-log") {
        SimClearLog();
        return Done(reply, "ok");
    }
    if (verb == "note") {
        SimLogNote("NOTE " + Rest(line, 1));
        return Done(reply, "ok");
    }

    uint32_t id = 0;
    if (!args.Number(1, 0xFFFFFFFFu, &id))
        return Fail(reply, "unknown command or bad device: " + line.text);
    if (verb == "remove" || verb == "unplug" || verb == "plug" || verb == "restart") {
        int ok = verb == "remove"   ? SimRemoveDevice(id)
                 : verb == "unplug" ? SimSetPresent(id, 0)
                 : verb == "plug"   ? SimSetPresent(id, 1)
                                    : SimRestartDevice(id);
        return ok ? Done(reply, "ok") : Fail(reply, verb + " failed for device " + line.words[1]);
    }
    if (verb == "set")
        return RunSet(id, line, reply);
    if (verb == "fault")
        return RunFault(id, line, reply);
    if (verb == "show") {
        SimDevice d;
        return SimGetDevice(id, &d) ? Done(reply, Describe(d)) : Fail(reply, "no device " + line.words[1]);
    }
    return Fail(reply, "unknown command: " + verb);
}

const char* SimScriptHelp() {
    return "commands, one a line ('|' parts the commands a row lists, '/' parts the values an argument "
           "takes;\nN is a device number; numbers are decimal or 0x-hex; '#' starts a comment):\n"
           "  add usb/bth/foreign-joystick/non-joystick      reply: the new device's number\n"
           "  remove N | unplug N | plug N | restart N\n"
           "  restart-delay MS\n"
           "  set N status V | mode V | error V | battery V | version MAJ MIN TYPE BUILD | tag XXXX\n"
           "        | hci VER REV | lmp VER SUB | manufacturer V | adapter AA:BB:CC:DD:EE:FF | remote ...\n"
           "        | power MAX CUR | link-quality V | sensitivity V | motor V | speed-selector V\n"
           "        | autofire MASK | setting-tag V | usage PAGE USAGE | path TEXT | parent TEXT\n"
           "        | debug 0/1 | raw OFFSET BYTE... | raw-drift 0/1 | link connected/disconnected\n"
           "        | info-flag V | info-frequency V | info-time 0..3 V | info-drift 0/1\n"
           "        | btsp-commands OFFSET BYTE... | btsp-features OFFSET BYTE...\n"
           "        | answer info/btsp/draw WITH     (WITH: info/btsp/draw/none, the record sent back)\n"
           "  fault N refuse-read | fail-write | fail-settings | slow MS | stuck-debug | fail-restart\n"
           "        | needs-restart | no-parent | no-caps | hang (no answer until cleared)\n"
           "        | none   (faults add up; none clears them all and releases a hang)\n"
           "  list-fault hid/present/none\n"
           "  element-order same/reversed\n"
           "  log FILE | log off | clear-log | note TEXT | show N | sleep MS | quit\n";
}
