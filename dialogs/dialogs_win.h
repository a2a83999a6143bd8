// The procedures of the tool's own modeless dialogs, which the hidden window opens.
#pragma once
#include "core/shell_win.h"

INT_PTR CALLBACK ToolSettingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VersionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Driver information, debug information and auto-fire dialogs
INT_PTR CALLBACK UsbInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BthInformationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DebugInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK UsbAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BthAutoFireDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Application profiles; OK posts kAppRulesChangedMessage to the hidden window once the rules are
// saved.
INT_PTR CALLBACK ApplicationProfilesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
constexpr UINT kAppRulesChangedMessage = WM_APP + 5;
