// The simulated system around the controller model: which devices exist and which are present,
// the handles and lists the ports hold, node restarts and comebacks. Each feature request goes to
// the model (sim_model.h) and its line to the log (sim_log.h).
#include "sim/sim_driver.h"

#include "sim/sim_log.h"
#include "sim/sim_model.h"

#include <chrono>
#include <map>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMaxSlowMs = 10000;

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
    std::vector<SimDevice> devices;       // present or not; removed ones are erased
    std::map<uint32_t, SimWatch> watches; // by notification id
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
};

Simulator& Sim() {
    static Simulator sim;
    return sim;
}

// ---- state helpers (SimLock() is held) ----

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

void MarkGone(Simulator& s, SimDevice& d) {
    d.present = 0;
    ++d.generation;
    ++s.setVersion;
    SimLogLocked(SimFormat("GONE dev=%u", d.id));
}

void MarkBack(Simulator& s, SimDevice& d) {
    s.comebacks.erase(d.id);
    SimForgetSession(d);
    d.present = 1;
    ++s.setVersion;
    SimLogLocked(SimFormat("BACK dev=%u", d.id));
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
    SimForgetSession(d);
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
    return deviceId != 0 ? SimFormat("dev=%u", deviceId) : SimFormat("handle=%u", handle);
}

void Delay(Simulator& s, uint32_t handle) {
    SimDelayAnswer([&s, handle]() -> const SimDevice* {
        PumpLocked(s);
        const char* reason = nullptr;
        uint32_t deviceId = 0;
        return LiveDevice(s, handle, &reason, &deviceId);
    });
}

} // namespace

// ---- control ----

void SimReset() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    s.devices.clear();
    s.comebacks.clear();
    s.watches.clear();
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
    SimForgetLogLocked();
}

uint32_t SimAddDevice(SimKind kind) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    if (s.devices.size() >= kSimMaxDevices)
        return 0;
    s.devices.emplace_back();
    SimDevice& d = s.devices.back();
    SimInitDevice(d, kind, s.nextDeviceId++);
    ++s.setVersion;
    SimLogLocked(SimFormat("ADD dev=%u kind=%s path=%s parent=%s", d.id, KindName(kind), d.path.c_str(),
                           d.parentInstanceId.c_str()));
    return d.id;
}

int SimRemoveDevice(uint32_t id) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    for (size_t i = 0; i < s.devices.size(); ++i) {
        if (s.devices[i].id != id)
            continue;
        s.devices.erase(s.devices.begin() + static_cast<std::ptrdiff_t>(i));
        s.comebacks.erase(id);
        ++s.setVersion;
        SimLogLocked(SimFormat("REMOVE dev=%u", id));
        return 1;
    }
    return 0;
}

int SimSetPresent(uint32_t id, int present) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
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
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    SimDevice* d = FindDevice(s, id);
    if (d == nullptr || out == nullptr)
        return 0;
    *out = *d;
    return 1;
}

int SimUpdateDevice(uint32_t id, const std::function<void(SimDevice&)>& edit) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
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
    std::lock_guard<std::mutex> hold(SimLock());
    s.hidListFails = hidListFails;
    s.presentListFails = presentListFails;
}

void SimSetRestartDelay(uint32_t ms) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    s.restartDelayMs = ms;
}

int SimRestartDevice(uint32_t id) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    SimDevice* d = FindDevice(s, id);
    return d != nullptr ? RestartLocked(s, *d) : 0;
}

void SimPump() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
}

uint32_t SimDeviceSetVersion() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return s.setVersion;
}

void SimSetIdBase(uint32_t base) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    s.idBase = base;
}

uint32_t SimOpenHandleCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return static_cast<uint32_t>(s.handles.size());
}

uint32_t SimOpenListCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return static_cast<uint32_t>(s.hidLists.size() + s.presentLists.size());
}

uint32_t SimBadCloseCount() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return s.badCloses;
}

// ---- handle level ----

uint32_t SimOpenHidList() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    if (s.hidListFails) {
        SimLogLocked("LIST hid failed");
        return 0;
    }
    uint32_t id = NewId(s);
    std::vector<HidListEntry>& entries = s.hidLists[id];
    for (const SimDevice& d : s.devices)
        if (d.present)
            entries.push_back(HidListEntry{d.path, d.parentInstanceId, d.id});
    SimLogLocked(SimFormat("LIST hid list=%u count=%u", id, static_cast<uint32_t>(entries.size())));
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
    std::lock_guard<std::mutex> hold(SimLock());
    const HidListEntry* e = ListEntry(s.hidLists, list, index);
    if (e == nullptr)
        return EnumResult::End;
    if (path != nullptr)
        *path = e->path;
    return EnumResult::Found;
}

void SimSetElementOrder(int reversed) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    s.elementsReversed = reversed ? 1 : 0;
}

int SimHidListElement(uint32_t list, uint32_t index, uint32_t* element) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    auto l = s.hidLists.find(list);
    if (l == s.hidLists.end() || index >= l->second.size() || element == nullptr)
        return 0;
    const uint32_t n = static_cast<uint32_t>(l->second.size());
    *element = s.elementsReversed ? n - 1 - index : index;
    return 1;
}

int SimHidListParent(uint32_t list, uint32_t element, std::string* instanceId) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
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
        SimLogLocked(SimFormat("CLOSE list=%u unknown", list));
        return 0;
    }
    return 1;
}

int SimCloseHidList(uint32_t list) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return CloseListLocked(s, s.hidLists, list);
}

uint32_t SimOpenDevice(const std::string& path) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    for (const SimDevice& d : s.devices) {
        if (!d.present || d.path != path)
            continue;
        uint32_t id = NewId(s);
        s.handles[id] = HandleRecord{d.id, d.generation};
        SimLogLocked(SimFormat("OPEN dev=%u handle=%u", d.id, id));
        return id;
    }
    SimLogLocked("OPEN path=" + path + " failed");
    return 0;
}

int SimGetUsage(uint32_t handle, uint16_t* usagePage, uint16_t* usage) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
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

void DelayDevice(Simulator& s, uint32_t id) {
    SimDelayAnswer([&s, id]() -> const SimDevice* {
        PumpLocked(s);
        const char* reason = nullptr;
        return PresentDevice(s, id, &reason);
    });
}

// A read on `d` (null: `reason` says why there is none), logged under `who`. The lock is held.
int GetFeatureLocked(SimDevice* d, const char* reason, const std::string& who, uint8_t* buffer,
                     uint32_t length) {
    std::string line;
    int ok = 0;
    if (d != nullptr)
        ok = SimModelGetFeature(*d, who, buffer, length, &line);
    else
        line = SimGetFailedLine(who, reason);
    SimLogLocked(line);
    return ok;
}

// A write on `d`, as GetFeatureLocked.
int SetFeatureLocked(SimDevice* d, const char* reason, const std::string& who, const uint8_t* buffer,
                     uint32_t length) {
    std::string line;
    int ok = 0;
    if (d != nullptr)
        ok = SimModelSetFeature(*d, who, buffer, length, &line);
    else
        line = SimSetFailedLine(who, buffer, length, reason);
    SimLogLocked(line);
    return ok;
}

} // namespace

int SimGetFeature(uint32_t handle, uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    Delay(s, handle);
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    return GetFeatureLocked(d, reason, WhoLocked(handle, deviceId), buffer, length);
}

int SimSetFeature(uint32_t handle, const uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    Delay(s, handle);
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    const char* reason = nullptr;
    uint32_t deviceId = 0;
    SimDevice* d = LiveDevice(s, handle, &reason, &deviceId);
    return SetFeatureLocked(d, reason, WhoLocked(handle, deviceId), buffer, length);
}

// ---- device level ----

int SimDeviceGetFeature(uint32_t id, uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    DelayDevice(s, id);
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    const char* reason = nullptr;
    SimDevice* d = PresentDevice(s, id, &reason);
    return GetFeatureLocked(d, reason, SimFormat("dev=%u", id), buffer, length);
}

int SimDeviceSetFeature(uint32_t id, const uint8_t* buffer, uint32_t length) {
    Simulator& s = Sim();
    DelayDevice(s, id);
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    const char* reason = nullptr;
    SimDevice* d = PresentDevice(s, id, &reason);
    return SetFeatureLocked(d, reason, SimFormat("dev=%u", id), buffer, length);
}

int SimDeviceUsage(uint32_t id, uint16_t* usagePage, uint16_t* usage) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
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
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    std::vector<uint32_t> ids;
    for (const SimDevice& d : s.devices)
        if (d.present)
            ids.push_back(d.id);
    return ids;
}

int SimCloseDevice(uint32_t handle) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    auto h = s.handles.find(handle);
    if (h == s.handles.end()) {
        ++s.badCloses;
        SimLogLocked(SimFormat("CLOSE handle=%u unknown", handle));
        return 0;
    }
    SimLogLocked(SimFormat("CLOSE handle=%u dev=%u", handle, h->second.deviceId));
    s.handles.erase(h);
    return 1;
}

uint32_t SimOpenPresentList(int withInterfaces) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    if (s.presentListFails) {
        SimLogLocked("LIST present failed");
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
        if (withInterfaces && d.parentWithoutInterface) {
            ids.push_back(d.hidInstanceId);
            continue;
        }
        // A lower-case twin ahead of each driver parent: a compare that ignores case restarts
        // the twin, and the device visibly does not restart.
        if (SimIsDriverDevice(d)) {
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
    SimLogLocked(SimFormat("LIST present list=%u count=%u%s", id, static_cast<uint32_t>(ids.size()),
                           withInterfaces ? "" : " all-nodes"));
    return id;
}

EnumResult SimPresentListId(uint32_t list, uint32_t index, std::string* instanceId) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    const std::string* id = ListEntry(s.presentLists, list, index);
    if (id == nullptr)
        return EnumResult::End;
    if (instanceId != nullptr)
        *instanceId = *id;
    return EnumResult::Found;
}

int SimRestartPresent(uint32_t list, uint32_t index) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    PumpLocked(s);
    auto l = s.presentLists.find(list);
    if (l == s.presentLists.end() || index >= l->second.size())
        return 0;
    const std::string& id = l->second[index];
    for (SimDevice& d : s.devices) {
        if (d.parentInstanceId != id && d.hidInstanceId != id)
            continue;
        if (d.present && d.faults.needRestart) {
            SimLogLocked(SimFormat("RESTART id=%s dev=%u needs-restart", id.c_str(), d.id));
            return kRestartPending;
        }
        int ok = RestartLocked(s, d);
        SimLogLocked(SimFormat("RESTART id=%s dev=%u %s", id.c_str(), d.id, ok ? "ok" : "failed"));
        return ok;
    }
    SimLogLocked(SimFormat("RESTART id=%s ok", id.c_str())); // a node with nothing of ours on it
    return 1;
}

int SimClosePresentList(uint32_t list) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return CloseListLocked(s, s.presentLists, list);
}

// ---- removal watches ----

uint32_t SimWatchDevice(uint32_t handle, uint64_t window) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    auto h = s.handles.find(handle);
    if (h == s.handles.end() || window == 0)
        return 0;
    SimWatch w;
    w.notify = NewId(s);
    w.handle = handle;
    w.deviceId = h->second.deviceId;
    w.window = window;
    s.watches[w.notify] = w;
    SimLogLocked(SimFormat("WATCH handle=%u dev=%u notify=%u", handle, w.deviceId, w.notify));
    return w.notify;
}

int SimUnwatchDevice(uint32_t notify) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    auto w = s.watches.find(notify);
    if (w == s.watches.end()) {
        SimLogLocked(SimFormat("UNWATCH notify=%u unknown", notify));
        return 0;
    }
    SimLogLocked(SimFormat("UNWATCH notify=%u dev=%u", notify, w->second.deviceId));
    s.watches.erase(w);
    return 1;
}

std::vector<SimWatch> SimWatches() {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    std::vector<SimWatch> out;
    for (const auto& [notify, w] : s.watches)
        out.push_back(w);
    return out;
}

int SimWatchAlive(uint32_t notify) {
    Simulator& s = Sim();
    std::lock_guard<std::mutex> hold(SimLock());
    return s.watches.count(notify) != 0 ? 1 : 0;
}
