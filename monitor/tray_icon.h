#pragma once
#include <cstdint>

// Element of trayIcons that shows `iconValue`: exact codes pick 1..6, anything else the base 0.
int TrayIconIndex(uint32_t iconValue);
