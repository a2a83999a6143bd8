// The auto-fire dialog: the buttons ticked from the driver's record, and OK queued to the device
// worker; dialogs/dialog_logic.cpp holds its rules.
#include "dialogs/dialogs_win.h"

#include "core/ui_port.h"
#include "dialogs/information.h"
#include "driver/driver_link.h"
#include "driver/driver_win.h"
#include "resources/resource.h"

namespace {

DialogPlace* PlaceOf(ToolState* state, int usb) {
    return usb ? &state->usbAutoFirePlace : &state->bthAutoFirePlace;
}

// One slot per transport: any other selected index names no device.
DeviceSlot* SlotOf(ToolState* state, int usb) {
    if (usb)
        return state->usbSelectedDevice == 0 ? &state->usbDevices[0] : nullptr;
    return state->bthSelectedDevice == 0 ? &state->bthDevices[0] : nullptr;
}

void ShowAutoFireButtons(HWND dialog, DeviceSlot* slot) {
    if (slot == nullptr)
        return;
    int32_t ticks[kAutoFireBoxCount];
    AutoFireBoxesFromMask(CachedAutoFireButtons(slot), ticks);
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        CheckDlgButton(dialog, IDC_AUTO_FIRE_FIRST + i, ticks[i] ? BST_CHECKED : BST_UNCHECKED);
}

uint32_t ReadAutoFireButtons(HWND dialog) {
    int32_t ticks[kAutoFireBoxCount];
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        ticks[i] = IsDlgButtonChecked(dialog, IDC_AUTO_FIRE_FIRST + i) == BST_CHECKED;
    return AutoFireMaskFromBoxes(ticks);
}

INT_PTR InitAutoFire(HWND dialog, ToolState* state, int usb) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace* place = PlaceOf(state, usb);
    BeginDialogPlace(dialog, &place->open, &place->posX, &place->posY);
    ShowAutoFireButtons(dialog, SlotOf(state, usb));
    MoveDialogToPlace(dialog, place->posX, place->posY);
    return TRUE;
}

INT_PTR CloseAutoFire(HWND dialog, ToolState* state, int usb) {
    DialogPlace* place = PlaceOf(state, usb);
    StoreDialogPlace(dialog, &place->posX, &place->posY);
    EndDialogPlace(state, dialog, &place->open);
    return TRUE;
}

// OK always sends, even an unchanged set; the dialog closes whether or not the driver took it.
// The device worker sends it, and the main window shows a refusal when the answer comes.
INT_PTR ApplyAutoFire(HWND dialog, ToolState* state, int usb) {
    if (SlotOf(state, usb) != nullptr) {
        DeviceCommand command;
        command.kind = DeviceCommandKind::SetAutoFire;
        command.buttons = ReadAutoFireButtons(dialog);
        QueueDeviceCommand(state, usb ? kUsbTransport : kBthTransport, command,
                           static_cast<HWND>(state->mainWindow));
    } else {
        ShowErrorMessage(dialog, IDS_DRIVER_CONTROL_FAILED);
    }
    return CloseAutoFire(dialog, state, usb);
}

INT_PTR AutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int usb) {
    if (message == WM_INITDIALOG)
        return InitAutoFire(dialog, reinterpret_cast<ToolState*>(lParam), usb);
    ToolState* state = DialogState(dialog);
    if (message != WM_COMMAND || state == nullptr)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK: return ApplyAutoFire(dialog, state, usb);
    case IDCANCEL: return CloseAutoFire(dialog, state, usb);
    default: return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK UsbAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return AutoFireDlgProc(dialog, message, wParam, lParam, 1);
}

INT_PTR CALLBACK BthAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return AutoFireDlgProc(dialog, message, wParam, lParam, 0);
}
