#include "driver/discovery.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "driver/control_report.h"
#include "driver/device_port.h"
#include "driver/driver_link.h"

namespace {

constexpr uint16_t kUsagePageGenericDesktop = 1;
constexpr uint16_t kUsageJoystick = 4;
constexpr uint32_t kSessionGuardWaitMs = 1000;

// A second handle to a device that sits in a slot would talk to it outside the slot's lock:
// during a debug query it would see "DBGx", send LeaveDebugMode and spoil the query. Such a
// device needs no discovery anyway, so it is not opened again.
int IsOpenInSlot(DeviceSlot* slot, const Utf16* path) {
    return IsOpenDeviceHandle(slot->handle) && EqualUtf16(slot->devicePath, path);
}

int IsOpenInAnySlot(ToolState* state, const Utf16* path) {
    for (DeviceSlot* slot : {&state->usbDevices[0], &state->bthDevices[0]}) {
        std::lock_guard<std::mutex> hold(slot->lock);
        if (IsOpenInSlot(slot, path))
            return 1;
    }
    return 0;
}

// Reads the candidate's first normal-mode answer into `answer`; 0 when it is not a joystick,
// refuses report 2, or turns out to be in a slot after all.
int ReadCandidateAnswer(ToolState* state, const Utf16* path, DeviceHandle device, uint8_t* answer) {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    if (!GetHidUsage(device, &usagePage, &usage))
        return 0;
    if (usagePage != kUsagePageGenericDesktop || usage != kUsageJoystick)
        return 0;
    PrepareReadBuffer(answer);
    if (!GetFeatureReport(device, answer, kReportSize)) {
        state->discoveryPassedOver = 1;
        return 0;
    }
    if (ClassifyDeviceTag(answer) == TagKind::Debug) {
        // A discovery on the other thread may have placed this device since it was checked, and
        // a query may own its debug mode now: ending it only under that transport's lock keeps
        // the two apart.
        DeviceSlot* slot = HasDeviceTag(answer, "DBGB") ? &state->bthDevices[0] : &state->usbDevices[0];
        std::lock_guard<std::mutex> hold(slot->lock);
        if (IsOpenInSlot(slot, path))
            return 0;
        // Another session's tool may be inside a query: ending the debug mode waits until it is
        // done, when leaving is harmless.
        const int guarded = AcquireDriverSessionGuard(kSessionGuardWaitMs);
        SendLeaveDebugMode(device);
        // Whatever this read brings, the tag is judged again below.
        GetFeatureReport(device, answer, kReportSize);
        if (guarded)
            ReleaseDriverSessionGuard();
    }
    return 1;
}

// Places the device in `slot` unless the transport already has one. Takes ownership of `device`.
int FillSlot(DeviceSlot* slot, SharedU32* count, void* window, HidDeviceList* list, uint32_t index,
             const Utf16* path, DeviceHandle device, const uint8_t* answer) {
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        if (count->load() == 0 && slot->handle == nullptr) {
            slot->handle = device;
            slot->removalWatch = WatchDeviceRemoval(window, device);
            {
                std::lock_guard<std::mutex> record(slot->recordLock);
                std::memcpy(slot->driverInfo, answer, kDriverInfoSize);
                slot->recordOpen = 1;
            }
            CopyUtf16(slot->devicePath, kDevicePathChars, path);
            // The parent of the element that owns this interface, never of the element at the same
            // index: a reset must restart this device, not a hub or the Bluetooth radio. A failed
            // lookup leaves no id, so a reset reports it cannot find the device instead of
            // restarting the previous device's parent.
            uint32_t element = 0;
            if (!GetHidInterfaceElement(list, index, &element) ||
                !GetHidParentInstanceId(list, element, slot->parentInstanceId, kInstanceIdChars))
                slot->parentInstanceId[0] = 0;
            count->store(count->load() + 1);
            return 1;
        }
    }
    CloseHidDevice(device);
    return 0;
}

int TryCandidate(ToolState* state, HidDeviceList* list, uint32_t index, const Utf16* path) {
    DeviceHandle device = OpenHidDevice(path);
    if (!IsOpenDeviceHandle(device))
        return 0;
    uint8_t answer[kReportSize];
    if (!ReadCandidateAnswer(state, path, device, answer)) {
        CloseHidDevice(device);
        return 0;
    }
    switch (ClassifyDeviceTag(answer)) {
    case TagKind::Usb:
        return FillSlot(&state->usbDevices[0], &state->usbDeviceCount, state->mainWindow, list, index, path,
                        device, answer);
    case TagKind::Bluetooth:
        return FillSlot(&state->bthDevices[0], &state->bthDeviceCount, state->mainWindow, list, index, path,
                        device, answer);
    default: CloseHidDevice(device); return 0;
    }
}

// Lowered under the lock, so a discovery on the other thread never sees an empty slot with a
// count of 1, nor leaves a filled slot behind with a count of 0.
void CloseSlotLocked(DeviceSlot* slot, SharedU32* count) {
    ReleaseSlotHandle(slot);
    count->store(0);
}

void Unwatch(void* watch) {
    if (watch != nullptr)
        UnwatchDeviceRemoval(watch);
}

// Takes `watch` out of pendingWatch; 1 when it was there, so exactly one caller releases it.
int TakePending(DeviceSlot* slot, void* watch) {
    return watch != nullptr && slot->pendingWatch.compare_exchange_strong(watch, nullptr) ? 1 : 0;
}

// One notice, under the slot's lock. The handle goes at once; the notice that named it goes only
// with the removal's outcome, since the outcome arrives through it.
int ApplyNoticeLocked(DeviceSlot* slot, SharedU32* count, const DeferredNotice& n) {
    switch (n.kind) {
    case RemovalNotice::Close: CloseSlotLocked(slot, count); return kNoticeTaken;
    case RemovalNotice::QueryRemove: {
        if (n.watch == nullptr || slot->removalWatch.load() != n.watch)
            return kNoticeUnknown;
        void* older = slot->pendingWatch.exchange(slot->removalWatch.exchange(nullptr));
        if (older != n.watch)
            Unwatch(older);
        CloseSlotLocked(slot, count);
        return kNoticeTaken;
    }
    case RemovalNotice::QueryRemoveFailed:
        // The removal was vetoed: the device stays, and is opened again.
        if (TakePending(slot, n.watch)) {
            Unwatch(n.watch);
            return kNoticeReopen;
        }
        return n.watch != nullptr && slot->removalWatch.load() == n.watch ? kNoticeTaken : kNoticeUnknown;
    case RemovalNotice::RemovePending:
    case RemovalNotice::RemoveComplete:
        if (TakePending(slot, n.watch)) {
            Unwatch(n.watch);
            return kNoticeTaken;
        }
        // Gone without being asked (pulled out): handle and notice go together.
        if (n.watch == nullptr || slot->removalWatch.load() != n.watch)
            return kNoticeUnknown;
        CloseSlotLocked(slot, count);
        return kNoticeTaken;
    default: return kNoticeUnknown;
    }
}

int Combine(int a, int b) {
    if (a == kNoticeReopen || b == kNoticeReopen)
        return kNoticeReopen;
    return a != kNoticeUnknown || b != kNoticeUnknown ? kNoticeTaken : kNoticeUnknown;
}

// Runs what was left for this slot, oldest first; the caller holds the slot's lock.
int RunDeferredLocked(DeviceSlot* slot, SharedU32* count) {
    if (slot->deferredCount.load() == 0)
        return 0;
    DeferredNotice taken[kDeferredNotices];
    int n = 0;
    {
        std::lock_guard<std::mutex> hold(slot->noticeLock);
        n = slot->deferredCount.load();
        for (int i = 0; i < n; ++i)
            taken[i] = std::exchange(slot->deferred[i], DeferredNotice{});
        slot->deferredCount.store(0);
    }
    int result = 0;
    for (int i = 0; i < n; ++i)
        result = Combine(result, ApplyNoticeLocked(slot, count, taken[i]));
    return result;
}

// Leaves a notice for the next holder of the slot's lock. Bounded: when full, the oldest goes.
void Defer(DeviceSlot* slot, RemovalNotice kind, void* watch) {
    std::lock_guard<std::mutex> hold(slot->noticeLock);
    int n = slot->deferredCount.load();
    if (n == kDeferredNotices) {
        for (int i = 1; i < n; ++i)
            slot->deferred[i - 1] = slot->deferred[i];
        --n;
    }
    slot->deferred[n] = DeferredNotice{kind, watch};
    slot->deferredCount.store(n + 1);
}

struct Transport {
    DeviceSlot* slot;
    SharedU32* count;
};

int TransportsOf(ToolState* state, Transport* out) {
    out[0] = {&state->usbDevices[0], &state->usbDeviceCount};
    out[1] = {&state->bthDevices[0], &state->bthDeviceCount};
    return 2;
}

} // namespace

int LockSlotBy(DeviceSlot* slot, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (slot->lock.try_lock())
            return 1;
        if (std::chrono::steady_clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ReleaseSlotHandle(DeviceSlot* slot) {
    Unwatch(slot->removalWatch.exchange(nullptr));
    if (IsOpenDeviceHandle(slot->handle))
        CloseHidDevice(slot->handle);
    slot->handle = nullptr;
    std::lock_guard<std::mutex> record(slot->recordLock);
    slot->recordOpen = 0;
}

int DiscoverDevices(ToolState* state) {
    if (state == nullptr)
        return 0;
    HidDeviceList* list = OpenHidDeviceList();
    if (list == nullptr)
        return 0;
    state->discoveryPassedOver = 0;
    int placed = 0;
    Utf16 path[kDevicePathChars];
    for (uint32_t index = 0; index != UINT32_MAX; ++index) {
        path[0] = 0;
        EnumResult found = EnumHidInterface(list, index, path, kDevicePathChars);
        if (found == EnumResult::End)
            break;
        if (found != EnumResult::Found || path[0] == 0 ||
            Utf16Length(path, kDevicePathChars) >= kDevicePathChars)
            continue;
        if (IsOpenInAnySlot(state, path))
            continue;
        if (TryCandidate(state, list, index, path))
            placed = 1;
    }
    CloseHidDeviceList(list);
    return placed;
}

int CloseDevices(ToolState* state) {
    if (state == nullptr)
        return 1;
    Transport transports[2];
    for (int i = 0, n = TransportsOf(state, transports); i < n; ++i) {
        std::lock_guard<std::mutex> hold(transports[i].slot->lock);
        RunDeferredLocked(transports[i].slot, transports[i].count);
        CloseSlotLocked(transports[i].slot, transports[i].count);
    }
    return 1;
}

int CloseDevicesBy(ToolState* state, std::chrono::steady_clock::time_point deadline) {
    if (state == nullptr)
        return 1;
    int closed = 1;
    Transport transports[2];
    for (int i = 0, n = TransportsOf(state, transports); i < n; ++i) {
        if (!LockSlotBy(transports[i].slot, deadline)) {
            Defer(transports[i].slot, RemovalNotice::Close, nullptr);
            closed = 0;
            continue;
        }
        std::lock_guard<std::mutex> hold(transports[i].slot->lock, std::adopt_lock);
        RunDeferredLocked(transports[i].slot, transports[i].count);
        CloseSlotLocked(transports[i].slot, transports[i].count);
    }
    return closed;
}

int TakeRemovalNotice(ToolState* state, RemovalNotice kind, void* watch, uint32_t waitMs) {
    if (state == nullptr || watch == nullptr || kind == RemovalNotice::None || kind == RemovalNotice::Close)
        return kNoticeUnknown;
    Transport transports[2];
    for (int i = 0, n = TransportsOf(state, transports); i < n; ++i) {
        DeviceSlot* slot = transports[i].slot;
        if (slot->removalWatch.load() != watch && slot->pendingWatch.load() != watch)
            continue;
        if (!LockSlotBy(slot, std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs))) {
            Defer(slot, kind, watch);
            return kNoticeTaken;
        }
        std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
        const int earlier = RunDeferredLocked(slot, transports[i].count);
        return Combine(Combine(earlier, ApplyNoticeLocked(slot, transports[i].count, {kind, watch})),
                       kNoticeTaken);
    }
    return kNoticeUnknown;
}

int RunDeferredNotices(ToolState* state) {
    if (state == nullptr)
        return kNoticeUnknown;
    int result = kNoticeUnknown;
    Transport transports[2];
    for (int i = 0, n = TransportsOf(state, transports); i < n; ++i) {
        if (transports[i].slot->deferredCount.load() == 0)
            continue;
        std::lock_guard<std::mutex> hold(transports[i].slot->lock);
        result = Combine(result, RunDeferredLocked(transports[i].slot, transports[i].count));
    }
    return result;
}

void ReleasePendingWatches(ToolState* state) {
    if (state == nullptr)
        return;
    for (DeviceSlot* slot : {&state->usbDevices[0], &state->bthDevices[0]})
        Unwatch(slot->pendingWatch.exchange(nullptr));
}
