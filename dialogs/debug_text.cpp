#include "dialogs/debug_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "dialogs/information.h"
#include "driver/control_report.h"
#include "driver/driver_link.h"

namespace {

// Each line is formatted on its own and appended, so a long text is cut at the buffer's end
// rather than overrunning it.
struct TextBuilder {
    Utf16* out;
    size_t capacity;
    void Line(const char* format, ...);
};

void TextBuilder::Line(const char* format, ...) {
    char line[kDebugLineChars];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    AppendAscii(out, capacity, line);
}

// The record's tag as exactly its four bytes; anything unprintable shows as '?'.
void TagText(const uint8_t* record, char* tag) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = record[kOffsetInfoTypeId + i];
        tag[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    tag[4] = 0;
}

int64_t ReadI64LE(const uint8_t* p) {
    return static_cast<int64_t>(ReadU64LE(p));
}

void HexRow(TextBuilder& text, const uint8_t* bytes, int count, int lineEnd) {
    char row[kDebugLineChars] = {};
    size_t used = 0;
    for (int i = 0; i < count && used + 4 < sizeof row; ++i)
        used += static_cast<size_t>(std::snprintf(row + used, sizeof row - used, " %.2x", bytes[i]));
    text.Line("%s%s", row, lineEnd ? "\r\n" : "");
}

} // namespace

void FormatDriverInfoText(const uint8_t* record, Utf16* out, size_t capacity) {
    if (capacity == 0)
        return;
    out[0] = 0;
    DriverInfo d;
    DecodeDriverInfo(record, &d);
    TextBuilder t{out, capacity};
    t.Line("DriverVersionMajor %d\r\n", d.DriverVersionMajor);
    t.Line("DriverVersionMinor %d\r\n", d.DriverVersionMinor);
    t.Line("DriverVersionType %d\r\n", d.DriverVersionType);
    t.Line("DriverVersionBuild %d\r\n", d.DriverVersionBuild);
    t.Line("DriverModeFlags 0x%.2x (%s)\r\n", d.DriverModeFlags, d.DriverModeFlags ? "Advanced" : "Normal");
    t.Line("DriverStatus 0x%.4x\r\n", d.DriverStatus);
    t.Line("ErrorCode 0x%.4x\r\n", d.ErrorCode);
    t.Line("HCI_Version %d\r\n", d.HCI_Version);
    t.Line("HCI_Revision %d\r\n", d.HCI_Revision);
    t.Line("LMP_Version %d\r\n", d.LMP_Version);
    t.Line("LMP_Subversion %d\r\n", d.LMP_Subversion);
    t.Line("Manufacturer_ID 0x%.4x\r\n", d.Manufacturer_ID);
    const uint8_t* a = d.Adapter_BDADDR;
    t.Line("Adapter_BDADDR %.2x:%.2x:%.2x:%.2x:%.2x:%.2x\r\n", a[0], a[1], a[2], a[3], a[4], a[5]);
    const uint8_t* r = d.Remote_BDADDR;
    t.Line("Remote_BDADDR %.2x:%.2x:%.2x:%.2x:%.2x:%.2x\r\n", r[0], r[1], r[2], r[3], r[4], r[5]);
    t.Line("MaxTransmitPowerLevel %d\r\n", d.MaxTransmitPowerLevel);
    t.Line("CurrentTransmitPowerLevel %d\r\n", d.CurrentTransmitPowerLevel);
    t.Line("LinkQuality %d\r\n", d.LinkQuality);
    t.Line("Receiver Sensitivity 0x%.2x\r\n", d.ReceiverSensitivity);
    t.Line("Battery Charge and Left Status 0x%.2x\r\n", d.BatteryStatus);
    t.Line("MotorStatus 0x%.4x\r\n", d.MotorStatus);
    t.Line("AutoFireSpeedSelector 0x%.2x\r\n", d.AutoFireSpeedSelector);
    t.Line("AutoFireButtons 0x%.8x\r\n", d.AutoFireButtons);
    t.Line("DriverSettingTagId 0x%.8x\r\n", d.DriverSettingTagId);
}

void FormatDebugRecordText(uint32_t selector, uint32_t infoType, const uint8_t* record, Utf16* out,
                           size_t capacity) {
    if (capacity == 0)
        return;
    out[0] = 0;
    TextBuilder t{out, capacity};
    if (infoType < kInfoTypeDebugInfo || infoType > kInfoTypeDebugRawData ||
        !HasExpectedInfoTypeId(record, infoType)) {
        t.Line("No supported function");
        return;
    }
    char tag[5];
    TagText(record, tag);
    t.Line("InfoTypeId '%s'\r\n", tag);
    if (infoType == kInfoTypeDebugInfo) {
        t.Line("FeatureFlag 0x%.8x\r\n", ReadU32LE(record + 9));
        t.Line("ThreadTime\r\n");
        t.Line("  PerformanceFrequency %" PRId64 "\r\n", ReadI64LE(record + 13));
        static const char* const usbNames[] = {"ThreadTimeIn", "ThreadTimeOut"};
        static const char* const bthNames[] = {"ThreadTimeHci", "ThreadTimeHciEvent", "ThreadTimeAcl",
                                               "ThreadTimeAclOut"};
        const int bluetooth = SelectorIsBluetooth(selector);
        const char* const* names = bluetooth ? bthNames : usbNames;
        const int count = bluetooth ? 4 : 2;
        for (int i = 0; i < count; ++i)
            t.Line("  %s %" PRId64 "\r\n", names[i], ReadI64LE(record + 21 + 8 * i));
    } else if (infoType == kInfoTypeBthSupportInfo) {
        t.Line("Supported Commands\r\n");
        for (int row = 0; row < 4; ++row)
            HexRow(t, record + 9 + 16 * row, 16, 1);
        t.Line("Supported Features\r\n");
        HexRow(t, record + 73, 8, 0);
    } else {
        t.Line("Report Id 0x%.2x\r\n", record[9]);
        for (int row = 0; row < 3; ++row)
            HexRow(t, record + 10 + 16 * row, 16, 1);
    }
}

void BuildDebugInfoText(ToolState* state, uint32_t selector, uint32_t infoType, Utf16* out, size_t capacity) {
    uint8_t record[kDebugRecordSize] = {};
    if (infoType == kInfoTypeDriverInfo) {
        DeviceSlot* slot = nullptr;
        if (SelectorIndex(selector) == 0)
            slot = SelectorIsBluetooth(selector) ? &state->bthDevices[0] : &state->usbDevices[0];
        CopyDriverInfo(slot, record);
        FormatDriverInfoText(record, out, capacity);
        return;
    }
    // A failed query leaves zeros or a record of another kind; the text says so either way.
    QueryDebugRecord(state, selector, infoType, record);
    FormatDebugRecordText(selector, infoType, record, out, capacity);
}
