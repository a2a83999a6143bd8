// The device port: the few platform services the driver link needs. The Windows build implements
// them with SetupDi*, HidD_*, HidP_GetCaps and CM_* (device_port_win.cpp); the simulated driver
// implements them in-process for native tests and over a pipe for padwarden-sim.exe. The choice
// is made at link time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"
#include "core/device_slot.h"

enum class EnumResult { Found, Skip, End };

// The present HID interfaces (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE on the HID class).
struct HidDeviceList;
HidDeviceList* OpenHidDeviceList();
// Interface `index`: End when there is none, Skip when its detail cannot be read or its path does
// not fit `capacity` units (terminator included), else Found with the path.
EnumResult EnumHidInterface(HidDeviceList* list, uint32_t index, Utf16* path, size_t capacity);
// The device element that owns interface `index` (the element SetupDiGetDeviceInterfaceDetailW
// reports): nothing promises that element and interface indexes agree. 0 when it is not known.
int GetHidInterfaceElement(HidDeviceList* list, uint32_t index, uint32_t* element);
// Device instance id of the parent device node of element `element` (SetupDiEnumDeviceInfo,
// CM_Get_Parent, CM_Get_Device_IDW); 0 when any step fails, leaving `id` untouched.
int GetHidParentInstanceId(HidDeviceList* list, uint32_t element, Utf16* id, size_t capacity);
void CloseHidDeviceList(HidDeviceList* list);

// Open for read and write, shared read and write; null when the open fails.
DeviceHandle OpenHidDevice(const Utf16* path);
// Usage page and usage of the top-level collection; 0 when the preparsed data or caps fail.
int GetHidUsage(DeviceHandle device, uint16_t* usagePage, uint16_t* usage);
int GetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length);
int SetFeatureReport(DeviceHandle device, uint8_t* buffer, uint32_t length);
void CloseHidDevice(DeviceHandle device);

// The present device nodes of all classes (for the driver reset): withInterfaces 1, only those
// that expose a device interface; 0, every one.
struct PresentDeviceList;
PresentDeviceList* OpenPresentDeviceList(int withInterfaces);
EnumResult GetPresentDeviceInstanceId(PresentDeviceList* list, uint32_t index, Utf16* id, size_t capacity);
// Installs the DIF_PROPERTYCHANGE record (DICS_PROPCHANGE, DICS_FLAG_CONFIGSPECIFIC, profile 0)
// and calls the class installer for element `index`; 1 when both calls succeed and the device
// restarted, kRestartPending when the installer answers DI_NEEDRESTART or DI_NEEDREBOOT (the
// device did not restart and waits for the system's), 0 on failure.
constexpr int kRestartPending = 2;
int RestartPresentDevice(PresentDeviceList* list, uint32_t index);
// 1 when the set was destroyed.
int ClosePresentDeviceList(PresentDeviceList* list);

// Handle notices: asks the platform to tell `window` before `device` is removed, disabled or
// updated (DBT_DEVICEQUERYREMOVE), so the tool can let go of it. The watch, or null when there
// is none; released with UnwatchDeviceRemoval before the device is closed.
void* WatchDeviceRemoval(void* window, DeviceHandle device);
void UnwatchDeviceRemoval(void* watch);

// The guard of the driver's debug mode that the tool of every session on this PC shares: each
// device has one debug mode for all of them, so one tool's query must not be read or ended by
// another's poll or discovery. 1 when the guard is held (release it with
// ReleaseDriverSessionGuard); 0 when it could not be had within `waitMs` or does not exist, and
// the caller goes on under its own slot lock alone.
int AcquireDriverSessionGuard(uint32_t waitMs);
void ReleaseDriverSessionGuard();

// Debugger output (OutputDebugStringW on Windows).
void TraceDebugText(const Utf16* text);
