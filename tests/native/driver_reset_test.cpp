#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <string>

#include "driver/discovery.h"
#include "driver/driver_reset.h"
#include "resources/resource.h"
#include "tests/native/driver_sim_helpers.h"
#include "tests/native/ui_port_fake.h"

namespace {

class DriverReset : public SimulatedDriver {
  public:
    void SetUp() override {
        SimulatedDriver::SetUp();
        ClearShownErrors();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        SimClearLog();
    }

    // The simulator's present-device list as the platform would walk it: the nodes with an
    // interface, or every node.
    static std::vector<std::u16string> PresentIds(int withInterfaces = 1) {
        std::vector<std::u16string> ids;
        uint32_t list = SimOpenPresentList(withInterfaces);
        std::string id;
        for (uint32_t i = 0; SimPresentListId(list, i, &id) == EnumResult::Found; ++i)
            ids.push_back(SimUtf8ToUtf16(id));
        SimClosePresentList(list);
        return ids;
    }

    static uint32_t Restarts(uint32_t dev) {
        SimDevice d;
        SimGetDevice(dev, &d);
        return d.restarts;
    }

    void SetParent(DeviceSlot* slot, const std::u16string& id) {
        std::memset(slot->parentInstanceId, 0, sizeof slot->parentInstanceId);
        const size_t n = std::min(id.size(), sizeof slot->parentInstanceId / sizeof(Utf16) - 1);
        std::copy_n(id.data(), n, slot->parentInstanceId);
    }

    uint32_t usb = 0;
    uint32_t bth = 0;
};

TEST_F(DriverReset, ARestartThatWaitsForTheSystemIsNoSuccess) {
    SimUpdateDevice(usb, [](SimDevice& d) { d.faults.needRestart = 1; });
    EXPECT_EQ(ResetDriver(&state->usbDevices[0]), 0) << "DI_NEEDRESTART: the device did not restart";
    EXPECT_EQ(Restarts(usb), 0u);
    EXPECT_EQ(CountLog("RESTART"), 1);
    EXPECT_TRUE(ShownErrors().empty()) << "the device was found: only the caller reports the failure";
    EXPECT_EQ(state->usbDevices[0].handle, nullptr);
    // No device-change notice follows, so the caller's rediscovery finds it again at once.
    CloseDevices(state.get());
    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(state->usbDeviceCount.load(), 1u);
    EXPECT_TRUE(IsOpenDeviceHandle(state->usbDevices[0].handle));
}

TEST_F(DriverReset, RestartsTheRecordedParentAndTracesEachIdUpToIt) {
    // The Bluetooth device's parent node exposes no interface: only the second list, of every
    // present node, holds it, and the walk goes through the first one in vain.
    const std::vector<std::u16string> first = PresentIds(1);
    std::vector<std::u16string> ids = PresentIds(0);
    SimDevice d;
    SimGetDevice(bth, &d);
    std::u16string parent = SimUtf8ToUtf16(d.parentInstanceId);
    ASSERT_EQ(std::find(first.begin(), first.end(), parent), first.end());
    size_t match = 0;
    while (match < ids.size() && ids[match] != parent)
        ++match;
    ASSERT_LT(match, ids.size());
    // The list holds a lower-case twin ahead of the parent: only an exact compare skips it.
    std::u16string lower = parent;
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    ASSERT_LT(std::find(ids.begin(), ids.end(), lower) - ids.begin(), static_cast<long>(match));

    EXPECT_EQ(ResetDriver(&state->bthDevices[0]), 1);
    std::vector<std::u16string> walked = first;
    walked.insert(walked.end(), ids.begin(), ids.begin() + static_cast<long>(match) + 1);
    EXPECT_EQ(SimTraceTexts(), walked);
    EXPECT_EQ(Restarts(bth), 1u);
    EXPECT_EQ(Restarts(usb), 0u);
    EXPECT_EQ(CountLog("RESTART"), 1);
    EXPECT_EQ(state->bthDevices[0].handle, nullptr);
    EXPECT_EQ(SimOpenHandleCount(), 1u); // the USB slot's
    EXPECT_EQ(SimOpenListCount(), 0u);
    EXPECT_TRUE(ShownErrors().empty());
}

TEST_F(DriverReset, FailuresCloseTheSlotAndShowWhatTheyMust) {
    struct Case {
        const char* name;
        std::function<void(DriverReset*, DeviceSlot*)> arrange;
        std::vector<uint32_t> shown;
        int tracesAll; // every present id was traced (nothing matched)
    };
    const Case cases[] = {
        {"empty parent id",
         [](DriverReset* t, DeviceSlot* s) { t->SetParent(s, u""); },
         {IDS_CANNOT_GET_DEVICE_INFO},
         1},
        {"parent id differing only in case",
         [](DriverReset* t, DeviceSlot* s) {
             std::u16string id(s->parentInstanceId);
             id[0] = u'u'; // "uSB\..." is in no list
             t->SetParent(s, id);
         },
         {IDS_CANNOT_GET_DEVICE_INFO},
         1},
        {"parent id that is a prefix of a present id",
         [](DriverReset* t, DeviceSlot* s) {
             std::u16string id(s->parentInstanceId);
             id.pop_back();
             t->SetParent(s, id);
         },
         {IDS_CANNOT_GET_DEVICE_INFO},
         1},
        {"device list not available",
         [](DriverReset*, DeviceSlot*) { SimSetListFaults(0, 1); },
         {IDS_CANNOT_GET_DEVICE_INFO},
         0},
        {"class installer fails",
         [](DriverReset* t, DeviceSlot*) {
             SimFaults f;
             f.failRestart = 1;
             SimSetFaults(t->usb, f);
         },
         {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimSetListFaults(0, 0);
        SimSetFaults(usb, SimFaults{});
        CloseDevices(state.get());
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        ClearShownErrors();
        DeviceSlot* slot = &state->usbDevices[0];
        c.arrange(this, slot);
        // Not in the first list, so the second is walked too.
        std::vector<std::u16string> ids = PresentIds(1);
        const std::vector<std::u16string> every = PresentIds(0);
        ids.insert(ids.end(), every.begin(), every.end());
        size_t tracedBefore = SimTraceTexts().size();

        EXPECT_EQ(ResetDriver(slot), 0);
        EXPECT_EQ(ShownErrors(), c.shown);
        EXPECT_EQ(slot->handle, nullptr);
        EXPECT_EQ(SimOpenHandleCount(), 1u); // only the Bluetooth slot's handle is left
        EXPECT_EQ(SimOpenListCount(), 0u);
        EXPECT_EQ(Restarts(usb) + Restarts(bth), 0u);
        std::vector<std::u16string> traces = SimTraceTexts();
        traces.erase(traces.begin(), traces.begin() + static_cast<long>(tracedBefore));
        if (c.tracesAll) {
            EXPECT_EQ(traces, ids);
        }
    }

    ClearShownErrors();
    EXPECT_EQ(ResetDriver(nullptr), 0);
    EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{IDS_INVALID_PARAMETERS});
}

TEST_F(DriverReset, ResetOfAClosedSlotStillFindsItsParent) {
    // After CloseDevices the slot keeps its parent id; the reset needs no open handle.
    CloseDevices(state.get());
    EXPECT_EQ(ResetDriver(&state->usbDevices[0]), 1);
    EXPECT_EQ(Restarts(usb), 1u);
    EXPECT_EQ(SimBadCloseCount(), 0u);
    EXPECT_TRUE(ShownErrors().empty());
}

} // namespace

namespace {

using RemovalNotices = SimulatedDriver;

// Every open slot is watched for the platform's removal notices, matched by the notification
// handle the platform gave back; a notice touches only its own device.
TEST_F(RemovalNotices, ANoticeClosesOnlyItsDeviceAndEveryCloseReleasesTheWatch) {
    const uint32_t before = SimDeviceWatchCount();
    SimAddDevice(SimKind::DriverUsb);
    SimAddDevice(SimKind::DriverBluetooth);
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(SimDeviceWatchCount(), before) << "no window, nothing to tell";
    CloseDevices(state.get());

    static int window;
    state->mainWindow = &window;
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(SimDeviceWatchCount(), before + 2);
    DeviceHandle usb = state->usbDevices[0].handle;
    DeviceHandle bth = state->bthDevices[0].handle;
    void* usbWatch = state->usbDevices[0].removalWatch.load();
    void* bthWatch = state->bthDevices[0].removalWatch.load();
    ASSERT_TRUE(IsOpenDeviceHandle(usb));
    ASSERT_NE(usbWatch, nullptr);

    // Pulled out without a query: handle and watch go together.
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::RemoveComplete, usbWatch, 0), 1);
    EXPECT_EQ(state->usbDevices[0].handle, nullptr);
    EXPECT_EQ(state->usbDevices[0].removalWatch.load(), nullptr);
    EXPECT_EQ(state->usbDeviceCount.load(), 0u);
    EXPECT_EQ(state->bthDevices[0].handle, bth);
    EXPECT_EQ(state->bthDeviceCount.load(), 1u);
    EXPECT_EQ(SimDeviceWatchCount(), before + 1);
    EXPECT_EQ(SimOpenHandleCount(), 1u) << "the USB handle really closed";
    // A stale or foreign watch changes nothing; neither do the device handle values.
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::RemoveComplete, usbWatch, 0), 0);
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, bth, 0), 0);
    EXPECT_EQ(TakeRemovalNotice(state.get(), RemovalNotice::QueryRemove, nullptr, 0), 0);
    EXPECT_EQ(TakeRemovalNotice(nullptr, RemovalNotice::QueryRemove, bthWatch, 0), 0);
    EXPECT_EQ(state->bthDevices[0].handle, bth);

    // Back after the update; a driver reset and a close release their watches too.
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(SimDeviceWatchCount(), before + 2);
    ResetDriver(&state->usbDevices[0]);
    EXPECT_EQ(SimDeviceWatchCount(), before + 1);
    CloseDevices(state.get());
    EXPECT_EQ(SimDeviceWatchCount(), before);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
}

} // namespace
