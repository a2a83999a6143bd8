// The UI port on Windows: texts from the string table and the error box the portable code asks
// for by string id.
#include "core/shell_win.h"
#include "core/ui_port.h"

void LoadText(UINT id, wchar_t* out, int capacity) {
    if (capacity <= 0)
        return;
    out[0] = 0;
    if (LoadStringW(GetModuleHandleW(nullptr), id, out, capacity) <= 0)
        out[0] = 0;
    out[capacity - 1] = 0;
}

void ShowErrorMessage(WindowHandle owner, uint32_t stringId) {
    wchar_t text[256];
    LoadText(stringId, text, 256);
    // A tray tool has no window in front: without this the box may open behind other windows.
    MessageBoxW(static_cast<HWND>(owner), text, L"Error", MB_OK | MB_SETFOREGROUND);
}
