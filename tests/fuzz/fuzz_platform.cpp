// The tray, clock, log-file and message-box services, as inert stand-ins: a fuzz run must reach
// the logic's decisions, not the desktop.
#include "core/ui_port.h"
#include "monitor/battery_log.h"
#include "monitor/monitor.h"
#include "monitor/tray_tip.h"

void ModifyTrayIcon(ToolState*) {}

// Lines with both numbers in them, so that a fuzzed pass formats the longest texts.
void LoadTrayTipTexts(TrayTipTexts* t) {
    Utf16* all[] = {t->usbConnected, t->usbWaiting, t->usbNone,    t->bthConnected, t->bthLevel,
                    t->bthCharging,  t->bthFull,    t->bthWaiting, t->bthNone,      t->bthLastLevel,
                    t->bthLastSeen,  t->ffNone,     t->ffOne,      t->ffMany,       t->noListed};
    for (Utf16* line : all)
        CopyUtf16(line, kTrayTipTextUnits, u"Line %1 at %2, and %1 again at %2");
}

void SendTrayTip(ToolState*, const Utf16*) {}
void TellConnectionChange(ToolState*, int, int) {}

void GetLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second) {
    *hour = 12;
    *minute = 34;
    *second = 56;
}

void AppendBatteryLog(KernelHandle, const uint8_t*, uint32_t) {}

void ShowErrorMessage(WindowHandle, uint32_t) {}
