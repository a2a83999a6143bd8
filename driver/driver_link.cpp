#include "driver/driver_link.h"

#include <cstring>
#include <mutex>

#include "driver/control_report.h"
#include "driver/device_port.h"
#include "driver/discovery.h"

static_assert(kDriverInfoRecordSize == kDriverInfoSize && kDebugRecordSize == kDriverInfoSize);

namespace {

constexpr uint32_t kBluetoothSlots = sizeof(ToolState::bthDevices) / sizeof(ToolState::bthDevices[0]);
// How long a debug sequence waits for another session's tool to finish its own; past that it
// goes on under the slot lock alone, as a tool on its own would.
constexpr uint32_t kSessionGuardWaitMs = 1000;

int SendLinkCommand(ToolState* state, uint32_t index, int disconnect, SlotDeadline deadline) {
    if (state == nullptr)
        return 0;
    uint32_t count = state->bthDeviceCount.load();
    if (count == 0 || index >= count || index >= kBluetoothSlots)
        return 0;
    DeviceSlot* slot = &state->bthDevices[index];
    if (!LockSlotUntil(slot, deadline))
        return kDeviceBusy;
    std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
    if (!IsOpenDeviceHandle(slot->handle))
        return 0;
    uint8_t report[kReportSize];
    if (disconnect)
        BuildDisconnectRequest(report);
    else
        BuildHeaderOnlyRequest(report, kCommandReconnectLink);
    return SetFeatureReport(slot->handle, report, kReportSize) ? 1 : 0;
}

} // namespace

int LockSlotUntil(DeviceSlot* slot, SlotDeadline deadline) {
    if (deadline == kNoDeadline) {
        slot->lock.lock();
        return 1;
    }
    return LockSlotBy(slot, deadline);
}

int ReadDriverInfo(DeviceSlot* slot) {
    if (slot == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(slot->lock);
    if (!IsOpenDeviceHandle(slot->handle))
        return 0;
    uint8_t report[kReportSize];
    PrepareReadBuffer(report);
    if (!GetFeatureReport(slot->handle, report, kReportSize))
        return 0;
    if (ClassifyDeviceTag(report) == TagKind::Debug && AcquireDriverSessionGuard(kSessionGuardWaitMs)) {
        // Most likely another session's tool is inside a debug query: its record is not ours to
        // keep. Its query ends before the guard comes free, and the driver answers normally again.
        PrepareReadBuffer(report);
        const int read = GetFeatureReport(slot->handle, report, kReportSize);
        ReleaseDriverSessionGuard();
        if (!read)
            return 0;
    }
    std::lock_guard<std::mutex> record(slot->recordLock);
    std::memcpy(slot->driverInfo, report, kDriverInfoSize);
    return 1;
}

int ApplyProfileSetting(DeviceSlot* slot, const ProfileSetting* setting, SlotDeadline deadline) {
    if (slot == nullptr || setting == nullptr)
        return 0;
    if (!LockSlotUntil(slot, deadline))
        return kDeviceBusy;
    std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
    uint8_t report[kReportSize];
    BuildProfileRequest(report, setting);
    // A closed slot is not tested for: its write fails and that is the result.
    return SetFeatureReport(slot->handle, report, kReportSize) ? 1 : 0;
}

int SetAutoFireButtons(DeviceSlot* slot, uint32_t buttons, SlotDeadline deadline) {
    if (slot == nullptr)
        return 0;
    if (!LockSlotUntil(slot, deadline))
        return kDeviceBusy;
    std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
    uint8_t report[kReportSize];
    BuildAutoFireRequest(report, buttons);
    return SetFeatureReport(slot->handle, report, kReportSize) ? 1 : 0;
}

int DisconnectBluetooth(ToolState* state, uint32_t index, SlotDeadline deadline) {
    return SendLinkCommand(state, index, 1, deadline);
}

int ReconnectBluetooth(ToolState* state, uint32_t index, SlotDeadline deadline) {
    return SendLinkCommand(state, index, 0, deadline);
}

int QueryDebugRecord(ToolState* state, uint32_t selector, uint32_t infoType, uint8_t* record,
                     SlotDeadline deadline) {
    if (state == nullptr || record == nullptr || SelectorIndex(selector) != 0 || infoType == 0)
        return 0;
    DeviceSlot* slot = SelectorIsBluetooth(selector) ? &state->bthDevices[0] : &state->usbDevices[0];
    // One hold over the whole sequence: a poll in between would read a debug record, and this
    // query would read the poll's normal record.
    if (!LockSlotUntil(slot, deadline))
        return kDeviceBusy;
    std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
    if (!IsOpenDeviceHandle(slot->handle))
        return 0;
    // The slot lock keeps this tool's own polls out; the guard keeps out every other session's.
    const int guarded = AcquireDriverSessionGuard(kSessionGuardWaitMs);
    uint8_t report[kReportSize];
    BuildHeaderOnlyRequest(report, kCommandEnterDebugMode);
    SetFeatureReport(slot->handle, report, kReportSize);
    BuildHeaderOnlyRequest(report, DebugQueryCommand(infoType));
    SetFeatureReport(slot->handle, report, kReportSize);
    PrepareReadBuffer(report);
    int read = GetFeatureReport(slot->handle, report, kReportSize) ? 1 : 0;
    std::memcpy(record, report, kDebugRecordSize);
    BuildHeaderOnlyRequest(report, kCommandLeaveDebugMode);
    SetFeatureReport(slot->handle, report, kReportSize);
    if (guarded)
        ReleaseDriverSessionGuard();
    return read;
}

void SendLeaveDebugMode(DeviceHandle device) {
    if (!IsOpenDeviceHandle(device))
        return;
    uint8_t report[kReportSize];
    BuildHeaderOnlyRequest(report, kCommandLeaveDebugMode);
    SetFeatureReport(device, report, kReportSize);
}
