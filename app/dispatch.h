// Which action a menu command stands for in the current state. The window procedure carries the
// action out; this maps it, refusing what CommandAvailabilityOf says is not enabled.
#pragma once
#include <cstdint>

#include "core/tool_state.h"

enum class CommandAction {
    None,
    ApplyUsbProfile,
    ApplyBthProfile,
    OpenUsbAutoFire,
    UsbDriverReset,
    OpenUsbInformation,
    OpenBthAutoFire,
    BthDisconnect,
    BthReconnect,
    BthDriverReset,
    OpenBthInformation,
    OpenRumbleSetting,
    ToggleRumblePermission,
    OpenFfInformation,
    Exit,
    OpenVersion,
    OpenToolSetting,
    MigrateRumbleSettings,
    OpenRumbleViewer,
    OpenApplicationProfiles,
};

struct CommandDecision {
    CommandAction action;
    uint32_t profileIndex; // for the profile actions
};

// `wParam` is the WM_COMMAND argument; only its low 16 bits name the command.
CommandDecision DecideCommand(const ToolState* state, uint64_t wParam);
