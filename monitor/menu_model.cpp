#include "monitor/menu_model.h"

#include "monitor/command_availability.h"
#include "profiles/profile_library.h"
#include "resources/resource.h"

TrayMenuModel ComputeTrayMenuModel(const ToolState* state) {
    TrayMenuModel m = {};
    m.menuId = state->debugMode ? IDM_TRAY_DEBUG : IDM_TRAY;
    // A popup is live when an item it holds is reachable; the first profile's id stands for the
    // Profile popup, whose items all answer alike.
    const auto of = [state](uint32_t id) { return CommandAvailabilityOf(state, id); };
    m.usb = {of(IDM_USB_INFORMATION).reachable, of(IDM_USB_PROFILE_FIRST).reachable,
             of(IDM_USB_DRIVER_RESET).enabled};
    m.bth = {of(IDM_BTH_INFORMATION).reachable, of(IDM_BTH_PROFILE_FIRST).reachable,
             of(IDM_BTH_DRIVER_RESET).enabled};
    m.rumbleEnabled = of(IDM_RUMBLE_SETTING).reachable;
    m.rumbleChecked = of(IDM_RUMBLE_PERMISSION).checked;
    m.registryEnabled = of(IDM_MOVE_FF_SETTING).reachable;
    m.profileItems = m.usb.profileEnabled ? ProfileMenuCount(state->profileCount) : 0;
    m.resetShield = m.usb.resetEnabled && state->resetNeedsConsent != 0;
    return m;
}

TrayMenuRequest TrayMenuRequestFor(ToolState* state, uint32_t iconId, uint64_t wParam, uint64_t lParam) {
    TrayMenuRequest request = {TrayMenuOpen::None, 0, 0, 0};
    const uint32_t low = static_cast<uint32_t>(lParam & 0xFFFF);
    const uint32_t high = static_cast<uint32_t>((lParam >> 16) & 0xFFFF);
    uint32_t event;
    if (high == iconId) {
        event = low;
        request.anchored = 1;
        // Signed words: a monitor left of or above the main one has negative coordinates.
        request.x = static_cast<int16_t>(wParam & 0xFFFF);
        request.y = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
    } else if (high == 0 && wParam == iconId) {
        event = low;
    } else {
        return request;
    }
    const int32_t afterRightUp = state->trayAfterRightUp;
    state->trayAfterRightUp = event == kTrayEventRightUp ? 1 : 0;
    switch (event) {
    case kTrayEventRightDown: request.open = TrayMenuOpen::ByMouse; break;
    case kTrayEventContextMenu:
        request.open = afterRightUp ? TrayMenuOpen::None : TrayMenuOpen::ByKeyboard;
        break;
    case kTrayEventKeySelect: request.open = TrayMenuOpen::ByKeyboard; break;
    default: break;
    }
    if (state->trayMenuOpen)
        request.open = TrayMenuOpen::None;
    return request;
}
