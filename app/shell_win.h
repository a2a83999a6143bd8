// Declarations shared by the Win32 layer's files.
#pragma once
#include <windows.h>

#include "app/tool_state.h"

constexpr UINT kTrayCallbackMessage = 0x8001;
constexpr UINT kTrayIconId = 201;
constexpr UINT_PTR kTrayRetryTimer = 1;
// A burst of device-node notices (any USB stick sends several) costs one rediscovery.
constexpr UINT_PTR kDeviceChangeTimer = 2;
constexpr UINT kDeviceChangeQuietMs = 400;

inline const wchar_t* W(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline wchar_t* W(Utf16* s) {
    return reinterpret_cast<wchar_t*>(s);
}

int StartUp(HINSTANCE instance);
void InitializeToolState(ToolState* state);
int IsDebugCommandLine();
// Carries out an installer's switch (see SetupSwitch); 1 when the process goes on as the tool.
int RunSetupSwitch();
void ShutDown(ToolState* state);
// Tells the user that the Monitor thread could not start, then takes the icon and window down.
void FailMonitorThreadStart(ToolState* state);
// The end of a run: shut-down and the single-instance mutex `single` released, or, when the
// Monitor thread will not stop, the process ends at once still holding it.
void EndRun(ToolState* state, HANDLE single);
// 1 when no Monitor thread runs (none was started, or it has returned).
int MonitorThreadEnded(ToolState* state);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Loads a string of the tool's own module into `out` (always terminated).
void LoadText(UINT id, wchar_t* out, int capacity);

// Tray icon
// (Re)loads the seven tray pictures at the small-icon size of the window's monitor and shows
// the current one at once; the old ones are freed. 0 (nothing changed) when one cannot be loaded.
int LoadTrayIcons(ToolState* state);
int AddTrayIcon(ToolState* state);
// Adds the current record again (failed first add, Explorer restart) without touching the
// icon state machine.
int ReAddTrayIcon(ToolState* state);
void SelectTrayIcon(ToolState* state);
void ModifyTrayIcon(ToolState* state);
void DeleteTrayIcon(ToolState* state);
int ShowTrayMenu(ToolState* state);
HMENU BuildProfileMenu(ToolState* state, int transport);

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

// Battery log
void SetBatteryLogging(HWND dialog);
// Puts the full path of today's battery log into the settings dialog's path box.
void ShowBatteryLogPath(HWND dialog);
void CloseBatteryLog(ToolState* state);

INT_PTR CALLBACK ToolSettingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VersionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Driver information, debug information and auto-fire dialogs
INT_PTR CALLBACK UsbInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BthInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DebugInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK UsbAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BthAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
