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
    uint32_t dpi = 0; // its scaling (96 = 100 percent), 0 when not known
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

// PlaceDialog for a dialog that the system rescales to the scaling of the monitor it lands on
// (per-monitor awareness), `dialogDpi` being its scaling now. The corner keeps it inside that
// monitor's work area both at its size now, which it has as it arrives, and at the size it is then
// given there. A dpi of 0 on either side expects no rescale.
ScreenPoint PlaceScalingDialog(ScreenPoint saved, int32_t width, int32_t height, uint32_t dialogDpi,
                               const MonitorArea* monitors, size_t count);

// A length at scaling `from` as the system gives it at scaling `to`, rounded; kept when either is 0.
int32_t ScaleForDpi(int32_t length, uint32_t to, uint32_t from);

// A screen coordinate as the 16-bit position the settings keep, held to that range.
int16_t PositionFromScreen(int32_t coordinate);
