#include "dialogs/information.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/bytes.h"
#include "driver/control_report.h"
#include "resources/resource.h"

uint32_t ModeStringId(uint32_t driverModeFlags) {
    if (driverModeFlags == 0)
        return IDS_MODE_NORMAL;
    return driverModeFlags == 1 ? IDS_MODE_ADVANCED : 0;
}

uint32_t ErrorStringId(uint32_t errorCode) {
    return errorCode == 0 ? IDS_NO_ERROR : 0;
}

uint32_t UsbStatusStringId(uint32_t driverStatus) {
    if (driverStatus == 0)
        return IDS_USB_WAIT_PS;
    return driverStatus == 1 ? IDS_USB_RUNNING : 0;
}

uint32_t BthStatusStringId(uint32_t driverStatus) {
    // Codes 6..9 have no text; 14 and 16 share one.
    static const uint16_t ids[19] = {210, 211, 212, 213, 214, 215, 0,   0,   0,  0,
                                     216, 217, 218, 219, 221, 222, 221, 220, 223};
    return driverStatus < 19 ? ids[driverStatus] : 0;
}

int BatteryBarSupported(uint8_t major, uint8_t minor, uint8_t type, uint16_t build) {
    const uint64_t have = (static_cast<uint64_t>(major) << 40) | (static_cast<uint64_t>(minor) << 32) |
                          (static_cast<uint64_t>(type) << 16) | build;
    const uint64_t need = (1ull << 40) | (4ull << 32) | 12u;
    return have >= need;
}

BatteryBar ChooseBatteryBar(const uint8_t* r) {
    BatteryBar bar = {};
    if (!BatteryBarSupported(r[5], r[6], r[7], ReadU16LE(r + 8)))
        return bar;
    const uint8_t b = r[45];
    bar.enabled = 1;
    if (b >= 16) {
        bar.position = 5;
        if (b == 0xEF)
            bar.blue = 255;
        else
            bar.green = bar.blue = 255;
        return bar;
    }
    // 6..15 lie above the bar's range; the control would pin them to its end.
    bar.position = b > 5 ? 5 : b;
    if (b == 2) {
        bar.red = 255;
    } else if (b == 3) {
        bar.red = bar.green = 255;
    } else if (b == 4 || b == 5) {
        bar.green = 255;
    }
    return bar;
}

namespace {
void FormatAddress(char* out, const uint8_t* a) {
    std::snprintf(out, kFieldTextChars, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
}
} // namespace

void FormatInformation(const uint8_t* record, int usb, InformationTexts* out) {
    DriverInfo info;
    DecodeDriverInfo(record, &info);
    *out = InformationTexts{};
    std::snprintf(out->version, kFieldTextChars, "%d.%d.%d.%.4d", info.DriverVersionMajor,
                  info.DriverVersionMinor, info.DriverVersionType, info.DriverVersionBuild);
    out->modeStringId = ModeStringId(info.DriverModeFlags);
    out->statusStringId = usb ? UsbStatusStringId(info.DriverStatus) : BthStatusStringId(info.DriverStatus);
    out->errorStringId = ErrorStringId(info.ErrorCode);
    out->speedSelectorRight = info.AutoFireSpeedSelector != 0;
    out->autoFireButtons = info.AutoFireButtons & kAutoFireMaskBits;
    if (usb)
        return;
    std::snprintf(out->hci, kFieldTextChars, "%d  Rev.%d", info.HCI_Version, info.HCI_Revision);
    std::snprintf(out->lmp, kFieldTextChars, "%d  Sub ver.%d", info.LMP_Version, info.LMP_Subversion);
    std::snprintf(out->manufacturer, kFieldTextChars, "0x%.4X", info.Manufacturer_ID);
    FormatAddress(out->adapter, info.Adapter_BDADDR);
    FormatAddress(out->remote, info.Remote_BDADDR);
    std::snprintf(out->power, kFieldTextChars, "%.3d / %.3d(MAX)", info.CurrentTransmitPowerLevel,
                  info.MaxTransmitPowerLevel);
    std::snprintf(out->linkQuality, kFieldTextChars, "0x%.2x", info.LinkQuality);
    out->battery = ChooseBatteryBar(record);
}

int CopyOpenDriverInfo(DeviceSlot* slot, uint8_t* copy) {
    if (slot == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(slot->recordLock);
    if (!slot->recordOpen)
        return 0;
    std::memcpy(copy, slot->driverInfo, kDriverInfoSize);
    return 1;
}

void CopyDriverInfo(DeviceSlot* slot, uint8_t* copy) {
    std::memset(copy, 0, kDriverInfoSize);
    if (slot == nullptr)
        return;
    std::lock_guard<std::mutex> hold(slot->recordLock);
    std::memcpy(copy, slot->driverInfo, kDriverInfoSize);
}

void AutoFireBoxesFromMask(uint32_t mask, int32_t* ticks) {
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        ticks[i] = (mask >> i) & 1u;
}

uint32_t AutoFireMaskFromBoxes(const int32_t* ticks) {
    uint32_t mask = 0;
    for (int i = 0; i < kAutoFireBoxCount; ++i)
        if (ticks[i])
            mask |= 1u << i;
    return mask;
}

uint32_t CachedAutoFireButtons(DeviceSlot* slot) {
    if (slot == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(slot->recordLock);
    return ReadU32LE(slot->driverInfo + kDriverInfoAtAutoFireButtons);
}
