#include "app/dispatch.h"

#include "profiles/profile_library.h"
#include "resources/resource.h"

CommandDecision DecideCommand(const ToolState* state, uint64_t wParam) {
    const uint32_t id = static_cast<uint32_t>(wParam & 0xFFFF);
    if (id >= IDM_USB_PROFILE_FIRST && id < IDM_USB_PROFILE_FIRST + kProfileIdsPerTransport) {
        const uint32_t i = id - IDM_USB_PROFILE_FIRST;
        // A refused file's slot is all zero: sending it would wipe the driver's maps.
        if (ProfileAccepted(state, i))
            return {CommandAction::ApplyUsbProfile, i};
        return {CommandAction::None, 0};
    }
    if (id >= IDM_BTH_PROFILE_FIRST && id < IDM_BTH_PROFILE_FIRST + kProfileIdsPerTransport) {
        const uint32_t i = id - IDM_BTH_PROFILE_FIRST;
        if (ProfileAccepted(state, i))
            return {CommandAction::ApplyBthProfile, i};
        return {CommandAction::None, 0};
    }
    switch (id) {
    case IDM_USB_AUTO_FIRE: return {CommandAction::OpenUsbAutoFire, 0};
    case IDM_USB_DRIVER_RESET:
        return {state->canResetDriver ? CommandAction::UsbDriverReset : CommandAction::None, 0};
    case IDM_USB_INFORMATION: return {CommandAction::OpenUsbInformation, 0};
    case IDM_BTH_AUTO_FIRE: return {CommandAction::OpenBthAutoFire, 0};
    case IDM_BTH_DISCONNECT: return {CommandAction::BthDisconnect, 0};
    case IDM_BTH_RECONNECT: return {CommandAction::BthReconnect, 0};
    case IDM_BTH_DRIVER_RESET:
        return {state->canResetDriver ? CommandAction::BthDriverReset : CommandAction::None, 0};
    case IDM_BTH_INFORMATION: return {CommandAction::OpenBthInformation, 0};
    case IDM_RUMBLE_SETTING: return {CommandAction::OpenRumbleSetting, 0};
    case IDM_RUMBLE_PERMISSION: return {CommandAction::ToggleRumblePermission, 0};
    case IDM_RUMBLE_INFORMATION: return {CommandAction::OpenFfInformation, 0};
    case IDM_EXIT: return {CommandAction::Exit, 0};
    case IDM_VERSION: return {CommandAction::OpenVersion, 0};
    case IDM_CONFIG: return {CommandAction::OpenToolSetting, 0};
    case IDM_MOVE_FF_SETTING:
        return {state->isAdmin ? CommandAction::MigrateRumbleSettings : CommandAction::None, 0};
    case IDM_RUMBLE_VIEWER:
        return {state->debugMode && state->rumbleBlock != nullptr ? CommandAction::OpenRumbleViewer
                                                                  : CommandAction::None,
                0};
    default: return {CommandAction::None, 0};
    }
}
