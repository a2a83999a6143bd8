// The version dialog: the program's version and whether it runs in normal or debug mode.
#include "dialogs/dialogs_win.h"
#include "dialogs/dialog_logic.h"
#include "resources/resource.h"

#include "padwarden_version.h"

namespace {

INT_PTR InitVersion(HWND dialog, ToolState* state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    DialogPlace& place = state->versionPlace;
    BeginDialogPlace(dialog, &place.open, &place.posX, &place.posY);
    Utf16 text[64];
    FormatVersionText(text, 64, PADWARDEN_VERSION_MAJOR, PADWARDEN_VERSION_MINOR, PADWARDEN_VERSION_PATCH,
                      PADWARDEN_VERSION_TWEAK);
    SetDlgItemTextW(dialog, IDC_VERSION_TEXT, W(text));
    FormatModeText(text, 64, state->debugMode);
    SetDlgItemTextW(dialog, IDC_MODE_TEXT, W(text));
    MoveDialogToPlace(dialog, place.posX, place.posY);
    return TRUE;
}

INT_PTR CloseVersion(HWND dialog) {
    ToolState* state = DialogState(dialog);
    DialogPlace& place = state->versionPlace;
    StoreDialogPlace(dialog, &place.posX, &place.posY);
    EndDialogPlace(state, dialog, &place.open);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK VersionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return InitVersion(dialog, reinterpret_cast<ToolState*>(lParam));
    case WM_COMMAND: return LOWORD(wParam) == IDCANCEL ? CloseVersion(dialog) : FALSE;
    default: return FALSE;
    }
}
