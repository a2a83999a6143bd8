// One open HID device of the controller driver, one per transport.
#pragma once
#include <cstdint>
#include <mutex>

#include "app/text.h"

// Opaque device handle of the device port: the platform's file handle on Windows, a simulator
// token elsewhere. Null means closed; the all-ones value is the platform's invalid handle.
using DeviceHandle = void*;

inline int IsOpenDeviceHandle(DeviceHandle h) {
    return h != nullptr && h != reinterpret_cast<DeviceHandle>(~static_cast<uintptr_t>(0));
}

constexpr int kDriverInfoSize = 81;
constexpr int kInstanceIdChars = 200;
// HID interface paths, terminator included; a longer path is skipped by discovery, never cut.
constexpr int kDevicePathChars = 512;

struct DeviceSlot {
    DeviceHandle handle = nullptr;
    std::mutex lock;
    Utf16 parentInstanceId[kInstanceIdChars] = {};
    uint8_t driverInfo[kDriverInfoSize] = {};
    // Interface path the open handle came from, so that a later discovery leaves this device
    // alone instead of opening it a second time behind the lock's back.
    Utf16 devicePath[kDevicePathChars] = {};
    // The removal notice registered for `handle`, null when none.
    void* removalWatch = nullptr;
};

// Stops the slot's removal notice and closes its handle; the caller holds the slot's lock.
void ReleaseSlotHandle(DeviceSlot* slot);
