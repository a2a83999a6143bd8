#include "sim/sim_model.h"

#include "core/bytes.h"
#include "sim/sim_log.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr uint32_t kRequestEnd = 109; // bytes 0..108 carry a request
constexpr uint32_t kMaxFieldMask = 0x000FFFFF;
constexpr uint32_t kProfileBits = 0x0007FFFF;
constexpr uint32_t kAutoFireBit = 0x00080000;
constexpr uint32_t kStatusBthDisconnectedByUser = 17;
constexpr uint32_t kStatusBthRunning = 18;

// RawData layout, after the controller's own input report (id 1) without its id byte.
constexpr uint32_t kRawPlugState = 28;
constexpr uint32_t kRawBattery = 29;
constexpr uint32_t kRawConnection = 30;
constexpr uint32_t kRawCounter = 34; // u16, one step per QueryDebugRawData
constexpr uint32_t kRawMotion = 40;  // four big-endian u16: accelerometer x, y, z, gyro

constexpr const char* kHidClassGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string HexBytes(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i != 0)
            text.push_back(' ');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

std::string Tag(const char* four) {
    return std::string(four, 4);
}

// ---- device defaults ----

void ResetRawData(SimDevice& d) {
    std::memset(d.rawData, 0, sizeof d.rawData);
    for (uint32_t i = 5; i <= 8; ++i)
        d.rawData[i] = 0x80; // sticks centred
    d.rawData[kRawPlugState] = d.kind == SimKind::DriverUsb ? 0x02 : 0x03;
    d.rawData[kRawConnection] = d.kind == SimKind::DriverUsb ? 0x10 : 0x16;
    const uint16_t motion[4] = {0x01F2, 0x01EE, 0x0190, 0x01FA};
    for (uint32_t i = 0; i < 4; ++i) {
        d.rawData[kRawMotion + 2 * i] = static_cast<uint8_t>(motion[i] >> 8);
        d.rawData[kRawMotion + 2 * i + 1] = static_cast<uint8_t>(motion[i]);
    }
}

void ResetDebugRecords(SimDevice& d) {
    const int bluetooth = d.kind == SimKind::DriverBluetooth;
    d.featureFlag = bluetooth ? 0x00000013u : 0x00000003u;
    d.performanceFrequency = 3000000000LL;
    const int64_t times[4] = {1250000, 980000, bluetooth ? 2210000 : 0, bluetooth ? 1760000 : 0};
    std::memcpy(d.threadTimes, times, sizeof times);
    if (!bluetooth)
        return; // no adapter behind a USB device
    static const uint8_t commands[64] = {0xFF, 0xFF, 0xFF, 0x03, 0xFE, 0xFF, 0xCF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0x1F, 0xF2, 0x0F, 0xE8, 0xFE, 0x3F, 0xF7, 0x8F, 0xFF, 0x1C, 0x00,
                                         0x00, 0x00, 0x61, 0xF7, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};
    static const uint8_t features[8] = {0xFF, 0xFF, 0x8F, 0xFE, 0xDB, 0xFF, 0x5B, 0x87};
    std::memcpy(d.supportedCommands, commands, sizeof commands);
    std::memcpy(d.supportedFeatures, features, sizeof features);
}

} // namespace

int SimIsDriverDevice(const SimDevice& d) {
    return d.kind == SimKind::DriverUsb || d.kind == SimKind::DriverBluetooth;
}

void SimInitDevice(SimDevice& d, SimKind kind, uint32_t id) {
    d = SimDevice();
    d.id = id;
    d.kind = kind;
    SimDriverFields& f = d.fields;
    const char* vidPid = "vid_054c&pid_0268";
    const char* parent = "USB\\VID_054C&PID_0268";
    switch (kind) {
    case SimKind::DriverUsb:
        std::memcpy(d.tags[0], "DS3U", 4);
        std::memcpy(d.tags[1], "DS3D", 4);
        f.DriverStatus = 1; // "Running"
        f.BatteryStatus = 0xEE;
        break;
    case SimKind::DriverBluetooth: {
        vidPid = "vid_054c&pid_0268&col02";
        parent = "USB\\VID_0A12&PID_0001"; // the Bluetooth adapter the driver took over
        std::memcpy(d.tags[0], "DS3B", 4);
        std::memcpy(d.tags[1], "DS3X", 4);
        f.DriverStatus = kStatusBthRunning;
        f.HCI_Version = 6;
        f.HCI_Revision = 0x22BB;
        f.LMP_Version = 6;
        f.LMP_Subversion = 0x22BB;
        f.Manufacturer_ID = 0x000A;
        const uint8_t adapter[6] = {0x00, 0x1B, 0xDC, 0x07, 0x31, 0xA5};
        const uint8_t remote[6] = {0x00, 0x19, 0xC1, 0x5A, 0x2E, 0x3B};
        std::memcpy(f.Adapter_BDADDR, adapter, 6);
        std::memcpy(f.Remote_BDADDR, remote, 6);
        f.MaxTransmitPowerLevel = 4;
        f.CurrentTransmitPowerLevel = -10;
        f.LinkQuality = 230;
        f.BatteryStatus = 5;
        f.ReceiverSensitivity = 0x40;
        break;
    }
    case SimKind::ForeignJoystick:
        vidPid = "vid_046d&pid_c216";
        parent = "USB\\VID_046D&PID_C216";
        break;
    case SimKind::NonJoystick:
        vidPid = "vid_046d&pid_c077";
        parent = "USB\\VID_046D&PID_C077";
        d.usage = 2;
        break;
    }
    if (SimIsDriverDevice(d)) {
        f.DriverVersionMajor = 1;
        f.DriverVersionMinor = 0;
        f.DriverVersionType = 5;
        f.DriverVersionBuild = 1520;
        f.DriverSettingTagId = 1;
    }
    d.path = SimFormat("\\\\?\\hid#%s#sim%u#%s", vidPid, id, kHidClassGuid);
    d.parentInstanceId = SimFormat("%s\\SIM%04u", parent, id);
    d.parentWithoutInterface = d.kind == SimKind::DriverBluetooth ? 1 : 0;
    std::string hid = parent;
    hid.replace(0, 3, "HID");
    d.hidInstanceId = SimFormat("%s\\SIM%04u", hid.c_str(), id);
    ResetRawData(d);
    ResetDebugRecords(d);
}

void SimForgetSession(SimDevice& d) {
    d.debugMode = 0;
    d.query = SimQuery::None;
    if (d.kind == SimKind::DriverBluetooth && !d.linkConnected)
        d.fields.DriverStatus = kStatusBthRunning;
    d.linkConnected = 1;
}

namespace {

// ---- answers ----

void WriteI64(uint8_t* p, int64_t v) {
    uint64_t u = static_cast<uint64_t>(v);
    WriteU32LE(p, static_cast<uint32_t>(u));
    WriteU32LE(p + 4, static_cast<uint32_t>(u >> 32));
}

void BuildDriverInfo(const SimDevice& d, uint8_t* a) {
    const SimDriverFields& f = d.fields;
    a[5] = f.DriverVersionMajor;
    a[6] = f.DriverVersionMinor;
    a[7] = f.DriverVersionType;
    WriteU16LE(a + 8, f.DriverVersionBuild);
    WriteU32LE(a + 10, f.DriverModeFlags);
    WriteU32LE(a + 14, f.DriverStatus);
    WriteU32LE(a + 18, f.ErrorCode);
    a[22] = f.HCI_Version;
    WriteU16LE(a + 23, f.HCI_Revision);
    a[25] = f.LMP_Version;
    WriteU16LE(a + 26, f.LMP_Subversion);
    WriteU16LE(a + 28, f.Manufacturer_ID);
    std::memcpy(a + 30, f.Adapter_BDADDR, 6);
    std::memcpy(a + 36, f.Remote_BDADDR, 6);
    a[42] = static_cast<uint8_t>(f.MaxTransmitPowerLevel);
    a[43] = static_cast<uint8_t>(f.CurrentTransmitPowerLevel);
    a[44] = f.LinkQuality;
    a[45] = f.BatteryStatus;
    a[46] = f.ReceiverSensitivity;
    WriteU16LE(a + 47, f.MotorStatus);
    a[49] = f.AutoFireSpeedSelector;
    WriteU32LE(a + 50, f.AutoFireButtons);
    WriteU32LE(a + 54, f.DriverSettingTagId);
}

void BuildInfoRecord(const SimDevice& d, uint8_t* a) {
    std::memcpy(a + 5, "INFO", 4);
    WriteU32LE(a + 9, d.featureFlag);
    WriteI64(a + 13, d.performanceFrequency);
    const int times = d.kind == SimKind::DriverBluetooth ? 4 : 2;
    for (int i = 0; i < times; ++i)
        WriteI64(a + 21 + 8 * i, d.threadTimes[i]);
}

void BuildBthSupportRecord(const SimDevice& d, uint8_t* a) {
    std::memcpy(a + 5, "BTSP", 4);
    std::memcpy(a + 9, d.supportedCommands, sizeof d.supportedCommands);
    std::memcpy(a + 73, d.supportedFeatures, sizeof d.supportedFeatures);
}

void BuildRawDataRecord(const SimDevice& d, uint8_t* a) {
    std::memcpy(a + 5, "DRAW", 4);
    a[9] = 0x01; // the controller's input report id
    std::memcpy(a + 10, d.rawData, kSimRawDataSize);
    a[10 + kRawBattery] = d.fields.BatteryStatus;
}

void BuildAnswer(const SimDevice& d, uint8_t* a, const char** record) {
    std::memset(a, 0, kSimReportSize);
    a[0] = 2;
    *record = nullptr;
    if (!d.debugMode) {
        std::memcpy(a + 1, d.tags[d.useSecondTag ? 1 : 0], 4);
        BuildDriverInfo(d, a);
        return;
    }
    std::memcpy(a + 1, d.kind == SimKind::DriverBluetooth ? "DBGB" : "DBGU", 4);
    switch (d.answerFor[static_cast<int>(d.query)]) {
    case SimQuery::None: *record = "none"; break;
    case SimQuery::DebugInfo:
        *record = "INFO";
        BuildInfoRecord(d, a);
        break;
    case SimQuery::BthSupportInfo:
        *record = "BTSP";
        BuildBthSupportRecord(d, a);
        break;
    case SimQuery::DebugRawData:
        *record = "DRAW";
        BuildRawDataRecord(d, a);
        break;
    }
}

void AdvanceRawData(SimDevice& d) {
    ++d.rawQueries;
    if (!d.rawDrift)
        return;
    uint16_t counter = static_cast<uint16_t>(ReadU16LE(d.rawData + kRawCounter) + 1);
    WriteU16LE(d.rawData + kRawCounter, counter);
    // Motion noise of a controller lying on a desk: a few counts around the rest values.
    static const int8_t wobble[7] = {0, 2, -1, 3, -2, 1, -3};
    const uint16_t rest[4] = {0x01F2, 0x01EE, 0x0190, 0x01FA};
    for (uint32_t i = 0; i < 4; ++i) {
        uint16_t v = static_cast<uint16_t>(rest[i] + wobble[(counter + 2 * i) % 7]);
        d.rawData[kRawMotion + 2 * i] = static_cast<uint8_t>(v >> 8);
        d.rawData[kRawMotion + 2 * i + 1] = static_cast<uint8_t>(v);
    }
}

// ---- requests ----

const char* CommandName(uint32_t command) {
    switch (command) {
    case 1: return "SetDriverSettings";
    case 2: return "DisconnectLink";
    case 3: return "ReconnectLink";
    case 0x80000000u: return "EnterDebugMode";
    case 0x80000001u: return "LeaveDebugMode";
    case 0x80000006u: return "QueryDebugInfo";
    case 0x80000007u: return "QueryBthSupportInfo";
    case 0x80000008u: return "QueryDebugRawData";
    }
    return nullptr;
}

int AllZero(const uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (p[i] != 0)
            return 0;
    return 1;
}

// Checks a whole 256-byte request against the driver's rules and applies it. Returns null when
// it was accepted, else the reason it was rejected.
const char* ApplyRequest(SimDevice& d, const uint8_t* r, std::string* detail) {
    if (r[0] != 2)
        return "report-id";
    if (std::memcmp(r + 1, "PWRQ", 4) != 0)
        return "signature";
    if (!(r[5] == 0 && r[6] == 0 && r[7] == 0 && r[8] == 1))
        return "protocol-version";
    if (!AllZero(r + kRequestEnd, kSimReportSize - kRequestEnd))
        return "bytes-after-108";
    uint32_t command = ReadU32LE(r + 9);
    uint32_t checksum = ReadU32LE(r + 13);
    uint32_t mask = ReadU32LE(r + 17);
    if (CommandName(command) == nullptr)
        return "unknown-command";
    if (command == 1) {
        if (mask == 0 || (mask & ~kMaxFieldMask) != 0)
            return "field-mask";
        uint32_t expected = SimChecksum(r);
        if (checksum != expected) {
            *detail = SimFormat(" expected=0x%08X", expected);
            return "checksum";
        }
        if (mask & kProfileBits) {
            std::memcpy(d.profileBody, r + 21, kSimProfileBodySize);
            d.profileMask = mask;
        }
        if (mask & kAutoFireBit)
            d.fields.AutoFireButtons = ReadU32LE(r + 105);
        return nullptr;
    }
    if (checksum != 0)
        return "checksum";
    if (mask != 0)
        return "field-mask";
    if (command == 2) {
        if (ReadU32LE(r + 53) != 1)
            return "disconnect-value";
        if (!AllZero(r + 21, 32) || !AllZero(r + 57, kRequestEnd - 57))
            return "body";
    } else if (!AllZero(r + 21, kRequestEnd - 21)) {
        return "body";
    }
    switch (command) {
    case 2:
    case 3:
        if (d.kind != SimKind::DriverBluetooth)
            return "not-bluetooth";
        d.linkConnected = command == 3;
        d.fields.DriverStatus = command == 3 ? kStatusBthRunning : kStatusBthDisconnectedByUser;
        return nullptr;
    case 0x80000000u: d.debugMode = 1; return nullptr;
    case 0x80000001u:
        if (!d.faults.stuckDebug) {
            d.debugMode = 0;
            d.query = SimQuery::None;
        }
        return nullptr;
    default: break;
    }
    if (!d.debugMode)
        return "not-in-debug-mode";
    if (command == 0x80000006u) {
        d.query = SimQuery::DebugInfo;
        ++d.infoQueries;
        static const int64_t steps[4] = {1530, 1210, 2470, 1990};
        for (int i = 0; i < 4 && d.infoDrift; ++i)
            d.threadTimes[i] += steps[i];
    } else if (command == 0x80000007u) {
        d.query = SimQuery::BthSupportInfo;
    } else {
        d.query = SimQuery::DebugRawData;
        AdvanceRawData(d);
    }
    return nullptr;
}

// A write's log line: what it asked for, how it ended (`outcome`), and its bytes 0..108.
std::string WriteLine(const std::string& who, const uint8_t* buffer, uint32_t length,
                      const std::string& outcome) {
    std::string line = "SET " + who;
    if (buffer != nullptr && length >= 21) {
        uint32_t command = ReadU32LE(buffer + 9);
        const char* name = CommandName(command);
        line += name != nullptr ? SimFormat(" cmd=%s", name) : SimFormat(" cmd=0x%08X", command);
        line += SimFormat(" mask=0x%08X", ReadU32LE(buffer + 17));
    }
    line += outcome;
    if (buffer != nullptr)
        line += " bytes=" + HexBytes(buffer, length < kRequestEnd ? length : kRequestEnd);
    return line;
}

// Why a request fails before the driver judges it; null when it reaches the driver.
const char* BufferFault(const uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr)
        return "null-buffer";
    return length != kSimReportSize ? "length" : nullptr;
}

const char* ReadFault(const SimDevice& d, const uint8_t* buffer, uint32_t length) {
    if (const char* fault = BufferFault(buffer, length))
        return fault;
    if (buffer[0] != 2)
        return "report-id";
    if (!SimIsDriverDevice(d))
        return "no-report-2";
    return d.faults.refuseRead ? "refused" : nullptr;
}

const char* WriteFault(const SimDevice& d, const uint8_t* buffer, uint32_t length) {
    if (const char* fault = BufferFault(buffer, length))
        return fault;
    if (!SimIsDriverDevice(d))
        return "no-report-2";
    if (d.faults.failWrite || (d.faults.failSettings && ReadU32LE(buffer + 9) == 1))
        return "fault";
    return nullptr;
}

} // namespace

// ---- checksum ----

uint32_t SimChecksum(const uint8_t* request) {
    uint8_t scratch[kSimReportSize] = {};
    std::memcpy(scratch, request + 1, kRequestEnd - 1);
    std::memset(scratch + 12, 0, 4); // the Checksum field counts as 0
    uint32_t h = 0;
    for (uint32_t i = 0; i < kSimReportSize / 4; ++i) {
        h = (h << 1) | (h >> 31);
        h ^= ReadU32LE(scratch + 4 * i);
    }
    return h;
}

// ---- requests on one device ----

std::string SimGetFailedLine(const std::string& who, const char* reason) {
    return SimFormat("GET %s failed reason=%s", who.c_str(), reason);
}

std::string SimSetFailedLine(const std::string& who, const uint8_t* buffer, uint32_t length,
                             const char* reason) {
    return WriteLine(who, buffer, length, std::string(" failed reason=") + reason);
}

int SimModelGetFeature(SimDevice& d, const std::string& who, uint8_t* buffer, uint32_t length,
                       std::string* line) {
    const char* reason = ReadFault(d, buffer, length);
    if (reason != nullptr) {
        *line = SimGetFailedLine(who, reason);
        return 0;
    }
    uint8_t answer[kSimReportSize];
    const char* record = nullptr;
    BuildAnswer(d, answer, &record);
    std::memcpy(buffer, answer, kSimReportSize);
    ++d.reads;
    *line = SimFormat("GET dev=%u ok tag=%s", d.id, Tag(reinterpret_cast<char*>(answer + 1)).c_str());
    if (record != nullptr)
        *line += SimFormat(" record=%s", record);
    return 1;
}

int SimModelSetFeature(SimDevice& d, const std::string& who, const uint8_t* buffer, uint32_t length,
                       std::string* line) {
    const char* reason = WriteFault(d, buffer, length);
    if (reason != nullptr) {
        *line = SimSetFailedLine(who, buffer, length, reason);
        return 0;
    }
    std::string detail;
    const char* rejected = ApplyRequest(d, buffer, &detail);
    if (rejected != nullptr) {
        ++d.rejectedWrites;
        *line = WriteLine(who, buffer, length, std::string(" rejected reason=") + rejected + detail);
        return 0;
    }
    ++d.acceptedWrites;
    *line = WriteLine(who, buffer, length, " ok");
    return 1;
}

void SimDelayAnswer(const std::function<const SimDevice*()>& find) {
    for (;;) {
        SimFaults f;
        {
            std::lock_guard<std::mutex> hold(SimLock());
            const SimDevice* d = find();
            if (d == nullptr)
                return;
            f = d->faults;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(f.hang ? 10 : f.slowMs));
        if (!f.hang)
            return;
    }
}
