// Driver answers are untrusted: any 256 bytes, on either transport, through the record copy and
// the poll pass's decision (status bits, icon mode, battery log, rumble sweep).
#include <cstddef>
#include <cstdint>

#include "driver/driver_link.h"
#include "monitor/monitor.h"
#include "tests/fuzz/fuzz_device_port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    if (size < 1)
        return 0;
    // The first byte picks which transports are up, failed reads and the switches; the rest is the
    // answer.
    const uint8_t pick = data[0];
    state.usbDeviceCount = pick & 1;
    state.bthDeviceCount = (pick >> 1) & 1;
    state.debugMode = (pick >> 3) & 1;
    state.batteryLogEnabled = (pick >> 4) & 1;
    state.enableNotifyLowBattery = (pick >> 5) & 1;
    state.usbDevices[0].handle = (pick & 1) ? reinterpret_cast<DeviceHandle>(uintptr_t{0x10}) : nullptr;
    state.bthDevices[0].handle = (pick & 2) ? reinterpret_cast<DeviceHandle>(uintptr_t{0x20}) : nullptr;
    state.batteryLogFile = reinterpret_cast<KernelHandle>(uintptr_t{0x30});
    SetFuzzAnswer(data + 1, size - 1, (pick >> 2) & 1);
    // Two passes, so that what the first left behind (status bits, icon state) meets the second.
    for (int pass = 0; pass < 2; ++pass) {
        PollPass(&state);
        AnimationStep(&state);
    }
    state.usbDevices[0].handle = nullptr;
    state.bthDevices[0].handle = nullptr;
    state.batteryLogFile = nullptr;
    return 0;
}
