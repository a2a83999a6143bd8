#include "core/placement.h"

namespace {

int64_t Overlap(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    const int64_t low = a0 > b0 ? a0 : b0;
    const int64_t high = a1 < b1 ? a1 : b1;
    return high > low ? high - low : 0;
}

// How far a point lies outside [low, high) along one axis, capped so that its square fits.
uint64_t Gap(int32_t v, int32_t low, int32_t high) {
    int64_t gap = 0;
    if (v < low)
        gap = static_cast<int64_t>(low) - v;
    else if (high > low && v >= high)
        gap = static_cast<int64_t>(v) - (static_cast<int64_t>(high) - 1);
    return static_cast<uint64_t>(gap < 0x7FFFFFFF ? gap : 0x7FFFFFFF);
}

int32_t Fit(int32_t saved, int32_t size, int32_t low, int32_t high) {
    const int64_t last = static_cast<int64_t>(high) - size; // the furthest start that still fits
    if (last < low || saved < low)
        return low;
    return saved > last ? static_cast<int32_t>(last) : saved;
}

} // namespace

int FindDialogMonitor(ScreenPoint saved, int32_t width, int32_t height, const MonitorArea* monitors,
                      size_t count) {
    if (monitors == nullptr || count == 0)
        return -1;
    const int64_t w = width > 0 ? width : 0;
    const int64_t h = height > 0 ? height : 0;
    const int64_t right = saved.x + w;
    const int64_t bottom = saved.y + h;
    int best = -1;
    int64_t bestArea = 0;
    for (size_t i = 0; i < count; ++i) {
        const ScreenRect& m = monitors[i].monitor;
        const int64_t area =
            Overlap(saved.x, right, m.left, m.right) * Overlap(saved.y, bottom, m.top, m.bottom);
        if (area > bestArea) {
            best = static_cast<int>(i);
            bestArea = area;
        }
    }
    if (best >= 0)
        return best;
    uint64_t bestDistance = 0;
    for (size_t i = 0; i < count; ++i) {
        const ScreenRect& m = monitors[i].monitor;
        const uint64_t dx = Gap(saved.x, m.left, m.right);
        const uint64_t dy = Gap(saved.y, m.top, m.bottom);
        const uint64_t distance = dx * dx + dy * dy;
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

ScreenPoint PlaceDialog(ScreenPoint saved, int32_t width, int32_t height, const MonitorArea* monitors,
                        size_t count) {
    const int found = FindDialogMonitor(saved, width, height, monitors, count);
    if (found < 0)
        return saved;
    const ScreenRect& work = monitors[found].work;
    return {Fit(saved.x, width > 0 ? width : 0, work.left, work.right),
            Fit(saved.y, height > 0 ? height : 0, work.top, work.bottom)};
}

int32_t ScaleForDpi(int32_t length, uint32_t to, uint32_t from) {
    if (to == 0 || from == 0 || to == from || length <= 0)
        return length;
    const int64_t scaled = (static_cast<int64_t>(length) * to + from / 2) / from;
    return scaled > INT32_MAX ? INT32_MAX : static_cast<int32_t>(scaled);
}

ScreenPoint PlaceScalingDialog(ScreenPoint saved, int32_t width, int32_t height, uint32_t dialogDpi,
                               const MonitorArea* monitors, size_t count) {
    const int found = FindDialogMonitor(saved, width, height, monitors, count);
    if (found < 0)
        return saved;
    const MonitorArea& target = monitors[found];
    const int32_t w = width > 0 ? width : 0;
    const int32_t h = height > 0 ? height : 0;
    const int32_t scaledW = ScaleForDpi(w, target.dpi, dialogDpi);
    const int32_t scaledH = ScaleForDpi(h, target.dpi, dialogDpi);
    // Fitted at the larger size, the dialog is inside at both: before the rescale too, so that it
    // lands on this monitor and takes its scaling, not a neighbour's.
    return {Fit(saved.x, w > scaledW ? w : scaledW, target.work.left, target.work.right),
            Fit(saved.y, h > scaledH ? h : scaledH, target.work.top, target.work.bottom)};
}

int16_t PositionFromScreen(int32_t coordinate) {
    if (coordinate < INT16_MIN)
        return INT16_MIN;
    return static_cast<int16_t>(coordinate > INT16_MAX ? INT16_MAX : coordinate);
}
