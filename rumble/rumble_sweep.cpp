#include "monitor/monitor.h"

// This build maps no rumble block yet, so no force-feedback client can be registered.
int SweepRumbleSlots(ToolState* state) {
    state->rumbleSlotMask = 0;
    return 0;
}
