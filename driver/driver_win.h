// The driver link's Win32 side: the device workers' threads, the message that carries their
// answers, and the elevated copy that resets a device node.
#pragma once
#include "core/shell_win.h"
#include "driver/device_commands.h"

// Posted by a device worker to the window that asked: wParam is the ticket (TakeDeviceOutcome).
constexpr UINT kDeviceOutcomeMessage = WM_APP + 2;
// Checks, while commands wait, which of them have waited too long (ExpireDeviceCommands).
constexpr UINT_PTR kDeviceBusyTimer = 3;
constexpr UINT kDeviceBusyCheckMs = 250;

// 1 when both workers run.
int StartDeviceWorkers(ToolState* state);
// Asks both to stop and waits until `deadline` (GetTickCount64) at the most; 1 when both ended.
// A worker caught in a device call is left to the process's end.
int StopDeviceWorkers(ToolState* state, ULONGLONG deadline);
// Queues the command with its answer going to `reply`, and starts the main window's busy check.
// The ticket, or 0 (and the busy message shown, owned by `reply`) when the queue is full.
uint32_t QueueDeviceCommand(ToolState* state, int transport, DeviceCommand command, HWND reply);

// The elevated copy's switch: "-driver-reset" and a device instance id, in quotes.
constexpr wchar_t kDriverResetSwitch[] = L"-driver-reset";
