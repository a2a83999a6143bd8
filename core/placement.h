// Where a modeless dialog opens: at its saved place, moved fully inside the work area of the
// monitor nearest to it.
#pragma once
#include <cstddef>
#include <cstdint>

struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t right; // exclusive, as the platform's rectangles
    int32_t bottom;
};

struct ScreenPoint {
    int32_t x;
    int32_t y;
};

// One monitor of the desktop: its whole rectangle and the part that no taskbar or docked bar
// covers, both in virtual-screen coordinates (negative left of or above the main monitor).
struct MonitorArea {
    ScreenRect monitor;
    ScreenRect work;
};

// The monitor a saved w x h dialog belongs to: the one it overlaps most; when it overlaps none,
// the one nearest to its top-left corner (the first of equals). -1 when there is no monitor.
int FindDialogMonitor(ScreenPoint saved, int32_t width, int32_t height, const MonitorArea* monitors,
                      size_t count);

// The top-left corner at which a w x h dialog saved at `saved` opens: inside the work area of
// FindDialogMonitor's monitor, moved as little as it can be; a dialog wider or taller than that
// work area starts at its left or top edge. With no monitor the saved corner is kept.
ScreenPoint PlaceDialog(ScreenPoint saved, int32_t width, int32_t height, const MonitorArea* monitors,
                        size_t count);

// A screen coordinate as the 16-bit position the settings keep, held to that range.
int16_t PositionFromScreen(int32_t coordinate);
