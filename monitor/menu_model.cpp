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
