// The system DLLs the tool does not import. The loader looks for a DLL that is not a known DLL,
// such as hid.dll, in the program's folder first, and an elevated copy would run one planted
// there; so these come from System32 only, and their functions are looked up once, here.
#pragma once
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

struct SystemCalls {
    // hid.dll, setupapi.dll and cfgmgr32.dll: the device port's. 1 when every one was found;
    // otherwise all of them are null.
    int devices;
    decltype(&::HidD_GetHidGuid) HidD_GetHidGuid;
    decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData;
    decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData;
    decltype(&::HidP_GetCaps) HidP_GetCaps;
    decltype(&::HidD_GetFeature) HidD_GetFeature;
    decltype(&::HidD_SetFeature) HidD_SetFeature;
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW;
    decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
    decltype(&::SetupDiSetClassInstallParamsW) SetupDiSetClassInstallParamsW;
    decltype(&::SetupDiCallClassInstaller) SetupDiCallClassInstaller;
    decltype(&::SetupDiGetDeviceInstallParamsW) SetupDiGetDeviceInstallParamsW;
    decltype(&::CM_Get_Parent) CM_Get_Parent;
    decltype(&::CM_Get_Device_IDW) CM_Get_Device_IDW;
    // shell32.dll; null when the system has none.
    BOOL(WINAPI* IsUserAnAdmin)();
    // The scaling calls of Windows 8.1 (shcore.dll) and of Windows 10 1607 (user32.dll); each is
    // null on a system that predates it, and the caller falls back to the system's one scaling.
    HRESULT(WINAPI* GetDpiForMonitor)(HMONITOR, int, UINT*, UINT*);
    UINT(WINAPI* GetDpiForWindow)(HWND);
    UINT(WINAPI* GetDpiForSystem)();
    int(WINAPI* GetSystemMetricsForDpi)(int, UINT);
};

// The one table of system functions looked up at run time rather than imported: an import the
// system lacks would keep the program from starting. Filled on first use from any thread; the
// DLLs stay loaded for the process's life. Two stay outside it, looked up where they are used
// because they come with the common controls, which load only when a dialog first opens:
// InitCommonControlsEx and SetWindowTheme.
const SystemCalls& SystemDlls();
// Makes System32 the only folder that DLLs loaded by name come from, for the system's own loads
// on the tool's behalf too. The entry routine's first call.
void LoadDllsFromSystem32Only();
// A DLL by name from System32 only; nullptr when it cannot be loaded.
HMODULE LoadSystemDll(const wchar_t* name);
