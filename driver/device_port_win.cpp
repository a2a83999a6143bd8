// The device port over the real HID class, device installer and configuration manager.
// Its calls into hid.dll, setupapi.dll and cfgmgr32.dll go through the system DLL table.
#include <windows.h>

#include <dbt.h>
#include <sddl.h>

#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "core/system_dlls_win.h"
#include "driver/device_port.h"

static_assert(sizeof(wchar_t) == sizeof(Utf16), "device paths pass between wchar_t and Utf16 unchanged");
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8, "class-install header is 8 bytes");
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "property-change record is 20 bytes");

struct HidDeviceList {
    HDEVINFO set;
    GUID hidGuid;
};

struct PresentDeviceList {
    HDEVINFO set;
};

namespace {

const wchar_t* Wide(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
HANDLE Native(DeviceHandle h) {
    return static_cast<HANDLE>(h);
}

// Copies a terminated wide string of at most `available` units; 0 when it is unterminated or does
// not fit `capacity` units with its terminator.
int CopyFitting(Utf16* dest, size_t capacity, const wchar_t* src, size_t available) {
    size_t length = wcsnlen(src, available);
    if (length == available || length + 1 > capacity)
        return 0;
    for (size_t i = 0; i < length; ++i)
        dest[i] = static_cast<Utf16>(src[i]);
    dest[length] = 0;
    return 1;
}

// The configuration manager's id of a device node, bounded to the instance-id buffer.
int DeviceIdOf(DEVINST node, Utf16* id, size_t capacity) {
    wchar_t buffer[kInstanceIdChars + 1] = {};
    if (SystemDlls().CM_Get_Device_IDW(node, buffer, kInstanceIdChars, 0) != CR_SUCCESS)
        return 0;
    return CopyFitting(id, capacity, buffer, kInstanceIdChars + 1);
}

int DeviceInfoAt(HDEVINFO set, uint32_t index, SP_DEVINFO_DATA* info) {
    *info = SP_DEVINFO_DATA{};
    info->cbSize = sizeof(SP_DEVINFO_DATA);
    return SystemDlls().SetupDiEnumDeviceInfo(set, index, info) ? 1 : 0;
}

} // namespace

HidDeviceList* OpenHidDeviceList() {
    const SystemCalls& dll = SystemDlls();
    if (!dll.devices)
        return nullptr;
    GUID guid;
    dll.HidD_GetHidGuid(&guid);
    HDEVINFO set = dll.SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    HidDeviceList* list = new (std::nothrow) HidDeviceList{set, guid};
    if (list == nullptr)
        dll.SetupDiDestroyDeviceInfoList(set);
    return list;
}

EnumResult EnumHidInterface(HidDeviceList* list, uint32_t index, Utf16* path, size_t capacity) {
    if (list == nullptr)
        return EnumResult::End;
    const SystemCalls& dll = SystemDlls();
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    // Any failure ends the walk; only "no more items" is expected here.
    if (!dll.SetupDiEnumDeviceInterfaces(list->set, nullptr, &list->hidGuid, index, &data))
        return EnumResult::End;
    DWORD size = 0;
    dll.SetupDiGetDeviceInterfaceDetailW(list->set, &data, nullptr, 0, &size, nullptr);
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (size <= pathOffset)
        return EnumResult::Skip;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, size));
    if (detail == nullptr)
        return EnumResult::Skip;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EnumResult result = EnumResult::Skip;
    if (dll.SetupDiGetDeviceInterfaceDetailW(list->set, &data, detail, size, nullptr, nullptr) &&
        CopyFitting(path, capacity, detail->DevicePath, (size - pathOffset) / sizeof(wchar_t)))
        result = EnumResult::Found;
    std::free(detail);
    return result;
}

int GetHidInterfaceElement(HidDeviceList* list, uint32_t index, uint32_t* element) {
    if (list == nullptr || element == nullptr)
        return 0;
    const SystemCalls& dll = SystemDlls();
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    if (!dll.SetupDiEnumDeviceInterfaces(list->set, nullptr, &list->hidGuid, index, &data))
        return 0;
    DWORD size = 0;
    dll.SetupDiGetDeviceInterfaceDetailW(list->set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return 0;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, size));
    if (detail == nullptr)
        return 0;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    // The element that owns this interface, as the device installer itself reports it.
    SP_DEVINFO_DATA owner = {};
    owner.cbSize = sizeof owner;
    const BOOL found = dll.SetupDiGetDeviceInterfaceDetailW(list->set, &data, detail, size, nullptr, &owner);
    std::free(detail);
    if (!found)
        return 0;
    SP_DEVINFO_DATA info;
    for (uint32_t i = 0; i != UINT32_MAX && DeviceInfoAt(list->set, i, &info); ++i) {
        if (info.DevInst == owner.DevInst) {
            *element = i;
            return 1;
        }
    }
    return 0;
}

int GetHidParentInstanceId(HidDeviceList* list, uint32_t element, Utf16* id, size_t capacity) {
    if (list == nullptr || id == nullptr)
        return 0;
    SP_DEVINFO_DATA info;
    if (!DeviceInfoAt(list->set, element, &info))
        return 0;
    DEVINST parent = 0;
    if (SystemDlls().CM_Get_Parent(&parent, info.DevInst, 0) != CR_SUCCESS)
        return 0;
    Utf16 buffer[kInstanceIdChars];
    if (!DeviceIdOf(parent, buffer, kInstanceIdChars) || capacity == 0)
        return 0;
    // Left untouched unless the whole id fits.
    size_t length = Utf16Length(buffer, kInstanceIdChars);
    if (length + 1 > capacity)
        return 0;
    for (size_t i = 0; i <= length; ++i)
        id[i] = buffer[i];
    return 1;
}

void CloseHidDeviceList(HidDeviceList* list) {
    if (list == nullptr)
        return;
    SystemDlls().SetupDiDestroyDeviceInfoList(list->set);
    delete list;
}

DeviceHandle OpenHidDevice(const Utf16* path) {
    if (path == nullptr)
        return nullptr;
    HANDLE h = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : static_cast<DeviceHandle>(h);
}

int GetHidUsage(DeviceHandle device, uint16_t* usagePage, uint16_t* usage) {
    const SystemCalls& dll = SystemDlls();
    if (!dll.devices || !IsOpenDeviceHandle(device) || usagePage == nullptr || usage == nullptr)
        return 0;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!dll.HidD_GetPreparsedData(Native(device), &preparsed))
        return 0;
    HIDP_CAPS caps = {};
    NTSTATUS status = dll.HidP_GetCaps(preparsed, &caps);
    dll.HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS)
        return 0;
    *usagePage = caps.UsagePage;
    *usage = caps.Usage;
    return 1;
}

int GetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    const SystemCalls& dll = SystemDlls();
    if (!dll.devices || !IsOpenDeviceHandle(device) || buffer == nullptr)
        return 0;
    return dll.HidD_GetFeature(Native(device), buffer, length) ? 1 : 0;
}

int SetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length) {
    const SystemCalls& dll = SystemDlls();
    if (!dll.devices || !IsOpenDeviceHandle(device) || buffer == nullptr)
        return 0;
    return dll.HidD_SetFeature(Native(device), buffer, length) ? 1 : 0;
}

void CloseHidDevice(DeviceHandle device) {
    if (IsOpenDeviceHandle(device))
        CloseHandle(Native(device));
}

PresentDeviceList* OpenPresentDeviceList(int withInterfaces) {
    const SystemCalls& dll = SystemDlls();
    if (!dll.devices)
        return nullptr;
    const DWORD flags = DIGCF_ALLCLASSES | DIGCF_PRESENT | (withInterfaces ? DIGCF_DEVICEINTERFACE : 0u);
    HDEVINFO set = dll.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return nullptr;
    PresentDeviceList* list = new (std::nothrow) PresentDeviceList{set};
    if (list == nullptr)
        dll.SetupDiDestroyDeviceInfoList(set);
    return list;
}

EnumResult GetPresentDeviceInstanceId(PresentDeviceList* list, uint32_t index, Utf16* id, size_t capacity) {
    if (list == nullptr)
        return EnumResult::End;
    SP_DEVINFO_DATA info;
    if (!DeviceInfoAt(list->set, index, &info))
        return EnumResult::End;
    if (id == nullptr || !DeviceIdOf(info.DevInst, id, capacity))
        return EnumResult::Skip;
    return EnumResult::Found;
}

int RestartPresentDevice(PresentDeviceList* list, uint32_t index) {
    if (list == nullptr)
        return 0;
    const SystemCalls& dll = SystemDlls();
    SP_DEVINFO_DATA info;
    if (!DeviceInfoAt(list->set, index, &info))
        return 0;
    SP_PROPCHANGE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = DICS_PROPCHANGE;
    params.Scope = DICS_FLAG_CONFIGSPECIFIC;
    params.HwProfile = 0;
    if (!dll.SetupDiSetClassInstallParamsW(list->set, &info, &params.ClassInstallHeader, sizeof params))
        return 0;
    if (!dll.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, list->set, &info))
        return 0;
    // The installer may leave the device as it was and ask for a system restart instead.
    SP_DEVINSTALL_PARAMS_W install = {};
    install.cbSize = sizeof install;
    if (dll.SetupDiGetDeviceInstallParamsW(list->set, &info, &install) &&
        (install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0)
        return kRestartPending;
    return 1;
}

int ClosePresentDeviceList(PresentDeviceList* list) {
    if (list == nullptr)
        return 0;
    BOOL destroyed = SystemDlls().SetupDiDestroyDeviceInfoList(list->set);
    delete list;
    return destroyed ? 1 : 0;
}

void* WatchDeviceRemoval(void* window, DeviceHandle device) {
    if (window == nullptr || !IsOpenDeviceHandle(device))
        return nullptr;
    DEV_BROADCAST_HANDLE filter = {};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = Native(device);
    return RegisterDeviceNotificationW(static_cast<HWND>(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnwatchDeviceRemoval(void* watch) {
    if (watch != nullptr)
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(watch));
}

namespace {

const wchar_t kSessionGuardName[] = L"Global\\Padwarden Driver Debug Mode";
// Whoever made it first, every signed-in user's tool (elevated or not) must be able to wait on
// and release it: authenticated users may synchronize and release, and the low label keeps an
// elevated creator's default label from shutting medium-integrity tools out.
const wchar_t kSessionGuardAccess[] =
    L"D:(A;;0x001F0001;;;SY)(A;;0x001F0001;;;BA)(A;;0x00100001;;;AU)S:(ML;;NW;;;LW)";

HANDLE CreateSessionGuard() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSessionGuardAccess, SDDL_REVISION_1,
                                                             &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE guard = CreateMutexW(&attributes, FALSE, kSessionGuardName);
    if (guard == nullptr) // made by a tool whose access list leaves us less than all access
        guard = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kSessionGuardName);
    if (descriptor != nullptr)
        LocalFree(descriptor);
    return guard;
}

HANDLE SessionGuard() {
    static const HANDLE guard = CreateSessionGuard();
    return guard;
}

} // namespace

int AcquireDriverSessionGuard(uint32_t waitMs) {
    HANDLE guard = SessionGuard();
    if (guard == nullptr)
        return 0;
    // An abandoned guard is held all the same: the tool that died took its query with it.
    const DWORD result = WaitForSingleObject(guard, waitMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED ? 1 : 0;
}

void ReleaseDriverSessionGuard() {
    HANDLE guard = SessionGuard();
    if (guard != nullptr)
        ReleaseMutex(guard);
}

void TraceDebugText(const Utf16* text) {
    if (text != nullptr)
        OutputDebugStringW(Wide(text));
}
