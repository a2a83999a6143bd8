// Report exchanges with the controller driver's devices. Each exchange holds the slot's lock from
// before its first transfer to after its last; every operation returns 1 or 0 and shows nothing.
#pragma once
#include <chrono>
#include <cstdint>

#include "core/tool_state.h"
#include "core/device_slot.h"

struct ProfileSetting;

// The commands below wait for the slot's lock until `deadline` only (the device workers give a
// command kDeviceBusyMs); when it does not come free they send nothing and return kDeviceBusy.
// The Monitor thread's own reads wait as long as it takes.
using SlotDeadline = std::chrono::steady_clock::time_point;
constexpr SlotDeadline kNoDeadline = SlotDeadline::max();
constexpr int kDeviceBusy = 3;

// Reads one answer; on success its bytes 0..80 replace driverInfo, on failure driverInfo stays.
int ReadDriverInfo(DeviceSlot* slot);
// SetDriverSettings with the profile body; the write's result.
int ApplyProfileSetting(DeviceSlot* slot, const ProfileSetting* setting, SlotDeadline deadline = kNoDeadline);
// SetDriverSettings with the auto-fire body; the write's result.
int SetAutoFireButtons(DeviceSlot* slot, uint32_t buttons, SlotDeadline deadline = kNoDeadline);
// DisconnectLink / ReconnectLink to Bluetooth slot `index`; 0 without I/O for a slot not open.
int DisconnectBluetooth(ToolState* state, uint32_t index, SlotDeadline deadline = kNoDeadline);
int ReconnectBluetooth(ToolState* state, uint32_t index, SlotDeadline deadline = kNoDeadline);
// Enter debug mode, select the record for `infoType`, read it, leave debug mode, all under the
// slot's lock. The 81 bytes read are copied to `record` even when the read fails (then they are
// the cleared buffer); the result is the read's. Refused without I/O or lock for a null record,
// a selector index other than 0 or info type 0; without I/O for a closed slot.
int QueryDebugRecord(ToolState* state, uint32_t selector, uint32_t infoType, uint8_t* record,
                     SlotDeadline deadline = kNoDeadline);
// Takes the slot's lock by `deadline` (kNoDeadline: waits as long as it takes). 1 when held.
int LockSlotUntil(DeviceSlot* slot, SlotDeadline deadline);
// LeaveDebugMode on a bare handle, no lock, result ignored; nothing for a closed handle.
void SendLeaveDebugMode(DeviceHandle device);
