// The HID device port against Wine's own devices: Wine lists a mouse and a keyboard collection,
// no joystick, so discovery must take none of them while the enumeration itself works.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <cfgmgr32.h>
#include <sddl.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "core/tool_state.h"
#include "driver/device_port.h"
#include "driver/discovery.h"

namespace {

std::u16string Text(const Utf16* s, size_t capacity) {
    return std::u16string(s, Utf16Length(s, capacity));
}

std::u16string Lower(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return s;
}

std::vector<std::u16string> HidPaths() {
    std::vector<std::u16string> paths;
    HidDeviceList* list = OpenHidDeviceList();
    EXPECT_NE(list, nullptr);
    for (uint32_t i = 0; list != nullptr && i < 1000; ++i) {
        Utf16 path[kDevicePathChars];
        EnumResult r = EnumHidInterface(list, i, path, kDevicePathChars);
        if (r == EnumResult::End)
            break;
        if (r == EnumResult::Found)
            paths.push_back(Text(path, kDevicePathChars));
    }
    CloseHidDeviceList(list);
    return paths;
}

TEST(DevicePortWin, EnumeratesHidInterfacesWithBoundedPaths) {
    std::vector<std::u16string> paths = HidPaths();
    ASSERT_GE(paths.size(), 1u);
    const std::u16string hidClass = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";
    for (const std::u16string& p : paths) {
        std::u16string lower = Lower(p);
        EXPECT_EQ(lower.rfind(u"\\\\?\\hid#", 0), 0u);
        ASSERT_GE(lower.size(), hidClass.size());
        EXPECT_EQ(lower.substr(lower.size() - hidClass.size()), hidClass);
    }

    // A path that does not fit with its terminator is skipped whole; one more unit takes it.
    HidDeviceList* list = OpenHidDeviceList();
    ASSERT_NE(list, nullptr);
    const size_t length = paths[0].size();
    std::vector<Utf16> buffer(length + 1, u'#');
    EXPECT_EQ(EnumHidInterface(list, 0, buffer.data(), length), EnumResult::Skip);
    EXPECT_EQ(EnumHidInterface(list, 0, buffer.data(), length + 1), EnumResult::Found);
    EXPECT_EQ(Text(buffer.data(), length + 1), paths[0]);
    Utf16 path[kDevicePathChars];
    EXPECT_EQ(EnumHidInterface(list, static_cast<uint32_t>(paths.size()) + 100, path, kDevicePathChars),
              EnumResult::End);
    CloseHidDeviceList(list);
    EXPECT_EQ(EnumHidInterface(nullptr, 0, path, kDevicePathChars), EnumResult::End);
}

// For every HID interface the port names the element that owns it, by the device installer's
// own answer, and the parent id is that element's parent.
TEST(DevicePortWin, EachInterfaceLeadsToItsOwnElementAndParent) {
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    HidDeviceList* list = OpenHidDeviceList();
    ASSERT_NE(list, nullptr);
    const std::vector<std::u16string> paths = HidPaths();
    ASSERT_GE(paths.size(), 1u);
    for (uint32_t i = 0; i < paths.size(); ++i) {
        uint32_t element = UINT32_MAX;
        ASSERT_EQ(GetHidInterfaceElement(list, i, &element), 1) << i;
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof info;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(set, element, &info)) << i;
        // The element's own interface has the path of interface i.
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, &info, &guid, 0, &data));
        alignas(8) unsigned char buffer[2048] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, nullptr, nullptr));
        EXPECT_EQ(Lower(reinterpret_cast<const char16_t*>(detail->DevicePath)), Lower(paths[i]));
        // Wine keeps no device tree above its HID nodes: then the port reports no parent either.
        DEVINST parent = 0;
        wchar_t want[kInstanceIdChars] = {};
        const bool known = CM_Get_Parent(&parent, info.DevInst, 0) == CR_SUCCESS &&
                           CM_Get_Device_IDW(parent, want, kInstanceIdChars, 0) == CR_SUCCESS;
        Utf16 got[kInstanceIdChars] = {};
        EXPECT_EQ(GetHidParentInstanceId(list, element, got, kInstanceIdChars), known ? 1 : 0);
        if (known) {
            EXPECT_EQ(Text(got, kInstanceIdChars), std::u16string(reinterpret_cast<const char16_t*>(want)));
        }
    }
    uint32_t element = 7;
    EXPECT_EQ(GetHidInterfaceElement(list, static_cast<uint32_t>(paths.size()) + 50, &element), 0);
    EXPECT_EQ(GetHidInterfaceElement(nullptr, 0, &element), 0);
    CloseHidDeviceList(list);
    SetupDiDestroyDeviceInfoList(set);
}

TEST(DevicePortWin, WineDevicesOpenButNoneIsAJoystick) {
    for (const std::u16string& p : HidPaths()) {
        DeviceHandle device = OpenHidDevice(reinterpret_cast<const Utf16*>(p.c_str()));
        ASSERT_TRUE(IsOpenDeviceHandle(device));
        uint16_t usagePage = 0;
        uint16_t usage = 0;
        EXPECT_EQ(GetHidUsage(device, &usagePage, &usage), 1);
        EXPECT_FALSE(usagePage == 1 && usage == 4);
        CloseHidDevice(device);
    }
    EXPECT_EQ(OpenHidDevice(u"\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}"), nullptr);
    uint8_t report[256] = {2};
    EXPECT_EQ(GetFeatureReport(nullptr, report, sizeof report), 0);
    EXPECT_EQ(SetFeatureReport(nullptr, report, sizeof report), 0);
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    EXPECT_EQ(GetHidUsage(nullptr, &usagePage, &usage), 0);
}

TEST(DevicePortWin, DiscoveryTakesNoneOfWinesDevices) {
    auto state = std::make_unique<ToolState>();
    InitializeToolStateDefaults(state.get());
    EXPECT_EQ(DiscoverDevices(state.get()), 0);
    EXPECT_EQ(state->usbDeviceCount.load(), 0u);
    EXPECT_EQ(state->bthDeviceCount.load(), 0u);
    EXPECT_EQ(state->usbDevices[0].handle, nullptr);
    EXPECT_EQ(state->bthDevices[0].handle, nullptr);
    EXPECT_EQ(CloseDevices(state.get()), 1);
}

TEST(DevicePortWin, PresentDevicesListTheHidNodes) {
    PresentDeviceList* list = OpenPresentDeviceList(1);
    ASSERT_NE(list, nullptr);
    std::vector<std::u16string> ids;
    for (uint32_t i = 0; i < 10000; ++i) {
        Utf16 id[kInstanceIdChars];
        EnumResult r = GetPresentDeviceInstanceId(list, i, id, kInstanceIdChars);
        if (r == EnumResult::End)
            break;
        if (r == EnumResult::Found)
            ids.push_back(Text(id, kInstanceIdChars));
    }
    EXPECT_EQ(ClosePresentDeviceList(list), 1);
    size_t hidNodes = 0;
    for (const std::u16string& id : ids) {
        EXPECT_FALSE(id.empty());
        if (id.rfind(u"HID\\", 0) == 0)
            ++hidNodes;
    }
    EXPECT_GE(hidNodes, HidPaths().size());
    EXPECT_EQ(GetPresentDeviceInstanceId(nullptr, 0, nullptr, 0), EnumResult::End);
    EXPECT_EQ(ClosePresentDeviceList(nullptr), 0);
}

} // namespace

// The debug-mode guard is made for every signed-in user's tool, elevated or not; Wine enforces
// no access list, so the one it keeps is read back and checked entry by entry.
TEST(DevicePortWin, SessionGuardIsSharedByEveryUsersTool) {
    ASSERT_EQ(AcquireDriverSessionGuard(0), 1);
    HANDLE guard = OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, L"Global\\Padwarden Driver Debug Mode");
    ASSERT_NE(guard, nullptr);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetSecurityInfo(guard, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    LPWSTR sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const std::wstring text = sddl;
    LocalFree(sddl);
    LocalFree(descriptor);
    CloseHandle(guard);
    // Authenticated users: synchronize and release, nothing more; the system and administrators all.
    EXPECT_NE(text.find(L"(A;;0x100001;;;AU)"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_NE(text.find(L";;;SY)"), std::wstring::npos);
    EXPECT_NE(text.find(L";;;BA)"), std::wstring::npos);

    // Held here, another thread (as another session's tool) waits and then goes on without it.
    int other = -1;
    std::thread([&] { other = AcquireDriverSessionGuard(50); }).join();
    EXPECT_EQ(other, 0);
    ReleaseDriverSessionGuard();
    std::thread([&] {
        other = AcquireDriverSessionGuard(50);
        if (other)
            ReleaseDriverSessionGuard();
    }).join();
    EXPECT_EQ(other, 1);
}
