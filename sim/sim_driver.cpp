#include "sim/sim_driver.h"

#include "app/bytes.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRequestEnd = 109; // bytes 0..108 carry a request
constexpr uint32_t kRecordEnd = 81;
constexpr uint32_t kMaxFieldMask = 0x000FFFFF;
constexpr uint32_t kProfileBits = 0x0007FFFF;
constexpr uint32_t kAutoFireBit = 0x00080000;
constexpr uint32_t kStatusBthDisconnectedByUser = 17;
constexpr uint32_t kStatusBthRunning = 18;
constexpr uint32_t kMaxSlowMs = 10000;
constexpr uint32_t kMaxTraceUnits = 4096;

// RawData layout, after the controller's own input report (id 1) without its id byte.
constexpr uint32_t kRawPlugState = 28;
constexpr uint32_t kRawBattery = 29;
constexpr uint32_t kRawConnection = 30;
constexpr uint32_t kRawCounter = 34; // u16, one step per QueryDebugRawData
constexpr uint32_t kRawMotion = 40;  // four big-endian u16: accelerometer x, y, z, gyro

constexpr const char* kHidClassGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

struct HandleRecord {
    uint32_t deviceId = 0;
    uint32_t generation = 0;
};

struct HidListEntry {
    std::string path;
    std::string parentInstanceId;
    uint32_t deviceId = 0;
};

struct Simulator {
    std::mutex lock;
    std::vector<SimDevice> devices; // present or not; removed ones are erased
    std::map<uint32_t, Clock::time_point> comebacks;
    std::map<uint32_t, HandleRecord> handles;
    std::map<uint32_t, std::vector<HidListEntry>> hidLists;
    std::map<uint32_t, std::vector<std::string>> presentLists;
    uint32_t nextDeviceId = 1;
    uint32_t idBase = 0;
    uint32_t nextId = 1;
    uint32_t setVersion = 0;
    uint32_t badCloses = 0;
    int32_t hidListFails = 0;
    // The device installer keeps its elements in an order of its own: reversed, element i is the
    // one behind interface n-1-i.
    int32_t elementsReversed = 0;
    int32_t presentListFails = 0;
    uint32_t restartDelayMs = 0;
    std::deque<std::string> log;
    FILE* logFile = nullptr;
    std::vector<std::u16string> traces;
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

// ---- small text helpers ----

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return std::string();
    return std::string(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

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

// ---- state helpers (the lock is held) ----

void Log(Simulator& s, const std::string& line) {
    s.log.push_back(line);
    while (s.log.size() > kSimMaxLogLines)
        s.log.pop_front();
    if (s.logFile != nullptr) {
        std::fputs(line.c_str(), s.logFile);
        std::fputc('\n', s.logFile);
        std::fflush(s.logFile);
    }
}

SimDevice* FindDevice(Simulator& s, uint32_t id) {
    for (SimDevice& d : s.devices)
        if (d.id == id)
            return &d;
    return nullptr;
}

uint32_t NewId(Simulator& s) {
    uint32_t id = s.idBase + s.nextId++;
    if (id == 0 || id == 0xFFFFFFFFu) {
        s.nextId = 1;
        id = s.idBase + s.nextId++;
    }
    return id;
}

const char* KindName(SimKind kind) {
    switch (kind) {
    case SimKind::DriverUsb: return "usb";
    case SimKind::DriverBluetooth: return "bth";
    case SimKind::ForeignJoystick: return "foreign-joystick";
    case SimKind::NonJoystick: return "non-joystick";
    }
    return "?";
}

int IsDriverDevice(const SimDevice& d) {
    return d.kind == SimKind::DriverUsb || d.kind == SimKind::DriverBluetooth;
}

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

void MakeDevice(SimDevice& d, SimKind kind, uint32_t id) {
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
    if (IsDriverDevice(d)) {
        f.DriverVersionMajor = 1;
        f.DriverVersionMinor = 0;
        f.DriverVersionType = 5;
        f.DriverVersionBuild = 1520;
        f.DriverSettingTagId = 1;
    }
    d.path = Format("\\\\?\\hid#%s#sim%u#%s", vidPid, id, kHidClassGuid);
    d.parentInstanceId = Format("%s\\SIM%04u", parent, id);
    std::string hid = parent;
    hid.replace(0, 3, "HID");
    d.hidInstanceId = Format("%s\\SIM%04u", hid.c_str(), id);
    ResetRawData(d);
    ResetDebugRecords(d);
}

// What a driver restart forgets: the session, not the configuration.
void ForgetSession(SimDevice& d) {
    d.debugMode = 0;
    d.query = SimQuery::None;
    if (d.kind == SimKind::DriverBluetooth && !d.linkConnected)
        d.fields.DriverStatus = kStatusBthRunning;
    d.linkConnected = 1;
}

void MarkGone(Simulator& s, SimDevice& d) {
    d.present = 0;
    ++d.generation;
    ++s.setVersion;
    Log(s, Format("GONE dev=%u", d.id));
}

void MarkBack(Simulator& s, SimDevice& d) {
    s.comebacks.erase(d.id);
    ForgetSession(d);
    d.present = 1;
    ++s.setVersion;
    Log(s, Format("BACK dev=%u", d.id));
}

void PumpLocked(Simulator& s) {
    if (s.comebacks.empty())
        return;
    Clock::time_point now = Clock::now();
    std::vector<uint32_t> due;
    for (const auto& [id, when] : s.comebacks)
        if (when <= now)
            due.push_back(id);
    for (uint32_t id : due) {
        SimDevice* d = FindDevice(s, id);
        if (d != nullptr)
            MarkBack(s, *d);
        else
            s.comebacks.erase(id);
    }
}

int RestartLocked(Simulator& s, SimDevice& d) {
    if (!d.present || d.faults.failRestart)
        return 0;
    ++d.restarts;
    MarkGone(s, d);
    ForgetSession(d);
    if (s.restartDelayMs == 0)
        MarkBack(s, d);
    else
        s.comebacks[d.id] = Clock::now() + std::chrono::milliseconds(s.restartDelayMs);
    return 1;
}

// The device behind a live handle; null (and `reason` set) when the handle is unknown or dead.
SimDevice* LiveDevice(Simulator& s, uint32_t handle, const char** reason, uint32_t* deviceId) {
    auto h = s.handles.find(handle);
    *deviceId = 0;
    if (h == s.handles.end()) {
        *reason = "bad-handle";
        return nullptr;
    }
    *deviceId = h->second.deviceId;
    SimDevice* d = FindDevice(s, h->second.deviceId);
    if (d == nullptr || !d->present || d->generation != h->second.generation) {
        *reason = "dead-handle";
        return nullptr;
    }
    return d;
}

std::string WhoLocked(uint32_t handle, uint32_t deviceId) {
    return deviceId != 0 ? Format("dev=%u", deviceId) : Format("handle=%u", handle);
}

uint32_t SlowMsOf(Simulator& s, uint32_t handle) {
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    return d != nullptr ? d->faults.slowMs : 0;
}

void SleepMs(uint32_t ms) {
    if (ms != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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
            *detail = Format(" expected=0x%08X", expected);
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

// ---- control ----

void SimReset() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.devices.clear();
    s.comebacks.clear();
    s.handles.clear();
    s.hidLists.clear();
    s.presentLists.clear();
    s.nextDeviceId = 1;
    ++s.setVersion; // handle and list numbers go on counting: a stale handle never names a new one
    s.badCloses = 0;
    s.hidListFails = 0;
    s.elementsReversed = 0;
    s.presentListFails = 0;
    s.restartDelayMs = 0;
    s.log.clear();
    s.traces.clear();
}

uint32_t SimAddDevice(SimKind kind) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.devices.size() >= kSimMaxDevices)
        return 0;
    s.devices.emplace_back();
    SimDevice& d = s.devices.back();
    MakeDevice(d, kind, s.nextDeviceId++);
    ++s.setVersion;
    Log(s, Format("ADD dev=%u kind=%s path=%s parent=%s", d.id, KindName(kind), d.path.c_str(),
                  d.parentInstanceId.c_str()));
    return d.id;
}

int SimRemoveDevice(uint32_t id) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    for (size_t i = 0; i < s.devices.size(); ++i) {
        if (s.devices[i].id != id)
            continue;
        s.devices.erase(s.devices.begin() + static_cast<std::ptrdiff_t>(i));
        s.comebacks.erase(id);
        ++s.setVersion;
        Log(s, Format("REMOVE dev=%u", id));
        return 1;
    }
    return 0;
}

int SimSetPresent(uint32_t id, int present) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    SimDevice* d = FindDevice(s, id);
    if (d == nullptr)
        return 0;
    if (present && !d->present) {
        ++d->generation;
        MarkBack(s, *d);
    } else if (!present && d->present) {
        s.comebacks.erase(id);
        MarkGone(s, *d);
    } else if (!present) {
        s.comebacks.erase(id); // an unplug during a restart keeps it away
    }
    return 1;
}

int SimGetDevice(uint32_t id, SimDevice* out) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    SimDevice* d = FindDevice(s, id);
    if (d == nullptr || out == nullptr)
        return 0;
    *out = *d;
    return 1;
}

int SimUpdateDevice(uint32_t id, const std::function<void(SimDevice&)>& edit) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    SimDevice* d = FindDevice(s, id);
    if (d == nullptr)
        return 0;
    SimKind kind = d->kind;
    uint32_t generation = d->generation;
    int32_t present = d->present;
    edit(*d);
    d->id = id;
    d->kind = kind;
    d->generation = generation;
    d->present = present;
    if (d->faults.slowMs > kMaxSlowMs)
        d->faults.slowMs = kMaxSlowMs;
    return 1;
}

int SimSetFaults(uint32_t id, const SimFaults& faults) {
    return SimUpdateDevice(id, [&faults](SimDevice& d) { d.faults = faults; });
}

void SimSetListFaults(int hidListFails, int presentListFails) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.hidListFails = hidListFails;
    s.presentListFails = presentListFails;
}

void SimSetRestartDelay(uint32_t ms) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.restartDelayMs = ms;
}

int SimRestartDevice(uint32_t id) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    SimDevice* d = FindDevice(s, id);
    return d != nullptr ? RestartLocked(s, *d) : 0;
}

void SimPump() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
}

uint32_t SimDeviceSetVersion() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.setVersion;
}

void SimSetIdBase(uint32_t base) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.idBase = base;
}

std::vector<std::string> SimLogLines() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return std::vector<std::string>(s.log.begin(), s.log.end());
}

void SimClearLog() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.log.clear();
}

void SimLogNote(const std::string& line) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    Log(s, line);
}

int SimSetLogFile(const char* path) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.logFile != nullptr) {
        std::fclose(s.logFile);
        s.logFile = nullptr;
    }
    if (path == nullptr || path[0] == 0)
        return 1;
    s.logFile = std::fopen(path, "ab");
    return s.logFile != nullptr;
}

std::vector<std::u16string> SimTraceTexts() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.traces;
}

uint32_t SimOpenHandleCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return static_cast<uint32_t>(s.handles.size());
}

uint32_t SimOpenListCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return static_cast<uint32_t>(s.hidLists.size() + s.presentLists.size());
}

uint32_t SimBadCloseCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.badCloses;
}

// ---- handle level ----

uint32_t SimOpenHidList() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    if (s.hidListFails) {
        Log(s, "LIST hid failed");
        return 0;
    }
    uint32_t id = NewId(s);
    std::vector<HidListEntry>& entries = s.hidLists[id];
    for (const SimDevice& d : s.devices)
        if (d.present)
            entries.push_back(HidListEntry{d.path, d.parentInstanceId, d.id});
    Log(s, Format("LIST hid list=%u count=%u", id, static_cast<uint32_t>(entries.size())));
    return id;
}

// Element `index` of an open list, or null past its end or for a list that is not open.
template <typename Lists>
const typename Lists::mapped_type::value_type* ListEntry(Lists& lists, uint32_t list, uint32_t index) {
    auto l = lists.find(list);
    if (l == lists.end() || index >= l->second.size())
        return nullptr;
    return &l->second[index];
}

EnumResult SimHidListPath(uint32_t list, uint32_t index, std::string* path) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    const HidListEntry* e = ListEntry(s.hidLists, list, index);
    if (e == nullptr)
        return EnumResult::End;
    if (path != nullptr)
        *path = e->path;
    return EnumResult::Found;
}

void SimSetElementOrder(int reversed) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.elementsReversed = reversed ? 1 : 0;
}

int SimHidListElement(uint32_t list, uint32_t index, uint32_t* element) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    auto l = s.hidLists.find(list);
    if (l == s.hidLists.end() || index >= l->second.size() || element == nullptr)
        return 0;
    const uint32_t n = static_cast<uint32_t>(l->second.size());
    *element = s.elementsReversed ? n - 1 - index : index;
    return 1;
}

int SimHidListParent(uint32_t list, uint32_t element, std::string* instanceId) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    auto l = s.hidLists.find(list);
    if (l == s.hidLists.end() || element >= l->second.size() || instanceId == nullptr)
        return 0;
    const uint32_t n = static_cast<uint32_t>(l->second.size());
    const HidListEntry& e = l->second[s.elementsReversed ? n - 1 - element : element];
    SimDevice* d = FindDevice(s, e.deviceId);
    if (d == nullptr || !d->present || d->faults.noParent)
        return 0;
    *instanceId = e.parentInstanceId;
    return 1;
}

// Closing a list that is not open counts as a bad close, like a double CloseHandle.
template <typename Lists> int CloseListLocked(Simulator& s, Lists& lists, uint32_t list) {
    if (lists.erase(list) == 0) {
        ++s.badCloses;
        Log(s, Format("CLOSE list=%u unknown", list));
        return 0;
    }
    return 1;
}

int SimCloseHidList(uint32_t list) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return CloseListLocked(s, s.hidLists, list);
}

uint32_t SimOpenDevice(const std::string& path) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    for (const SimDevice& d : s.devices) {
        if (!d.present || d.path != path)
            continue;
        uint32_t id = NewId(s);
        s.handles[id] = HandleRecord{d.id, d.generation};
        Log(s, Format("OPEN dev=%u handle=%u", d.id, id));
        return id;
    }
    Log(s, "OPEN path=" + path + " failed");
    return 0;
}

int SimGetUsage(uint32_t handle, uint16_t* usagePage, uint16_t* usage) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    if (d == nullptr || d->faults.noCaps || usagePage == nullptr || usage == nullptr)
        return 0;
    *usagePage = d->usagePage;
    *usage = d->usage;
    return 1;
}

namespace {

// The device behind a relayed request: a present device with that number, else null with `reason`.
SimDevice* PresentDevice(Simulator& s, uint32_t id, const char** reason) {
    SimDevice* d = FindDevice(s, id);
    if (d == nullptr || !d->present) {
        *reason = "no-device";
        return nullptr;
    }
    return d;
}

uint32_t SlowMsOfDevice(Simulator& s, uint32_t id) {
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    SimDevice* d = FindDevice(s, id);
    return d != nullptr && d->present ? d->faults.slowMs : 0;
}

// A read on `d` (null: `reason` says why there is none), logged under `who`. The lock is held.
int GetFeatureLocked(Simulator& s, SimDevice* d, const char* reason, const std::string& who, uint8_t* buffer,
                     uint32_t length) {
    if (d != nullptr) {
        if (buffer == nullptr)
            reason = "null-buffer";
        else if (length != kSimReportSize)
            reason = "length";
        else if (buffer[0] != 2)
            reason = "report-id";
        else if (!IsDriverDevice(*d))
            reason = "no-report-2";
        else if (d->faults.refuseRead)
            reason = "refused";
    }
    if (reason != nullptr) {
        Log(s, Format("GET %s failed reason=%s", who.c_str(), reason));
        return 0;
    }
    uint8_t answer[kSimReportSize];
    const char* record = nullptr;
    BuildAnswer(*d, answer, &record);
    std::memcpy(buffer, answer, kSimReportSize);
    ++d->reads;
    std::string line =
        Format("GET dev=%u ok tag=%s", d->id, Tag(reinterpret_cast<char*>(answer + 1)).c_str());
    if (record != nullptr)
        line += Format(" record=%s", record);
    Log(s, line);
    return 1;
}

// A write on `d`, as GetFeatureLocked.
int SetFeatureLocked(Simulator& s, SimDevice* d, const char* reason, const std::string& who,
                     const uint8_t* buffer, uint32_t length) {
    std::string head = "SET " + who;
    std::string bytes;
    if (buffer != nullptr && length >= 21) {
        uint32_t command = ReadU32LE(buffer + 9);
        const char* name = CommandName(command);
        head += name != nullptr ? Format(" cmd=%s", name) : Format(" cmd=0x%08X", command);
        head += Format(" mask=0x%08X", ReadU32LE(buffer + 17));
    }
    if (buffer != nullptr)
        bytes = " bytes=" + HexBytes(buffer, length < kRequestEnd ? length : kRequestEnd);
    if (d != nullptr) {
        if (buffer == nullptr)
            reason = "null-buffer";
        else if (length != kSimReportSize)
            reason = "length";
        else if (!IsDriverDevice(*d))
            reason = "no-report-2";
        else if (d->faults.failWrite)
            reason = "fault";
        else if (d->faults.failSettings && length >= 13 && ReadU32LE(buffer + 9) == 1)
            reason = "fault";
    }
    if (reason != nullptr) {
        Log(s, head + " failed reason=" + reason + bytes);
        return 0;
    }
    std::string detail;
    const char* rejected = ApplyRequest(*d, buffer, &detail);
    if (rejected != nullptr) {
        ++d->rejectedWrites;
        Log(s, head + " rejected reason=" + rejected + detail + bytes);
        return 0;
    }
    ++d->acceptedWrites;
    Log(s, head + " ok" + bytes);
    return 1;
}

} // namespace

int SimGetFeature(uint32_t handle, uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    SleepMs(SlowMsOf(s, handle));
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    return GetFeatureLocked(s, d, reason, WhoLocked(handle, deviceId), buffer, length);
}

int SimSetFeature(uint32_t handle, const uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    SleepMs(SlowMsOf(s, handle));
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    return SetFeatureLocked(s, d, reason, WhoLocked(handle, deviceId), buffer, length);
}

// ---- device level ----

int SimDeviceGetFeature(uint32_t id, uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    SleepMs(SlowMsOfDevice(s, id));
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    SimDevice* d = PresentDevice(s, id, &reason);
    return GetFeatureLocked(s, d, reason, Format("dev=%u", id), buffer, length);
}

int SimDeviceSetFeature(uint32_t id, const uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    SleepMs(SlowMsOfDevice(s, id));
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    SimDevice* d = PresentDevice(s, id, &reason);
    return SetFeatureLocked(s, d, reason, Format("dev=%u", id), buffer, length);
}

int SimDeviceUsage(uint32_t id, uint16_t* usagePage, uint16_t* usage) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    const char* reason = nullptr;
    SimDevice* d = PresentDevice(s, id, &reason);
    if (d == nullptr || usagePage == nullptr || usage == nullptr)
        return 0;
    *usagePage = d->usagePage;
    *usage = d->usage;
    return 1;
}

std::vector<uint32_t> SimPresentDevices() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    std::vector<uint32_t> ids;
    for (const SimDevice& d : s.devices)
        if (d.present)
            ids.push_back(d.id);
    return ids;
}

int SimCloseDevice(uint32_t handle) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    auto h = s.handles.find(handle);
    if (h == s.handles.end()) {
        ++s.badCloses;
        Log(s, Format("CLOSE handle=%u unknown", handle));
        return 0;
    }
    Log(s, Format("CLOSE handle=%u dev=%u", handle, h->second.deviceId));
    s.handles.erase(h);
    return 1;
}

uint32_t SimOpenPresentList() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    if (s.presentListFails) {
        Log(s, "LIST present failed");
        return 0;
    }
    uint32_t id = NewId(s);
    std::vector<std::string>& ids = s.presentLists[id];
    ids = {"ROOT\\SYSTEM\\0000", "ROOT\\SYSTEM\\0001", "ACPI\\PNP0A08\\0",
           "PCI\\VEN_8086&DEV_1E31&SUBSYS_00000000&REV_04\\3&11583659&0&A0",
           "USB\\ROOT_HUB30\\4&2A3B4C5D&0&0"};
    for (const SimDevice& d : s.devices) {
        if (!d.present)
            continue;
        // A lower-case twin ahead of each driver parent: a compare that ignores case restarts
        // the twin, and the device visibly does not restart.
        if (IsDriverDevice(d)) {
            std::string twin = d.parentInstanceId;
            for (char& c : twin)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            if (twin != d.parentInstanceId)
                ids.push_back(twin);
        }
        ids.push_back(d.parentInstanceId);
        ids.push_back(d.hidInstanceId);
    }
    Log(s, Format("LIST present list=%u count=%u", id, static_cast<uint32_t>(ids.size())));
    return id;
}

EnumResult SimPresentListId(uint32_t list, uint32_t index, std::string* instanceId) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    const std::string* id = ListEntry(s.presentLists, list, index);
    if (id == nullptr)
        return EnumResult::End;
    if (instanceId != nullptr)
        *instanceId = *id;
    return EnumResult::Found;
}

int SimRestartPresent(uint32_t list, uint32_t index) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    PumpLocked(s);
    auto l = s.presentLists.find(list);
    if (l == s.presentLists.end() || index >= l->second.size())
        return 0;
    const std::string& id = l->second[index];
    for (SimDevice& d : s.devices) {
        if (d.parentInstanceId != id && d.hidInstanceId != id)
            continue;
        if (d.present && d.faults.needRestart) {
            Log(s, Format("RESTART id=%s dev=%u needs-restart", id.c_str(), d.id));
            return kRestartPending;
        }
        int ok = RestartLocked(s, d);
        Log(s, Format("RESTART id=%s dev=%u %s", id.c_str(), d.id, ok ? "ok" : "failed"));
        return ok;
    }
    Log(s, Format("RESTART id=%s ok", id.c_str())); // a node with nothing of ours on it
    return 1;
}

int SimClosePresentList(uint32_t list) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    return CloseListLocked(s, s.presentLists, list);
}

void SimTrace(const std::u16string& text) {
    std::u16string bounded = text.substr(0, kMaxTraceUnits);
    std::string line = "TRACE " + SimUtf16ToUtf8(bounded.c_str(), bounded.size());
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(s.lock);
    s.traces.push_back(bounded);
    Log(s, line);
}

// ---- text ----

std::string SimUtf16ToUtf8(const Utf16* text, size_t maxUnits) {
    std::string out;
    if (text == nullptr)
        return out;
    for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string SimUtf8ToUtf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        uint8_t b = static_cast<uint8_t>(text[i++]);
        size_t extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 4;
        uint32_t c = 0xFFFD;
        if (extra == 0) {
            c = b;
        } else if (extra < 4) {
            c = b & (0x3Fu >> extra);
            for (size_t k = 0; k < extra; ++k) {
                if (i >= text.size() || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
                    c = 0xFFFD;
                    break;
                }
                c = (c << 6) | (static_cast<uint8_t>(text[i++]) & 0x3F);
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}
