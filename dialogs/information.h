// What the driver information dialogs and the auto-fire dialog show of a Driver information
// record, and what the auto-fire boxes send. Field texts are ASCII; texts that come from the
// string table are returned as their ids (0 = none, show "---").
#pragma once
#include <cstdint>

#include "core/tool_state.h"
#include "core/device_slot.h"

constexpr int kFieldTextChars = 48;
constexpr int kAutoFireBoxCount = 17;
constexpr uint32_t kAutoFireMaskBits = (1u << kAutoFireBoxCount) - 1;

struct BatteryBar {
    int32_t enabled;  // 0: the bar is disabled and keeps whatever it showed
    int32_t position; // 0..5
    uint8_t red, green, blue;
};

struct InformationTexts {
    char version[kFieldTextChars];
    uint32_t modeStringId;   // 0: "---"
    uint32_t statusStringId; // 0: "---"
    uint32_t errorStringId;  // 0: "---"
    int32_t speedSelectorRight;
    uint32_t autoFireButtons; // only the 17 bits that have a box
    // Bluetooth only.
    char hci[kFieldTextChars];
    char lmp[kFieldTextChars];
    char manufacturer[kFieldTextChars];
    char adapter[kFieldTextChars];
    char remote[kFieldTextChars];
    char power[kFieldTextChars];
    char linkQuality[kFieldTextChars];
    BatteryBar battery;
};

uint32_t ModeStringId(uint32_t driverModeFlags);
uint32_t ErrorStringId(uint32_t errorCode);
uint32_t UsbStatusStringId(uint32_t driverStatus);
uint32_t BthStatusStringId(uint32_t driverStatus);

// Whether the driver reports a battery level the bar can show: version at least 1.4.0.12,
// compared as a version.
int BatteryBarSupported(uint8_t major, uint8_t minor, uint8_t type, uint16_t build);
BatteryBar ChooseBatteryBar(const uint8_t* record);

// Every field of dialog 117 (usb != 0) or 118 from an 81-byte record.
void FormatInformation(const uint8_t* record, int usb, InformationTexts* out);

// Copies the slot's record under its record lock, which no device call holds, so a dialog never
// waits for a stuck device; 0 (copy untouched) when the slot is not open.
int CopyOpenDriverInfo(DeviceSlot* slot, uint8_t* copy);
// Copies the record whatever the slot's handle; a null slot gives zeros.
void CopyDriverInfo(DeviceSlot* slot, uint8_t* copy);

// Check box states of the auto-fire boxes: bit i of the mask ticks box i, i = 0..16.
void AutoFireBoxesFromMask(uint32_t mask, int32_t* ticks);
uint32_t AutoFireMaskFromBoxes(const int32_t* ticks);
// The slot's cached AutoFireButtons, read under its record lock; 0 for a null slot.
uint32_t CachedAutoFireButtons(DeviceSlot* slot);
