/* A hid.dll that is not the system's, for the e2e tier to put beside a copy of padwarden.exe: the
   tool must never load it. It exports what the tool once imported from hid.dll, each call failing,
   so that a tool that does load it still starts and the probe can see it among its modules. */
#include <windows.h>

__declspec(dllexport) void HidD_GetHidGuid(GUID* guid) {
    ZeroMemory(guid, sizeof *guid);
}

__declspec(dllexport) BOOLEAN HidD_GetPreparsedData(HANDLE device, void** data) {
    (void)device;
    *data = NULL;
    return FALSE;
}

__declspec(dllexport) BOOLEAN HidD_FreePreparsedData(void* data) {
    (void)data;
    return FALSE;
}

__declspec(dllexport) LONG HidP_GetCaps(void* data, void* caps) {
    (void)data;
    (void)caps;
    return (LONG)0xC0110001L; /* HIDP_STATUS_INVALID_PREPARSED_DATA */
}

__declspec(dllexport) BOOLEAN HidD_GetFeature(HANDLE device, void* buffer, ULONG length) {
    (void)device;
    (void)buffer;
    (void)length;
    return FALSE;
}

__declspec(dllexport) BOOLEAN HidD_SetFeature(HANDLE device, void* buffer, ULONG length) {
    (void)device;
    (void)buffer;
    (void)length;
    return FALSE;
}
