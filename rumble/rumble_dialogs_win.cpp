// The rumble setting dialog (modeless), the force-feedback driver information dialog (modeless)
// and the raw viewer (modal, debug mode).
#include <cstdlib>

#include "core/bytes.h"
#include "core/shell_win.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_text.h"
#include "rumble/rumble_win.h"

namespace {

const int kEditControls[5] = {IDC_RUMBLE_GAIN, IDC_RUMBLE_SMALL_MOTOR, IDC_RUMBLE_LARGE_LOW,
                              IDC_RUMBLE_LARGE_MID, IDC_RUMBLE_LARGE_HIGH};

INT_PTR InitRumbleSetting(HWND dialog, ToolState* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace& place = state->rumblePlace;
    BeginDialogPlace(dialog, &place.open, &place.posX, &place.posY);
    // Empty fields would store zeros on OK: a dialog that could not read the slot is not shown
    // (the opener destroys a dialog whose place is not marked open).
    if (!InitializeRumbleSettingDlg(dialog)) {
        place.open = 0;
        return TRUE;
    }
    MoveDialogToPlace(dialog, place.posX, place.posY);
    return TRUE;
}

INT_PTR CloseRumbleSetting(HWND dialog, int accepted) {
    ToolState* state = DialogState(dialog);
    DialogPlace& place = state->rumblePlace;
    if (accepted) {
        // The user has been told why; the typed values stay for another try.
        if (!AcceptRumbleSetting(dialog))
            return TRUE;
        StoreDialogPlace(dialog, &place.posX, &place.posY);
    }
    EndDialogPlace(state, dialog, &place.open);
    return TRUE;
}

INT_PTR InitFfInformation(HWND dialog, ToolState* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace& place = state->ffDriverPlace;
    BeginDialogPlace(dialog, &place.open, &place.posX, &place.posY);
    FillFfDriverInformation(dialog);
    MoveDialogToPlace(dialog, place.posX, place.posY);
    return TRUE;
}

INT_PTR CloseFfInformation(HWND dialog, int accepted) {
    ToolState* state = DialogState(dialog);
    DialogPlace& place = state->ffDriverPlace;
    if (accepted)
        StoreDialogPlace(dialog, &place.posX, &place.posY);
    EndDialogPlace(state, dialog, &place.open);
    return TRUE;
}

INT_PTR ViewerCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_RUMBLE_REFRESH: FillRumbleViewer(dialog); return TRUE;
    case IDOK:
    case IDCANCEL: PostMessageW(dialog, WM_CLOSE, 0, 0); return TRUE;
    default: return FALSE;
    }
}

} // namespace

int InitializeRumbleSettingDlg(HWND dialog) {
    OutputDebugStringW(L"Enter > InitializeRumbleSettingDlg\n");
    ToolState* state = DialogState(dialog);
    if (state->rumbleBlock == nullptr || !LockRumbleBlockForUser(state, nullptr, IDS_CANNOT_CHANGE_SETTING))
        return 0;
    const uint8_t* slot = RumbleSlot(state->rumbleBlock, 0);
    wchar_t base[32];
    LoadText(IDS_RUMBLE_SETTING, base, 32);
    Utf16 title[kRumbleTitleUnits];
    FormatRumbleTitle(title, kRumbleTitleUnits, reinterpret_cast<const Utf16*>(base), slot);
    SetWindowTextW(dialog, W(title));
    CheckDlgButton(dialog, IDC_RUMBLE_ENABLE,
                   ReadU32LE(slot + kSlotEnable) != 0 ? BST_CHECKED : BST_UNCHECKED);
    for (int i = 0; i < 5; ++i) {
        Utf16 text[kRumbleFieldUnits];
        FormatRumbleField(text, kRumbleFieldUnits, ReadU32LE(slot + kRumbleEditFields[i]));
        SetDlgItemTextW(dialog, kEditControls[i], W(text));
    }
    UnlockRumbleBlock(state);
    return 1;
}

int AcceptRumbleSetting(HWND dialog) {
    OutputDebugStringW(L"Enter > AcceptRumbleSetting\n");
    ToolState* state = DialogState(dialog);
    if (state->rumbleBlock == nullptr || !LockRumbleBlockForUser(state, dialog, IDS_CANNOT_CHANGE_SETTING))
        return 0;
    const int ticked = IsDlgButtonChecked(dialog, IDC_RUMBLE_ENABLE) == BST_CHECKED;
    int32_t values[5];
    for (int i = 0; i < 5; ++i) {
        wchar_t text[32] = {};
        GetDlgItemTextW(dialog, kEditControls[i], text, 32);
        values[i] = RumbleValueFromText(reinterpret_cast<const Utf16*>(text));
    }
    AcceptRumbleValues(RumbleSlot(state->rumbleBlock, 0), ticked, values);
    UnlockRumbleBlock(state);
    return 1;
}

void FillFfDriverInformation(HWND dialog) {
    ToolState* state = DialogState(dialog);
    Utf16 text[kFfVersionUnits];
    FormatFfDriverVersion(state->rumbleBlock, text, kFfVersionUnits);
    SetDlgItemTextW(dialog, IDC_FF_VERSION, W(text));
}

void FillRumbleViewer(HWND dialog) {
    ToolState* state = DialogState(dialog);
    auto* text = static_cast<Utf16*>(std::calloc(kRumbleDumpUnits, sizeof(Utf16)));
    if (text == nullptr)
        return;
    if (state->rumbleBlock != nullptr)
        FormatRumbleDump(state->rumbleBlock, text, kRumbleDumpUnits);
    SetDlgItemTextW(dialog, IDC_RUMBLE_DUMP, W(text));
    std::free(text);
    // Show the dump from its first line, not scrolled to its end with everything selected.
    SendDlgItemMessageW(dialog, IDC_RUMBLE_DUMP, EM_SETSEL, 0, 0);
    SendDlgItemMessageW(dialog, IDC_RUMBLE_DUMP, EM_SCROLLCARET, 0, 0);
}

INT_PTR CALLBACK RumbleSettingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitRumbleSetting(dialog, reinterpret_cast<ToolState*>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            return CloseRumbleSetting(dialog, LOWORD(wParam) == IDOK);
        return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK FfInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitFfInformation(dialog, reinterpret_cast<ToolState*>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            return CloseFfInformation(dialog, LOWORD(wParam) == IDOK);
        return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK RumbleViewerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        FillRumbleViewer(dialog);
        // Focus set here keeps the dialog manager from selecting the whole dump.
        SetFocus(GetDlgItem(dialog, IDC_RUMBLE_DUMP));
        return FALSE;
    case WM_COMMAND: return ViewerCommand(dialog, wParam);
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    default: return FALSE;
    }
}
