// The tool settings dialog: the check boxes and the animation speed, held to their range by
// dialogs/dialog_logic.cpp, then saved.
#include "dialogs/dialogs_win.h"

#include <commctrl.h>
#include "dialogs/dialog_logic.h"
#include "resources/resource.h"

namespace {

void EnableSpeedControls(HWND dialog, BOOL on) {
    EnableWindow(GetDlgItem(dialog, IDC_SPEED_LABEL), on);
    EnableWindow(GetDlgItem(dialog, IDC_SPEED_EDIT), on);
    EnableWindow(GetDlgItem(dialog, IDC_SPEED_UPDOWN), on);
}

INT_PTR InitToolSetting(HWND dialog, ToolState* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace& place = state->toolSettingPlace;
    BeginDialogPlace(dialog, &place.open, &place.posX, &place.posY);
    HWND updown = GetDlgItem(dialog, IDC_SPEED_UPDOWN);
    SendMessageW(updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_SPEED_EDIT)), 0);
    SendMessageW(updown, UDM_SETRANGE32, 1, 300);
    SendMessageW(updown, UDM_SETPOS32, 0, static_cast<LPARAM>(state->iconAnimationSpeed.load()));
    CheckDlgButton(dialog, IDC_ENABLE_ANIMATION, static_cast<UINT>(state->enableAnimationIcon.load()));
    CheckDlgButton(dialog, IDC_NOTIFY_PS_BUTTON, state->enableNotifyPSButton ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_NOTIFY_LOW_BATTERY,
                   state->enableNotifyLowBattery ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SHOW_STATE_TIP, state->showStateInTooltip ? BST_CHECKED : BST_UNCHECKED);
    EnableSpeedControls(dialog, state->enableAnimationIcon != 0);
    HWND logging = GetDlgItem(dialog, IDC_ENABLE_DEBUG_LOGGING);
    EnableWindow(logging, state->debugMode != 0);
    ShowWindow(logging, state->debugMode ? SW_SHOW : SW_HIDE);
    CheckDlgButton(dialog, IDC_ENABLE_DEBUG_LOGGING, state->batteryLogEnabled ? BST_CHECKED : BST_UNCHECKED);
    // Where the log goes, beside the box that starts it.
    ShowWindow(GetDlgItem(dialog, IDC_BATTERY_LOG_PATH), state->debugMode ? SW_SHOW : SW_HIDE);
    if (state->debugMode)
        ShowBatteryLogPath(dialog);
    MoveDialogToPlace(dialog, place.posX, place.posY);
    return TRUE;
}

INT_PTR CloseToolSetting(HWND dialog, ToolState* state) {
    DialogPlace& place = state->toolSettingPlace;
    StoreDialogPlace(dialog, &place.posX, &place.posY);
    EndDialogPlace(state, dialog, &place.open);
    return TRUE;
}

INT_PTR ApplyToolSetting(HWND dialog, ToolState* state) {
    state->enableAnimationIcon = IsDlgButtonChecked(dialog, IDC_ENABLE_ANIMATION) == BST_CHECKED ? 1 : 0;
    state->enableNotifyPSButton = IsDlgButtonChecked(dialog, IDC_NOTIFY_PS_BUTTON) == BST_CHECKED ? 1 : 0;
    state->enableNotifyLowBattery = IsDlgButtonChecked(dialog, IDC_NOTIFY_LOW_BATTERY) == BST_CHECKED ? 1 : 0;
    const int32_t showState = IsDlgButtonChecked(dialog, IDC_SHOW_STATE_TIP) == BST_CHECKED ? 1 : 0;
    if (showState != state->showStateInTooltip.exchange(showState))
        EventSet(&state->wakeEvent); // the next pass sends the new tooltip at once
    // The box's own text, not the up-down's position: the control answers any text it cannot
    // place (0, 301, letters) with an error that read as a number is the slowest speed.
    wchar_t typed[32] = {};
    GetDlgItemTextW(dialog, IDC_SPEED_EDIT, typed, 32);
    state->iconAnimationSpeed =
        SpeedFromTypedText(reinterpret_cast<const Utf16*>(typed), 32, state->iconAnimationSpeed.load());
    if (state->debugMode)
        SetBatteryLogging(dialog);
    return CloseToolSetting(dialog, state);
}

INT_PTR CommandToolSetting(HWND dialog, WPARAM wParam) {
    ToolState* state = DialogState(dialog);
    switch (LOWORD(wParam)) {
    case IDC_ENABLE_ANIMATION:
        EnableSpeedControls(dialog, IsDlgButtonChecked(dialog, IDC_ENABLE_ANIMATION) == BST_CHECKED);
        return TRUE;
    case IDOK: return ApplyToolSetting(dialog, state);
    case IDCANCEL: return CloseToolSetting(dialog, state);
    default: return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK ToolSettingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitToolSetting(dialog, reinterpret_cast<ToolState*>(lParam));
    case WM_COMMAND: return CommandToolSetting(dialog, wParam);
    default: return FALSE;
    }
}
