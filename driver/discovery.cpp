#include "driver/discovery.h"

#include <cstring>
#include <iterator>
#include <mutex>

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
    if (!GetFeatureReport(device, answer, kReportSize))
        return 0;
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
            std::memcpy(slot->driverInfo, answer, kDriverInfoSize);
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

void CloseTransport(DeviceSlot* slots, size_t slotCount, SharedU32* count) {
    for (size_t i = 0; i < slotCount; ++i) {
        std::lock_guard<std::mutex> hold(slots[i].lock);
        ReleaseSlotHandle(&slots[i]);
        // Lowered under the lock, so a discovery on the other thread never sees an empty slot
        // with a count of 1, nor leaves a filled slot behind with a count of 0.
        count->store(0);
    }
}

} // namespace

void ReleaseSlotHandle(DeviceSlot* slot) {
    if (slot->removalWatch != nullptr)
        UnwatchDeviceRemoval(slot->removalWatch);
    slot->removalWatch = nullptr;
    if (IsOpenDeviceHandle(slot->handle))
        CloseHidDevice(slot->handle);
    slot->handle = nullptr;
}

int DiscoverDevices(ToolState* state) {
    if (state == nullptr)
        return 0;
    HidDeviceList* list = OpenHidDeviceList();
    if (list == nullptr)
        return 0;
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
    CloseTransport(state->usbDevices, std::size(state->usbDevices), &state->usbDeviceCount);
    CloseTransport(state->bthDevices, std::size(state->bthDevices), &state->bthDeviceCount);
    return 1;
}

int CloseRemovedDevice(ToolState* state, DeviceHandle device) {
    if (state == nullptr || !IsOpenDeviceHandle(device))
        return 0;
    struct Transport {
        DeviceSlot* slot;
        SharedU32* count;
    } transports[] = {{&state->usbDevices[0], &state->usbDeviceCount},
                      {&state->bthDevices[0], &state->bthDeviceCount}};
    for (const Transport& t : transports) {
        std::lock_guard<std::mutex> hold(t.slot->lock);
        if (t.slot->handle != device)
            continue;
        ReleaseSlotHandle(t.slot);
        t.count->store(0);
        return 1;
    }
    return 0;
}
