// The tray icon and its menu on the Win32 side.
#pragma once
#include "core/shell_win.h"

constexpr UINT kTrayCallbackMessage = 0x8001;
constexpr UINT kTrayIconId = 201;

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
// Puts the shield on both "Driver Reset" items of `menu` (sub-menus included): the reset asks
// for the administrator's consent.
void MarkConsentItems(HMENU menu);
HMENU BuildProfileMenu(ToolState* state, int transport);
