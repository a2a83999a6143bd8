#include "monitor/tray_icon.h"

int TrayIconIndex(uint32_t iconValue) {
    switch (iconValue) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    case 0x10000000: return 4;
    case 0x40000000: return 5;
    case 0x80000000: return 6;
    default: return 0;
    }
}
