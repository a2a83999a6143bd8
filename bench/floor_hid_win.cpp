// The floor for polling over the HID stack: the least a program can do to read every controller's
// Control report (id 2) each 100 ms. It finds the devices once, opens them and loops; no window, no
// tray icon, no rescan. It runs until it is ended (taskkill /f), which closes its handles.
#include <windows.h>

#include <setupapi.h>

#include <vector>

extern "C" {
#include <hidsdi.h>
}

namespace {

constexpr DWORD kPollMs = 100;
constexpr USHORT kUsagePage = 1;
constexpr USHORT kUsage = 4;
constexpr unsigned kReportBytes = 256;
constexpr DWORD kSearchMs = 30000;

bool IsController(HANDLE h) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(h, &preparsed))
        return false;
    HIDP_CAPS caps = {};
    bool match = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS && caps.UsagePage == kUsagePage &&
                 caps.Usage == kUsage && caps.FeatureReportByteLength == kReportBytes;
    HidD_FreePreparsedData(preparsed);
    unsigned char report[kReportBytes] = {2};
    return match && HidD_GetFeature(h, report, sizeof report);
}

std::vector<HANDLE> OpenControllers() {
    std::vector<HANDLE> handles;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return handles;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > 65536)
            continue;
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
            continue;
        HANDLE h = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        if (IsController(h))
            handles.push_back(h);
        else
            CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return handles;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The devices may still be coming up when the floor starts: look again for a while, not forever.
    std::vector<HANDLE> handles;
    for (DWORD waited = 0; (handles = OpenControllers()).empty(); waited += 500) {
        if (waited >= kSearchMs)
            return 1;
        Sleep(500);
    }
    unsigned char report[kReportBytes];
    for (;;) {
        Sleep(kPollMs);
        for (HANDLE h : handles) {
            report[0] = 2;
            HidD_GetFeature(h, report, sizeof report);
        }
    }
}
