// The user-visible services that portable operations call. The Win32 layer shows real message
// boxes; tests record what would have been shown.
#pragma once
#include <cstdint>

#include "core/tool_state.h"

// Message box with the string-table text of `stringId`, caption "Error", one OK button.
void ShowErrorMessage(WindowHandle owner, uint32_t stringId);
