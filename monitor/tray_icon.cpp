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

int TraySlotSize(uint32_t dpi) {
    if (dpi == 0)
        return kTrayPictureSizes[0];
    // 64-bit, so no dpi a system can report overflows; far beyond any screen it is held at 256.
    const uint64_t size = (16ull * dpi + 48) / 96;
    return size > 256 ? 256 : static_cast<int>(size);
}

int TrayPictureSize(int slotSize) {
    // Never a larger picture shrunk into the slot: shrinking drops whole rows and columns of a
    // pixel map (its one-pixel outlines with them); the tray stretches a smaller one instead.
    int chosen = kTrayPictureSizes[0];
    for (int size : kTrayPictureSizes)
        if (size <= slotSize)
            chosen = size;
    return chosen;
}
