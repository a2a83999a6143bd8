#include "monitor/menu_model.h"

#include "profiles/profile_library.h"

TrayMenuModel ComputeTrayMenuModel(const ToolState* state) {
    TrayMenuModel m = {};
    m.menuId = state->debugMode ? 114u : 113u;
    // Each shared flag is read once per press: the Monitor thread may change it meanwhile.
    const int usbUp = state->usbConnected.load() != 0;
    const int bthUp = state->bthConnected.load() != 0;
    const int rumbleUp = state->rumbleActive.load() != 0;
    const int profiles = state->profilesAvailable != 0;
    m.usb = {usbUp, profiles, state->canResetDriver != 0};
    m.bth = {bthUp, profiles, state->canResetDriver != 0};
    m.rumbleEnabled = rumbleUp;
    m.rumbleChecked = state->rumbleEnabled.load() != 0;
    m.registryEnabled = state->isAdmin != 0;
    m.profileItems = profiles ? ProfileMenuCount(state->profileCount) : 0;
    m.resetShield = state->canResetDriver != 0 && state->resetNeedsConsent != 0;
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
