#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "driver/device_commands.h"
#include "driver/discovery.h"
#include "driver/driver_reset.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"
#include "tests/native/driver_sim_helpers.h"
#include "tests/native/ui_port_fake.h"

namespace {

using namespace std::chrono_literals;

uint32_t Restarts(uint32_t dev) {
    SimDevice d;
    SimGetDevice(dev, &d);
    return d.restarts;
}

// Holds a slot's lock from another thread, as a Monitor thread stuck in a read does.
struct StuckReader {
    explicit StuckReader(DeviceSlot* slot) {
        thread = std::thread([this, slot] {
            std::lock_guard<std::mutex> hold(slot->lock);
            held = 1;
            while (!release)
                std::this_thread::sleep_for(1ms);
        });
        while (!held)
            std::this_thread::sleep_for(1ms);
    }
    ~StuckReader() {
        release = 1;
        thread.join();
    }
    std::atomic<int> held{0};
    std::atomic<int> release{0};
    std::thread thread;
};

class DeviceCommands : public SimulatedDriver {
  protected:
    void SetUp() override {
        SimulatedDriver::SetUp();
        ClearShownErrors();
        ClearPostedOutcomes();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        state->profiles = &profile;
        state->profileCount = 1;
        state->profileAccepted = &accepted;
        state->canResetDriver = 1;
        SimClearLog();
    }

    DeviceCommand Command(DeviceCommandKind kind) {
        DeviceCommand c;
        c.kind = kind;
        c.infoType = 1;
        c.buttons = 0x1001;
        c.replyWindow = reinterpret_cast<WindowHandle>(0x1234);
        c.replyMessage = 0x8002;
        return c;
    }

    ProfileRecord profile = {};
    uint8_t accepted = 1;
    uint32_t usb = 0;
    uint32_t bth = 0;
};

TEST_F(DeviceCommands, EachCommandOnAHeldSlotIsBusyAndSendsNothingThenRunsOnceFree) {
    struct Case {
        DeviceCommandKind kind;
        const char* sent; // the first request the driver sees once the slot is free
    } cases[] = {
        {DeviceCommandKind::ApplyProfile, "SET SetDriverSettings ok"},
        {DeviceCommandKind::SetAutoFire, "SET SetDriverSettings ok"},
        {DeviceCommandKind::Disconnect, "SET DisconnectLink ok"},
        {DeviceCommandKind::Reconnect, "SET ReconnectLink ok"},
        {DeviceCommandKind::DebugQuery, "SET EnterDebugMode ok"},
        {DeviceCommandKind::DriverReset, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        CloseDevices(state.get());
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        SimClearLog();
        DeviceCommandOutcome outcome;
        {
            StuckReader stuck(&state->bthDevices[0]);
            const auto started = CommandClock::now();
            RunDeviceCommand(state.get(), kBthTransport, Command(c.kind), started + 50ms, &outcome);
            EXPECT_GE(CommandClock::now() - started, 50ms) << "it waited its bound";
            EXPECT_EQ(outcome.end, DeviceCommandEnd::Busy);
            EXPECT_TRUE(Exchanges(bth).empty());
            EXPECT_TRUE(IsOpenDeviceHandle(state->bthDevices[0].handle)) << "a busy reset closes nothing";
        }
        RunDeviceCommand(state.get(), kBthTransport, Command(c.kind), CommandClock::now() + 1s, &outcome);
        EXPECT_EQ(outcome.end, DeviceCommandEnd::Done);
        if (c.sent != nullptr) {
            EXPECT_EQ(outcome.result, 1);
            ASSERT_FALSE(Exchanges(bth).empty());
            EXPECT_EQ(Exchanges(bth)[0], c.sent);
        } else {
            EXPECT_EQ(outcome.result, static_cast<int32_t>(ResetOutcome::Restarted));
            EXPECT_EQ(CountLog("RESTART"), 1);
        }
    }
    EXPECT_TRUE(ShownErrors().empty()) << "the workers show nothing themselves";
}

TEST_F(DeviceCommands, QueueAnswersEachTicketOnceAndDropsWhatWaitedTooLong) {
    const auto t0 = CommandClock::now();
    uint32_t tickets[kDeviceCommandEntries];
    for (uint32_t& t : tickets) {
        t = SubmitDeviceCommand(state.get(), kBthTransport, Command(DeviceCommandKind::Disconnect), t0);
        ASSERT_NE(t, 0u);
        EXPECT_EQ(t & 1u, 1u);
    }
    EXPECT_EQ(SubmitDeviceCommand(state.get(), kBthTransport, Command(DeviceCommandKind::Reconnect), t0), 0u)
        << "a full queue refuses";
    EXPECT_EQ(
        SubmitDeviceCommand(state.get(), kUsbTransport, Command(DeviceCommandKind::SetAutoFire), t0) & 1u, 0u)
        << "the other transport has its own";
    EXPECT_EQ(ExpireDeviceCommands(state.get(), t0 + 1999ms), 1);
    EXPECT_TRUE(PostedOutcomes().empty());
    ExpireDeviceCommands(state.get(), t0 + 2000ms);
    ASSERT_EQ(PostedOutcomes().size(), static_cast<size_t>(kDeviceCommandEntries + 1));
    for (uint32_t t : tickets) {
        DeviceCommandOutcome outcome;
        ASSERT_EQ(TakeDeviceOutcome(state.get(), t, &outcome), 1);
        EXPECT_EQ(outcome.end, DeviceCommandEnd::Busy);
        EXPECT_EQ(outcome.kind, DeviceCommandKind::Disconnect);
        EXPECT_EQ(TakeDeviceOutcome(state.get(), t, &outcome), 0) << "taken once";
    }
    EXPECT_EQ(ExpireDeviceCommands(state.get(), t0 + 3s), 0);
    EXPECT_TRUE(Exchanges(bth).empty()) << "nothing expired was sent";
    // An answer its window never took is reclaimed later, so the queue cannot silt up.
    const uint32_t unclaimed = PostedOutcomes().back().ticket;
    DeviceCommandOutcome outcome;
    ASSERT_NE(
        SubmitDeviceCommand(state.get(), kUsbTransport, Command(DeviceCommandKind::SetAutoFire), t0 + 13s),
        0u);
    EXPECT_EQ(TakeDeviceOutcome(state.get(), unclaimed, &outcome), 0);
}

TEST_F(DeviceCommands, WorkerDropsWhatItCannotReachInTimeAndCarriesOnAfterwards) {
    std::thread worker(DeviceWorkerMain, state.get(), kBthTransport);
    auto posted = [](size_t n) {
        for (int i = 0; i < 4000 && PostedOutcomes().size() < n; ++i)
            std::this_thread::sleep_for(1ms);
        return PostedOutcomes().size() >= n;
    };
    {
        StuckReader stuck(&state->bthDevices[0]);
        const auto asked = CommandClock::now();
        const uint32_t t =
            SubmitDeviceCommand(state.get(), kBthTransport, Command(DeviceCommandKind::Disconnect), asked);
        ASSERT_TRUE(posted(1));
        EXPECT_GE(CommandClock::now() - asked, std::chrono::milliseconds(kDeviceBusyMs));
        DeviceCommandOutcome outcome;
        ASSERT_EQ(TakeDeviceOutcome(state.get(), t, &outcome), 1);
        EXPECT_EQ(outcome.end, DeviceCommandEnd::Busy);
    }
    const uint32_t t = SubmitDeviceCommand(state.get(), kBthTransport, Command(DeviceCommandKind::Reconnect),
                                           CommandClock::now());
    ASSERT_TRUE(posted(2));
    DeviceCommandOutcome outcome;
    ASSERT_EQ(TakeDeviceOutcome(state.get(), t, &outcome), 1);
    EXPECT_EQ(outcome.end, DeviceCommandEnd::Done);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(Exchanges(bth), std::vector<std::string>{"SET ReconnectLink ok"});
    StopDeviceWorker(state.get(), kBthTransport);
    worker.join();
}

TEST_F(DeviceCommands, AResetThatAsksForConsentGoesThroughTheElevatedCopy) {
    state->resetNeedsConsent = 1;
    SimDevice d;
    SimGetDevice(usb, &d);
    const std::u16string parent = SimUtf8ToUtf16(d.parentInstanceId);
    struct Case {
        int launch;
        uint32_t exitCode;
        ResetOutcome want;
        std::vector<uint32_t> shown; // by the window thread afterwards
        int lowered, rediscovered;
    } cases[] = {
        {1, 0, ResetOutcome::Restarted, {}, 1, 0},
        {1, 2, ResetOutcome::RestartPending, {IDS_DRIVER_RESET_FAILED}, 0, 1},
        {1, 3, ResetOutcome::NotFound, {IDS_CANNOT_GET_DEVICE_INFO, IDS_DRIVER_RESET_FAILED}, 0, 1},
        {1, 4, ResetOutcome::Refused, {IDS_CANNOT_GET_DEVICE_INFO, IDS_DRIVER_RESET_FAILED}, 0, 1},
        {1, 0xC0000005u, ResetOutcome::Failed, {IDS_DRIVER_RESET_FAILED}, 0, 1}, // the copy crashed
        {kLaunchCancelled, 0, ResetOutcome::Cancelled, {}, 0, 1},
        {0, 0, ResetOutcome::Failed, {IDS_DRIVER_RESET_FAILED}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.want));
        CloseDevices(state.get());
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        SetElevatedLaunch(c.launch, c.exitCode);
        DeviceCommandOutcome outcome;
        RunDeviceCommand(state.get(), kUsbTransport, Command(DeviceCommandKind::DriverReset),
                         CommandClock::now() + 1s, &outcome);
        EXPECT_EQ(static_cast<ResetOutcome>(outcome.result), c.want);
        EXPECT_EQ(ElevatedLaunches(), std::vector<std::u16string>{parent});
        EXPECT_EQ(state->usbDevices[0].handle, nullptr) << "let go of before the copy runs";
        EXPECT_EQ(Restarts(usb), 0u) << "the tool itself restarts nothing";
        const ResetAftermath after = AftermathOf(c.want);
        std::vector<uint32_t> shown;
        for (uint32_t id : after.messages)
            if (id != 0)
                shown.push_back(id);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(after.lowerCount, c.lowered);
        EXPECT_EQ(after.rediscover, c.rediscovered);
    }
    // The exit codes read back as what the copy meant.
    for (ResetOutcome o : {ResetOutcome::Restarted, ResetOutcome::RestartPending, ResetOutcome::NotFound,
                           ResetOutcome::Refused, ResetOutcome::Failed})
        EXPECT_EQ(ResetOutcomeOfExitCode(ResetExitCode(o)), o);
}

TEST_F(DeviceCommands, TheElevatedCopyResetsOnlyAParentOfTheDriversDevice) {
    const uint32_t foreign = SimAddDevice(SimKind::ForeignJoystick);
    SimDevice d;
    struct Case {
        uint32_t dev;
        int want;
    } cases[] = {{usb, 1}, {bth, 1}, {foreign, 0}};
    for (const Case& c : cases) {
        SimGetDevice(c.dev, &d);
        const std::u16string parent = SimUtf8ToUtf16(d.parentInstanceId);
        EXPECT_EQ(IsDriverParent(parent.c_str()), c.want) << d.parentInstanceId;
        EXPECT_EQ(IsDriverParent(SimUtf8ToUtf16(d.hidInstanceId).c_str()), 0) << "the HID node itself";
    }
    EXPECT_EQ(IsDriverParent(u""), 0);
    EXPECT_EQ(IsDriverParent(u"ROOT\\SYSTEM\\0000"), 0) << "present, but nothing of the driver's below";
    SimGetDevice(bth, &d);
    EXPECT_EQ(RestartParentDevice(SimUtf8ToUtf16(d.parentInstanceId).c_str()), ResetOutcome::Restarted);
    EXPECT_EQ(Restarts(bth), 1u);
    EXPECT_EQ(SimOpenListCount(), 0u);
}

} // namespace
