// One open HID device of the controller driver, one per transport.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "core/text.h"

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

// What the platform said of a watched device, as far as the slot is concerned.
enum class RemovalNotice : uint8_t {
    None,
    QueryRemove,
    QueryRemoveFailed,
    RemovePending,
    RemoveComplete,
    Close
};

struct DeferredNotice {
    RemovalNotice kind = RemovalNotice::None;
    void* watch = nullptr;
};
constexpr int kDeferredNotices = 8;

struct DeviceSlot {
    DeviceHandle handle = nullptr;
    std::mutex lock;
    Utf16 parentInstanceId[kInstanceIdChars] = {};
    uint8_t driverInfo[kDriverInfoSize] = {};
    // Interface path the open handle came from, so that a later discovery leaves this device
    // alone instead of opening it a second time behind the lock's back.
    Utf16 devicePath[kDevicePathChars] = {};
    // The removal notice registered for `handle`, null when none. Written under `lock`; read
    // without it by the window thread to find the slot a notice is for.
    std::atomic<void*> removalWatch{nullptr};
    // The notice of a handle closed for a query-remove, kept until the removal's outcome arrives.
    std::atomic<void*> pendingWatch{nullptr};
    // Guards driverInfo's writes and the window thread's copies, and recordOpen; never held over
    // a device call, so a dialog never waits for one. Taken inside `lock`, never the other way.
    std::mutex recordLock;
    int32_t recordOpen = 0;
    // Notices that found `lock` held by a device call, in arrival order; the Monitor thread runs
    // them once the call returns. Guarded by noticeLock, a leaf lock like recordLock.
    std::mutex noticeLock;
    DeferredNotice deferred[kDeferredNotices];
    std::atomic<int32_t> deferredCount{0};
};
