// The simulated controller driver: a set of HID devices, some of them the driver's, that answer
// the Control report byte for byte as the driver does. One simulator per process, guarded by one
// mutex, so that the Monitor thread and the main thread may call it at once.
//
// Two kinds of callers:
// - the device ports (device_port_native.cpp in-process, ds3sim.exe over a pipe) use the handle-level
//   calls (SimOpenHidList ... SimTrace), which behave like the platform's HID and device-installer
//   services and log every request;
// - tests and scripts use the control calls (SimReset, SimAddDevice, SimUpdateDevice, faults,
//   log, SimRunCommand) to shape the devices and to read what the tool sent.
//
// Where it lives: sim_model.cpp is the controller model (answers and what a request does to one
// device), sim_system.cpp the device table, handles, lists and restarts around it, sim_log.cpp the
// request log, the traces and the text conversions.
//
// Device ids are 1, 2, 3 ... in the order of SimAddDevice since the last SimReset. Handle and list
// ids are nonzero numbers, never reused within one process (not even across SimReset).
//
// What the driver does with each request (the choices the driver leaves open):
// - a read answers 256 bytes: report id 2, the tag, then in normal mode the Driver information
//   record (bytes 58..255 zero), in debug mode the record of the last query command (or zeros
//   when none was given since EnterDebugMode);
// - a write must be 256 bytes with report id 2, "PWRQ", version 00 00 00 01, bytes 109..255 zero;
//   SetDriverSettings needs a correct checksum and a FieldMask that is nonzero and within bits
//   0..19; every other command needs checksum 0, mask 0 and an empty body (DisconnectLink: the
//   value 1 at bytes 53..56 and nothing else). Anything else fails the write and is logged as
//   rejected with its reason;
// - FieldMask bits 0..18 store body bytes 21..108 as the last profile body; bit 19 sets
//   AutoFireButtons from bytes 105..108;
// - DisconnectLink and ReconnectLink work on Bluetooth devices only (a USB device fails them).
//   Disconnect sets DriverStatus 17 "Disconnect by user"; reconnect sets 18 "Running";
// - query commands are accepted only in debug mode; LeaveDebugMode is always accepted;
// - each QueryDebugRawData advances a sample counter in RawData bytes 34..35 and lets the motion
//   bytes drift, so the battery log (RawData 25..39) sees a change per query unless rawDrift is 0;
// - a node restart makes the device vanish (handles opened before are dead for good), then come
//   back after the restart delay with a new generation: debug mode off, no query selected, the
//   Bluetooth link connected again (status 18 when it was 17). Configured fields stay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/device_port.h"

enum class SimKind : uint8_t {
    DriverUsb,       // tags "DS3U" / "DS3D", usage page 1 usage 4
    DriverBluetooth, // tags "DS3B" / "DS3X", usage page 1 usage 4
    ForeignJoystick, // usage page 1 usage 4, rejects report id 2 (reads and writes fail)
    NonJoystick,     // usage page 1 usage 2 by default (set usage 0xFF00 1 for a vendor page)
};

enum class SimQuery : uint8_t { None, DebugInfo, BthSupportInfo, DebugRawData };

constexpr uint32_t kSimReportSize = 256;
constexpr uint32_t kSimProfileBodySize = 88; // request bytes 21..108
constexpr uint32_t kSimRawDataSize = 48;
constexpr uint32_t kSimMaxDevices = 32;
constexpr uint32_t kSimMaxLogLines = 100000; // the oldest lines are dropped beyond this

// The Driver information record's fields, with the driver's labels.
struct SimDriverFields {
    uint8_t DriverVersionMajor = 0;
    uint8_t DriverVersionMinor = 0;
    uint8_t DriverVersionType = 0;
    uint16_t DriverVersionBuild = 0;
    uint32_t DriverModeFlags = 0;
    uint32_t DriverStatus = 0;
    uint32_t ErrorCode = 0;
    uint8_t HCI_Version = 0;
    uint16_t HCI_Revision = 0;
    uint8_t LMP_Version = 0;
    uint16_t LMP_Subversion = 0;
    uint16_t Manufacturer_ID = 0;
    uint8_t Adapter_BDADDR[6] = {};
    uint8_t Remote_BDADDR[6] = {};
    int8_t MaxTransmitPowerLevel = 0;
    int8_t CurrentTransmitPowerLevel = 0;
    uint8_t LinkQuality = 0;
    uint8_t BatteryStatus = 0;
    uint8_t ReceiverSensitivity = 0;
    uint16_t MotorStatus = 0;
    uint8_t AutoFireSpeedSelector = 0;
    uint32_t AutoFireButtons = 0;
    uint32_t DriverSettingTagId = 0;
};

struct SimFaults {
    int32_t refuseRead = 0;  // every read fails
    int32_t failWrite = 0;   // every write fails (logged as failed, state untouched)
    uint32_t slowMs = 0;     // every read and write answers this much later
    int32_t hang = 0;        // every read and write waits until the fault is cleared or the device goes
    int32_t stuckDebug = 0;  // LeaveDebugMode succeeds but the device stays in debug mode
    int32_t failRestart = 0; // restarting this device's node fails (class installer error)
    int32_t noParent = 0;    // the parent lookup of this device's interface fails
    int32_t noCaps = 0;      // the usage (preparsed data / caps) cannot be read
    int32_t needRestart = 0; // the class installer succeeds but asks for a system restart instead

    // SetDriverSettings writes (profiles, auto-fire) fail; every other write passes.
    int32_t failSettings = 0;
};

struct SimDevice {
    uint32_t id = 0;
    SimKind kind = SimKind::DriverUsb;
    std::string path;             // interface path, e.g. \\?\hid#vid_054c&pid_0268#sim1#{4d1e55b2-...}
    std::string parentInstanceId; // e.g. USB\VID_054C&PID_0268\SIM0001
    std::string hidInstanceId;    // the HID node itself, e.g. HID\VID_054C&PID_0268\SIM0001
    // The parent node exposes no device interface (a Bluetooth node does not), so only the list of
    // every present node holds it.
    int32_t parentWithoutInterface = 0;
    int32_t present = 1;
    uint32_t generation = 1; // bumped by every restart and re-plug; older handles are dead
    uint32_t restarts = 0;
    char tags[2][4] = {};     // normal-mode tag pair
    int32_t useSecondTag = 0; // answer with tags[1] instead of tags[0]
    uint16_t usagePage = 1;
    uint16_t usage = 4;
    SimDriverFields fields;
    int32_t debugMode = 0;
    SimQuery query = SimQuery::None;
    int32_t linkConnected = 1; // Bluetooth only
    uint32_t profileMask = 0;  // FieldMask of the last stored profile body; 0 = none yet
    uint8_t profileBody[kSimProfileBodySize] = {};
    uint8_t rawData[kSimRawDataSize] = {};
    int32_t rawDrift = 1; // each QueryDebugRawData changes RawData 25..39
    uint32_t rawQueries = 0;
    uint32_t infoQueries = 0;
    uint32_t acceptedWrites = 0;
    uint32_t rejectedWrites = 0;
    uint32_t reads = 0;
    SimFaults faults;
    // Contents of the INFO and BTSP debug records. Each QueryDebugInfo adds a step to every thread
    // time while infoDrift is on.
    uint32_t featureFlag = 0;
    int64_t performanceFrequency = 0;
    int64_t threadTimes[4] = {};
    int32_t infoDrift = 1;
    uint8_t supportedCommands[64] = {};
    uint8_t supportedFeatures[8] = {};
    // The record that answers each query, indexed by SimQuery: a driver may answer a query with
    // a record of another kind.
    SimQuery answerFor[4] = {SimQuery::None, SimQuery::DebugInfo, SimQuery::BthSupportInfo,
                             SimQuery::DebugRawData};
};

// ---- control: tests and scripts ----

// Removes every device, forgets every handle and list (without counting them as leaks), clears
// the in-memory log, the traces and the list faults, and sets the restart delay to 0 (immediate
// comeback). A log file stays open.
void SimReset();
// A device of `kind` with the defaults of its kind; returns its id, 0 when kSimMaxDevices exist.
uint32_t SimAddDevice(SimKind kind);
// Removed for good: gone from every list, its handles dead. 0 when there is no such device.
int SimRemoveDevice(uint32_t id);
// Unplug (0) or plug in again (1, fresh state as after a restart).
int SimSetPresent(uint32_t id, int present);
// Copy of the device's current state; 0 when there is no such device.
int SimGetDevice(uint32_t id, SimDevice* out);
// Runs `edit` on the device under the simulator's lock, so `edit` must not call the simulator
// (id, kind, generation and present are restored afterwards). 0 when there is no such device.
int SimUpdateDevice(uint32_t id, const std::function<void(SimDevice&)>& edit);
int SimSetFaults(uint32_t id, const SimFaults& faults);
// Lists the device elements in the reverse order of their interfaces (0: the same order).
void SimSetElementOrder(int reversed);
// Make OpenHidDeviceList / OpenPresentDeviceList fail.
void SimSetListFaults(int hidListFails, int presentListFails);
// How long a restarted node stays away: 0 = gone and back within the restart call.
void SimSetRestartDelay(uint32_t ms);
// The node restart the device installer would do; also reachable through SimRestartPresent.
int SimRestartDevice(uint32_t id);
// Brings back restarted devices whose delay has passed. Every handle-level call does this first;
// a server loop calls it to notice comebacks while no request arrives.
void SimPump();
// Incremented by every change of the present device set (add, remove, gone, back).
uint32_t SimDeviceSetVersion();
// Lets a server keep handle and list ids of different runs apart (ids start above it).
void SimSetIdBase(uint32_t base);

// The request log: one line per event. Kinds (first word):
//   GET dev=N ok tag=DS3U [record=INFO|BTSP|DRAW|none]
//   GET dev=N failed reason=...
//   SET dev=N cmd=NAME mask=0x........ ok|failed|rejected [reason=...] bytes=02 50 57 ... (0..108)
//   OPEN dev=N handle=H | OPEN path=... failed   CLOSE handle=H [dev=N] | CLOSE handle=H unknown
//   LIST hid|present [failed]   RESTART id=... ok|failed   TRACE text
//   ADD dev=N kind=... path=... parent=...   REMOVE dev=N   GONE dev=N   BACK dev=N
//   WATCH handle=H dev=N notify=K   UNWATCH notify=K dev=N | UNWATCH notify=K unknown
std::vector<std::string> SimLogLines();
void SimClearLog();
// A line of the caller's own in the log (a server notes its broadcasts, for instance).
void SimLogNote(const std::string& line);
// Also append each line to this file (flushed per line); null or empty stops the file log.
int SimSetLogFile(const char* path);
// Texts given to TraceDebugText, in order.
std::vector<std::u16string> SimTraceTexts();

// Leak checks: handles and lists opened and not yet closed (dead handles count until closed).
uint32_t SimOpenHandleCount();
uint32_t SimOpenListCount();
// Closes of an unknown or already closed handle or list.
uint32_t SimBadCloseCount();

enum class SimCommandResult { Failed, Done, Quit };
// One script line (see sim_script.cpp for the command set; '#' starts a comment). `reply` gets a
// short text for the operator: the new device id for "add", the reason of a failure.
SimCommandResult SimRunCommand(const char* line, std::string* reply);
// The command set, as printed by `ds3sim.exe --help`.
const char* SimScriptHelp();

// The driver's checksum over request bytes 1..108 (bytes 13..16 taken as they are).
uint32_t SimChecksum(const uint8_t* request);

// ---- handle level: what the device ports call ----

uint32_t SimOpenHidList(); // 0 when the list cannot be built
EnumResult SimHidListPath(uint32_t list, uint32_t index, std::string* path);
// The device element that owns interface `index`, and the parent of element `element`.
int SimHidListElement(uint32_t list, uint32_t index, uint32_t* element);
int SimHidListParent(uint32_t list, uint32_t element, std::string* instanceId);
int SimCloseHidList(uint32_t list);

uint32_t SimOpenDevice(const std::string& path); // 0 when no present device has the path
int SimGetUsage(uint32_t handle, uint16_t* usagePage, uint16_t* usage);
int SimGetFeature(uint32_t handle, uint8_t* buffer, uint32_t length);
int SimSetFeature(uint32_t handle, const uint8_t* buffer, uint32_t length);
int SimCloseDevice(uint32_t handle);

// withInterfaces 1: the nodes that expose an interface; 0: every present node.
uint32_t SimOpenPresentList(int withInterfaces = 1); // 0 when the list cannot be built
EnumResult SimPresentListId(uint32_t list, uint32_t index, std::string* instanceId);
// 1 restarted, 0 failed, kRestartPending when the node waits for a system restart.
int SimRestartPresent(uint32_t list, uint32_t index);
int SimClosePresentList(uint32_t list);

void SimTrace(const std::u16string& text);

// ---- device level: the relay minidriver's requests, which name a device, not a handle ----

// As SimGetFeature / SimSetFeature on present device `id`, with the same log lines.
int SimDeviceGetFeature(uint32_t id, uint8_t* buffer, uint32_t length);
int SimDeviceSetFeature(uint32_t id, const uint8_t* buffer, uint32_t length);
int SimDeviceUsage(uint32_t id, uint16_t* usagePage, uint16_t* usage);
// The present devices' ids, in the order they were added.
std::vector<uint32_t> SimPresentDevices();

// ---- removal watches: a window registered for a handle's removal notices ----

// What the system keeps for one registration: the handle and the window it was made for, and the
// notification id it gave back (the tool's HDEVNOTIFY; ids are never handle or list numbers).
struct SimWatch {
    uint32_t notify = 0;
    uint32_t handle = 0;
    uint32_t deviceId = 0;
    uint64_t window = 0;
};
// 0 for an unknown handle or no window. Logged "WATCH handle=H dev=N notify=K".
uint32_t SimWatchDevice(uint32_t handle, uint64_t window);
// Logged "UNWATCH notify=K dev=N" (or "... unknown"); 0 when there was no such watch.
int SimUnwatchDevice(uint32_t notify);
std::vector<SimWatch> SimWatches();
int SimWatchAlive(uint32_t notify);
// Removal watches held now.
uint32_t SimDeviceWatchCount();

// Conversions between the ports' UTF-16 and the simulator's 8-bit text (UTF-8).
std::string SimUtf16ToUtf8(const Utf16* text, size_t maxUnits);
std::u16string SimUtf8ToUtf16(const std::string& text);
