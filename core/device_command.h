// Commands for a device, queued by the window thread and carried out by that transport's device
// worker, so that no window message ever waits for a device that does not answer.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "core/event.h"
#include "core/device_slot.h"

using WindowHandle = void*;
using KernelHandle = void*;

enum class DeviceCommandKind : uint8_t {
    None,
    ApplyProfile, // profileIndex
    SetAutoFire,  // buttons
    Disconnect,
    Reconnect,
    DebugQuery,  // infoType
    DriverReset, // elevated: in-process, else through the elevated copy
};

// What came of a command, beside the operation's own 1 or 0.
enum class DeviceCommandEnd : uint8_t {
    Done,
    // The slot's lock or the worker did not come free within kDeviceBusyMs: nothing was sent.
    Busy,
};

// How long a command may wait for its device before it is dropped as busy.
constexpr uint32_t kDeviceBusyMs = 2000;
constexpr int kDeviceCommandEntries = 8;

struct DeviceCommand {
    DeviceCommandKind kind = DeviceCommandKind::None;
    uint32_t profileIndex = 0;
    uint32_t buttons = 0;
    uint32_t infoType = 0;
    // Where the outcome is posted, with which message; the ticket travels in wParam.
    WindowHandle replyWindow = nullptr;
    uint32_t replyMessage = 0;
};

struct DeviceCommandOutcome {
    DeviceCommandKind kind = DeviceCommandKind::None;
    DeviceCommandEnd end = DeviceCommandEnd::Done;
    int32_t result = 0; // the operation's own result; for a reset a ResetOutcome
    uint32_t infoType = 0;
    uint32_t profileIndex = 0;
    uint8_t record[kDriverInfoSize] = {}; // the debug query's answer
};

enum class CommandStage : uint8_t { Free, Queued, Running, Answered };

struct DeviceCommandEntry {
    CommandStage stage = CommandStage::Free;
    uint32_t ticket = 0;
    // The receiver gave up on the answer: freed when it comes.
    int32_t abandoned = 0;
    std::chrono::steady_clock::time_point issued{};
    std::chrono::steady_clock::time_point answered{};
    DeviceCommand command;
    DeviceCommandOutcome outcome;
};

struct DeviceCommandQueue {
    std::mutex lock;
    DeviceCommandEntry entries[kDeviceCommandEntries];
    uint32_t nextTicket = 0;
    ManualResetEvent wake;
    std::atomic<int32_t> stop{0};
    KernelHandle thread = nullptr;
};
