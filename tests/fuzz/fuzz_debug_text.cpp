// Debug-record and information answers are untrusted: any record through the four debug texts
// (formatted directly and through a query on a device whose every read answers the input), the
// information dialogs' texts and the battery bar, into buffers of every size that matters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dialogs/debug_text.h"
#include "dialogs/information.h"
#include "tests/fuzz/fuzz_device_port.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t pick = data[0];
    // The record is exactly as long as a record, so reading past it is caught too.
    std::vector<uint8_t> heapRecord(kDriverInfoSize);
    std::memcpy(heapRecord.data(), data + 1, size - 1 < heapRecord.size() ? size - 1 : heapRecord.size());
    const uint8_t* record = heapRecord.data();
    const uint32_t selector = (pick & 1) ? 0x00010000u : 0u;
    const uint32_t infoType = (pick >> 1) & 7; // 4..7 are not views; they must be refused, not read past
    // Exactly sized heap buffers, so a write one past the end is caught.
    for (size_t capacity : {size_t{1}, size_t{2}, size_t{kDebugLineChars}, size_t{kDebugTextChars}}) {
        std::vector<Utf16> out(capacity);
        FormatDriverInfoText(record, out.data(), capacity);
        FormatDebugRecordText(selector, infoType, record, out.data(), capacity);
    }
    InformationTexts texts;
    FormatInformation(record, pick & 1 ? 0 : 1, &texts);
    ChooseBatteryBar(record);
    int32_t ticks[kAutoFireBoxCount];
    AutoFireBoxesFromMask(texts.autoFireButtons, ticks);
    AutoFireMaskFromBoxes(ticks);

    static ToolState state;
    InitializeToolStateDefaults(&state);
    DeviceSlot* slot = (pick & 1) ? &state.bthDevices[0] : &state.usbDevices[0];
    (pick & 1 ? state.bthDeviceCount : state.usbDeviceCount) = 1;
    slot->handle = reinterpret_cast<DeviceHandle>(uintptr_t{0x10});
    std::memcpy(slot->driverInfo, record, sizeof slot->driverInfo);
    SetFuzzAnswer(data + 1, size - 1, (pick >> 4) & 1);
    std::vector<Utf16> text(kDebugTextChars);
    BuildDebugInfoText(&state, selector, infoType, text.data(), text.size());
    slot->handle = nullptr;
    return 0;
}
