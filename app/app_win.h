// The composition's Win32 side: start-up, the hidden window and the end of a run.
#pragma once
#include "core/device_command.h"
#include "core/shell_win.h"

constexpr UINT_PTR kTrayRetryTimer = 1;
// A burst of device-node notices (any USB stick sends several) costs one rediscovery.
constexpr UINT_PTR kDeviceChangeTimer = 2;
constexpr UINT kDeviceChangeQuietMs = 400;
// Application profiles: the end of a listed program's second in front, or of the once-a-second
// limit; and the end of the program whose rule is in force (wParam its process id).
constexpr UINT_PTR kAppSwitchTimer = 5;
// Under Wine only, which calls no hook for another process's events (see app_switch_win.cpp).
constexpr UINT_PTR kAppForegroundTimer = 6;
constexpr UINT kAppProgramEndedMessage = WM_APP + 4;

int StartUp(HINSTANCE instance);
void InitializeToolState(ToolState* state);
int IsDebugCommandLine();
// Carries out an installer's switch (see SetupSwitch); 1 when the process goes on as the tool.
int RunSetupSwitch();
// The running copy's hidden window, found by its class and caption; null when none runs.
HWND FindRunningCopy();
// Carries out a command line for the running copy (see RemoteSwitchOf): -1 when the line holds
// none, else the exit code of this process.
int RunRemoteSwitch();
// The running copy's side of it: a WM_COPYDATA record from a second copy.
LRESULT MsgRemoteRequest(ToolState* state, HWND window, WPARAM wParam, LPARAM lParam);
// Answers the second copy whose command the ticket carried; 0 when no such command waits.
int AnswerRemoteOutcome(uint32_t ticket, const DeviceCommandOutcome& outcome);
void ShutDown(ToolState* state);
// Application profiles (app_switch_win.cpp), all on the window thread: the rules read and the
// foreground watched while any rule is on; the rules read again after the dialog saved them.
void StartApplicationProfiles(ToolState* state);
void StopApplicationProfiles(ToolState* state);
void ReloadApplicationProfiles(ToolState* state);
void ApplicationSwitchTimer(ToolState* state);
void ApplicationForegroundTimer(ToolState* state);
void ApplicationProgramEnded(ToolState* state, uint32_t process);
void ApplicationConnectionChanged(ToolState* state, int transport, int up);
// A profile reached the driver: the menu's tick, the tooltip's chooser and the switching learn
// of it. `ticket` tells a rule's switch from a choice by hand or by the command line.
void NoteAppliedProfile(ToolState* state, int transport, uint32_t ticket, uint32_t profileIndex);
// A rule's switch that did not reach the driver (busy, refused): the switching forgets what it
// sent, so the next switch sends it again. 1 when `ticket` was a rule's, 0 for any other command.
int ForgetUndeliveredSwitch(ToolState* state, int transport, uint32_t ticket);
// Tells the user that the Monitor thread could not start, then takes the icon and window down.
void FailMonitorThreadStart(ToolState* state);
// The end of a run: shut-down and the single-instance mutex `single` released, or, when the
// Monitor thread will not stop, the process ends at once still holding it.
void EndRun(ToolState* state, HANDLE single);
// 1 when no Monitor thread runs (none was started, or it has returned).
int MonitorThreadEnded(ToolState* state);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
