// Restarting the device node under the controller driver's HID device.
#pragma once

#include "core/device_slot.h"

// Closes the slot's handle (the slot stays closed whatever happens), finds the present device
// whose instance id is the slot's parentInstanceId and asks for a property change on it.
// Shows 1010 for a null slot and 1012 when the device list or the device cannot be found;
// other failures only return 0. The caller lowers the transport's count on success.
int ResetDriver(DeviceSlot* slot);
