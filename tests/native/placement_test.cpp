// Where modeless dialogs reopen across monitors, and their 16-bit stored positions.
#include <gtest/gtest.h>

#include <vector>

#include "app/settings.h"
#include "core/placement.h"

namespace {

// A 1920 x 1080 main monitor with its taskbar along the bottom (40 pixels), and neighbours.
const MonitorArea kPrimary = {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}};
const MonitorArea kLeft = {{-1280, 0, 0, 1024}, {-1280, 0, 0, 1024}};
const MonitorArea kAbove = {{0, -1080, 1920, 0}, {0, -1080, 1920, 0}};
const MonitorArea kRight = {{1920, 0, 3840, 1200}, {1920, 0, 3840, 1170}};
// The taskbar docked on the left and on the top of the main monitor.
const MonitorArea kPrimaryBarLeft = {{0, 0, 1920, 1080}, {62, 0, 1920, 1080}};
const MonitorArea kPrimaryBarTop = {{0, 0, 1920, 1080}, {0, 40, 1920, 1080}};
// A monitor far to the right, with a gap of desktop that no monitor shows.
const MonitorArea kFarRight = {{3000, 0, 4024, 768}, {3000, 0, 4024, 728}};
// Two small monitors 100 pixels apart: x = 149 is 50 pixels from each.
const MonitorArea kSmallA = {{0, 0, 100, 100}, {0, 0, 100, 100}};
const MonitorArea kSmallB = {{199, 0, 299, 100}, {199, 0, 299, 100}};

TEST(DialogPlacement, OpensInsideTheWorkAreaOfTheNearestMonitor) {
    const struct {
        const char* what;
        std::vector<MonitorArea> monitors;
        ScreenPoint saved;
        int32_t w, h;
        ScreenPoint want;
    } cases[] = {
        {"on the main monitor, where it was", {kPrimary}, {100, 100}, 300, 200, {100, 100}},
        {"right and bottom edges pulled in", {kPrimary}, {5000, 5000}, 300, 200, {1620, 840}},
        {"not under the taskbar", {kPrimary}, {100, 1000}, 300, 200, {100, 840}},
        {"negative, with one monitor", {kPrimary}, {-1200, -50}, 300, 200, {0, 0}},
        {"on a monitor to the left", {kPrimary, kLeft}, {-1200, 300}, 300, 200, {-1200, 300}},
        {"left monitor's bottom edge", {kPrimary, kLeft}, {-1200, 900}, 300, 200, {-1200, 824}},
        {"across two monitors: the one it overlaps most", {kPrimary, kLeft}, {-100, 300}, 300, 200, {0, 300}},
        {"mostly on the left one", {kPrimary, kLeft}, {-250, 300}, 300, 200, {-300, 300}},
        {"on a monitor above", {kPrimary, kAbove}, {500, -700}, 300, 200, {500, -700}},
        {"above monitor's top edge", {kPrimary, kAbove}, {500, -1500}, 300, 200, {500, -1080}},
        {"on a monitor to the right", {kPrimary, kRight}, {3000, 900}, 300, 200, {3000, 900}},
        {"right monitor's corner, its own taskbar", {kPrimary, kRight}, {3700, 1150}, 300, 200, {3540, 970}},
        {"taskbar on the left", {kPrimaryBarLeft}, {0, 0}, 300, 200, {62, 0}},
        {"taskbar on the top", {kPrimaryBarTop}, {10, 10}, 300, 200, {10, 40}},
        {"in no monitor: nearest to the right", {kPrimary, kLeft}, {5000, 500}, 300, 200, {1620, 500}},
        {"in no monitor: nearest is the left one",
         {kPrimary, kLeft, kRight},
         {-3000, 2000},
         300,
         200,
         {-1280, 824}},
        {"in the gap: nearer the far monitor", {kPrimary, kFarRight}, {2800, 100}, 100, 100, {3000, 100}},
        {"in the gap: nearer the main monitor", {kPrimary, kFarRight}, {2000, 100}, 100, 100, {1820, 100}},
        {"equally near two: the first", {kSmallA, kSmallB}, {149, 10}, 1, 1, {99, 10}},
        {"equally near two, the other first", {kSmallB, kSmallA}, {149, 10}, 1, 1, {199, 10}},
        {"wider and taller than the work area", {kPrimaryBarTop}, {500, 500}, 2000, 1200, {0, 40}},
        {"taller only", {kPrimary}, {500, 500}, 300, 1100, {500, 0}},
        {"exactly the work area", {kPrimary}, {7, 7}, 1920, 1040, {0, 0}},
        {"16-bit extremes", {kPrimary, kLeft}, {-32768, 32767}, 300, 200, {-1280, 824}},
    };
    for (const auto& c : cases) {
        const ScreenPoint got = PlaceDialog(c.saved, c.w, c.h, c.monitors.data(), c.monitors.size());
        EXPECT_EQ(got.x, c.want.x) << c.what;
        EXPECT_EQ(got.y, c.want.y) << c.what;
    }
    EXPECT_EQ(PlaceDialog({-5, 7}, 300, 200, nullptr, 0).x, -5) << "no monitor list: the place is kept";
    EXPECT_EQ(FindDialogMonitor({0, 0}, 10, 10, nullptr, 0), -1);
}

// The system rescales a dialog that lands on a monitor of another scaling: it must still fit the
// work area afterwards, and be inside it as it arrives, so that it takes that monitor's scaling.
TEST(DialogPlacement, FitsTheSizeTheScalingOfItsMonitorGivesIt) {
    const MonitorArea main100 = {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96};
    const MonitorArea right200 = {{1920, 0, 5760, 2160}, {1920, 0, 5760, 2100}, 192};
    const MonitorArea left150 = {{-2560, 0, 0, 1440}, {-2560, 0, 0, 1400}, 144};
    const MonitorArea main200 = {{0, 0, 3840, 2160}, {0, 0, 3840, 2100}, 192};
    const MonitorArea right100 = {{3840, 0, 5760, 1080}, {3840, 0, 5760, 1040}, 96};
    const struct {
        const char* what;
        std::vector<MonitorArea> monitors;
        ScreenPoint saved;
        int32_t w, h;
        uint32_t dpi;
        ScreenPoint want;
    } cases[] = {
        {"a 200% monitor's corner: twice the size",
         {main100, right200},
         {5600, 2050},
         300,
         200,
         96,
         {5160, 1700}},
        {"inside a 200% monitor, where it was", {main100, right200}, {3000, 500}, 300, 200, 96, {3000, 500}},
        {"a 150% monitor's bottom edge", {main100, left150}, {-500, 1300}, 300, 200, 96, {-500, 1100}},
        {"from 200% to 100%: the size it arrives at",
         {main200, right100},
         {5700, 1000},
         600,
         400,
         192,
         {5160, 640}},
        {"the same scaling", {main100, right200}, {5600, 2050}, 600, 400, 192, {5160, 1700}},
        {"its scaling not known", {main100, right200}, {5600, 2050}, 300, 200, 0, {5460, 1900}},
        {"a monitor's scaling not known",
         {main100, {{1920, 0, 3840, 1080}, {1920, 0, 3840, 1040}}},
         {3700, 1000},
         300,
         200,
         96,
         {3540, 840}},
        {"twice the size is taller than the work area",
         {main100, right200},
         {2000, 100},
         1000,
         1200,
         96,
         {2000, 0}},
    };
    for (const auto& c : cases) {
        const ScreenPoint got =
            PlaceScalingDialog(c.saved, c.w, c.h, c.dpi, c.monitors.data(), c.monitors.size());
        EXPECT_EQ(got.x, c.want.x) << c.what;
        EXPECT_EQ(got.y, c.want.y) << c.what;
    }
    EXPECT_EQ(ScaleForDpi(301, 120, 96), 376);
    EXPECT_EQ(ScaleForDpi(301, 144, 96), 452) << "rounded to the nearest pixel";
    EXPECT_EQ(ScaleForDpi(0x7FFFFFFF, 480, 96), 0x7FFFFFFF);
}

TEST(DialogPlacement, PositionsKeepTheirSignThroughTheSixteenBitStore) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.usbInformationPlace.posX = -1200;
    state.usbInformationPlace.posY = -1;
    state.rumblePlace.posX = 32767;
    state.rumblePlace.posY = -32768;
    StoredToolSettings stored;
    CaptureToolSettings(&state, &stored);
    EXPECT_EQ(stored.positions[10], 0xFB50);
    EXPECT_EQ(stored.positions[11], 0xFFFF);
    EXPECT_EQ(stored.positions[4], 0x7FFF);
    EXPECT_EQ(stored.positions[5], 0x8000);

    static ToolState again;
    InitializeToolStateDefaults(&again);
    ApplyToolSettings(&again, &stored);
    EXPECT_EQ(again.usbInformationPlace.posX, -1200);
    EXPECT_EQ(again.usbInformationPlace.posY, -1);
    EXPECT_EQ(again.rumblePlace.posX, 32767);
    EXPECT_EQ(again.rumblePlace.posY, -32768);
    // A saved 0xFB50 on a monitor left of the main one reopens there, not at the right edge.
    const MonitorArea monitors[] = {kPrimary, kLeft};
    const ScreenPoint place = PlaceDialog({again.usbInformationPlace.posX, 300}, 300, 200, monitors, 2);
    EXPECT_EQ(place.x, -1200);

    const struct {
        int32_t screen;
        int16_t want;
    } edges[] = {{0, 0}, {-1200, -1200}, {32767, 32767}, {40000, 32767}, {-32768, -32768}, {-40000, -32768}};
    for (const auto& e : edges)
        EXPECT_EQ(PositionFromScreen(e.screen), e.want) << e.screen;
}

} // namespace
