// The composition's Win32 side: start-up, the hidden window and the end of a run.
#pragma once
#include "core/shell_win.h"

constexpr UINT_PTR kTrayRetryTimer = 1;
// A burst of device-node notices (any USB stick sends several) costs one rediscovery.
constexpr UINT_PTR kDeviceChangeTimer = 2;
constexpr UINT kDeviceChangeQuietMs = 400;

int StartUp(HINSTANCE instance);
void InitializeToolState(ToolState* state);
int IsDebugCommandLine();
// Carries out an installer's switch (see SetupSwitch); 1 when the process goes on as the tool.
int RunSetupSwitch();
void ShutDown(ToolState* state);
// Tells the user that the Monitor thread could not start, then takes the icon and window down.
void FailMonitorThreadStart(ToolState* state);
// The end of a run: shut-down and the single-instance mutex `single` released, or, when the
// Monitor thread will not stop, the process ends at once still holding it.
void EndRun(ToolState* state, HANDLE single);
// 1 when no Monitor thread runs (none was started, or it has returned).
int MonitorThreadEnded(ToolState* state);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
