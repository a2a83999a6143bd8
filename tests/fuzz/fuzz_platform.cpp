// The tray, clock, log-file and message-box services, as inert stand-ins: a fuzz run must reach
// the logic's decisions, not the desktop.
#include "core/ui_port.h"
#include "monitor/battery_log.h"
#include "monitor/monitor.h"

void ModifyTrayIcon(ToolState*) {}

void GetLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second) {
    *hour = 12;
    *minute = 34;
    *second = 56;
}

void AppendBatteryLog(KernelHandle, const uint8_t*, uint32_t) {}

void ShowErrorMessage(WindowHandle, uint32_t) {}
