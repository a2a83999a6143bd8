// What the tray menu shows for the current state: which items are greyed or ticked, which menu
// resource is loaded and how many profile items each transport lists.
#pragma once
#include <cstdint>

#include "core/tool_state.h"

// The popups that carry no command id, by position: the four of the tracked popup and the USB
// "Profile" popup inside the USB one. Every other item is found by its id. The same in every menu
// resource (both languages, normal and debug); a Windows-suite test checks what stands at each.
constexpr int kMenuPosUsb = 0;
constexpr int kMenuPosBluetooth = 1;
constexpr int kMenuPosRumble = 3;
constexpr int kMenuPosRegistry = 5;
constexpr int kUsbPosProfile = 1;

struct TransportMenuModel {
    int enabled;        // the transport's popup; greyed hides the whole sub-menu
    int profileEnabled; // "Profile" item, with the profile sub-menu attached when enabled
    int resetEnabled;   // "Driver Reset"
};

struct TrayMenuModel {
    uint32_t menuId; // 113, or 114 in debug mode
    TransportMenuModel usb;
    TransportMenuModel bth;
    int rumbleEnabled;     // the "Rumble" popup
    int rumbleChecked;     // check mark on the permission item
    int registryEnabled;   // the "Registry" popup
    uint32_t profileItems; // items per profile sub-menu
    int resetShield;       // both "Driver Reset" items carry the shield: the reset asks for consent
};

TrayMenuModel ComputeTrayMenuModel(const ToolState* state);

// The notification area's callback message. With NOTIFYICON_VERSION_4, which the icon asks for,
// lParam's low word is the event, its high word the icon, and wParam the point to open a menu at;
// a shell that refused the version sends the icon in wParam and the event as lParam.
constexpr uint32_t kTrayEventContextMenu = 0x007B; // WM_CONTEXTMENU
constexpr uint32_t kTrayEventRightDown = 0x0204;   // WM_RBUTTONDOWN
constexpr uint32_t kTrayEventRightUp = 0x0205;     // WM_RBUTTONUP
constexpr uint32_t kTrayEventKeySelect = 0x0401;   // NIN_KEYSELECT

enum class TrayMenuOpen { None, ByMouse, ByKeyboard };

struct TrayMenuRequest {
    TrayMenuOpen open;
    int32_t anchored; // 0: the message names no point, the menu opens at the cursor
    int32_t x;
    int32_t y;
};

// Whether a callback message about icon `iconId` opens the menu, and where. A right click opens
// it on the press, as the tool always has; the release and the WM_CONTEXTMENU that follow it do
// not open it again. A WM_CONTEXTMENU with no release just before it comes from the keyboard
// (Shift+F10, the menu key), as NIN_KEYSELECT does (Space, Enter). Nothing opens a second menu
// while one is open (trayMenuOpen). Window thread only.
TrayMenuRequest TrayMenuRequestFor(ToolState* state, uint32_t iconId, uint64_t wParam, uint64_t lParam);
