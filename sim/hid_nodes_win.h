// Device nodes of the relay minidriver: each simulated device becomes a root-enumerated HID device
// node (ROOT\PADWARDEN_DS3\NNNN) that the system's HID class driver serves, so that programs find
// it through the device installer and the HID services like a real controller.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Creates the node for device `number` and installs the relay on it from `infPath` (the driver
// file beside it is copied into the system on first use). 0 with `error` set on failure.
int InstallRelayNode(const std::wstring& infPath, uint32_t number, std::string* error);
// 1 when the HID class driver has brought up the node's HID interface (the system does that on
// its own time after the install returns).
int RelayNodeReady(uint32_t number);
// Removes the node; 1 when it existed and is gone.
int RemoveRelayNode(uint32_t number);
// The numbers of the relay's nodes present in the system (those an earlier run may have left).
std::vector<uint32_t> ListRelayNodes();
