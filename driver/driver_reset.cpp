#include "driver/driver_reset.h"

#include <mutex>

#include "core/ui_port.h"
#include "driver/device_port.h"
#include "driver/discovery.h"
#include "resources/resource.h"

namespace {

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

} // namespace

int ResetDriver(DeviceSlot* slot) {
    if (slot == nullptr) {
        ShowErrorMessage(nullptr, IDS_INVALID_PARAMETERS);
        return 0;
    }
    int found = 0;
    int result = 0;
    {
        // Held until the class installer returns, so a poll waits and then finds the slot closed.
        std::lock_guard<std::mutex> hold(slot->lock);
        ReleaseSlotHandle(slot);

        PresentDeviceList* list = OpenPresentDeviceList();
        if (list != nullptr) {
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
                if (!SameInstanceId(id, slot->parentInstanceId))
                    continue;
                found = 1;
                // A restart that waits for the system's leaves the device as it was: no
                // device-change notice will come, so the caller must rediscover at once.
                int restarted = RestartPresentDevice(list, index);
                int closed = ClosePresentDeviceList(list);
                result = restarted == 1 && closed ? 1 : 0;
                break;
            }
            if (!found)
                ClosePresentDeviceList(list);
        }
    }
    if (!found) {
        ShowErrorMessage(nullptr, IDS_CANNOT_GET_DEVICE_INFO);
        return 0;
    }
    return result;
}
