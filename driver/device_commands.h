// The device workers: one thread per transport takes the window thread's device commands in turn,
// runs each under its slot's lock, and posts the outcome back. A command that cannot have its
// device within kDeviceBusyMs of being issued is answered Busy and nothing is sent.
#pragma once
#include <chrono>
#include <cstdint>

#include "core/tool_state.h"

constexpr int kUsbTransport = 0;
constexpr int kBthTransport = 1;

using CommandClock = std::chrono::steady_clock;

// Window thread: queues `command` for the transport's worker. The ticket (never 0, odd for
// Bluetooth), or 0 when the queue is full.
uint32_t SubmitDeviceCommand(ToolState* state, int transport, const DeviceCommand& command,
                             CommandClock::time_point now);
// Window thread, on a timer while commands wait: a command still queued kDeviceBusyMs after it
// was issued is answered Busy and posted. 1 while any command is still queued or running.
int ExpireDeviceCommands(ToolState* state, CommandClock::time_point now);
// The receiver of a posted ticket: copies its outcome and frees its entry. 0 when the ticket has
// no answer (taken already, or never issued).
int TakeDeviceOutcome(ToolState* state, uint32_t ticket, DeviceCommandOutcome* outcome);
// The receiver no longer wants the answer (its dialog closed): the entry is freed now or, if its
// command is running, when the answer comes.
void AbandonDeviceCommand(ToolState* state, uint32_t ticket);

// Runs one command for the transport, waiting for the slot's lock until `deadline`.
void RunDeviceCommand(ToolState* state, int transport, const DeviceCommand& command,
                      CommandClock::time_point deadline, DeviceCommandOutcome* outcome);
// The worker's thread body; returns once StopDeviceWorker was called.
void DeviceWorkerMain(ToolState* state, int transport);
void StopDeviceWorker(ToolState* state, int transport);

// Elevation port: runs the elevated copy that resets the device node `parentInstanceId` and waits
// for it to end (or for the worker to be stopped). 1 with the copy's exit code, kLaunchCancelled
// when the user refused the consent prompt, 0 when the copy could not be started or waited for.
constexpr int kLaunchCancelled = 2;
int RunElevatedReset(ToolState* state, const Utf16* parentInstanceId, uint32_t* exitCode);

// UI port: posts a worker's answer to the window that asked; 0 when the window is gone.
int PostDeviceOutcome(WindowHandle window, uint32_t message, uint32_t ticket);
