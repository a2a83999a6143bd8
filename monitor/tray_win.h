// The tray icon and its menu on the Win32 side.
#pragma once
#include "core/shell_win.h"
#include "monitor/menu_model.h"
#include "monitor/monitor.h" // ModifyTrayIcon, which the Monitor thread calls

constexpr UINT kTrayCallbackMessage = WM_APP + 1;
// From the Monitor thread: wParam the transport (0 USB, 1 Bluetooth), lParam 1 came, 0 went.
constexpr UINT kConnectionMessage = WM_APP + 3;
// The icon's id with the notification area. It is the number the tool has always used, and that
// number is also the first picture's resource id (IDI_TRAY_BASE); nothing ties the two.
constexpr UINT kTrayIconId = 201;
// Loads again the pictures that LoadTrayIcons had to refuse while older ones were still named.
constexpr UINT_PTR kTrayReloadTimer = 4;

// (Re)loads the seven tray pictures at the small-icon size of the window's monitor and shows
// the current one at once; the old ones are freed once no tray call can name them. 0 (nothing
// changed) when one cannot be loaded, or while the set before the current one is still kept;
// then kTrayReloadTimer brings the new set a moment later.
int LoadTrayIcons(ToolState* state);
int AddTrayIcon(ToolState* state);
// Puts the current record up again (failed first add, Explorer restart) without touching the
// icon state machine: after a failed add, by a modify first.
int ReAddTrayIcon(ToolState* state);
void SelectTrayIcon(ToolState* state);
void DeleteTrayIcon(ToolState* state);
// Puts the shield on both "Driver Reset" items of `menu` (sub-menus included): the reset asks
// for the administrator's consent.
void MarkConsentItems(HMENU menu);
// Opens the tray menu at the request's point (at the cursor when it names none); a menu opened
// from the keyboard gives the focus back to the notification area when it closes.
int ShowTrayMenu(ToolState* state, const TrayMenuRequest& request);
HMENU BuildProfileMenu(ToolState* state, int transport);
