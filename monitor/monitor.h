// The Monitor thread: polls the driver, derives the status bits and the icon mode, and animates
// the tray icon.
#pragma once
#include <cstdint>

#include "core/tool_state.h"
#include "rumble/rumble_block.h" // the slot sweep each pass makes

constexpr uint32_t kIconBase = 1;
constexpr uint32_t kIconUsb = 2;
constexpr uint32_t kIconBluetooth = 4;
constexpr uint32_t kIconRumble = 8;
constexpr uint32_t kIconLowBattery = 0x10000000;
constexpr uint32_t kIconPsFirst = 0x40000000;
constexpr uint32_t kIconPsSecond = 0x80000000;

// What the icon shows (iconMode); none before the first request.
enum IconMode : int32_t {
    kIconModeNone = 0,
    kIconModeCycle = 1,      // the pictures of what is connected, in turn
    kIconModePsWait = 2,     // the blinking PS button: every controller waits for it
    kIconModeLowBattery = 3, // the red battery
};
// Requests an IconMode; 1 when anything changed.
int SetIconMode(ToolState* state, int mode);
// One step of the animation, run after every poll pass.
void AnimationStep(ToolState* state);
// Reads both slots and decides the status bits and the icon mode.
void PollPass(ToolState* state);
// The pass's own work after the two reads: status bits, waiting, low battery, icon mode.
void DecidePass(ToolState* state, int usbAnswered, int bthAnswered);
// Parks the thread while the window procedure has asked for it (system suspend).
void PauseCheck(ToolState* state);
// The thread body; `state` is the Tool state.
void MonitorThreadMain(ToolState* state);
// With no device open and no force-feedback client registered a pass has nothing to read or
// sweep but a newcomer's slot: the thread then waits kIdlePassMs (or the interval, if longer)
// between passes instead of the interval.
constexpr uint32_t kIdlePassMs = 1000;
int MonitorIdle(const ToolState* state);
// How long the thread waits after a pass: the interval, or kIdlePassMs if idle and longer.
uint32_t PassWaitMs(int idle, uint32_t interval);
// Starts the next pass at once; the main thread calls it after it stops, parks or rediscovers,
// so that an idle thread does not keep the change waiting.
void WakeMonitor(ToolState* state);
// Closing and discovering talk to the devices, and a device may take seconds to answer: the
// window thread asks the Monitor thread, which does the work before its next pass.
constexpr uint32_t kDeviceWorkRediscover = 1; // close every device, then discover
constexpr uint32_t kDeviceWorkDiscover = 2;   // fill the empty slots, leave the open ones alone
// How often an empty slot is looked for again while a joystick refused its first read.
constexpr uint32_t kPassedOverRetryMs = 3000;
void RequestDeviceWork(ToolState* state, uint32_t work);
// The Monitor thread's side: the notices left to it, then the requested work.
void RunDeviceWork(ToolState* state);

// Tray port: sends the record with the icon for `iconValue` to the notification area.
void ModifyTrayIcon(ToolState* state);
// Battery-log port, called once per pass in debug mode with logging on.
void WriteBatteryLogLine(ToolState* state);
// Port: tells the window thread that a transport's controller came (up 1) or went (up 0), as a
// pass decided it; posted, never waited for (tray_win.cpp).
void TellConnectionChange(ToolState* state, int transport, int up);
