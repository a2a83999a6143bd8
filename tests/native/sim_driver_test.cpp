// The simulated driver's contract, which the driver-link and end-to-end tests rely on: it must
// judge requests exactly as the driver's protocol says and answer byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "core/bytes.h"
#include "driver/device_port.h"
#include "sim/sim_driver.h"
#include "sim/sim_model.h"
#include "sim/sim_pipe_server.h"

namespace {

using Report = std::array<uint8_t, 256>;

// Built by hand from the byte table, independent of the tool's own request builder.
Report Request(uint32_t command, uint32_t mask = 0) {
    Report r{};
    r[0] = 2;
    std::memcpy(&r[1], "PWRQ", 4);
    r[8] = 1;
    WriteU32LE(&r[9], command);
    WriteU32LE(&r[17], mask);
    return r;
}

Report SignedRequest(uint32_t mask, uint32_t autoFire) {
    Report r = Request(1, mask);
    WriteU32LE(&r[105], autoFire);
    WriteU32LE(&r[13], SimChecksum(r.data()));
    return r;
}

std::u16string U16(const char* s) {
    return SimUtf8ToUtf16(s);
}

class SimDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SimReset();
        usb = SimAddDevice(SimKind::DriverUsb);
        bth = SimAddDevice(SimKind::DriverBluetooth);
    }
    void TearDown() override { SimReset(); }

    DeviceHandle Open(uint32_t id) {
        SimDevice d;
        EXPECT_TRUE(SimGetDevice(id, &d));
        return OpenHidDevice(U16(d.path.c_str()).c_str());
    }
    int Set(DeviceHandle h, Report r) { return SetFeatureReport(h, r.data(), 256); }
    Report Get(DeviceHandle h, int* ok = nullptr) {
        Report r{};
        r[0] = 2;
        int result = GetFeatureReport(h, r.data(), 256);
        if (ok != nullptr)
            *ok = result;
        return r;
    }
    std::string LastLog() {
        std::vector<std::string> lines = SimLogLines();
        return lines.empty() ? std::string() : lines.back();
    }
    std::string Tag(const Report& r, size_t at = 1) {
        return std::string(reinterpret_cast<const char*>(&r[at]), 4);
    }

    uint32_t usb = 0;
    uint32_t bth = 0;
};

TEST(SimChecksum, MatchesTheProtocolsAutoFireVectors) {
    Report zero = SignedRequest(0x00080000, 0);
    EXPECT_EQ(ReadU32LE(&zero[13]), 0x08E96BA8u);
    const uint8_t head[21] = {0x02, 'P',  'W',  'R',  'Q',  0x00, 0x00, 0x00, 0x01, 0x01, 0x00,
                              0x00, 0x00, 0xA8, 0x6B, 0xE9, 0x08, 0x00, 0x00, 0x08, 0x00};
    EXPECT_EQ(0, std::memcmp(zero.data(), head, 21));
    EXPECT_EQ(ReadU32LE(&SignedRequest(0x00080000, 1)[13]), 0x08E96B88u);
    // The stored checksum field itself does not feed the sum.
    Report again = zero;
    EXPECT_EQ(SimChecksum(again.data()), 0x08E96BA8u);
}

TEST_F(SimDriverTest, NormalAnswerCarriesTheRecordAtItsOffsets) {
    ASSERT_TRUE(SimUpdateDevice(bth, [](SimDevice& d) {
        d.fields.DriverVersionBuild = 0x1234;
        d.fields.DriverStatus = 13;
        d.fields.MaxTransmitPowerLevel = -10;
        const uint8_t adapter[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        std::memcpy(d.fields.Adapter_BDADDR, adapter, 6);
        d.fields.BatteryStatus = 2;
        d.fields.ReceiverSensitivity = 0x77;
        d.fields.DriverSettingTagId = 0xCAFEF00D;
    }));
    DeviceHandle h = Open(bth);
    int ok = 0;
    Report r = Get(h, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r[0], 2);
    EXPECT_EQ(Tag(r), "DS3B");
    EXPECT_EQ(ReadU16LE(&r[8]), 0x1234);
    EXPECT_EQ(ReadU32LE(&r[14]), 13u);
    EXPECT_EQ(r[42], 0xF6);
    EXPECT_EQ(r[30], 0x00);
    EXPECT_EQ(r[35], 0x55);
    EXPECT_EQ(r[45], 2);
    EXPECT_EQ(r[46], 0x77);
    EXPECT_EQ(ReadU32LE(&r[54]), 0xCAFEF00Du);
    for (size_t i = 58; i < 256; ++i)
        ASSERT_EQ(r[i], 0) << i;
    EXPECT_EQ(LastLog(), "GET dev=2 ok tag=DS3B");

    SimUpdateDevice(bth, [](SimDevice& d) { d.useSecondTag = 1; });
    EXPECT_EQ(Tag(Get(h)), "DS3X");
    CloseHidDevice(h);
}

TEST_F(SimDriverTest, MalformedWritesFailAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<void(Report&)> spoil;
        const char* logged;
    };
    const Case cases[] = {
        {"report id", [](Report& r) { r[0] = 3; }, "rejected reason=report-id"},
        {"signature", [](Report& r) { r[4] = 'X'; }, "rejected reason=signature"},
        {"version", [](Report& r) { r[8] = 2; }, "rejected reason=protocol-version"},
        {"checksum", [](Report& r) { r[13] ^= 1; }, "rejected reason=checksum"},
        {"body after checksum", [](Report& r) { r[60] = 1; }, "rejected reason=checksum"},
        {"byte past 108", [](Report& r) { r[200] = 1; }, "rejected reason=bytes-after-108"},
        {"mask beyond bit 19",
         [](Report& r) {
             WriteU32LE(&r[17], 0x00180000);
             WriteU32LE(&r[13], SimChecksum(r.data()));
         },
         "rejected reason=field-mask"},
        {"unknown command",
         [](Report& r) {
             WriteU32LE(&r[9], 9);
             WriteU32LE(&r[13], 0);
             WriteU32LE(&r[17], 0);
         },
         "rejected reason=unknown-command"},
    };
    DeviceHandle h = Open(usb);
    for (const Case& c : cases) {
        Report r = SignedRequest(0x00080000, 0x0001FFFF);
        c.spoil(r);
        EXPECT_EQ(Set(h, r), 0) << c.name;
        EXPECT_NE(LastLog().find(c.logged), std::string::npos) << c.name << ": " << LastLog();
    }
    // Header-only commands must carry no checksum, no mask and no body.
    Report withChecksum = Request(0x80000000);
    withChecksum[13] = 1;
    Report withBody = Request(0x80000001);
    withBody[21] = 1;
    Report badDisconnect = Request(2);
    WriteU32LE(&badDisconnect[53], 2);
    EXPECT_EQ(Set(h, withChecksum), 0);
    EXPECT_EQ(Set(h, withBody), 0);
    DeviceHandle b = Open(bth);
    EXPECT_EQ(Set(b, badDisconnect), 0);
    EXPECT_NE(LastLog().find("reason=disconnect-value"), std::string::npos);
    Report shortWrite = SignedRequest(0x00080000, 1);
    EXPECT_EQ(SetFeatureReport(h, shortWrite.data(), 255), 0);
    EXPECT_NE(LastLog().find("failed reason=length"), std::string::npos);

    SimDevice d;
    SimGetDevice(usb, &d);
    EXPECT_EQ(d.fields.AutoFireButtons, 0u);
    EXPECT_EQ(d.debugMode, 0);
    EXPECT_EQ(d.acceptedWrites, 0u);
    CloseHidDevice(h);
    CloseHidDevice(b);
}

TEST_F(SimDriverTest, SettingsWritesApplyTheirFieldMask) {
    DeviceHandle h = Open(usb);
    ASSERT_EQ(Set(h, SignedRequest(0x00080000, 0x00012345)), 1);
    EXPECT_EQ(ReadU32LE(&Get(h)[50]), 0x00012345u);
    std::string logged = SimLogLines().end()[-2];
    EXPECT_EQ(logged.substr(0, 77),
              "SET dev=1 cmd=SetDriverSettings mask=0x00080000 ok bytes=02 50 57 52 51 00 00");
    EXPECT_EQ(logged.size(),
              std::string("SET dev=1 cmd=SetDriverSettings mask=0x00080000 ok bytes=").size() + 109 * 3 - 1);

    Report profile = Request(1, 0x0007FFFF);
    for (int i = 21; i <= 104; ++i)
        profile[i] = static_cast<uint8_t>(i);
    WriteU32LE(&profile[13], SimChecksum(profile.data()));
    ASSERT_EQ(Set(h, profile), 1);
    SimDevice d;
    SimGetDevice(usb, &d);
    EXPECT_EQ(d.profileMask, 0x0007FFFFu);
    EXPECT_EQ(0, std::memcmp(d.profileBody, &profile[21], kSimProfileBodySize));
    EXPECT_EQ(d.fields.AutoFireButtons, 0x00012345u) << "a profile body leaves auto-fire alone";
    CloseHidDevice(h);
}

TEST_F(SimDriverTest, DebugModeAnswersTheSelectedRecord) {
    DeviceHandle u = Open(usb);
    DeviceHandle b = Open(bth);
    EXPECT_EQ(Set(b, Request(0x80000006)), 0) << "queries need debug mode";
    EXPECT_NE(LastLog().find("reason=not-in-debug-mode"), std::string::npos);

    ASSERT_EQ(Set(b, Request(0x80000000)), 1);
    Report r = Get(b);
    EXPECT_EQ(Tag(r), "DBGB");
    EXPECT_EQ(Tag(r, 5), std::string(4, '\0')) << "no query selected yet";

    ASSERT_EQ(Set(b, Request(0x80000006)), 1);
    r = Get(b);
    EXPECT_EQ(Tag(r, 5), "INFO");
    EXPECT_EQ(static_cast<int64_t>(ReadU64LE(&r[13])), 3000000000LL);
    EXPECT_NE(ReadU64LE(&r[45]), 0u) << "Bluetooth fills the ACL thread times";
    ASSERT_EQ(Set(b, Request(0x80000007)), 1);
    r = Get(b);
    EXPECT_EQ(Tag(r, 5), "BTSP");
    EXPECT_EQ(r[9], 0xFF);
    ASSERT_EQ(Set(b, Request(0x80000008)), 1);
    r = Get(b);
    EXPECT_EQ(Tag(r, 5), "DRAW");
    EXPECT_EQ(r[9], 0x01);
    EXPECT_EQ(LastLog(), "GET dev=2 ok tag=DBGB record=DRAW");
    EXPECT_EQ(Tag(Get(u)), "DS3U") << "debug mode belongs to one device";

    ASSERT_EQ(Set(b, Request(0x80000001)), 1);
    EXPECT_EQ(Tag(Get(b)), "DS3B");
    ASSERT_EQ(Set(u, Request(0x80000000)), 1);
    ASSERT_EQ(Set(u, Request(0x80000006)), 1);
    r = Get(u);
    EXPECT_EQ(Tag(r), "DBGU");
    EXPECT_EQ(ReadU64LE(&r[37]), 0u) << "USB has no ACL thread";
    CloseHidDevice(u);
    CloseHidDevice(b);
}

TEST_F(SimDriverTest, RawDataBytesOfTheBatteryLogMoveWithEachQuery) {
    DeviceHandle b = Open(bth);
    auto logged = [&]() {
        Set(b, Request(0x80000000));
        Set(b, Request(0x80000008));
        Report r = Get(b);
        Set(b, Request(0x80000001));
        return std::vector<uint8_t>(r.begin() + 35, r.begin() + 50);
    };
    std::vector<uint8_t> first = logged();
    std::vector<uint8_t> second = logged();
    EXPECT_NE(first, second);
    EXPECT_EQ(first[29 - 25], 5) << "RawData 29 mirrors BatteryStatus";

    ASSERT_EQ(SimRunCommand("set 2 raw-drift 0", nullptr), SimCommandResult::Done);
    std::vector<uint8_t> still = logged();
    EXPECT_EQ(still, logged());
    ASSERT_EQ(SimRunCommand("set 2 battery 1", nullptr), SimCommandResult::Done);
    std::vector<uint8_t> low = logged();
    EXPECT_NE(low, still);
    EXPECT_EQ(low[29 - 25], 1);
    CloseHidDevice(b);
}

TEST_F(SimDriverTest, LinkCommandsMoveTheBluetoothState) {
    DeviceHandle b = Open(bth);
    Report disconnect = Request(2);
    WriteU32LE(&disconnect[53], 1);
    ASSERT_EQ(Set(b, disconnect), 1);
    EXPECT_EQ(ReadU32LE(&Get(b)[14]), 17u);
    ASSERT_EQ(Set(b, disconnect), 1) << "a second disconnect is harmless";
    ASSERT_EQ(Set(b, Request(3)), 1);
    EXPECT_EQ(ReadU32LE(&Get(b)[14]), 18u);

    DeviceHandle u = Open(usb);
    EXPECT_EQ(Set(u, disconnect), 0);
    EXPECT_NE(LastLog().find("reason=not-bluetooth"), std::string::npos);
    EXPECT_EQ(Set(u, Request(3)), 0);
    EXPECT_EQ(ReadU32LE(&Get(u)[14]), 1u);
    CloseHidDevice(u);
    CloseHidDevice(b);
}

TEST_F(SimDriverTest, NodeRestartKillsOldHandlesAndBringsTheDeviceBack) {
    DeviceHandle old = Open(bth);
    Report disconnect = Request(2);
    WriteU32LE(&disconnect[53], 1);
    Set(old, disconnect);
    Set(old, Request(0x80000000));

    PresentDeviceList* list = OpenPresentDeviceList(0);
    ASSERT_NE(list, nullptr);
    std::vector<std::string> ids;
    Utf16 id[200];
    for (uint32_t i = 0; GetPresentDeviceInstanceId(list, i, id, 200) != EnumResult::End; ++i)
        ids.push_back(SimUtf16ToUtf8(id, 200));
    EXPECT_EQ(ids[0], "ROOT\\SYSTEM\\0000");
    auto at = [&](const std::string& wanted) {
        for (size_t i = 0; i < ids.size(); ++i)
            if (ids[i] == wanted)
                return static_cast<uint32_t>(i);
        return 0xFFFFFFFFu;
    };
    // The lower-case twin is listed, and restarting it leaves the device alone.
    uint32_t twin = at("usb\\vid_0a12&pid_0001\\sim0002");
    uint32_t parent = at("USB\\VID_0A12&PID_0001\\SIM0002");
    ASSERT_LT(twin, parent);
    EXPECT_EQ(RestartPresentDevice(list, twin), 1);
    SimDevice d;
    SimGetDevice(bth, &d);
    EXPECT_EQ(d.restarts, 0u);

    // Its end is waited for, not slept out. A machine that stalls past the delay may see the
    // device back early: only a device back before the delay is over is a fault.
    SimSetRestartDelay(1000);
    uint32_t before = SimDeviceSetVersion();
    const auto restarted = std::chrono::steady_clock::now();
    ASSERT_EQ(RestartPresentDevice(list, parent), 1);
    EXPECT_EQ(ClosePresentDeviceList(list), 1);
    int ok = 1;
    Get(old, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(LastLog(), "GET dev=2 failed reason=dead-handle");
    const uint32_t during = SimDeviceSetVersion();
    DeviceHandle early = Open(bth);
    const auto looked = std::chrono::steady_clock::now() - restarted;
    if (looked < std::chrono::milliseconds(1000)) {
        EXPECT_EQ(during, before + 1) << "gone while restarting";
        EXPECT_EQ(early, nullptr) << "gone while restarting";
    }
    if (early != nullptr)
        CloseHidDevice(early);

    DeviceHandle fresh = nullptr;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((fresh = Open(bth)) == nullptr && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_NE(fresh, nullptr) << "back once the delay is over";
    EXPECT_EQ(SimDeviceSetVersion(), before + 2);
    Report r = Get(fresh);
    EXPECT_EQ(Tag(r), "DS3B") << "debug mode is off after a restart";
    EXPECT_EQ(ReadU32LE(&r[14]), 18u) << "the link is up again";
    Get(old, &ok);
    EXPECT_EQ(ok, 0) << "a handle from before the restart stays dead";

    CloseHidDevice(old);
    CloseHidDevice(fresh);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
    EXPECT_EQ(SimOpenListCount(), 0u);
    CloseHidDevice(fresh);
    EXPECT_EQ(SimBadCloseCount(), 1u) << "a double close is counted";
}

TEST_F(SimDriverTest, FaultsFailWhatTheyName) {
    DeviceHandle u = Open(usb);
    SimFaults f;
    f.refuseRead = 1;
    SimSetFaults(usb, f);
    int ok = 1;
    Get(u, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Set(u, SignedRequest(0x00080000, 1)), 1) << "writes still work";

    f = SimFaults();
    f.failWrite = 1;
    SimSetFaults(usb, f);
    EXPECT_EQ(Set(u, SignedRequest(0x00080000, 2)), 0);
    EXPECT_EQ(ReadU32LE(&Get(u)[50]), 1u);

    f = SimFaults();
    f.stuckDebug = 1;
    SimSetFaults(usb, f);
    Set(u, Request(0x80000000));
    EXPECT_EQ(Set(u, Request(0x80000001)), 1);
    EXPECT_EQ(Tag(Get(u)), "DBGU");

    ASSERT_EQ(SimRunCommand("fault 1 none", nullptr), SimCommandResult::Done);
    ASSERT_EQ(SimRunCommand("fault 1 slow 80", nullptr), SimCommandResult::Done);
    auto start = std::chrono::steady_clock::now();
    Get(u, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));

    f = SimFaults();
    f.failRestart = 1;
    f.noParent = 1;
    f.noCaps = 1;
    SimSetFaults(usb, f);
    uint16_t page = 0, usage = 0;
    EXPECT_EQ(GetHidUsage(u, &page, &usage), 0);
    EXPECT_EQ(SimRestartDevice(usb), 0);
    HidDeviceList* list = OpenHidDeviceList();
    Utf16 parent[200] = {u'x', 0};
    EXPECT_EQ(GetHidParentInstanceId(list, 0, parent, 200), 0);
    EXPECT_EQ(parent[0], u'x') << "a failed lookup leaves the buffer";
    EXPECT_EQ(GetHidParentInstanceId(list, 1, parent, 200), 1);
    EXPECT_EQ(SimUtf16ToUtf8(parent, 200), "USB\\VID_0A12&PID_0001\\SIM0002");
    CloseHidDeviceList(list);

    SimSetListFaults(1, 1);
    EXPECT_EQ(OpenHidDeviceList(), nullptr);
    EXPECT_EQ(OpenPresentDeviceList(1), nullptr);
    CloseHidDevice(u);
}

TEST_F(SimDriverTest, ForeignDevicesAreListedButRejectTheControlReport) {
    uint32_t joystick = SimAddDevice(SimKind::ForeignJoystick);
    uint32_t mouse = SimAddDevice(SimKind::NonJoystick);
    HidDeviceList* list = OpenHidDeviceList();
    Utf16 path[512];
    Utf16 tiny[8];
    uint32_t count = 0;
    while (EnumHidInterface(list, count, path, 512) == EnumResult::Found)
        ++count;
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(EnumHidInterface(list, 0, tiny, 8), EnumResult::Skip) << "a path that does not fit is skipped";
    CloseHidDeviceList(list);

    DeviceHandle j = Open(joystick);
    DeviceHandle m = Open(mouse);
    uint16_t page = 0, usage = 0;
    ASSERT_EQ(GetHidUsage(j, &page, &usage), 1);
    EXPECT_EQ(page, 1);
    EXPECT_EQ(usage, 4);
    ASSERT_EQ(GetHidUsage(m, &page, &usage), 1);
    EXPECT_EQ(usage, 2);
    int ok = 1;
    Get(j, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(LastLog(), "GET dev=3 failed reason=no-report-2");
    EXPECT_EQ(Set(j, SignedRequest(0x00080000, 0)), 0);
    CloseHidDevice(j);
    CloseHidDevice(m);
    EXPECT_EQ(SimOpenHandleCount(), 0u);
}

TEST_F(SimDriverTest, ScriptCommandsShapeTheDevices) {
    std::string reply;
    EXPECT_EQ(SimRunCommand("add foreign-joystick", &reply), SimCommandResult::Done);
    EXPECT_EQ(reply, "3");
    EXPECT_EQ(SimRunCommand("set 1 version 1 2 3 4567", &reply), SimCommandResult::Done);
    EXPECT_EQ(SimRunCommand("set 2 power -10 4", &reply), SimCommandResult::Done);
    EXPECT_EQ(SimRunCommand("set 2 remote 66:77:88:99:aa:bb", &reply), SimCommandResult::Done);
    EXPECT_EQ(SimRunCommand("  # a comment", &reply), SimCommandResult::Done);
    EXPECT_EQ(SimRunCommand("quit", &reply), SimCommandResult::Quit);
    const char* bad[] = {"set 1 battery 256", "set 1 version 1 2 3", "set 9 status 1", "set 1 tag DS3",
                         "fault 1 slow fast", "add gamepad",         "frobnicate 1",   "set 2 power -129 0"};
    for (const char* line : bad) {
        EXPECT_EQ(SimRunCommand(line, &reply), SimCommandResult::Failed) << line;
        EXPECT_FALSE(reply.empty()) << line;
    }
    DeviceHandle u = Open(usb);
    DeviceHandle b = Open(bth);
    Report r = Get(u);
    EXPECT_EQ(r[5], 1);
    EXPECT_EQ(r[7], 3);
    EXPECT_EQ(ReadU16LE(&r[8]), 4567);
    r = Get(b);
    EXPECT_EQ(r[42], 0xF6);
    EXPECT_EQ(r[36], 0x66);
    EXPECT_EQ(r[41], 0xBB);
    EXPECT_EQ(SimRunCommand("set 1 tag DS3D", &reply), SimCommandResult::Done);
    EXPECT_EQ(Tag(Get(u)), "DS3D");
    EXPECT_EQ(SimRunCommand("remove 1", &reply), SimCommandResult::Done);
    int ok = 1;
    Get(u, &ok);
    EXPECT_EQ(ok, 0);
    CloseHidDevice(u);
    CloseHidDevice(b);
}

TEST_F(SimDriverTest, LogFileGetsEveryLine) {
    std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("simlog-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::string path = file.string();
    ASSERT_EQ(SimSetLogFile(path.c_str()), 1);
    DeviceHandle u = Open(usb);
    Get(u);
    CloseHidDevice(u);
    std::ifstream in(path);
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(in, line))
        lines.push_back(line);
    SimSetLogFile(nullptr);
    std::filesystem::remove(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "GET dev=1 ok tag=DS3U");
}

TEST_F(SimDriverTest, TwoThreadsKeepEveryExchangeWhole) {
    DeviceHandle monitor = Open(bth);
    DeviceHandle main = Open(bth);
    SimClearLog();
    constexpr int kRounds = 300;
    int monitorOk = 0;
    int mainOk = 0;
    std::thread poller([&] {
        for (int i = 0; i < kRounds; ++i) {
            Report r = Get(monitor, nullptr);
            monitorOk += r[0] == 2 && (Tag(r) == "DS3B" || Tag(r) == "DBGB");
        }
    });
    for (int i = 0; i < kRounds; ++i)
        mainOk += Set(main, SignedRequest(0x00080000, static_cast<uint32_t>(i)));
    poller.join();
    EXPECT_EQ(monitorOk, kRounds);
    EXPECT_EQ(mainOk, kRounds);
    EXPECT_EQ(SimLogLines().size(), 2u * kRounds);
    CloseHidDevice(monitor);
    CloseHidDevice(main);
}

TEST(SimPipe, FramesAreValidatedWhole) {
    SimPipeMessage m;
    m.code = static_cast<uint32_t>(SimPipeOp::SetFeature);
    m.a = 7;
    m.length = 256;
    m.payload[0] = 2;
    m.payload[255] = 0xAB;
    uint8_t frame[kSimPipeMaxFrame];
    uint32_t size = EncodeSimMessage(m, frame, sizeof frame);
    ASSERT_EQ(size, kSimPipeHeaderSize + 256);
    SimPipeMessage back;
    ASSERT_EQ(DecodeSimMessage(frame, size, &back), 1);
    EXPECT_EQ(back.a, 7u);
    EXPECT_EQ(back.payload[255], 0xAB);

    EXPECT_EQ(DecodeSimMessage(frame, size - 1, &back), 0) << "short frame";
    EXPECT_EQ(DecodeSimMessage(frame, 19, &back), 0) << "no header";
    frame[0] ^= 1;
    EXPECT_EQ(DecodeSimMessage(frame, size, &back), 0) << "magic";
    frame[0] ^= 1;
    WriteU32LE(frame + 16, kSimPipeMaxPayload + 1);
    EXPECT_EQ(DecodeSimMessage(frame, size, &back), 0) << "oversized length";
    m.length = kSimPipeMaxPayload + 1;
    EXPECT_EQ(EncodeSimMessage(m, frame, sizeof frame), 0u);
}

TEST_F(SimDriverTest, PipeServerDrivesTheSameDevices) {
    auto call = [](SimPipeOp op, uint32_t a, uint32_t b, const void* payload, uint32_t length) {
        SimPipeMessage request;
        request.code = static_cast<uint32_t>(op);
        request.a = a;
        request.b = b;
        request.length = length;
        if (length != 0)
            std::memcpy(request.payload, payload, length);
        SimPipeMessage answer;
        ServeSimRequest(request, &answer);
        return answer;
    };
    SimPipeMessage list = call(SimPipeOp::OpenHidList, 0, 0, nullptr, 0);
    ASSERT_EQ(list.code, 1u);
    SimPipeMessage path = call(SimPipeOp::EnumHidInterface, list.a, 1, nullptr, 0);
    ASSERT_EQ(EnumResultFromWire(path.code), EnumResult::Found);
    EXPECT_EQ(EnumResultFromWire(call(SimPipeOp::EnumHidInterface, list.a, 2, nullptr, 0).code),
              EnumResult::End);
    SimPipeMessage handle = call(SimPipeOp::OpenDevice, 0, 0, path.payload, path.length);
    ASSERT_EQ(handle.code, 1u);

    Report r = SignedRequest(0x00080000, 0x10000);
    EXPECT_EQ(call(SimPipeOp::SetFeature, handle.a, 0, r.data(), 256).code, 1u);
    Report read{};
    read[0] = 2;
    SimPipeMessage answer = call(SimPipeOp::GetFeature, handle.a, 0, read.data(), 256);
    ASSERT_EQ(answer.code, 1u);
    ASSERT_EQ(answer.length, 256u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer.payload + 1), 4), "DS3B");
    EXPECT_EQ(ReadU32LE(answer.payload + 50), 0x10000u);

    // A removal watch keeps the whole 64-bit window its notices go to.
    const uint8_t high[4] = {0x01, 0x00, 0x00, 0x80};
    SimPipeMessage watch = call(SimPipeOp::WatchDevice, handle.a, 0x00020044, high, 4);
    ASSERT_EQ(watch.code, 1u);
    ASSERT_EQ(SimWatches().size(), 1u);
    EXPECT_EQ(SimWatches()[0].window, 0x8000000100020044ull);
    EXPECT_EQ(SimWatches()[0].handle, handle.a);
    EXPECT_NE(watch.a, handle.a);
    EXPECT_EQ(call(SimPipeOp::WatchDevice, handle.a, 0x44, high, 3).code, 0u) << "a cut window is refused";
    EXPECT_EQ(call(SimPipeOp::WatchDevice, handle.a + 1000, 0x44, high, 4).code, 0u) << "no such handle";
    EXPECT_EQ(call(SimPipeOp::UnwatchDevice, watch.a, 0, nullptr, 0).code, 1u);
    EXPECT_EQ(call(SimPipeOp::UnwatchDevice, watch.a, 0, nullptr, 0).code, 0u);
    EXPECT_TRUE(SimWatches().empty());

    EXPECT_EQ(call(SimPipeOp::CloseDevice, handle.a, 0, nullptr, 0).code, 1u);
    EXPECT_EQ(call(SimPipeOp::CloseHidList, list.a, 0, nullptr, 0).code, 1u);
    EXPECT_EQ(call(static_cast<SimPipeOp>(99), 0, 0, nullptr, 0).code, 0u);
    EXPECT_EQ(SimOpenHandleCount() + SimOpenListCount(), 0u);
}

// The relay names devices where the ports name handles; both must reach the same model.
TEST_F(SimDriverTest, DeviceLevelCallsAnswerAsHandlesDo) {
    const uint32_t twin = SimAddDevice(SimKind::DriverBluetooth);
    DeviceHandle h = Open(bth);
    Report badChecksum = SignedRequest(0x00080000, 7);
    badChecksum[13] ^= 1;
    const Report requests[] = {
        Request(0x80000008), Request(0x80000000), Request(0x80000008), SignedRequest(0x000FFFFF, 0x4321),
        badChecksum,         Request(0x80000006), Request(0x80000001)};
    auto withoutDevice = [](std::string line) {
        size_t at = line.find(" dev=");
        return at == std::string::npos ? line : line.erase(at, line.find(' ', at + 1) - at);
    };
    for (const Report& request : requests) {
        SimClearLog();
        const int viaHandle = Set(h, request);
        const Report fromHandle = Get(h);
        EXPECT_EQ(SimDeviceSetFeature(twin, request.data(), 256), viaHandle);
        Report fromDevice{};
        fromDevice[0] = 2;
        EXPECT_EQ(SimDeviceGetFeature(twin, fromDevice.data(), 256), 1);
        EXPECT_EQ(fromDevice, fromHandle);
        std::vector<std::string> lines = SimLogLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(withoutDevice(lines[2]), withoutDevice(lines[0]));
        EXPECT_EQ(withoutDevice(lines[3]), withoutDevice(lines[1]));
    }
    CloseHidDevice(h);

    ASSERT_EQ(SimSetPresent(twin, 0), 1);
    EXPECT_EQ(SimPresentDevices(), (std::vector<uint32_t>{usb, bth}));
    Report enter = Request(0x80000000);
    EXPECT_EQ(SimDeviceSetFeature(twin, enter.data(), 256), 0);
    EXPECT_EQ(LastLog().rfind(
                  "SET dev=3 cmd=EnterDebugMode mask=0x00000000 failed reason=no-device bytes=02 50", 0),
              0u);
    EXPECT_EQ(SimDeviceGetFeature(twin, enter.data(), 256), 0);
    EXPECT_EQ(LastLog(), "GET dev=3 failed reason=no-device");
    uint16_t page = 0;
    uint16_t usage = 0;
    EXPECT_EQ(SimDeviceUsage(twin, &page, &usage), 0);
}

// Every front end relies on the model answering for a device alone: no table, no log of its own.
TEST(SimModel, AnswersForADeviceOutsideTheTable) {
    SimReset();
    SimDevice d;
    SimInitDevice(d, SimKind::DriverBluetooth, 9);
    std::string line;
    Report enter = Request(0x80000000);
    Report raw = Request(0x80000008);
    ASSERT_EQ(SimModelSetFeature(d, "dev=9", enter.data(), 256, &line), 1);
    ASSERT_EQ(SimModelSetFeature(d, "dev=9", raw.data(), 256, &line), 1);
    EXPECT_EQ(line.rfind("SET dev=9 cmd=QueryDebugRawData mask=0x00000000 ok bytes=02 50", 0), 0u);
    Report answer{};
    answer[0] = 2;
    ASSERT_EQ(SimModelGetFeature(d, "dev=9", answer.data(), 256, &line), 1);
    EXPECT_EQ(line, "GET dev=9 ok tag=DBGB record=DRAW");
    EXPECT_EQ(ReadU16LE(&answer[10 + 34]), 1u) << "one raw-data query, one counter step";
    EXPECT_EQ(d.acceptedWrites, 2u);
    EXPECT_EQ(d.reads, 1u);
    EXPECT_TRUE(SimLogLines().empty()) << "the caller logs the line";
    EXPECT_TRUE(SimPresentDevices().empty());

    SimForgetSession(d);
    ASSERT_EQ(SimModelGetFeature(d, "dev=9", answer.data(), 256, &line), 1);
    EXPECT_EQ(line, "GET dev=9 ok tag=DS3B");
}

} // namespace
