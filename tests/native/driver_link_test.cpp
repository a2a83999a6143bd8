#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "driver/control_report.h"
#include "driver/discovery.h"
#include "driver/driver_link.h"
#include "profiles/profile_record.h"
#include "tests/native/driver_sim_helpers.h"

namespace {

using Strings = std::vector<std::string>;

class DriverLink : public SimulatedDriver {
  protected:
    void SetUp() override {
        SimulatedDriver::SetUp();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
        ASSERT_EQ(DiscoverDevices(state.get()), 1);
        ASSERT_EQ(state->usbDeviceCount.load(), 1u);
        ASSERT_EQ(state->bthDeviceCount.load(), 1u);
        SimClearLog();
    }

    DeviceSlot* Usb() { return &state->usbDevices[0]; }
    DeviceSlot* Bth() { return &state->bthDevices[0]; }

    uint32_t usb = 0;
    uint32_t bth = 0;
};

TEST_F(DriverLink, ReadDriverInfoCopiesGoodAnswersAndKeepsTheLastOne) {
    SimUpdateDevice(bth, [](SimDevice& d) {
        d.fields.MaxTransmitPowerLevel = -10;
        d.fields.BatteryStatus = 2;
        d.fields.DriverSettingTagId = 0xA1B2C3D4;
    });
    ASSERT_EQ(ReadDriverInfo(Bth()), 1);
    DriverInfo info;
    ASSERT_EQ(DecodeDriverInfo(Bth()->driverInfo, &info), 1);
    EXPECT_EQ(std::string(info.DeviceTag, 4), "DS3B");
    EXPECT_EQ(info.MaxTransmitPowerLevel, -10);
    EXPECT_EQ(info.BatteryStatus, 2);
    EXPECT_EQ(info.DriverSettingTagId, 0xA1B2C3D4u);

    uint8_t before[kDriverInfoSize];
    std::memcpy(before, Bth()->driverInfo, sizeof before);
    SimUpdateDevice(bth, [](SimDevice& d) { d.fields.BatteryStatus = 4; });
    SimFaults refuse;
    refuse.refuseRead = 1;
    SimSetFaults(bth, refuse);
    EXPECT_EQ(ReadDriverInfo(Bth()), 0);
    EXPECT_EQ(std::memcmp(before, Bth()->driverInfo, sizeof before), 0);

    // A closed slot does not answer, and nothing is sent to find that out.
    SimClearLog();
    DeviceSlot closed;
    EXPECT_EQ(ReadDriverInfo(&closed), 0);
    EXPECT_EQ(ReadDriverInfo(nullptr), 0);
    EXPECT_EQ(CountLog("GET"), 0);
}

TEST_F(DriverLink, SettingsReachTheDriverAndClosedSlotsFail) {
    ProfileSetting s = {};
    s.UseHatSwitch = 0x101;
    s.HatSwitchMode = 2;
    s.ButtonMap[18] = 0x42;
    ASSERT_EQ(ApplyProfileSetting(Usb(), &s), 1);
    SimDevice d;
    ASSERT_EQ(SimGetDevice(usb, &d), 1);
    EXPECT_EQ(d.profileMask, 0x0007FFFFu);
    EXPECT_EQ(d.profileBody[29 - 21], 0x01);
    EXPECT_EQ(d.profileBody[21 - 21], 0x02);
    EXPECT_EQ(d.profileBody[91 - 21], 0x42);

    ASSERT_EQ(SetAutoFireButtons(Bth(), 0x0001F00F), 1);
    ASSERT_EQ(ReadDriverInfo(Bth()), 1);
    DriverInfo info;
    DecodeDriverInfo(Bth()->driverInfo, &info);
    EXPECT_EQ(info.AutoFireButtons, 0x0001F00Fu);
    EXPECT_EQ(Exchanges(bth), (Strings{"SET SetDriverSettings ok", "GET DS3B"}));

    SimFaults failWrite;
    failWrite.failWrite = 1;
    SimSetFaults(usb, failWrite);
    EXPECT_EQ(ApplyProfileSetting(Usb(), &s), 0);
    EXPECT_EQ(SetAutoFireButtons(Usb(), 1), 0);

    DeviceSlot closed;
    EXPECT_EQ(ApplyProfileSetting(&closed, &s), 0);
    EXPECT_EQ(SetAutoFireButtons(&closed, 1), 0);
    EXPECT_EQ(ApplyProfileSetting(nullptr, &s), 0);
    EXPECT_EQ(ApplyProfileSetting(Bth(), nullptr), 0);
    EXPECT_EQ(SetAutoFireButtons(nullptr, 1), 0);
}

TEST_F(DriverLink, BluetoothLinkCommandsNameOnlyAnOpenSlot) {
    ASSERT_EQ(DisconnectBluetooth(state.get(), 0), 1);
    SimDevice d;
    SimGetDevice(bth, &d);
    EXPECT_EQ(d.fields.DriverStatus, 17u);
    ASSERT_EQ(ReconnectBluetooth(state.get(), 0), 1);
    SimGetDevice(bth, &d);
    EXPECT_EQ(d.fields.DriverStatus, 18u);
    EXPECT_EQ(Exchanges(bth), (Strings{"SET DisconnectLink ok", "SET ReconnectLink ok"}));

    SimClearLog();
    EXPECT_EQ(DisconnectBluetooth(state.get(), 1), 0);
    EXPECT_EQ(ReconnectBluetooth(state.get(), 0xFFFFFFFF), 0);
    EXPECT_EQ(DisconnectBluetooth(nullptr, 0), 0);
    state->bthDeviceCount = 0;
    EXPECT_EQ(DisconnectBluetooth(state.get(), 0), 0);
    state->bthDeviceCount = 1;
    DeviceHandle open = Bth()->handle;
    Bth()->handle = nullptr;
    EXPECT_EQ(ReconnectBluetooth(state.get(), 0), 0);
    Bth()->handle = open;
    EXPECT_EQ(CountLog("SET"), 0);
}

TEST_F(DriverLink, DebugQueriesFollowSelectorAndInfoType) {
    struct Case {
        uint32_t selector;
        uint32_t infoType;
        int result;
        const char* infoTypeId; // null: nothing sent, record untouched
        const char* query;
    };
    const Case cases[] = {
        {0x00000000, 1, 1, "INFO", "QueryDebugInfo"},
        {0x00000000, 3, 1, "DRAW", "QueryDebugRawData"},
        {0x00010000, 2, 1, "BTSP", "QueryBthSupportInfo"},
        {0x00010000, 3, 1, "DRAW", "QueryDebugRawData"},
        {0x00020000, 4, 1, "INFO", "QueryDebugInfo"}, // any nonzero transport is Bluetooth
        {0x00010000, 0, 0, nullptr, nullptr},
        {0x00000001, 1, 0, nullptr, nullptr},
        {0x00010001, 3, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "selector " << std::hex << c.selector << " type " << c.infoType);
        SimClearLog();
        uint8_t record[kDebugRecordSize];
        std::memset(record, 0xCC, sizeof record);
        EXPECT_EQ(QueryDebugRecord(state.get(), c.selector, c.infoType, record), c.result);
        if (c.infoTypeId == nullptr) {
            EXPECT_EQ(CountLog("SET") + CountLog("GET"), 0);
            EXPECT_EQ(record[0], 0xCC);
            continue;
        }
        uint32_t dev = (c.selector >> 16) != 0 ? bth : usb;
        const char* debugTag = dev == bth ? "DBGB" : "DBGU";
        EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 1), 4), debugTag);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 5), 4), c.infoTypeId);
        EXPECT_EQ(Exchanges(dev),
                  (Strings{"SET EnterDebugMode ok", std::string("SET ") + c.query + " ok",
                           std::string("GET ") + debugTag + " " + c.infoTypeId, "SET LeaveDebugMode ok"}));
        SimDevice d;
        SimGetDevice(dev, &d);
        EXPECT_EQ(d.debugMode, 0);
    }

    uint8_t record[kDebugRecordSize];
    EXPECT_EQ(QueryDebugRecord(state.get(), 0x00010000, 1, nullptr), 0);
    EXPECT_EQ(QueryDebugRecord(nullptr, 0x00010000, 1, record), 0);
    Usb()->handle = nullptr; // the device stays open in the simulator; only the slot forgets it
    SimClearLog();
    EXPECT_EQ(QueryDebugRecord(state.get(), 0x00000000, 1, record), 0);
    EXPECT_EQ(CountLog("SET") + CountLog("GET"), 0);
}

TEST_F(DriverLink, FailedDebugReadStillFillsTheRecordAndLeavesDebugMode) {
    SimFaults refuse;
    refuse.refuseRead = 1;
    SimSetFaults(bth, refuse);
    uint8_t record[kDebugRecordSize];
    std::memset(record, 0xCC, sizeof record);
    EXPECT_EQ(QueryDebugRecord(state.get(), 0x00010000, 3, record), 0);
    EXPECT_EQ(record[0], 2);
    for (uint32_t i = 1; i < kDebugRecordSize; ++i)
        ASSERT_EQ(record[i], 0) << "byte " << i;
    EXPECT_EQ(Exchanges(bth), (Strings{"SET EnterDebugMode ok", "SET QueryDebugRawData ok", "GET failed",
                                       "SET LeaveDebugMode ok"}));
}

TEST_F(DriverLink, InfoTypeZeroIsRefusedWithoutWaitingForTheLock) {
    std::unique_lock<std::mutex> held(Bth()->lock);
    uint8_t record[kDebugRecordSize];
    auto refused =
        std::async(std::launch::async, [&] { return QueryDebugRecord(state.get(), 0x00010000, 0, record); });
    ASSERT_EQ(refused.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(refused.get(), 0);
    // A valid query on the same slot must wait for the lock.
    auto waiting =
        std::async(std::launch::async, [&] { return QueryDebugRecord(state.get(), 0x00010000, 3, record); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    held.unlock();
    EXPECT_EQ(waiting.get(), 1);
}

// The Monitor thread polls while the battery log or the debug dialog queries: a poll must never
// land inside a query's debug-mode window, nor a query read a poll's record.
TEST_F(DriverLink, DebugQueriesAndPollsNeverInterleave) {
    constexpr int kQueries = 150;
    std::atomic<int> done{0};
    std::atomic<int> badPolls{0};
    std::atomic<int> polls{0};
    std::thread poller([&] {
        while (!done.load()) {
            if (ReadDriverInfo(Bth())) {
                uint8_t copy[kDriverInfoSize];
                {
                    std::lock_guard<std::mutex> hold(Bth()->lock);
                    std::memcpy(copy, Bth()->driverInfo, sizeof copy);
                }
                if (ClassifyDeviceTag(copy) != TagKind::Bluetooth)
                    ++badPolls;
                ++polls;
            }
        }
    });
    while (polls.load() == 0)
        std::this_thread::yield();
    int badQueries = 0;
    for (int i = 0; i < kQueries; ++i) {
        uint32_t type = (i % 2) ? kInfoTypeDebugRawData : kInfoTypeDebugInfo;
        uint8_t record[kDebugRecordSize] = {};
        if (QueryDebugRecord(state.get(), 0x00010000, type, record) != 1 || !HasDeviceTag(record, "DBGB") ||
            !HasExpectedInfoTypeId(record, type))
            ++badQueries;
    }
    done = 1;
    poller.join();
    EXPECT_EQ(badQueries, 0);
    EXPECT_EQ(badPolls.load(), 0);
    SimDevice d;
    SimGetDevice(bth, &d);
    EXPECT_EQ(d.debugMode, 0);
    EXPECT_EQ(d.rejectedWrites, 0u);
}

TEST_F(DriverLink, LeaveDebugModeOnABareHandle) {
    SimUpdateDevice(usb, [](SimDevice& d) { d.debugMode = 1; });
    SendLeaveDebugMode(Usb()->handle);
    SendLeaveDebugMode(nullptr);
    SimDevice d;
    SimGetDevice(usb, &d);
    EXPECT_EQ(d.debugMode, 0);
    EXPECT_EQ(Exchanges(usb), (Strings{"SET LeaveDebugMode ok"}));
}

} // namespace
