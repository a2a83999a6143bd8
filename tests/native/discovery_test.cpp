#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <future>
#include <string>
#include <thread>

#include "driver/control_report.h"
#include "driver/device_port.h"
#include "driver/discovery.h"
#include "driver/driver_link.h"
#include "driver/driver_reset.h"
#include "tests/native/driver_sim_helpers.h"

namespace {

using Strings = std::vector<std::string>;
using Discovery = SimulatedDriver;

std::string Tag(const uint8_t* record) {
    return std::string(reinterpret_cast<const char*>(record + 1), 4);
}

std::u16string Wide(const std::string& s) {
    return SimUtf8ToUtf16(s);
}

std::u16string SlotText(const Utf16* text, size_t capacity) {
    return std::u16string(text, Utf16Length(text, capacity));
}

// Device set -> which device fills which slot and what discovery returns.
TEST_F(Discovery, TagsDecideTheSlots) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint32_t>&)> build; // adds devices, ids in order
        int result;
        int usbIndex; // position in ids of the device expected in the USB slot, -1 none
        int bthIndex;
        const char* usbTag;
        const char* bthTag;
    };
    const Case cases[] = {
        {"DS3U then DS3D: the first keeps the slot",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::DriverUsb));
             ids.push_back(SimAddDevice(SimKind::DriverUsb));
             SimUpdateDevice(ids[1], [](SimDevice& d) { d.useSecondTag = 1; });
         },
         1, 0, -1, "DS3U", nullptr},
        {"DS3D alone is USB, DS3X alone is Bluetooth",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::DriverBluetooth));
             ids.push_back(SimAddDevice(SimKind::DriverUsb));
             SimUpdateDevice(ids[0], [](SimDevice& d) { d.useSecondTag = 1; });
             SimUpdateDevice(ids[1], [](SimDevice& d) { d.useSecondTag = 1; });
         },
         1, 1, 0, "DS3D", "DS3X"},
        {"DBGB then DS3B fills the Bluetooth slot with the second answer",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::DriverBluetooth));
             SimUpdateDevice(ids[0], [](SimDevice& d) { d.debugMode = 1; });
         },
         1, -1, 0, nullptr, "DS3B"},
        {"DBGB stuck is closed",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::DriverBluetooth));
             SimUpdateDevice(ids[0], [](SimDevice& d) {
                 d.debugMode = 1;
                 d.faults.stuckDebug = 1;
             });
         },
         0, -1, -1, nullptr, nullptr},
        {"foreign joystick and non-joystick are skipped",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::ForeignJoystick));
             ids.push_back(SimAddDevice(SimKind::NonJoystick));
             ids.push_back(SimAddDevice(SimKind::DriverUsb));
         },
         1, 2, -1, "DS3U", nullptr},
        {"no device", [](std::vector<uint32_t>&) {}, 0, -1, -1, nullptr, nullptr},
        {"only foreign devices",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::ForeignJoystick));
             ids.push_back(SimAddDevice(SimKind::NonJoystick));
         },
         0, -1, -1, nullptr, nullptr},
        {"a device whose caps cannot be read is skipped",
         [](std::vector<uint32_t>& ids) {
             ids.push_back(SimAddDevice(SimKind::DriverUsb));
             SimUpdateDevice(ids[0], [](SimDevice& d) { d.faults.noCaps = 1; });
         },
         0, -1, -1, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimReset();
        InitializeToolStateDefaults(state.get());
        std::vector<uint32_t> ids;
        c.build(ids);
        EXPECT_EQ(DiscoverDevices(state.get()), c.result);
        EXPECT_EQ(state->usbDeviceCount.load(), c.usbIndex >= 0 ? 1u : 0u);
        EXPECT_EQ(state->bthDeviceCount.load(), c.bthIndex >= 0 ? 1u : 0u);
        uint32_t open = 0;
        for (int t = 0; t < 2; ++t) {
            int index = t == 0 ? c.usbIndex : c.bthIndex;
            DeviceSlot& slot = t == 0 ? state->usbDevices[0] : state->bthDevices[0];
            if (index < 0) {
                EXPECT_EQ(slot.handle, nullptr);
                continue;
            }
            ++open;
            ASSERT_NE(slot.handle, nullptr);
            EXPECT_EQ(Tag(slot.driverInfo), t == 0 ? c.usbTag : c.bthTag);
            SimDevice d;
            SimGetDevice(ids[index], &d);
            EXPECT_EQ(SlotText(slot.parentInstanceId, kInstanceIdChars), Wide(d.parentInstanceId));
            EXPECT_EQ(d.debugMode, 0);
        }
        // Everything that was not placed was closed again, and the list was released.
        EXPECT_EQ(SimOpenHandleCount(), open);
        EXPECT_EQ(SimOpenListCount(), 0u);
        EXPECT_EQ(SimBadCloseCount(), 0u);
    }
}

TEST_F(Discovery, DebugAnswersGetLeaveDebugModeThenAreAskedAgain) {
    uint32_t stuck = SimAddDevice(SimKind::DriverBluetooth);
    SimUpdateDevice(stuck, [](SimDevice& d) {
        d.debugMode = 1;
        d.faults.stuckDebug = 1;
    });
    uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    SimUpdateDevice(bth, [](SimDevice& d) { d.debugMode = 1; });
    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(Exchanges(stuck), (Strings{"GET DBGB none", "SET LeaveDebugMode ok", "GET DBGB none"}));
    EXPECT_EQ(Exchanges(bth), (Strings{"GET DBGB none", "SET LeaveDebugMode ok", "GET DS3B"}));
    EXPECT_EQ(Tag(state->bthDevices[0].driverInfo), "DS3B");
    // The foreign joystick is never written to.
    uint32_t foreign = SimAddDevice(SimKind::ForeignJoystick);
    CloseDevices(state.get());
    SimClearLog();
    DiscoverDevices(state.get());
    EXPECT_EQ(Exchanges(foreign), (Strings{"GET failed"}));
    EXPECT_EQ(CountLog("CLOSE", foreign), 1);
}

TEST_F(Discovery, OpenSlotsAreNeverReopenedOrRefilled) {
    uint32_t usb = SimAddDevice(SimKind::DriverUsb);
    uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    DeviceHandle usbHandle = state->usbDevices[0].handle;
    DeviceHandle bthHandle = state->bthDevices[0].handle;
    uint32_t later = SimAddDevice(SimKind::DriverUsb);
    SimClearLog();

    EXPECT_EQ(DiscoverDevices(state.get()), 0);
    EXPECT_EQ(state->usbDeviceCount.load(), 1u);
    EXPECT_EQ(state->bthDeviceCount.load(), 1u);
    EXPECT_EQ(state->usbDevices[0].handle, usbHandle);
    EXPECT_EQ(state->bthDevices[0].handle, bthHandle);
    EXPECT_EQ(CountLog("OPEN", usb) + CountLog("OPEN", bth), 0);
    EXPECT_EQ(CountLog("OPEN", later), 1);
    EXPECT_EQ(CountLog("CLOSE", later), 1);
    EXPECT_EQ(SimOpenHandleCount(), 2u);

    // Closing releases both, keeps the records, and the next discovery fills the slots again.
    uint8_t record[kDriverInfoSize];
    std::memcpy(record, state->bthDevices[0].driverInfo, sizeof record);
    EXPECT_EQ(CloseDevices(state.get()), 1);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_EQ(state->usbDeviceCount.load() + state->bthDeviceCount.load(), 0u);
    EXPECT_EQ(state->bthDevices[0].handle, nullptr);
    EXPECT_EQ(std::memcmp(record, state->bthDevices[0].driverInfo, sizeof record), 0);
    EXPECT_EQ(CloseDevices(state.get()), 1);
    EXPECT_EQ(SimBadCloseCount(), 0u);
    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(state->usbDeviceCount.load() + state->bthDeviceCount.load(), 2u);
    EXPECT_EQ(CloseDevices(nullptr), 1);
    EXPECT_EQ(DiscoverDevices(nullptr), 0);
}

TEST_F(Discovery, DiscoveryDuringADebugQueryLeavesTheQueryAlone) {
    uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    SimFaults slow;
    slow.slowMs = 100;
    SimSetFaults(bth, slow);
    SimClearLog();

    uint8_t record[kDebugRecordSize] = {};
    auto query = std::async(std::launch::async,
                            [&] { return QueryDebugRecord(state.get(), kSelectorBluetooth0, 3, record); });
    // Wait until the device is in debug mode, then discover on this thread.
    for (int i = 0; i < 2000 && CountLog("SET", bth) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(CountLog("SET", bth), 1);
    ASSERT_EQ(query.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(DiscoverDevices(state.get()), 0);
    EXPECT_EQ(query.get(), 1);
    EXPECT_TRUE(HasDeviceTag(record, "DBGB"));
    EXPECT_TRUE(HasExpectedInfoTypeId(record, 3));
    EXPECT_EQ(Exchanges(bth), (Strings{"SET EnterDebugMode ok", "SET QueryDebugRawData ok", "GET DBGB DRAW",
                                       "SET LeaveDebugMode ok"}));
}

// A device found in debug mode may belong to a query that started since discovery checked the
// slots; its debug mode is ended only while that transport's lock is free.
TEST_F(Discovery, LeaveDebugModeWaitsForTheTransportsLock) {
    uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    SimUpdateDevice(bth, [](SimDevice& d) {
        d.debugMode = 1;
        d.faults.slowMs = 100;
    });
    auto discovery = std::async(std::launch::async, [&] { return DiscoverDevices(state.get()); });
    // Past the slot check and into the slow first read: now a query takes the lock.
    for (int i = 0; i < 2000 && CountLog("OPEN", bth) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::unique_lock<std::mutex> held(state->bthDevices[0].lock);
    ASSERT_EQ(CountLog("GET", bth), 0);
    EXPECT_EQ(discovery.wait_for(std::chrono::milliseconds(250)), std::future_status::timeout);
    EXPECT_EQ(Exchanges(bth), (Strings{"GET DBGB none"}));
    held.unlock();
    EXPECT_EQ(discovery.get(), 1);
    EXPECT_EQ(Exchanges(bth), (Strings{"GET DBGB none", "SET LeaveDebugMode ok", "GET DS3B"}));
}

TEST_F(Discovery, ParentComesFromTheInterfacesOwnElement) {
    // Foreign devices around the driver's, so that a wrong element names another device's parent.
    const uint32_t hub = SimAddDevice(SimKind::NonJoystick);
    const uint32_t usb = SimAddDevice(SimKind::DriverUsb);
    const uint32_t radio = SimAddDevice(SimKind::NonJoystick);
    const uint32_t bth = SimAddDevice(SimKind::DriverBluetooth);
    const uint32_t other = SimAddDevice(SimKind::ForeignJoystick);
    for (int reversed = 0; reversed < 2; ++reversed) {
        SimSetElementOrder(reversed);
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        SimDevice d;
        ASSERT_TRUE(SimGetDevice(usb, &d));
        EXPECT_EQ(SlotText(state->usbDevices[0].parentInstanceId, kInstanceIdChars), Wide(d.parentInstanceId))
            << "reversed=" << reversed;
        ASSERT_TRUE(SimGetDevice(bth, &d));
        EXPECT_EQ(SlotText(state->bthDevices[0].parentInstanceId, kInstanceIdChars), Wide(d.parentInstanceId))
            << "reversed=" << reversed;
        CloseDevices(state.get());
    }
    // So a reset restarts the controller's own node, nothing else.
    ASSERT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(ResetDriver(&state->usbDevices[0]), 1);
    SimDevice d;
    for (uint32_t id : {hub, radio, bth, other}) {
        ASSERT_TRUE(SimGetDevice(id, &d));
        EXPECT_EQ(d.restarts, 0u) << id;
    }
    ASSERT_TRUE(SimGetDevice(usb, &d));
    EXPECT_EQ(d.restarts, 1u);
    CloseDevices(state.get());
}

TEST_F(Discovery, ParentLookupAndPathBounds) {
    uint32_t usb = SimAddDevice(SimKind::DriverUsb);
    SimUpdateDevice(usb, [](SimDevice& d) { d.faults.noParent = 1; });
    const char16_t earlier[] = u"USB\\EARLIER";
    std::memcpy(state->usbDevices[0].parentInstanceId, earlier, sizeof earlier);
    // A path one unit too long for the buffer is skipped, never cut and opened.
    uint32_t longPath = SimAddDevice(SimKind::DriverBluetooth);
    SimUpdateDevice(longPath,
                    [](SimDevice& d) { d.path = "\\\\?\\hid#" + std::string(kDevicePathChars - 8, 'x'); });
    SimDevice d;
    SimGetDevice(longPath, &d);
    ASSERT_EQ(d.path.size(), static_cast<size_t>(kDevicePathChars));

    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_NE(state->usbDevices[0].handle, nullptr);
    EXPECT_EQ(SlotText(state->usbDevices[0].parentInstanceId, kInstanceIdChars), u"")
        << "a failed lookup never leaves the previous device's id for a reset to restart";
    EXPECT_EQ(state->bthDeviceCount.load(), 0u);
    EXPECT_EQ(CountLog("OPEN", longPath) + CountLog("OPEN path="), 0);

    // One unit shorter fits with its terminator.
    CloseDevices(state.get());
    SimUpdateDevice(longPath, [](SimDevice& dev) { dev.path.pop_back(); });
    EXPECT_EQ(DiscoverDevices(state.get()), 1);
    EXPECT_EQ(state->bthDeviceCount.load(), 1u);

    CloseDevices(state.get());
    SimSetListFaults(1, 0);
    EXPECT_EQ(DiscoverDevices(state.get()), 0);
    EXPECT_EQ(state->usbDeviceCount.load(), 0u);
}

} // namespace
