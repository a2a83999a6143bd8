// The device port over the in-process simulated driver, for the native tests. A DeviceHandle is
// the simulator's handle number; the simulator knows its device and generation, so a handle
// opened before a restart or a removal stays dead.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "driver/device_port.h"
#include "sim/sim_driver.h"

namespace {

constexpr size_t kMaxPathUnits = 4096;

uint32_t HandleNumber(DeviceHandle device) {
    uintptr_t value = reinterpret_cast<uintptr_t>(device);
    return value <= 0xFFFFFFFFu ? static_cast<uint32_t>(value) : 0;
}

// Copies `text` with its terminator when it fits `capacity` units; else leaves `out` untouched.
int CopyOut(const std::string& text, Utf16* out, size_t capacity) {
    std::u16string wide = SimUtf8ToUtf16(text);
    if (out == nullptr || wide.size() + 1 > capacity)
        return 0;
    for (size_t i = 0; i < wide.size(); ++i)
        out[i] = wide[i];
    out[wide.size()] = 0;
    return 1;
}

} // namespace

struct HidDeviceList {
    uint32_t id;
};

struct PresentDeviceList {
    uint32_t id;
};

HidDeviceList* OpenHidDeviceList() {
    uint32_t id = SimOpenHidList();
    return id != 0 ? new HidDeviceList{id} : nullptr;
}

EnumResult EnumHidInterface(HidDeviceList* list, uint32_t index, Utf16* path, size_t capacity) {
    if (list == nullptr)
        return EnumResult::End;
    std::string text;
    EnumResult r = SimHidListPath(list->id, index, &text);
    if (r != EnumResult::Found)
        return r;
    return CopyOut(text, path, capacity) ? EnumResult::Found : EnumResult::Skip;
}

int GetHidInterfaceElement(HidDeviceList* list, uint32_t index, uint32_t* element) {
    return list != nullptr ? SimHidListElement(list->id, index, element) : 0;
}

int GetHidParentInstanceId(HidDeviceList* list, uint32_t element, Utf16* id, size_t capacity) {
    std::string text;
    if (list == nullptr || !SimHidListParent(list->id, element, &text))
        return 0;
    return CopyOut(text, id, capacity);
}

void CloseHidDeviceList(HidDeviceList* list) {
    if (list == nullptr)
        return;
    SimCloseHidList(list->id);
    delete list;
}

DeviceHandle OpenHidDevice(const Utf16* path) {
    if (path == nullptr)
        return nullptr;
    uint32_t handle = SimOpenDevice(SimUtf16ToUtf8(path, kMaxPathUnits));
    return reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(handle));
}

int GetHidUsage(DeviceHandle device, uint16_t* usagePage, uint16_t* usage) {
    return SimGetUsage(HandleNumber(device), usagePage, usage);
}

int GetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    return SimGetFeature(HandleNumber(device), buffer, length);
}

int SetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    return SimSetFeature(HandleNumber(device), buffer, length);
}

void CloseHidDevice(DeviceHandle device) {
    if (device != nullptr)
        SimCloseDevice(HandleNumber(device));
}

PresentDeviceList* OpenPresentDeviceList(int withInterfaces) {
    uint32_t id = SimOpenPresentList(withInterfaces);
    return id != 0 ? new PresentDeviceList{id} : nullptr;
}

EnumResult GetPresentDeviceInstanceId(PresentDeviceList* list, uint32_t index, Utf16* id, size_t capacity) {
    if (list == nullptr)
        return EnumResult::End;
    std::string text;
    EnumResult r = SimPresentListId(list->id, index, &text);
    if (r != EnumResult::Found)
        return r;
    return CopyOut(text, id, capacity) ? EnumResult::Found : EnumResult::Skip;
}

int RestartPresentDevice(PresentDeviceList* list, uint32_t index) {
    return list != nullptr ? SimRestartPresent(list->id, index) : 0;
}

int ClosePresentDeviceList(PresentDeviceList* list) {
    if (list == nullptr)
        return 0;
    int ok = SimClosePresentList(list->id);
    delete list;
    return ok;
}

void* WatchDeviceRemoval(void* window, DeviceHandle device) {
    const uintptr_t handle = reinterpret_cast<uintptr_t>(device);
    if (window == nullptr || handle == 0 || handle > 0xFFFFFFFFu)
        return nullptr;
    const uint32_t notify = SimWatchDevice(static_cast<uint32_t>(handle),
                                           static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window)));
    return notify != 0 ? reinterpret_cast<void*>(static_cast<uintptr_t>(notify)) : nullptr;
}

void UnwatchDeviceRemoval(void* watch) {
    const uintptr_t notify = reinterpret_cast<uintptr_t>(watch);
    if (notify != 0 && notify <= 0xFFFFFFFFu)
        SimUnwatchDevice(static_cast<uint32_t>(notify));
}

uint32_t SimDeviceWatchCount() {
    return static_cast<uint32_t>(SimWatches().size());
}

// One process stands for the whole PC: every Tool state in it is a session of its own. A flag
// under a plain mutex, not a timed mutex, whose waits the thread sanitizer cannot follow.
struct SessionGuardRecord {
    std::mutex lock;
    std::condition_variable freed;
    int held = 0;
};

SessionGuardRecord& SessionGuard() {
    static SessionGuardRecord guard;
    return guard;
}

int AcquireDriverSessionGuard(uint32_t waitMs) {
    SessionGuardRecord& guard = SessionGuard();
    std::unique_lock<std::mutex> hold(guard.lock);
    if (!guard.freed.wait_for(hold, std::chrono::milliseconds(waitMs), [&] { return guard.held == 0; }))
        return 0;
    guard.held = 1;
    return 1;
}

void ReleaseDriverSessionGuard() {
    SessionGuardRecord& guard = SessionGuard();
    {
        std::lock_guard<std::mutex> hold(guard.lock);
        guard.held = 0;
    }
    guard.freed.notify_one();
}

void TraceDebugText(const Utf16* text) {
    if (text != nullptr)
        SimTrace(std::u16string(text, Utf16Length(text, kMaxPathUnits)));
}
