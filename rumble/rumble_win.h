// The rumble windows and the migration command of the Win32 layer.
#pragma once
#include <windows.h>

#include "core/tool_state.h"

INT_PTR CALLBACK RumbleSettingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FfInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RumbleViewerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the setting dialog from slot 0 under the lock; 0 (the user told why) when the lock is not
// available within about a second.
int InitializeRumbleSettingDlg(HWND dialog);
// Stores the dialog's values into slot 0 under the lock; 0 (the user told why, over the dialog)
// when the lock is not available within about a second.
int AcceptRumbleSetting(HWND dialog);
void FillFfDriverInformation(HWND dialog);
void FillRumbleViewer(HWND dialog);

enum class RumbleObject { Mapping, Mutex };
// The security descriptor the block's mapping or mutex is created with (free it with LocalFree):
// the interactive user's clients get full access, under a low mandatory label. 0 when it cannot be
// built.
int BuildRumbleSecurity(RumbleObject object, PSECURITY_DESCRIPTOR* descriptor);

// Copies every 24-byte row of `from` into `to`; values of another size, or whose name does not fit
// 63 units, are skipped. Rows that could not be written are counted in `notWritten`. 1 when the
// listing ran to its end.
int CopyRumbleRows(HKEY from, HKEY to, uint32_t* notWritten);
// From the driver's old machine-wide key to the force-feedback driver's per-user key. 1 when both
// keys opened and the listing ran to its end; `notWritten` counts the rows that were not written.
int MigrateRumbleSettings(uint32_t* notWritten);
// The menu command: asks, copies, reports. Administrators only.
void RunRumbleMigrationCommand(ToolState* state);
