// The Win32 layer's foundations, which every subsystem's Win32 files may use: wide-text views,
// the string table, the modeless dialog shell and the battery log's file.
#pragma once
#include <windows.h>

#include "core/tool_state.h"

inline const wchar_t* W(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline wchar_t* W(Utf16* s) {
    return reinterpret_cast<wchar_t*>(s);
}

// Loads a string of the tool's own module into `out` (always terminated).
void LoadText(UINT id, wchar_t* out, int capacity);

// Modeless dialogs
void RegisterModelessDialog(ToolState* state, HWND dialog);
void UnregisterModelessDialog(ToolState* state, HWND dialog);
int IsModelessDialogMessage(ToolState* state, MSG* message);
// Opens the dialog unless its place says it is open; shows 1005 when it cannot be created.
void OpenModelessDialog(ToolState* state, int32_t* openFlag, int resourceId, DLGPROC procedure);
// Loads and registers the common controls before the first dialog; main thread only.
void LoadCommonControls();
// The Tool state handed to a dialog procedure at its initialisation message.
ToolState* DialogState(HWND dialog);
// The placement convention: marks the place open and moves the saved position into the work
// area of the monitor nearest to it; the dialog goes there with MoveDialogToPlace once filled.
void BeginDialogPlace(HWND dialog, int32_t* openFlag, int16_t* posX, int16_t* posY);
void MoveDialogToPlace(HWND dialog, int16_t posX, int16_t posY);
void StoreDialogPlace(HWND dialog, int16_t* posX, int16_t* posY);
void EndDialogPlace(ToolState* state, HWND dialog, int32_t* openFlag);

// Battery log: the settings dialog opens and closes the file, the end of a run closes it, the
// Monitor thread writes to it.
void SetBatteryLogging(HWND dialog);
// Puts the full path of today's battery log into the settings dialog's path box.
void ShowBatteryLogPath(HWND dialog);
void CloseBatteryLog(ToolState* state);
