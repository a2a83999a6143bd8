// The tool's own settings: which values exist, their sizes, and the clamping applied after a load.
#pragma once
#include <cstdint>

#include "core/text.h"
#include "core/tool_state.h"

constexpr int kPositionSettingCount = 14;
constexpr int kDwordSettingCount = 6;
constexpr int kToolSettingCount = kPositionSettingCount + kDwordSettingCount;

// Registry value names in the order they are written: fourteen 2-byte positions (X before Y per
// dialog), then six 32-bit values.
extern const Utf16* const kToolSettingNames[kToolSettingCount];

// Beyond the twenty: the state tooltip. Written only while it is on, so that a user who never
// turns it on keeps exactly the twenty values.
extern const Utf16 kShowStateInTooltipName[];

// The stored form of the settings, detached from the atomics of the Tool state.
struct StoredToolSettings {
    uint16_t positions[kPositionSettingCount];
    uint32_t dwords[kDwordSettingCount]; // ThreadInterval, EnableTrayIcon, EnableAnimationIcon,
                                         // EnableNotifyPSButton, EnableNotifyLowBattery, IconAnimationSpeed
};

void CaptureToolSettings(const ToolState* state, StoredToolSettings* out);
void ApplyToolSettings(ToolState* state, const StoredToolSettings* in);

// Bounds the poll interval to 100..1000 ms and the animation speed so that one frame lasts
// at least 100 ms and at most 30000 ms, and 1..300 polls.
void ClampToolSettings(uint32_t* threadInterval, uint32_t* iconAnimationSpeed);

// Registry store, implemented by the Win32 layer.
void LoadToolSettings(ToolState* state);
int SaveToolSettings(const ToolState* state);
