// Removal notices as the platform sends them for a watched handle, and the window thread's device
// work while a device call is stuck: the notice is answered, the close is bounded, the dialogs
// copy the last record, and the Monitor thread lets go of the device once the call returns.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "dialogs/information.h"
#include "driver/control_report.h"
#include "driver/discovery.h"
#include "driver/driver_link.h"
#include "monitor/monitor.h"
#include "tests/native/driver_sim_helpers.h"

namespace {

using namespace std::chrono_literals;

class WatchedDevices : public SimulatedDriver {
  protected:
    void SetUp() override {
        SimulatedDriver::SetUp();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
        static int window;
        state->mainWindow = &window;
        watchesBefore = SimDeviceWatchCount();
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        ASSERT_EQ(SimDeviceWatchCount(), watchesBefore + 2);
        SimClearLog();
    }
    void TearDown() override {
        CloseDevices(state.get());
        ReleasePendingWatches(state.get());
        EXPECT_EQ(SimDeviceWatchCount(), watchesBefore) << "every watch is released in the end";
    }

    DeviceSlot* Usb() { return &state->usbDevices[0]; }
    DeviceSlot* Bth() { return &state->bthDevices[0]; }

    uint32_t usb = 0;
    uint32_t bth = 0;
    uint32_t watchesBefore = 0;
};

// ---- the protocol: a query closes the handle, the outcome releases the watch

using RemovalProtocol = WatchedDevices;

TEST_F(RemovalProtocol, AQueryRemoveClosesTheHandleAndKeepsTheWatchUntilTheRemovalIsDone) {
    for (RemovalNotice outcome : {RemovalNotice::RemoveComplete, RemovalNotice::RemovePending}) {
        const int reopens = state->usbDeviceCount.load() == 0 ? 1 : 0;
        ASSERT_EQ(DiscoverDevices(state.get()), reopens);
        void* watch = Usb()->removalWatch.load();
        ASSERT_NE(watch, nullptr);
        const uint32_t watches = SimDeviceWatchCount();
        EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, watch, 0), 1);
        EXPECT_EQ(Usb()->handle, nullptr) << "the handle never vetoes the removal";
        EXPECT_EQ(state->usbDeviceCount.load(), 0u);
        EXPECT_EQ(SimOpenHandleCount(), 1u);
        EXPECT_EQ(SimDeviceWatchCount(), watches) << "the outcome still has to reach the tool";
        EXPECT_TRUE(IsOpenDeviceHandle(Bth()->handle)) << "the other device is untouched";

        EXPECT_EQ(TakeRemovalNotice(state.get(), outcome, watch, 0), 1);
        EXPECT_EQ(SimDeviceWatchCount(), watches - 1);
        EXPECT_EQ(TakeRemovalNotice(state.get(), outcome, watch, 0), 0) << "released once";
    }
}

TEST_F(RemovalProtocol, AVetoedRemovalOpensTheDeviceAgain) {
    void* watch = Usb()->removalWatch.load();
    ASSERT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, watch, 0), 1);
    // Another program vetoed: the device stays, and nothing else will announce it.
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemoveFailed, watch, 0), kNoticeReopen);
    EXPECT_EQ(SimDeviceWatchCount(), watchesBefore + 1) << "the old handle's watch is released";
    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_TRUE(IsOpenDeviceHandle(Usb()->handle));
    EXPECT_EQ(state->usbDeviceCount.load(), 1u);
    EXPECT_NE(Usb()->removalWatch.load(), nullptr);
    EXPECT_EQ(SimDeviceWatchCount(), watchesBefore + 2);
    EXPECT_EQ(CountLog("CLOSE", bth), 0) << "reopening leaves the other device alone";
    // A failed query for a handle that was never let go changes nothing.
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemoveFailed, Bth()->removalWatch.load(), 0),
              1);
    EXPECT_TRUE(IsOpenDeviceHandle(Bth()->handle));
}

TEST_F(RemovalProtocol, ANewHandleOpenedBeforeTheOutcomeKeepsItsOwnWatch) {
    void* old = Usb()->removalWatch.load();
    ASSERT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, old, 0), 1);
    ASSERT_EQ(DiscoverDevices(state.get()), 1) << "a rediscovery in between opens the device again";
    void* fresh = Usb()->removalWatch.load();
    ASSERT_NE(fresh, old);
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemoveFailed, old, 0), kNoticeReopen);
    EXPECT_TRUE(IsOpenDeviceHandle(Usb()->handle)) << "the outcome of the old handle's query";
    EXPECT_EQ(Usb()->removalWatch.load(), fresh);
    EXPECT_EQ(SimDeviceWatchCount(), watchesBefore + 2);
}

// ---- a device call that does not return

class StuckDevice : public WatchedDevices {
  protected:
    void TearDown() override {
        if (pass.valid())
            pass.get();
        WatchedDevices::TearDown();
    }
    // A Monitor pass whose USB read takes `ms`; returns once that read holds the slot.
    void StartStuckPass(uint32_t ms) {
        SimFaults slow;
        slow.slowMs = ms;
        SimSetFaults(usb, slow);
        pass = std::async(std::launch::async, [this] { PollPass(state.get()); });
        WaitUntilHeld(Usb());
    }
    static void WaitUntilHeld(DeviceSlot* slot) {
        for (int i = 0; i < 5000; ++i) {
            if (!slot->lock.try_lock())
                return;
            slot->lock.unlock();
            std::this_thread::sleep_for(1ms);
        }
        FAIL() << "the read never took the slot";
    }
    bool PassStillStuck() { return pass.wait_for(0s) == std::future_status::timeout; }

    std::future<void> pass;
};

TEST_F(StuckDevice, AQueryRemoveIsAnsweredAndTheDeviceGoesWhenTheCallReturns) {
    void* watch = Usb()->removalWatch.load();
    StartStuckPass(2000);
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, watch, 20), 1);
    EXPECT_TRUE(PassStillStuck()) << "answered while the read still holds the device";
    pass.get();
    EXPECT_EQ(Usb()->handle, nullptr) << "let go right after the read, within the same pass";
    EXPECT_EQ(state->usbDeviceCount.load(), 0u);
    EXPECT_EQ(Usb()->pendingWatch.load(), watch);
    EXPECT_EQ(CountLog("GET", usb), 1);
    EXPECT_EQ(CountLog("CLOSE", usb), 1);
    EXPECT_EQ(CountLog("GET", bth), 1) << "the other device's read goes on";
}

TEST_F(StuckDevice, NoticesThatWaitedRunInTheirOrder) {
    struct Case {
        RemovalNotice second;
        int result;
        int released; // watches released by the two notices
    } cases[] = {{RemovalNotice::QueryRemoveFailed, kNoticeReopen, 1}, {RemovalNotice::RemoveComplete, 1, 1}};
    for (const Case& c : cases) {
        if (state->usbDeviceCount.load() == 0) {
            ASSERT_EQ(DiscoverDevices(state.get()), 1);
        }
        void* watch = Usb()->removalWatch.load();
        const uint32_t watches = SimDeviceWatchCount();
        std::promise<void> release;
        std::promise<void> held;
        // Held until released, or for a while at most: a notice that waited without bound for
        // the lock must fail this test, not hang it.
        std::thread holder([&] {
            std::lock_guard<std::mutex> hold(Usb()->lock);
            held.set_value();
            release.get_future().wait_for(3s);
        });
        held.get_future().wait();
        EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, watch, 10), 1);
        EXPECT_EQ(TakeRemovalNotice(state.get(), c.second, watch, 10), 1);
        release.set_value();
        holder.join();
        EXPECT_EQ(RunDeferredNotices(state.get()), c.result);
        EXPECT_EQ(Usb()->handle, nullptr);
        EXPECT_EQ(SimDeviceWatchCount(), watches - static_cast<uint32_t>(c.released));
        EXPECT_EQ(RunDeferredNotices(state.get()), 0) << "each ran once";
    }
}

TEST_F(StuckDevice, TheSuspendCloseIsBoundedAndTheStuckDeviceClosesAfterItsCall) {
    StartStuckPass(2000);
    EXPECT_EQ(CloseDevicesBy(state.get(), std::chrono::steady_clock::now() + 20ms), 0);
    EXPECT_TRUE(PassStillStuck());
    EXPECT_EQ(Bth()->handle, nullptr) << "the free device closes at once";
    EXPECT_EQ(state->bthDeviceCount.load(), 0u);
    pass.get();
    EXPECT_EQ(Usb()->handle, nullptr);
    EXPECT_EQ(state->usbDeviceCount.load(), 0u);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_EQ(SimDeviceWatchCount(), watchesBefore);
    EXPECT_EQ(CountLog("GET", bth), 0) << "nothing polls a device closed for the sleep";
}

TEST_F(StuckDevice, TheDialogsCopyTheLastRecordWhileACallHoldsTheDevice) {
    SimUpdateDevice(usb, [](SimDevice& d) { d.fields.AutoFireButtons = 0x10001; });
    ASSERT_EQ(ReadDriverInfo(Usb()), 1);
    StartStuckPass(2000);
    uint8_t copy[kDriverInfoSize] = {};
    EXPECT_EQ(CopyOpenDriverInfo(Usb(), copy), 1);
    EXPECT_TRUE(HasDeviceTag(copy, "DS3U"));
    EXPECT_EQ(CachedAutoFireButtons(Usb()), 0x10001u);
    std::memset(copy, 0, sizeof copy);
    CopyDriverInfo(Usb(), copy);
    EXPECT_TRUE(HasDeviceTag(copy, "DS3U"));
    EXPECT_TRUE(PassStillStuck()) << "no copy waited for the device";
}

// ---- rediscovery is the Monitor thread's work

TEST_F(WatchedDevices, AReopenLeavesTheOpenDeviceAloneAndARediscoveryRenewsBoth) {
    void* watch = Usb()->removalWatch.load();
    DeviceHandle bthHandle = Bth()->handle;
    ASSERT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, watch, 0), 1);
    ASSERT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemoveFailed, watch, 0), kNoticeReopen);
    state->deviceWork = kDeviceWorkDiscover;
    RunDeviceWork(state.get());
    EXPECT_TRUE(IsOpenDeviceHandle(Usb()->handle));
    EXPECT_EQ(Bth()->handle, bthHandle);
    EXPECT_EQ(CountLog("OPEN", usb), 1);
    EXPECT_EQ(CountLog("CLOSE", bth), 0);
    EXPECT_EQ(state->deviceWork.load(), 0u);

    SimClearLog();
    state->deviceWork = kDeviceWorkRediscover | kDeviceWorkDiscover;
    RunDeviceWork(state.get());
    EXPECT_EQ(CountLog("CLOSE"), 2);
    EXPECT_EQ(CountLog("OPEN", usb), 1);
    EXPECT_EQ(CountLog("OPEN", bth), 1);
    EXPECT_EQ(CountLog("LIST"), 1) << "one walk for both bits";
    EXPECT_EQ(state->usbDeviceCount.load() + state->bthDeviceCount.load(), 2u);
}

} // namespace
