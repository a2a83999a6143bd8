// hidprobe.exe: looks at the system's HID devices from outside the tool, as any program would.
//
//   hidprobe list              one line per present HID interface: "page=0x0001 usage=0x0004
//                              feature=256 path=..." (the usage is "-" when the device cannot be
//                              opened or its capabilities read)
//   hidprobe get SUBSTRING     reads the Control report (id 2) of the first interface whose path
//                              contains SUBSTRING: "ok 02 44 53 ..." (256 bytes) or "failed N"
//   hidprobe hold SUBSTRING MS opens that interface, waits MS milliseconds, then reads through the
//                              same handle: a device removed meanwhile must fail the read
//   hidprobe notices SUBSTRING MS [handle]
//                              opens that interface, registers a hidden window for the handle's
//                              notices (DBT_DEVTYP_HANDLE) and, unless "handle" is given, for the
//                              HID interface class, prints "watching", then for MS ms one line per
//                              WM_DEVICECHANGE: "notice 0x8004 handle size=56 ours=1" (ours: the
//                              record names this handle and this registration), "notice 0x8004
//                              interface", "notice 0x0007 none": what the system really sends
#include <windows.h>

#include <dbt.h>

#include <setupapi.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

extern "C" {
#include <hidsdi.h>
}

namespace {

std::vector<std::wstring> HidPaths() {
    std::vector<std::wstring> paths;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
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
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

HANDLE Open(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

int List() {
    for (const std::wstring& path : HidPaths()) {
        HANDLE h = Open(path);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps = {};
        bool known = h != INVALID_HANDLE_VALUE && HidD_GetPreparsedData(h, &preparsed) &&
                     HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
        if (preparsed != nullptr)
            HidD_FreePreparsedData(preparsed);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        if (known)
            std::printf("page=0x%04X usage=0x%04X feature=%u path=%s\n", caps.UsagePage, caps.Usage,
                        caps.FeatureReportByteLength, Narrow(path).c_str());
        else
            std::printf("page=- usage=- feature=- path=%s\n", Narrow(path).c_str());
    }
    return 0;
}

int Read(HANDLE h) {
    unsigned char report[256] = {2};
    if (!HidD_GetFeature(h, report, sizeof report)) {
        std::printf("failed %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    std::printf("ok");
    for (unsigned char b : report)
        std::printf(" %02X", b);
    std::printf("\n");
    return 0;
}

int Get(const std::wstring& part, DWORD holdMs) {
    for (const std::wstring& path : HidPaths()) {
        if (path.find(part) == std::wstring::npos)
            continue;
        HANDLE h = Open(path);
        if (h == INVALID_HANDLE_VALUE) {
            std::printf("failed open %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
        if (holdMs != 0) {
            std::printf("holding\n");
            std::fflush(stdout);
            Sleep(holdMs);
        }
        int rc = Read(h);
        CloseHandle(h);
        return rc;
    }
    std::printf("failed no-such-device\n");
    return 1;
}

HANDLE watchedHandle = nullptr;
HDEVNOTIFY handleWatch = nullptr;

LRESULT CALLBACK NoticeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DEVICECHANGE)
        return DefWindowProcW(window, message, wParam, lParam);
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr) {
        std::printf("notice 0x%04X none\n", static_cast<unsigned>(wParam));
    } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam);
        const bool ours = header->dbch_size >= offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid) &&
                          record->dbch_handle == watchedHandle && record->dbch_hdevnotify == handleWatch;
        std::printf("notice 0x%04X handle size=%lu ours=%d\n", static_cast<unsigned>(wParam),
                    static_cast<unsigned long>(header->dbch_size), ours ? 1 : 0);
    } else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        std::printf("notice 0x%04X interface\n", static_cast<unsigned>(wParam));
    } else {
        std::printf("notice 0x%04X type=%lu\n", static_cast<unsigned>(wParam),
                    static_cast<unsigned long>(header->dbch_devicetype));
    }
    std::fflush(stdout);
    return TRUE;
}

int Notices(const std::wstring& part, DWORD forMs, bool handleOnly) {
    std::wstring found;
    for (const std::wstring& path : HidPaths())
        if (found.empty() && path.find(part) != std::wstring::npos)
            found = path;
    if (found.empty() || (watchedHandle = Open(found)) == INVALID_HANDLE_VALUE) {
        std::printf("failed no-such-device\n");
        return 1;
    }
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NoticeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"hidprobe-notices";
    RegisterClassW(&wc);
    // Top-level, not message-only: broadcasts reach only top-level windows.
    HWND window = CreateWindowW(wc.lpszClassName, L"hidprobe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                wc.hInstance, nullptr);
    DEV_BROADCAST_HANDLE filter = {};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = watchedHandle;
    handleWatch = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    DEV_BROADCAST_DEVICEINTERFACE_W interfaces = {};
    interfaces.dbcc_size = sizeof interfaces;
    interfaces.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&interfaces.dbcc_classguid);
    HDEVNOTIFY interfaceWatch =
        handleOnly ? nullptr : RegisterDeviceNotificationW(window, &interfaces, DEVICE_NOTIFY_WINDOW_HANDLE);
    std::printf("watching handle=%d interface=%d\n", handleWatch != nullptr, interfaceWatch != nullptr);
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + forMs;
    for (ULONGLONG now; (now = GetTickCount64()) < end;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    if (interfaceWatch != nullptr)
        UnregisterDeviceNotification(interfaceWatch);
    if (handleWatch != nullptr)
        UnregisterDeviceNotification(handleWatch);
    CloseHandle(watchedHandle);
    DestroyWindow(window);
    return 0;
}

} // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return 2;
    std::wstring verb = argc > 1 ? argv[1] : L"";
    int rc = 2;
    if (verb == L"list")
        rc = List();
    else if (verb == L"get" && argc > 2)
        rc = Get(argv[2], 0);
    else if (verb == L"hold" && argc > 3)
        rc = Get(argv[2], static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)));
    else if (verb == L"notices" && argc > 3)
        rc = Notices(argv[2], static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)),
                     argc > 4 && std::wstring(argv[4]) == L"handle");
    else
        std::printf(
            "usage: hidprobe list | get SUBSTRING | hold SUBSTRING MS | notices SUBSTRING MS [handle]\n");
    LocalFree(argv);
    std::fflush(stdout);
    return rc;
}
