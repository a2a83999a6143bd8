// The Monitor thread against the simulated driver: the pass decision, the icon state machine,
// the battery log and the handshakes with the window procedure.
#include <gtest/gtest.h>

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "driver/discovery.h"
#include "monitor/battery_log.h"
#include "monitor/monitor.h"
#include "sim/sim_driver.h"
#include "tests/native/platform_fakes.h"

namespace {

using namespace std::chrono_literals;

ToolState& FreshState() {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.statusBits = 1;
    state.iconValue = 1;
    {
        std::lock_guard<std::mutex> hold(TheFakeTray().lock);
        TheFakeTray().sentValues.clear();
    }
    return state;
}

std::vector<uint32_t> SentValues() {
    std::lock_guard<std::mutex> hold(TheFakeTray().lock);
    return TheFakeTray().sentValues;
}

uint32_t CountReads() {
    uint32_t n = 0;
    for (const std::string& line : SimLogLines())
        n += line.rfind("GET ", 0) == 0;
    return n;
}

struct PassCase {
    const char* name;
    int usb;     // -1 none, else DriverStatus
    int bth;     // -1 none, else DriverStatus
    int battery; // Bluetooth BatteryStatus
    int lowNotice, psNotice;
    int bthRefuses; // the Bluetooth device is open but its reads fail
    int wantUsb, wantBth, wantMode;
    uint32_t wantBits, wantValue;
};

TEST(MonitorPass, DecisionTable) {
    const PassCase cases[] = {
        {"no device", -1, -1, 5, 0, 1, 0, 0, 0, 1, 1, 1},
        {"USB running", 1, -1, 5, 0, 1, 0, 1, 0, 1, 3, 1},
        {"USB waiting", 0, -1, 5, 0, 1, 0, 1, 0, 2, 3, 0x40000000},
        {"USB waiting, Bluetooth running", 0, 18, 5, 0, 1, 0, 1, 1, 1, 7, 1},
        {"both waiting", 0, 4, 5, 0, 1, 0, 1, 1, 2, 7, 0x40000000},
        {"Bluetooth waiting for connection", -1, 4, 0, 1, 1, 0, 0, 1, 2, 5, 0x40000000},
        {"low battery with notice", -1, 18, 2, 1, 1, 0, 0, 1, 3, 5, 0x10000000},
        {"low battery without notice", -1, 18, 2, 0, 1, 0, 0, 1, 1, 5, 1},
        {"battery 3 is not low", -1, 18, 3, 1, 1, 0, 0, 1, 1, 5, 1},
        {"low battery wins over USB waiting", 0, 18, 1, 1, 1, 0, 1, 1, 3, 7, 0x10000000},
        {"waiting with the PS notice off", 0, -1, 5, 0, 0, 0, 1, 0, 1, 3, 1},
        {"open but silent Bluetooth counts as up", 1, 18, 5, 0, 1, 1, 1, 1, 1, 7, 1},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimReset();
        ToolState& state = FreshState();
        state.enableNotifyLowBattery = c.lowNotice;
        state.enableNotifyPSButton = c.psNotice;
        uint32_t bthId = 0;
        if (c.usb >= 0) {
            const uint32_t id = SimAddDevice(SimKind::DriverUsb);
            SimUpdateDevice(id, [&](SimDevice& d) { d.fields.DriverStatus = static_cast<uint32_t>(c.usb); });
        }
        if (c.bth >= 0) {
            bthId = SimAddDevice(SimKind::DriverBluetooth);
            SimUpdateDevice(bthId, [&](SimDevice& d) {
                d.fields.DriverStatus = static_cast<uint32_t>(c.bth);
                d.fields.BatteryStatus = static_cast<uint8_t>(c.battery);
            });
        }
        DiscoverDevices(&state);
        if (c.bthRefuses) {
            SimFaults f;
            f.refuseRead = 1;
            SimSetFaults(bthId, f);
        }
        SetIconMode(&state, 1);
        PollPass(&state);
        EXPECT_EQ(state.usbConnected.load(), c.wantUsb);
        EXPECT_EQ(state.bthConnected.load(), c.wantBth);
        EXPECT_EQ(state.statusBits, c.wantBits);
        EXPECT_EQ(state.iconMode, c.wantMode);
        EXPECT_EQ(state.iconValue.load(), c.wantValue);
        CloseDevices(&state);
    }
    SimReset();
}

// Runs passes of the animation alone and records the icon shown after each.
std::vector<uint32_t> Frames(ToolState& state, int passes) {
    std::vector<uint32_t> shown;
    for (int i = 0; i < passes; ++i) {
        AnimationStep(&state);
        shown.push_back(state.iconValue.load());
    }
    return shown;
}

TEST(MonitorAnimation, StatusCycleWalksTheSetBitsAndWraps) {
    ToolState& state = FreshState();
    state.iconAnimationSpeed = 0;
    state.statusBits = 1 | 2 | 4 | 8;
    SetIconMode(&state, 1);
    EXPECT_EQ(Frames(state, 9), (std::vector<uint32_t>{2, 4, 8, 1, 2, 4, 8, 1, 2}));
    state.statusBits = 1 | 4;
    EXPECT_EQ(Frames(state, 4), (std::vector<uint32_t>{4, 1, 4, 1}));
    state.statusBits = 1;
    EXPECT_EQ(Frames(state, 3), (std::vector<uint32_t>{1, 1, 1}));
    // Every frame change reaches the notification area, with the code it shows.
    const std::vector<uint32_t> sent = SentValues();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), 1u);
}

TEST(MonitorAnimation, FrameLastsSpeedPlusOnePasses) {
    ToolState& state = FreshState();
    state.iconAnimationSpeed = 2;
    state.statusBits = 1 | 2;
    SetIconMode(&state, 1);
    EXPECT_EQ(Frames(state, 9), (std::vector<uint32_t>{1, 1, 2, 2, 2, 1, 1, 1, 2}));
    const size_t sentBefore = SentValues().size();
    Frames(state, 2); // counting passes send nothing
    EXPECT_EQ(SentValues().size(), sentBefore);
}

TEST(MonitorAnimation, AFrameThatShowsThePictureAlreadyUpSendsNothing) {
    ToolState& state = FreshState();
    state.iconAnimationSpeed = 0;
    state.statusBits = 1;
    SetIconMode(&state, 1);
    Frames(state, 20); // no controller: the base picture, frame after frame
    EXPECT_EQ(SentValues(), (std::vector<uint32_t>{1})) << "sent once, then left alone";
    // A connection comes: every change of picture is still sent, and only those.
    state.statusBits = 1 | 2;
    EXPECT_EQ(Frames(state, 4), (std::vector<uint32_t>{2, 1, 2, 1}));
    EXPECT_EQ(SentValues(), (std::vector<uint32_t>{1, 2, 1, 2, 1}));
    // The blink alternates two pictures, so each of its frames goes out.
    SetIconMode(&state, 2);
    Frames(state, 3);
    EXPECT_EQ(SentValues().size(), 9u);
    // Back to the status cycle: its first picture goes out at once.
    SetIconMode(&state, 1);
    EXPECT_EQ(SentValues().back(), 1u);
}

TEST(MonitorAnimation, PsButtonBlinkLowBatteryAndStaticIcon) {
    ToolState& state = FreshState();
    state.iconAnimationSpeed = 0;
    SetIconMode(&state, 2);
    EXPECT_EQ(Frames(state, 4), (std::vector<uint32_t>{0x80000000, 0x40000000, 0x80000000, 0x40000000}));
    state.enableNotifyLowBattery = 1;
    EXPECT_EQ(SetIconMode(&state, 3), 1);
    EXPECT_EQ(Frames(state, 2), (std::vector<uint32_t>{0x10000000, 0x10000000}));
    EXPECT_EQ(SetIconMode(&state, 3), 0) << "same mode changes nothing";

    // Waiting with the PS notice off re-enters the status cycle and restarts the frame count.
    ToolState& off = FreshState();
    off.iconAnimationSpeed = 3;
    off.enableNotifyPSButton = 0;
    off.statusBits = 3;
    SetIconMode(&off, 2);
    EXPECT_EQ(off.iconMode, 1);
    EXPECT_EQ(off.iconValue.load(), 1u);

    // Animation off: nothing is ever sent and the picture added at start stays.
    ToolState& still = FreshState();
    still.enableAnimationIcon = 0;
    still.iconAnimationSpeed = 0;
    still.statusBits = 7;
    SetIconMode(&still, 1);
    Frames(still, 5);
    SetIconMode(&still, 2);
    EXPECT_TRUE(SentValues().empty());
}

TEST(BatteryLogLine, WrittenOnChangeOnlyAndNeverFromAnEmptyRecord) {
    SimReset();
    ToolState& state = FreshState();
    const uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    DiscoverDevices(&state);
    state.batteryLogFile = reinterpret_cast<KernelHandle>(static_cast<uintptr_t>(0x10));
    {
        std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
        TheFakeLogFile().written.clear();
    }
    WriteBatteryLogLine(&state);
    WriteBatteryLogLine(&state); // the raw bytes drift between queries
    std::string written;
    {
        std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
        written = TheFakeLogFile().written;
    }
    ASSERT_EQ(written.size(), 112u);
    EXPECT_EQ(written.substr(0, 9), "09:05:03 ");
    EXPECT_EQ(written[55], '\n');
    EXPECT_NE(written.substr(9, 45), written.substr(65, 45));

    SimUpdateDevice(bth, [](SimDevice& d) { d.rawDrift = 0; });
    WriteBatteryLogLine(&state); // one more line for the last drift, then the bytes stand still
    WriteBatteryLogLine(&state);
    WriteBatteryLogLine(&state);
    {
        std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
        EXPECT_LE(TheFakeLogFile().written.size(), 168u);
        written = TheFakeLogFile().written;
    }
    // A refused read leaves the cleared buffer, which differs from the last line but is no data.
    SimFaults refuse;
    refuse.refuseRead = 1;
    SimSetFaults(bth, refuse);
    memset(state.batteryLogLast, 0x77, sizeof state.batteryLogLast);
    WriteBatteryLogLine(&state);
    {
        std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
        EXPECT_EQ(TheFakeLogFile().written, written);
    }
    SimSetFaults(bth, SimFaults{});
    // The device closes between the Monitor thread's check and the query: no line.
    SimUpdateDevice(bth, [](SimDevice& d) { d.rawDrift = 1; });
    CloseDevices(&state);
    memset(state.batteryLogLast, 0x77, sizeof state.batteryLogLast);
    WriteBatteryLogLine(&state);
    {
        std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
        EXPECT_EQ(TheFakeLogFile().written, written);
    }
    state.batteryLogFile = nullptr;
    SimReset();
}

class MonitorThread : public ::testing::Test {
  protected:
    void SetUp() override {
        SimReset();
        state_ = &FreshState();
        state_->threadInterval = interval_;
        startPasses_ = state_->monitorPasses;
        SimAddDevice(SimKind::DriverUsb);
        SimAddDevice(SimKind::DriverBluetooth);
        thread_ = std::thread(MonitorThreadMain, state_);
    }
    void TearDown() override {
        state_->running = 0;
        EventSet(&state_->resumeEvent);
        EventSet(&state_->wakeEvent); // not WakeMonitor: a broken wake must not hang the suite
        thread_.join();
        CloseDevices(state_);
        SimReset();
    }
    // The bounds are generous: they only end a test whose condition never comes.
    template <typename Done> static bool WaitUntil(Done done, std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    static bool WaitFlag(SharedI32& flag, int want, std::chrono::milliseconds limit = 10s) {
        return WaitUntil([&] { return flag.load() == want; }, limit);
    }
    bool WaitPasses(uint32_t from, uint32_t more, std::chrono::milliseconds limit = 10s) {
        return WaitUntil([&] { return state_->monitorPasses - from >= more; }, limit);
    }
    // Both controllers go, and the main thread wakes the Monitor thread. A pass that was under
    // way ends after the close and decides as the woken one does: each of the `passes` awaited
    // waits idle after it.
    void GoIdle(uint32_t passes = 1) {
        SimReset();
        CloseDevices(state_);
        const uint32_t from = state_->monitorPasses;
        WakeMonitor(state_);
        ASSERT_TRUE(WaitPasses(from, passes)) << "the wake brings a pass";
    }
    void Park() {
        state_->pauseRequested = 1;
        ASSERT_TRUE(WaitFlag(state_->monitorPaused, 1)) << "the thread parks";
    }
    void Resume() {
        state_->pauseRequested = 0;
        EventSet(&state_->resumeEvent);
    }
    uint32_t interval_ = 20;
    uint32_t startPasses_ = 0;
    ToolState* state_ = nullptr;
    std::thread thread_;
};

// The USB controller refuses every read from before the thread starts.
class MonitorThreadRefusedAtStart : public MonitorThread {
  protected:
    void SetUp() override {
        SimReset();
        state_ = &FreshState();
        state_->threadInterval = interval_;
        usb_ = SimAddDevice(SimKind::DriverUsb);
        SimUpdateDevice(usb_, [](SimDevice& d) { d.faults.refuseRead = 1; });
        SimAddDevice(SimKind::DriverBluetooth);
        thread_ = std::thread(MonitorThreadMain, state_);
    }
    uint32_t usb_ = 0;
};

// An interval far beyond every bound below: whatever comes in time came through a wake.
class MonitorThreadLongInterval : public MonitorThread {
  protected:
    MonitorThreadLongInterval() { interval_ = 600000; }
};

TEST_F(MonitorThread, StopsSoonAfterRunningIsCleared) {
    EXPECT_TRUE(WaitFlag(state_->usbConnected, 1));
    EXPECT_TRUE(WaitFlag(state_->bthConnected, 1));
    state_->running = 0;
    EXPECT_TRUE(WaitFlag(state_->monitorExited, 1));
}

// The rates themselves are bench/monitor_bench.cpp's figures; here only what no clock can blur.
TEST_F(MonitorThread, WithNothingToWatchItWaitsLonger) {
    EXPECT_TRUE(WaitPasses(state_->monitorPasses, 5)) << "two controllers: it keeps polling";
    Park(); // the thread is still, so its fields can be read
    EXPECT_EQ(MonitorIdle(state_), 0) << "two controllers";
    Resume();
    // Two: the pass under way and the one the wake brings may both come before the idle wait.
    GoIdle(2);
    Park();
    EXPECT_EQ(MonitorIdle(state_), 1) << "nothing open and no client";
    state_->rumbleSlotMask = 4;
    EXPECT_EQ(MonitorIdle(state_), 0) << "a force-feedback client is something to watch";
    state_->rumbleSlotMask = 0;
    Resume();
    EXPECT_TRUE(WaitPasses(state_->monitorPasses, 2)) << "idle, it still looks now and then";

    const struct {
        int idle;
        uint32_t interval, wait;
    } cases[] = {{0, 20, 20},     {1, 20, 1000},   {1, 999, 1000},
                 {1, 1000, 1000}, {1, 5000, 5000}, {0, 5000, 5000}};
    for (const auto& c : cases)
        EXPECT_EQ(PassWaitMs(c.idle, c.interval), c.wait) << c.idle << " " << c.interval;
}

TEST_F(MonitorThreadLongInterval, AWakeBringsThePassAtOnce) {
    ASSERT_TRUE(WaitPasses(startPasses_, 1));
    GoIdle();
    // A controller comes back: the main thread rediscovers and wakes the thread, which polls it.
    const uint32_t reads = CountReads();
    SimAddDevice(SimKind::DriverUsb);
    DiscoverDevices(state_);
    WakeMonitor(state_);
    EXPECT_TRUE(WaitUntil([&] { return CountReads() > reads; }));
    EXPECT_TRUE(WaitFlag(state_->usbConnected, 1));

    // Idle again; a pause and then a stop reach the waiting thread through the wake.
    GoIdle();
    state_->pauseRequested = 1;
    WakeMonitor(state_);
    EXPECT_TRUE(WaitFlag(state_->monitorPaused, 1));
    Resume();
    ASSERT_TRUE(WaitFlag(state_->monitorPaused, 0));
    state_->running = 0;
    WakeMonitor(state_);
    EXPECT_TRUE(WaitFlag(state_->monitorExited, 1));
}

TEST_F(MonitorThread, ParkedThreadPollsNothingUntilResumed) {
    Park();
    CloseDevices(state_); // what the window procedure does once the thread is parked
    const uint32_t reads = CountReads();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(CountReads(), reads) << "no poll while parked";
    DiscoverDevices(state_);
    Resume();
    ASSERT_TRUE(WaitFlag(state_->monitorPaused, 0));
    EXPECT_TRUE(WaitUntil([&] { return CountReads() > reads; }));
}

TEST_F(MonitorThread, StrayResumeNoticesNeverLetASuspendPass) {
    // Resume notices without a pause, then twice after one pause.
    Resume();
    Resume();
    Park();
    Resume();
    Resume();
    ASSERT_TRUE(WaitFlag(state_->monitorPaused, 0));
    // The event is left set now; the next pause must still park the thread.
    Park();
    const uint32_t reads = CountReads();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(CountReads(), reads);
    EXPECT_EQ(state_->monitorPaused.load(), 1);
    Resume();
}

TEST_F(MonitorThread, AParkWithAStaleResumeSetSleepsInsteadOfSpinning) {
    // Suspend, the automatic resume, then the second resume with user input: the event stays set.
    Park();
    Resume();
    ASSERT_TRUE(WaitFlag(state_->monitorPaused, 0));
    EventSet(&state_->resumeEvent);
    // The next sleep: the parked thread must use (almost) no processor time, read from outside.
    Park();
    clockid_t clock;
    ASSERT_EQ(pthread_getcpuclockid(thread_.native_handle(), &clock), 0);
    auto cpuNow = [clock] {
        timespec t = {};
        clock_gettime(clock, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    const auto before = cpuNow();
    std::this_thread::sleep_for(400ms);
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(cpuNow() - before);
    EXPECT_LT(used.count(), 40) << "a spinning park burns the whole 400 ms";
    EXPECT_EQ(state_->monitorPaused.load(), 1);
    Resume();
    EXPECT_TRUE(WaitFlag(state_->monitorPaused, 0));
}

TEST_F(MonitorThread, CloseWhileParkedReleasesTheThread) {
    Park();
    state_->running = 0;
    EventSet(&state_->resumeEvent);
    EXPECT_TRUE(WaitFlag(state_->monitorExited, 1));
}

} // namespace

// A controller that refused its first read is found once it answers, with no device notice to
// say so: nothing else would ever look for it again.
TEST_F(MonitorThreadRefusedAtStart, AControllerThatRefusedItsFirstReadIsFoundOnceItAnswers) {
    ASSERT_TRUE(WaitFlag(state_->bthConnected, 1));
    EXPECT_EQ(state_->usbDeviceCount.load(), 0u);
    SimUpdateDevice(usb_, [](SimDevice& d) { d.faults.refuseRead = 0; });
    EXPECT_TRUE(WaitFlag(state_->usbConnected, 1)) << "found again by itself";
}
