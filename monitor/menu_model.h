// What the tray menu shows for the current state: which items are greyed or ticked, which menu
// resource is loaded and how many profile items each transport lists.
#pragma once
#include <cstdint>

#include "core/tool_state.h"

// Positions inside the tracked popup and its sub-menus (the same in both menu resources).
constexpr int kMenuPosUsb = 0;
constexpr int kMenuPosBluetooth = 1;
constexpr int kMenuPosRumble = 3;
constexpr int kMenuPosRegistry = 5;
constexpr int kUsbPosProfile = 1;
constexpr int kUsbPosDriverReset = 3;
constexpr int kBthPosProfile = 1;
constexpr int kBthPosDriverReset = 6;

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
