// Finding the controller driver's HID devices and placing them in the Device slots.
#pragma once

#include "app/tool_state.h"

// Walks the present HID interfaces and fills each empty transport slot with the first device
// whose answer carries that transport's tag. 1 when this call placed at least one device.
// A device already open in a slot is left alone (it may be in the middle of a debug query).
int DiscoverDevices(ToolState* state);
// Closes every open slot and sets both counts to 0. Always 1.
int CloseDevices(ToolState* state);
// The platform is about to remove, disable or update the device behind `device`: the slot that
// holds it lets go, so the tool's handle never vetoes the change. 1 when a slot held it.
int CloseRemovedDevice(ToolState* state, DeviceHandle device);
