#pragma once
#include <cstdint>

// Element of trayIcons that shows `iconValue`: exact codes pick 1..6, anything else the base 0.
int TrayIconIndex(uint32_t iconValue);

// The square pictures, in pixels, that every tray icon holds, smallest first.
constexpr int kTrayPictureSizes[] = {16, 20, 24, 32, 40, 48};
constexpr int kTrayPictureSizeCount = sizeof kTrayPictureSizes / sizeof kTrayPictureSizes[0];

// The notification area's icon size at `dpi` (96 = 100 percent), rounded as the system's small-icon
// metric is; 16 for a dpi of 0.
int TraySlotSize(uint32_t dpi);

// The picture to load for a slot of `slotSize` pixels: the largest one that fits, never less than
// the smallest.
int TrayPictureSize(int slotSize);
