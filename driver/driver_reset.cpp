#include "driver/driver_reset.h"

#include <mutex>

#include "core/ui_port.h"
#include "driver/control_report.h"
#include "driver/device_port.h"
#include "driver/discovery.h"
#include "resources/resource.h"

namespace {

constexpr uint16_t kUsagePageGenericDesktop = 1;
constexpr uint16_t kUsageJoystick = 4;

// Whole-string, case-sensitive; an empty or unterminated parent id never matches.
int SameInstanceId(const Utf16* id, const Utf16* parent) {
    size_t parentLength = Utf16Length(parent, kInstanceIdChars);
    if (parentLength == 0 || parentLength == kInstanceIdChars)
        return 0;
    for (size_t i = 0; i <= parentLength; ++i)
        if (id[i] != parent[i])
            return 0;
    return 1;
}

// withInterfaces 1: the nodes that expose an interface; 0: every present node. Found ends the
// walk whether or not the restart succeeded.
int RestartInList(int withInterfaces, const Utf16* parent, ResetOutcome* outcome) {
    PresentDeviceList* list = OpenPresentDeviceList(withInterfaces);
    if (list == nullptr)
        return 0;
    Utf16 id[kInstanceIdChars + 1];
    for (uint32_t index = 0; index != UINT32_MAX; ++index) {
        id[0] = 0;
        EnumResult r = GetPresentDeviceInstanceId(list, index, id, kInstanceIdChars);
        if (r == EnumResult::End)
            break;
        if (r != EnumResult::Found)
            continue;
        id[kInstanceIdChars] = 0;
        TraceDebugText(id);
        if (!SameInstanceId(id, parent))
            continue;
        const int restarted = RestartPresentDevice(list, index);
        const int closed = ClosePresentDeviceList(list);
        if (restarted == kRestartPending)
            *outcome = ResetOutcome::RestartPending;
        else
            *outcome = restarted == 1 && closed ? ResetOutcome::Restarted : ResetOutcome::Failed;
        return 1;
    }
    ClosePresentDeviceList(list);
    return 0;
}

} // namespace

ResetOutcome RestartParentDevice(const Utf16* parentInstanceId) {
    ResetOutcome outcome = ResetOutcome::NotFound;
    // A bus or a Bluetooth node may expose no interface, so the first list can lack the parent.
    if (!RestartInList(1, parentInstanceId, &outcome))
        RestartInList(0, parentInstanceId, &outcome);
    return outcome;
}

ResetOutcome ResetDriverSlot(DeviceSlot* slot, SlotDeadline deadline) {
    if (slot == nullptr)
        return ResetOutcome::NotFound;
    if (!LockSlotUntil(slot, deadline))
        return ResetOutcome::Busy;
    // Held until the class installer returns, so a poll waits and then finds the slot closed.
    std::lock_guard<std::mutex> hold(slot->lock, std::adopt_lock);
    ReleaseSlotHandle(slot);
    return RestartParentDevice(slot->parentInstanceId);
}

int ResetDriver(DeviceSlot* slot) {
    if (slot == nullptr) {
        ShowErrorMessage(nullptr, IDS_INVALID_PARAMETERS);
        return 0;
    }
    const ResetOutcome outcome = ResetDriverSlot(slot);
    if (outcome == ResetOutcome::NotFound)
        ShowErrorMessage(nullptr, IDS_CANNOT_GET_DEVICE_INFO);
    return outcome == ResetOutcome::Restarted ? 1 : 0;
}

int IsDriverParent(const Utf16* parentInstanceId) {
    const size_t length = Utf16Length(parentInstanceId, kInstanceIdChars);
    if (length == 0 || length == kInstanceIdChars)
        return 0;
    HidDeviceList* list = OpenHidDeviceList();
    if (list == nullptr)
        return 0;
    int found = 0;
    Utf16 path[kDevicePathChars];
    Utf16 parent[kInstanceIdChars + 1];
    for (uint32_t index = 0; index != UINT32_MAX && !found; ++index) {
        path[0] = 0;
        EnumResult r = EnumHidInterface(list, index, path, kDevicePathChars);
        if (r == EnumResult::End)
            break;
        if (r != EnumResult::Found)
            continue;
        uint32_t element = 0;
        parent[0] = 0;
        if (!GetHidInterfaceElement(list, index, &element) ||
            !GetHidParentInstanceId(list, element, parent, kInstanceIdChars))
            continue;
        parent[kInstanceIdChars] = 0;
        if (!SameInstanceId(parent, parentInstanceId))
            continue;
        DeviceHandle device = OpenHidDevice(path);
        if (!IsOpenDeviceHandle(device))
            continue;
        uint16_t usagePage = 0, usage = 0;
        uint8_t answer[kReportSize];
        if (GetHidUsage(device, &usagePage, &usage) && usagePage == kUsagePageGenericDesktop &&
            usage == kUsageJoystick) {
            PrepareReadBuffer(answer);
            // A driver in debug mode is still the driver: its tag says so too.
            if (GetFeatureReport(device, answer, kReportSize) &&
                ClassifyDeviceTag(answer) != TagKind::Foreign)
                found = 1;
        }
        CloseHidDevice(device);
    }
    CloseHidDeviceList(list);
    return found;
}

uint32_t ResetExitCode(ResetOutcome outcome) {
    switch (outcome) {
    case ResetOutcome::Restarted: return 0;
    case ResetOutcome::RestartPending: return 2;
    case ResetOutcome::NotFound: return 3;
    case ResetOutcome::Refused: return 4;
    default: return 1;
    }
}

ResetOutcome ResetOutcomeOfExitCode(uint32_t code) {
    switch (code) {
    case 0: return ResetOutcome::Restarted;
    case 2: return ResetOutcome::RestartPending;
    case 3: return ResetOutcome::NotFound;
    case 4: return ResetOutcome::Refused;
    default: return ResetOutcome::Failed;
    }
}

ResetAftermath AftermathOf(ResetOutcome outcome) {
    switch (outcome) {
    case ResetOutcome::Restarted: return {1, 0, {0, 0}};
    // Nothing was touched: the device is still open and polled.
    case ResetOutcome::Busy: return {0, 0, {IDS_DRIVER_BUSY, 0}};
    // The handle was let go before the prompt: take the device back, quietly.
    case ResetOutcome::Cancelled: return {0, 1, {0, 0}};
    case ResetOutcome::NotFound:
    case ResetOutcome::Refused: return {0, 1, {IDS_CANNOT_GET_DEVICE_INFO, IDS_DRIVER_RESET_FAILED}};
    // A restart that waits for the system's leaves the device as it was: no device-change notice
    // will come for it, so it is found again at once.
    default: return {0, 1, {IDS_DRIVER_RESET_FAILED, 0}};
    }
}
