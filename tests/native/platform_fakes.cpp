#include "tests/native/platform_fakes.h"

#include "monitor/battery_log.h"
#include "monitor/monitor.h"

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
