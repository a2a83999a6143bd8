// The Driver information and debug dialogs: the fields that dialogs/information.cpp formats from
// the driver's record, the battery bar, and the debug query run on the device worker.
#include "dialogs/dialogs_win.h"

#include <commctrl.h>
#include "core/ui_port.h"
#include "dialogs/debug_text.h"
#include "dialogs/information.h"
#include "driver/control_report.h"
#include "driver/driver_win.h"
#include "resources/resource.h"

namespace {

struct Transport {
    int usb;
    InformationPlace* place;
    DeviceSlot* devices;
    uint32_t deviceCount;
    uint32_t selectedDevice;
    int debugButton;
    uint32_t selectorBase;
};

Transport TransportOf(ToolState* state, int usb) {
    if (usb)
        return {1,
                &state->usbInformationPlace,
                state->usbDevices,
                state->usbDeviceCount.load(),
                state->usbSelectedDevice,
                IDC_INFO_USB_DEBUG,
                kSelectorUsb0};
    return {0,
            &state->bthInformationPlace,
            state->bthDevices,
            state->bthDeviceCount.load(),
            state->bthSelectedDevice,
            IDC_INFO_BTH_DEBUG,
            kSelectorBluetooth0};
}

// One slot per transport: any other index names no device.
DeviceSlot* ShownSlot(const Transport& t) {
    return t.place->selectedDevice == 0 ? &t.devices[0] : nullptr;
}

void SetAsciiText(HWND dialog, int id, const char* text) {
    wchar_t wide[kFieldTextChars] = {};
    for (int i = 0; i + 1 < kFieldTextChars && text[i] != 0; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    SetDlgItemTextW(dialog, id, wide);
}

void SetStringText(HWND dialog, int id, uint32_t stringId) {
    if (stringId == 0) {
        SetDlgItemTextW(dialog, id, L"---");
        return;
    }
    wchar_t text[128];
    LoadText(stringId, text, 128);
    SetDlgItemTextW(dialog, id, text);
}

void ShowSpeedSelector(HWND dialog, int right) {
    CheckDlgButton(dialog, IDC_INFO_SPEED_LEFT, right ? BST_UNCHECKED : BST_CHECKED);
    CheckDlgButton(dialog, IDC_INFO_SPEED_RIGHT, right ? BST_CHECKED : BST_UNCHECKED);
}

void ShowBatteryBar(HWND dialog, const BatteryBar& bar) {
    HWND control = GetDlgItem(dialog, IDC_INFO_BATTERY);
    EnableWindow(control, bar.enabled ? TRUE : FALSE);
    if (!bar.enabled)
        return;
    SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(bar.position), 0);
    SendMessageW(control, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(RGB(bar.red, bar.green, bar.blue)));
}

// The device list and the debug button belong to debug mode alone, whether or not a record
// has been shown: the button switches the user's driver into its debug mode.
void ShowDebugControls(HWND dialog, ToolState* state, const Transport& t) {
    const int on = state->debugMode != 0;
    HWND combo = GetDlgItem(dialog, IDC_INFO_DEVICE);
    HWND button = GetDlgItem(dialog, t.debugButton);
    EnableWindow(combo, on);
    ShowWindow(combo, on ? SW_SHOW : SW_HIDE);
    EnableWindow(button, on);
    ShowWindow(button, on ? SW_SHOW : SW_HIDE);
}

void ShowDeviceList(HWND dialog, ToolState* state, const Transport& t) {
    ShowDebugControls(dialog, state, t);
    HWND combo = GetDlgItem(dialog, IDC_INFO_DEVICE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const uint32_t count = t.deviceCount < 1 ? t.deviceCount : 1;
    for (uint32_t i = 0; i < count; ++i) {
        wchar_t number[16];
        wsprintfW(number, L"%02u", i);
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(number));
    }
    SendMessageW(combo, CB_SETCURSEL, t.selectedDevice, 0);
}

// Formats every field from one copy taken under the record's lock, so a fill never mixes two of
// the Monitor thread's records. A closed slot leaves the dialog as it was.
void FillInformation(HWND dialog, ToolState* state, int usb) {
    const Transport t = TransportOf(state, usb);
    uint8_t record[kDriverInfoSize];
    if (!CopyOpenDriverInfo(ShownSlot(t), record))
        return;
    InformationTexts texts;
    FormatInformation(record, usb, &texts);
    SetAsciiText(dialog, IDC_INFO_VERSION, texts.version);
    if (!usb) {
        SetAsciiText(dialog, IDC_INFO_HCI, texts.hci);
        SetAsciiText(dialog, IDC_INFO_LMP, texts.lmp);
        SetAsciiText(dialog, IDC_INFO_MANUFACTURER, texts.manufacturer);
        SetAsciiText(dialog, IDC_INFO_ADAPTER, texts.adapter);
        SetAsciiText(dialog, IDC_INFO_REMOTE, texts.remote);
        SetAsciiText(dialog, IDC_INFO_POWER, texts.power);
        SetAsciiText(dialog, IDC_INFO_LINK_QUALITY, texts.linkQuality);
        ShowBatteryBar(dialog, texts.battery);
    }
    SetStringText(dialog, IDC_INFO_MODE, texts.modeStringId);
    SetStringText(dialog, IDC_INFO_STATUS, texts.statusStringId);
    SetStringText(dialog, IDC_INFO_ERROR, texts.errorStringId);
    ShowSpeedSelector(dialog, texts.speedSelectorRight);
    int32_t ticks[kAutoFireBoxCount];
    AutoFireBoxesFromMask(texts.autoFireButtons, ticks);
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        CheckDlgButton(dialog, IDC_INFO_AUTO_FIRE_FIRST + i, ticks[i] ? BST_CHECKED : BST_UNCHECKED);
    ShowDeviceList(dialog, state, t);
}

INT_PTR InitInformation(HWND dialog, ToolState* state, int usb) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    const Transport t = TransportOf(state, usb);
    InformationPlace* place = t.place;
    BeginDialogPlace(dialog, &place->open, &place->posX, &place->posY);
    ShowDebugControls(dialog, state, t);
    if (!usb) {
        HWND bar = GetDlgItem(dialog, IDC_INFO_BATTERY);
        // A themed progress bar ignores its bar colour, and the colour is what tells the state.
        // The theme engine is already loaded with the common controls; it is not imported.
        HMODULE theme = GetModuleHandleW(L"uxtheme.dll");
        using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
        auto setTheme =
            theme != nullptr
                ? reinterpret_cast<SetTheme>(reinterpret_cast<void*>(GetProcAddress(theme, "SetWindowTheme")))
                : nullptr;
        // Empty strings are the documented way off, but Wine ignores them; a single space names
        // no theme on Windows and Wine alike.
        if (setTheme != nullptr)
            setTheme(bar, L" ", L" ");
        SendMessageW(bar, PBM_SETRANGE32, 0, 5);
    }
    FillInformation(dialog, state, usb);
    MoveDialogToPlace(dialog, place->posX, place->posY);
    return TRUE;
}

INT_PTR CloseInformation(HWND dialog, ToolState* state, int usb, int storePosition) {
    InformationPlace* place = TransportOf(state, usb).place;
    if (storePosition)
        StoreDialogPlace(dialog, &place->posX, &place->posY);
    EndDialogPlace(state, dialog, &place->open);
    return TRUE;
}

// The radio buttons are not automatic; a click only has them drawn again from the record.
void RestoreSpeedSelector(HWND dialog, ToolState* state, int usb) {
    uint8_t record[kDriverInfoSize];
    if (CopyOpenDriverInfo(ShownSlot(TransportOf(state, usb)), record))
        ShowSpeedSelector(dialog, record[kDriverInfoAtAutoFireSpeedSelector] != 0);
}

struct DebugDialogParam {
    ToolState* state;
    uint32_t selector;
    // The query whose answer the dialog waits for, 0 when none: an older one's is dropped.
    uint32_t pending;
};

void OpenDebugInformation(HWND dialog, ToolState* state, int usb) {
    const Transport t = TransportOf(state, usb);
    DebugDialogParam param = {state, t.selectorBase | (t.selectedDevice & 0xFFFFu), 0};
    DialogBoxParamW(static_cast<HINSTANCE>(state->instance), MAKEINTRESOURCEW(IDD_DEBUG_INFORMATION), dialog,
                    DebugInfoDlgProc, reinterpret_cast<LPARAM>(&param));
}

INT_PTR CommandInformation(HWND dialog, WPARAM wParam, int usb) {
    ToolState* state = DialogState(dialog);
    if (state == nullptr)
        return FALSE;
    const int id = LOWORD(wParam);
    switch (id) {
    case IDOK: return CloseInformation(dialog, state, usb, 1);
    case IDCANCEL: return CloseInformation(dialog, state, usb, 0);
    case IDC_INFO_SPEED_LEFT:
    case IDC_INFO_SPEED_RIGHT: RestoreSpeedSelector(dialog, state, usb); return TRUE;
    case IDC_INFO_REFRESH: FillInformation(dialog, state, usb); return TRUE;
    default: break;
    }
    if (id == TransportOf(state, usb).debugButton) {
        if (state->debugMode)
            OpenDebugInformation(dialog, state, usb);
        return TRUE;
    }
    return FALSE;
}

INT_PTR InformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, int usb) {
    switch (message) {
    case WM_INITDIALOG: return InitInformation(dialog, reinterpret_cast<ToolState*>(lParam), usb);
    case WM_COMMAND: return CommandInformation(dialog, wParam, usb);
    default: return FALSE;
    }
}

DebugDialogParam* DebugParamOf(HWND dialog) {
    return reinterpret_cast<DebugDialogParam*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

void ForgetDebugQuery(DebugDialogParam* param) {
    if (param->pending != 0)
        AbandonDeviceCommand(param->state, param->pending);
    param->pending = 0;
}

// The driver information view comes from the record the Monitor thread keeps; the debug records
// from a query that the transport's device worker runs, so the dialog answers while it waits.
void ShowDebugView(HWND dialog) {
    DebugDialogParam* param = DebugParamOf(dialog);
    const LRESULT position = SendDlgItemMessageW(dialog, IDC_DEBUG_VIEW, CB_GETCURSEL, 0, 0);
    if (param == nullptr || position < 0 || position > 3)
        return;
    ForgetDebugQuery(param);
    const uint32_t infoType = static_cast<uint32_t>(position);
    if (infoType == kInfoTypeDriverInfo || SelectorIndex(param->selector) != 0) {
        Utf16 text[kDebugTextChars];
        BuildDebugInfoText(param->state, param->selector, infoType, text, kDebugTextChars);
        SetDlgItemTextW(dialog, IDC_DEBUG_TEXT, W(text));
        return;
    }
    DeviceCommand command;
    command.kind = DeviceCommandKind::DebugQuery;
    command.infoType = infoType;
    param->pending = QueueDeviceCommand(
        param->state, SelectorIsBluetooth(param->selector) ? kBthTransport : kUsbTransport, command, dialog);
}

INT_PTR ShowDebugAnswer(HWND dialog, WPARAM ticket) {
    DebugDialogParam* param = DebugParamOf(dialog);
    DeviceCommandOutcome outcome;
    if (param == nullptr || !TakeDeviceOutcome(param->state, static_cast<uint32_t>(ticket), &outcome))
        return TRUE;
    if (static_cast<uint32_t>(ticket) != param->pending)
        return TRUE;
    param->pending = 0;
    if (outcome.end == DeviceCommandEnd::Busy) {
        ShowErrorMessage(dialog, IDS_DRIVER_BUSY);
        return TRUE;
    }
    // A failed query leaves zeros or a record of another kind; the text says so either way.
    Utf16 text[kDebugTextChars];
    FormatDebugRecordText(param->selector, outcome.infoType, outcome.record, text, kDebugTextChars);
    SetDlgItemTextW(dialog, IDC_DEBUG_TEXT, W(text));
    return TRUE;
}

void EndDebugInformation(HWND dialog, INT_PTR result) {
    if (DebugDialogParam* param = DebugParamOf(dialog))
        ForgetDebugQuery(param);
    EndDialog(dialog, result);
}

INT_PTR InitDebugInformation(HWND dialog, LPARAM lParam) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    // The position of each entry is its info type, so they are inserted, never sorted.
    static const wchar_t* const views[] = {L"DRIVER_INFO", L"DEBUG_INFO", L"BTHSUPPORT_INFO",
                                           L"DEBUGRAWDATA"};
    for (int i = 0; i < 4; ++i)
        SendDlgItemMessageW(dialog, IDC_DEBUG_VIEW, CB_INSERTSTRING, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(views[i]));
    SendDlgItemMessageW(dialog, IDC_DEBUG_VIEW, CB_SETCURSEL, 0, 0);
    ShowDebugView(dialog);
    return TRUE;
}

INT_PTR CommandDebugInformation(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_DEBUG_REFRESH: ShowDebugView(dialog); return TRUE;
    case IDC_DEBUG_VIEW:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            ShowDebugView(dialog);
        return TRUE;
    case IDOK:
    case IDCANCEL: EndDebugInformation(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK UsbInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return InformationDlgProc(dialog, message, wParam, lParam, 1);
}

INT_PTR CALLBACK BthInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return InformationDlgProc(dialog, message, wParam, lParam, 0);
}

INT_PTR CALLBACK DebugInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitDebugInformation(dialog, lParam);
    case WM_COMMAND: return CommandDebugInformation(dialog, wParam);
    case kDeviceOutcomeMessage: return ShowDebugAnswer(dialog, wParam);
    case WM_CLOSE: EndDebugInformation(dialog, 0); return TRUE;
    default: return FALSE;
    }
}
