// A device port whose every feature-report read answers with the bytes the fuzzer chose.
#include "tests/fuzz/fuzz_device_port.h"

#include <cstring>

#include "driver/device_port.h"

namespace {
uint8_t answer[256];
size_t answerSize = 0;
int readFails = 0;
} // namespace

void SetFuzzAnswer(const uint8_t* data, size_t size, int fail) {
    answerSize = size < sizeof(answer) ? size : sizeof(answer);
    std::memset(answer, 0, sizeof(answer));
    if (answerSize)
        std::memcpy(answer, data, answerSize);
    readFails = fail;
}

HidDeviceList* OpenHidDeviceList() {
    return nullptr;
}
EnumResult EnumHidInterface(HidDeviceList*, uint32_t, Utf16*, size_t) {
    return EnumResult::End;
}
int GetHidInterfaceElement(HidDeviceList*, uint32_t, uint32_t*) {
    return 0;
}
int GetHidParentInstanceId(HidDeviceList*, uint32_t, Utf16*, size_t) {
    return 0;
}
void CloseHidDeviceList(HidDeviceList*) {}
DeviceHandle OpenHidDevice(const Utf16*) {
    return nullptr;
}
int GetHidUsage(DeviceHandle, uint16_t*, uint16_t*) {
    return 0;
}

int GetFeatureReport(DeviceHandle, uint8_t* buffer, uint32_t length) {
    if (readFails)
        return 0;
    // The platform fills the caller's buffer only as far as the report goes.
    std::memcpy(buffer, answer, length < sizeof(answer) ? length : sizeof(answer));
    return 1;
}

int SetFeatureReport(DeviceHandle, uint8_t*, uint32_t) {
    return 1;
}
void CloseHidDevice(DeviceHandle) {}
PresentDeviceList* OpenPresentDeviceList(int) {
    return nullptr;
}
EnumResult GetPresentDeviceInstanceId(PresentDeviceList*, uint32_t, Utf16*, size_t) {
    return EnumResult::End;
}
int RestartPresentDevice(PresentDeviceList*, uint32_t) {
    return 0;
}
int ClosePresentDeviceList(PresentDeviceList*) {
    return 1;
}
void* WatchDeviceRemoval(void*, DeviceHandle) {
    return nullptr;
}
void UnwatchDeviceRemoval(void*) {}
int AcquireDriverSessionGuard(uint32_t) {
    return 1;
}
void ReleaseDriverSessionGuard() {}
void TraceDebugText(const Utf16*) {}
