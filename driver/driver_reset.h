// Restarting the device node under the controller driver's HID device.
#pragma once
#include <cstdint>

#include "core/device_slot.h"
#include "driver/driver_link.h"

// What came of a reset, in the tool or in its elevated copy.
enum class ResetOutcome : int32_t {
    Failed = 0,         // the class installer or the device list failed
    Restarted = 1,      // the device restarts; its device-change notice follows
    RestartPending = 2, // the installer waits for a system restart: the device stays as it was
    NotFound = 3,       // no present device has the recorded parent id
    Busy = 4,           // the slot's lock did not come free in time: nothing was touched
    Cancelled = 5,      // the user refused the consent prompt
    Refused = 6,        // the elevated copy found no driver device under the id it was given
};

// Closes the slot's handle (the slot stays closed whatever happens, except when Busy), finds the
// present device whose instance id is the slot's parentInstanceId and asks for a property change
// on it. Shows nothing.
ResetOutcome ResetDriverSlot(DeviceSlot* slot, SlotDeadline deadline = kNoDeadline);
// The same from a parent id alone, for the elevated copy: no slot, no lock.
ResetOutcome RestartParentDevice(const Utf16* parentInstanceId);
// ResetDriverSlot that shows 1010 for a null slot and 1012 when the device list or the device
// cannot be found; 1 only when the device restarts.
int ResetDriver(DeviceSlot* slot);

// 1 when a present HID interface whose parent node is exactly `parentInstanceId` answers as the
// controller driver: the elevated copy resets nothing else.
int IsDriverParent(const Utf16* parentInstanceId);

// The elevated copy's exit codes, and back; an unknown code reads as Failed.
uint32_t ResetExitCode(ResetOutcome outcome);
ResetOutcome ResetOutcomeOfExitCode(uint32_t code);

// What the window thread does once a reset's outcome is in: lower the transport's count, close
// and rediscover the devices, and the messages to show, in order (0 ends the list).
struct ResetAftermath {
    int lowerCount;
    int rediscover;
    uint32_t messages[2];
};
ResetAftermath AftermathOf(ResetOutcome outcome);
