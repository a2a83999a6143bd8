// Report exchanges with the controller driver's devices. Each exchange holds the slot's lock from
// before its first transfer to after its last; every operation returns 1 or 0 and shows nothing.
#pragma once
#include <cstdint>

#include "core/tool_state.h"
#include "core/device_slot.h"

struct ProfileSetting;

// Reads one answer; on success its bytes 0..80 replace driverInfo, on failure driverInfo stays.
int ReadDriverInfo(DeviceSlot* slot);
// SetDriverSettings with the profile body; the write's result.
int ApplyProfileSetting(DeviceSlot* slot, const ProfileSetting* setting);
// SetDriverSettings with the auto-fire body; the write's result.
int SetAutoFireButtons(DeviceSlot* slot, uint32_t buttons);
// DisconnectLink / ReconnectLink to Bluetooth slot `index`; 0 without I/O for a slot not open.
int DisconnectBluetooth(ToolState* state, uint32_t index);
int ReconnectBluetooth(ToolState* state, uint32_t index);
// Enter debug mode, select the record for `infoType`, read it, leave debug mode, all under the
// slot's lock. The 81 bytes read are copied to `record` even when the read fails (then they are
// the cleared buffer); the result is the read's. Refused without I/O or lock for a null record,
// a selector index other than 0 or info type 0; without I/O for a closed slot.
int QueryDebugRecord(ToolState* state, uint32_t selector, uint32_t infoType, uint8_t* record);
// LeaveDebugMode on a bare handle, no lock, result ignored; nothing for a closed handle.
void SendLeaveDebugMode(DeviceHandle device);
