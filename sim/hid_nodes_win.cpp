// The simulator's HID device nodes: installing, waiting for, removing and listing the relay
// nodes that put the simulated driver behind the system's HID stack.
#include "sim/hid_nodes_win.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <cstdio>
#include <cwchar>
#include <devguid.h>
#include <setupapi.h>

#include "sim/hid_relay/relay_wire.h"

namespace {

const wchar_t kEnumerator[] = L"" RELAY_ENUMERATOR;
const wchar_t kHardwareIds[] = L"" RELAY_HARDWARE_ID L"\0"; // REG_MULTI_SZ: a second terminator

std::wstring NodeId(uint32_t number) {
    wchar_t id[64];
    std::swprintf(id, 64, L"%ls\\%04u", kEnumerator, static_cast<unsigned>(number));
    return id;
}

std::string Why(const char* step) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed, error 0x%lx", step,
                  static_cast<unsigned long>(GetLastError()));
    return text;
}

// Chooses the relay's driver from `infPath` alone and installs it on the one element.
int InstallDriverOn(HDEVINFO set, SP_DEVINFO_DATA* device, const std::wstring& infPath, std::string* error) {
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set, device, &params)) {
        *error = Why("SetupDiGetDeviceInstallParamsW");
        return 0;
    }
    params.Flags |= DI_ENUMSINGLEINF | DI_QUIETINSTALL;
    if (infPath.size() >= MAX_PATH) {
        *error = "INF path too long";
        return 0;
    }
    wcsncpy(params.DriverPath, infPath.c_str(), MAX_PATH - 1);
    params.DriverPath[MAX_PATH - 1] = 0;
    if (!SetupDiSetDeviceInstallParamsW(set, device, &params)) {
        *error = Why("SetupDiSetDeviceInstallParamsW");
        return 0;
    }
    if (!SetupDiBuildDriverInfoList(set, device, SPDIT_COMPATDRIVER)) {
        *error = Why("SetupDiBuildDriverInfoList");
        return 0;
    }
    if (!SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, device)) {
        *error = Why("DIF_SELECTBESTCOMPATDRV");
        return 0;
    }
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, device)) {
        *error = Why("DIF_INSTALLDEVICE");
        return 0;
    }
    return 1;
}

} // namespace

int InstallRelayNode(const std::wstring& infPath, uint32_t number, std::string* error) {
    std::string ignored;
    if (error == nullptr)
        error = &ignored;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *error = Why("SetupDiCreateDeviceInfoList");
        return 0;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const std::wstring id = NodeId(number);
    int ok = 0;
    if (!SetupDiCreateDeviceInfoW(set, id.c_str(), &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0, &device))
        *error = Why("SetupDiCreateDeviceInfoW");
    else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(kHardwareIds),
                                                sizeof kHardwareIds))
        *error = Why("SPDRP_HARDWAREID");
    else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
        *error = Why("DIF_REGISTERDEVICE");
    else if (!InstallDriverOn(set, &device, infPath, error))
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device); // no half-made node stays behind
    else
        ok = 1;
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

int RelayNodeReady(uint32_t number) {
    static const GUID kHidInterface = {
        0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    wchar_t wanted[64];
    std::swprintf(wanted, 64, L"HID\\%ls\\%04u", wcschr(kEnumerator, L'\\') + 1,
                  static_cast<unsigned>(number));
    HDEVINFO set =
        SetupDiGetClassDevsW(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int found = 0;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN] = {};
        found = SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr) &&
                _wcsicmp(id, wanted) == 0;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

int RemoveRelayNode(uint32_t number) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const std::wstring id = NodeId(number);
    int ok = SetupDiOpenDeviceInfoW(set, id.c_str(), nullptr, 0, &device) &&
             SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

std::vector<uint32_t> ListRelayNodes() {
    std::vector<uint32_t> numbers;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return numbers;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    const size_t prefix = wcslen(kEnumerator);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr))
            continue;
        if (_wcsnicmp(id, kEnumerator, prefix) != 0 || id[prefix] != L'\\')
            continue;
        wchar_t* end = nullptr;
        unsigned long n = wcstoul(id + prefix + 1, &end, 10);
        if (end != id + prefix + 1 && *end == 0 && n <= UINT32_MAX)
            numbers.push_back(static_cast<uint32_t>(n));
    }
    SetupDiDestroyDeviceInfoList(set);
    return numbers;
}
