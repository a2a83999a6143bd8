#include "app/dispatch.h"

#include "monitor/command_availability.h"
#include "profiles/profile_library.h"
#include "resources/resource.h"

CommandDecision DecideCommand(const ToolState* state, uint64_t wParam) {
    const uint32_t id = static_cast<uint32_t>(wParam & 0xFFFF);
    if (!CommandAvailabilityOf(state, id).enabled)
        return {CommandAction::None, 0};
    if (id >= IDM_USB_PROFILE_FIRST && id < IDM_USB_PROFILE_FIRST + kProfileIdsPerTransport)
        return {CommandAction::ApplyUsbProfile, id - IDM_USB_PROFILE_FIRST};
    if (id >= IDM_BTH_PROFILE_FIRST && id < IDM_BTH_PROFILE_FIRST + kProfileIdsPerTransport)
        return {CommandAction::ApplyBthProfile, id - IDM_BTH_PROFILE_FIRST};
    switch (id) {
    case IDM_USB_AUTO_FIRE: return {CommandAction::OpenUsbAutoFire, 0};
    case IDM_USB_DRIVER_RESET: return {CommandAction::UsbDriverReset, 0};
    case IDM_USB_INFORMATION: return {CommandAction::OpenUsbInformation, 0};
    case IDM_BTH_AUTO_FIRE: return {CommandAction::OpenBthAutoFire, 0};
    case IDM_BTH_DISCONNECT: return {CommandAction::BthDisconnect, 0};
    case IDM_BTH_RECONNECT: return {CommandAction::BthReconnect, 0};
    case IDM_BTH_DRIVER_RESET: return {CommandAction::BthDriverReset, 0};
    case IDM_BTH_INFORMATION: return {CommandAction::OpenBthInformation, 0};
    case IDM_RUMBLE_SETTING: return {CommandAction::OpenRumbleSetting, 0};
    case IDM_RUMBLE_PERMISSION: return {CommandAction::ToggleRumblePermission, 0};
    case IDM_RUMBLE_INFORMATION: return {CommandAction::OpenFfInformation, 0};
    case IDM_EXIT: return {CommandAction::Exit, 0};
    case IDM_VERSION: return {CommandAction::OpenVersion, 0};
    case IDM_CONFIG: return {CommandAction::OpenToolSetting, 0};
    case IDM_MOVE_FF_SETTING: return {CommandAction::MigrateRumbleSettings, 0};
    case IDM_RUMBLE_VIEWER: return {CommandAction::OpenRumbleViewer, 0};
    case IDM_APP_PROFILES: return {CommandAction::OpenApplicationProfiles, 0};
    default: return {CommandAction::None, 0};
    }
}
