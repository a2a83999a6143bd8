#include "monitor/command_availability.h"

#include "profiles/profile_library.h"
#include "resources/resource.h"

CommandAvailability CommandAvailabilityOf(const ToolState* state, uint32_t id) {
    // Each shared flag is read once: the Monitor thread may change it meanwhile.
    const int usbUp = state->usbConnected.load() != 0;
    const int bthUp = state->bthConnected.load() != 0;
    const int rumbleUp = state->rumbleActive.load() != 0;
    const int profiles = state->profilesAvailable != 0;
    const int reset = state->canResetDriver != 0;
    const int admin = state->isAdmin != 0;
    // A refused file keeps its item, greyed: sending its all-zero slot would wipe the driver's maps.
    if (id >= IDM_USB_PROFILE_FIRST && id < IDM_USB_PROFILE_FIRST + kProfileIdsPerTransport)
        return {profiles, ProfileAccepted(state, id - IDM_USB_PROFILE_FIRST), 0};
    if (id >= IDM_BTH_PROFILE_FIRST && id < IDM_BTH_PROFILE_FIRST + kProfileIdsPerTransport)
        return {profiles, ProfileAccepted(state, id - IDM_BTH_PROFILE_FIRST), 0};
    switch (id) {
    case IDM_USB_AUTO_FIRE:
    case IDM_USB_INFORMATION: return {usbUp, 1, 0};
    case IDM_USB_DRIVER_RESET: return {usbUp, reset, 0};
    case IDM_BTH_AUTO_FIRE:
    case IDM_BTH_DISCONNECT:
    case IDM_BTH_RECONNECT:
    case IDM_BTH_INFORMATION: return {bthUp, 1, 0};
    case IDM_BTH_DRIVER_RESET: return {bthUp, reset, 0};
    case IDM_RUMBLE_SETTING:
    case IDM_RUMBLE_INFORMATION: return {rumbleUp, 1, 0};
    case IDM_RUMBLE_PERMISSION: return {rumbleUp, 1, state->rumbleEnabled.load() != 0};
    case IDM_EXIT:
    case IDM_VERSION:
    case IDM_CONFIG:
    case IDM_APP_PROFILES: return {1, 1, 0};
    case IDM_MOVE_FF_SETTING: return {admin, admin, 0};
    // Only the debug menu holds the viewer, and it needs the block to show.
    case IDM_RUMBLE_VIEWER: return {1, state->debugMode != 0 && state->rumbleBlock != nullptr, 0};
    default: return {0, 0, 0};
    }
}
