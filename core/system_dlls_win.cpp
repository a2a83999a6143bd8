// System32's DLLs by name, and the table of what the tool calls in them.
#include "core/system_dlls_win.h"

#include <cwchar>

namespace {

template <typename Proc> int Find(HMODULE module, const char* name, Proc* proc) {
    *proc = module != nullptr ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                              : nullptr;
    return *proc != nullptr;
}

template <typename Proc> Proc KernelProc(const char* name) {
    return reinterpret_cast<Proc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// Windows 7 before its update KB2533623 knows neither the search flags nor the calls that set
// them; AddDllDirectory came with both.
int SearchFlagsKnown() {
    static const int known = KernelProc<FARPROC>("AddDllDirectory") != nullptr ? 1 : 0;
    return known;
}

SystemCalls FillSystemCalls() {
    SystemCalls c = {};
    HMODULE hid = LoadSystemDll(L"hid.dll");
    HMODULE setup = LoadSystemDll(L"setupapi.dll");
    HMODULE config = LoadSystemDll(L"cfgmgr32.dll");
    int all = 1;
#define PADWARDEN_FIND(module, name) all &= Find(module, #name, &c.name)
    PADWARDEN_FIND(hid, HidD_GetHidGuid);
    PADWARDEN_FIND(hid, HidD_GetPreparsedData);
    PADWARDEN_FIND(hid, HidD_FreePreparsedData);
    PADWARDEN_FIND(hid, HidP_GetCaps);
    PADWARDEN_FIND(hid, HidD_GetFeature);
    PADWARDEN_FIND(hid, HidD_SetFeature);
    PADWARDEN_FIND(setup, SetupDiGetClassDevsW);
    PADWARDEN_FIND(setup, SetupDiEnumDeviceInterfaces);
    PADWARDEN_FIND(setup, SetupDiGetDeviceInterfaceDetailW);
    PADWARDEN_FIND(setup, SetupDiEnumDeviceInfo);
    PADWARDEN_FIND(setup, SetupDiDestroyDeviceInfoList);
    PADWARDEN_FIND(setup, SetupDiSetClassInstallParamsW);
    PADWARDEN_FIND(setup, SetupDiCallClassInstaller);
    PADWARDEN_FIND(setup, SetupDiGetDeviceInstallParamsW);
    PADWARDEN_FIND(config, CM_Get_Parent);
    PADWARDEN_FIND(config, CM_Get_Device_IDW);
#undef PADWARDEN_FIND
    // Half a device layer is none: the port tests one flag, not each call.
    if (!all)
        c = SystemCalls{};
    c.devices = all;
    Find(LoadSystemDll(L"shell32.dll"), "IsUserAnAdmin", &c.IsUserAnAdmin);
    Find(LoadSystemDll(L"shcore.dll"), "GetDpiForMonitor", &c.GetDpiForMonitor);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    Find(user, "GetDpiForWindow", &c.GetDpiForWindow);
    Find(user, "GetDpiForSystem", &c.GetDpiForSystem);
    Find(user, "GetSystemMetricsForDpi", &c.GetSystemMetricsForDpi);
    return c;
}

} // namespace

const SystemCalls& SystemDlls() {
    static const SystemCalls calls = FillSystemCalls();
    return calls;
}

void LoadDllsFromSystem32Only() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    // Looked up, not imported: an import the system lacks would keep the program from starting.
    auto setDefault = KernelProc<SetDirectories>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // At least not the current folder, which may be anyone's.
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemDll(const wchar_t* name) {
    if (SearchFlagsKnown())
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    wchar_t path[MAX_PATH];
    const size_t length = GetSystemDirectoryW(path, MAX_PATH);
    const size_t nameLength = wcslen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH)
        return nullptr;
    path[length] = L'\\';
    wmemcpy(path + length + 1, name, nameLength + 1);
    // Its own imports are then looked for in System32 too, not in the program's folder.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
