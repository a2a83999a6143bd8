#include "tests/native/platform_fakes.h"

#include "monitor/battery_log.h"
#include "monitor/monitor.h"
#include "monitor/tray_tip.h"

FakeTray& TheFakeTray() {
    static FakeTray tray;
    return tray;
}

FakeLogFile& TheFakeLogFile() {
    static FakeLogFile file;
    return file;
}

void ModifyTrayIcon(ToolState* state) {
    std::lock_guard<std::mutex> hold(TheFakeTray().lock);
    TheFakeTray().sentValues.push_back(state->iconValue.load());
}

// The English lines, as the string table has them.
void LoadTrayTipTexts(TrayTipTexts* t) {
    CopyUtf16(t->usbConnected, kTrayTipTextUnits, u"USB: connected");
    CopyUtf16(t->usbWaiting, kTrayTipTextUnits, u"USB: waiting for the PS button");
    CopyUtf16(t->usbNone, kTrayTipTextUnits, u"USB: not connected");
    CopyUtf16(t->bthConnected, kTrayTipTextUnits, u"Bluetooth: connected");
    CopyUtf16(t->bthLevel, kTrayTipTextUnits, u"Bluetooth: connected, battery %1 of 5");
    CopyUtf16(t->bthCharging, kTrayTipTextUnits, u"Bluetooth: connected, charging");
    CopyUtf16(t->bthFull, kTrayTipTextUnits, u"Bluetooth: connected, full");
    CopyUtf16(t->bthWaiting, kTrayTipTextUnits, u"Bluetooth: waiting for the PS button");
    CopyUtf16(t->bthNone, kTrayTipTextUnits, u"Bluetooth: not connected");
    CopyUtf16(t->bthLastLevel, kTrayTipTextUnits, u"Bluetooth: last seen %1 of 5 at %2");
    CopyUtf16(t->bthLastSeen, kTrayTipTextUnits, u"Bluetooth: last seen at %2");
    CopyUtf16(t->ffNone, kTrayTipTextUnits, u"Force feedback: no clients");
    CopyUtf16(t->ffOne, kTrayTipTextUnits, u"Force feedback: 1 client");
    CopyUtf16(t->ffMany, kTrayTipTextUnits, u"Force feedback: %1 clients");
    CopyUtf16(t->noListed, kTrayTipTextUnits, u"no listed program");
}

void TellConnectionChange(ToolState*, int, int) {}

void SendTrayTip(ToolState*, const Utf16* tip) {
    std::lock_guard<std::mutex> hold(TheFakeTray().lock);
    TheFakeTray().sentTips.emplace_back(tip);
}

void GetLocalClock(uint32_t* hour, uint32_t* minute, uint32_t* second) {
    std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
    *hour = TheFakeLogFile().hour;
    *minute = TheFakeLogFile().minute;
    *second = TheFakeLogFile().second;
}

void AppendBatteryLog(KernelHandle, const uint8_t* bytes, uint32_t size) {
    std::lock_guard<std::mutex> hold(TheFakeLogFile().lock);
    TheFakeLogFile().written.append(reinterpret_cast<const char*>(bytes), size);
}
