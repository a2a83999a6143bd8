#include "core/tool_state.h"

#include <new>

void InitializeToolStateDefaults(ToolState* state) {
    // Rebuilding in place zeroes every member (each has a zero initializer) without copying locks.
    state->~ToolState();
    new (state) ToolState();
    state->threadInterval = 100;
    state->running = 1;
    state->pauseRequested = 0;
    state->monitorPaused = 0;
    state->enableTrayIcon = 1;
    state->enableAnimationIcon = 1;
    state->enableNotifyPSButton = 1;
    state->iconAnimationSpeed = 10;
    state->rumbleEnabled = 1;
    state->trayPictureShown = -1;
}

void ApplyAdministratorTest(ToolState* state, int adminResult, int versionKnown, uint32_t major,
                            uint32_t minor, ElevationType elevation) {
    state->isAdmin = adminResult ? 1 : 0;
    state->resetNeedsConsent = 0;
    if (!state->isAdmin && elevation == ElevationType::Limited) {
        state->isAdmin = 1;
        state->canResetDriver = 1;
        state->resetNeedsConsent = 1;
    } else if (state->isAdmin) {
        state->canResetDriver = 1;
    } else if (versionKnown && major == 5 && minor == 0) {
        state->isAdmin = 1;
        state->canResetDriver = 1;
    } else {
        state->canResetDriver = 0;
    }
}
