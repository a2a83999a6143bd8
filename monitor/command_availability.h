// Whether a menu command is available, answered once for the menu that shows it and for the
// dispatch that runs it. Adding a command means its row in command_availability.cpp, its item in
// the menu resources and its handler; nothing else asks these questions.
#pragma once
#include <cstdint>

#include "core/tool_state.h"

struct CommandAvailability {
    // The popup that holds the item is live: the transport is connected, a force-feedback client
    // is registered, the profiles are loaded, the user is an administrator. The menu greys the
    // popup otherwise; a command that arrives anyway still runs when it is enabled.
    int reachable;
    // The command itself may run: the rights, the mode or the accepted file it needs. The menu
    // greys the item otherwise, and the dispatch does nothing.
    int enabled;
    int checked; // its item carries the check mark
};

// `id` is the command id (WM_COMMAND's low word). An unknown id is neither reachable nor enabled.
CommandAvailability CommandAvailabilityOf(const ToolState* state, uint32_t id);
