// The Control report (HID feature report 2): request layout, checksum, request builders and the
// decoding of the driver's answers. Every buffer handed to these functions is a full report of
// kReportSize bytes.
#pragma once
#include <cstddef>
#include <cstdint>

struct ProfileSetting;

constexpr uint32_t kReportSize = 256;
constexpr uint8_t kControlReportId = 2;
// Bytes 0..108 carry a request; the rest of the report is sent as zero.
constexpr uint32_t kRequestContentSize = 109;
constexpr uint32_t kDriverInfoRecordSize = 81;
constexpr uint32_t kDebugRecordSize = 81;

constexpr uint32_t kProtocolVersion = 0x01000000;

// Request header offsets.
constexpr size_t kOffsetReportId = 0;
constexpr size_t kOffsetSignature = 1;
constexpr size_t kOffsetProtocolVersion = 5;
constexpr size_t kOffsetCommand = 9;
constexpr size_t kOffsetChecksum = 13;
constexpr size_t kOffsetFieldMask = 17;
constexpr size_t kOffsetBody = 21;
constexpr size_t kOffsetDisconnectValue = 53;
constexpr size_t kOffsetAutoFireButtons = 105;

// Profile body offsets.
constexpr size_t kOffsetSettingFlags = 21;
constexpr size_t kOffsetDeadZone = 25;
constexpr size_t kOffsetUseHatSwitch = 29;
constexpr size_t kOffsetUseSlider1 = 30;
constexpr size_t kOffsetUseSlider2 = 31;
constexpr size_t kOffsetAxisMap = 32;
constexpr size_t kOffsetInvertBits = 38;
constexpr size_t kOffsetConvertOut = 42;
constexpr size_t kOffsetAxisMap2 = 50;
constexpr size_t kOffsetConvertIn = 62;
constexpr size_t kOffsetButtonMap = 73;
constexpr size_t kOffsetFunctionButtonMask = 92;
constexpr size_t kOffsetReservedWord = 96;
constexpr size_t kOffsetSpeedSelector = 100;
constexpr size_t kOffsetSpeeds = 101;

// Where each field of the Driver information answer starts, the report id being byte 0.
constexpr size_t kDriverInfoAtDeviceTag = 1;
constexpr size_t kDriverInfoAtDriverVersionMajor = 5;
constexpr size_t kDriverInfoAtDriverVersionMinor = 6;
constexpr size_t kDriverInfoAtDriverVersionType = 7;
constexpr size_t kDriverInfoAtDriverVersionBuild = 8;
constexpr size_t kDriverInfoAtDriverModeFlags = 10;
constexpr size_t kDriverInfoAtDriverStatus = 14;
constexpr size_t kDriverInfoAtErrorCode = 18;
constexpr size_t kDriverInfoAtHCIVersion = 22;
constexpr size_t kDriverInfoAtHCIRevision = 23;
constexpr size_t kDriverInfoAtLMPVersion = 25;
constexpr size_t kDriverInfoAtLMPSubversion = 26;
constexpr size_t kDriverInfoAtManufacturerID = 28;
constexpr size_t kDriverInfoAtAdapterBDADDR = 30;
constexpr size_t kDriverInfoAtRemoteBDADDR = 36;
constexpr size_t kDriverInfoAtMaxTransmitPowerLevel = 42;
constexpr size_t kDriverInfoAtCurrentTransmitPowerLevel = 43;
constexpr size_t kDriverInfoAtLinkQuality = 44;
constexpr size_t kDriverInfoAtBatteryStatus = 45;
constexpr size_t kDriverInfoAtReceiverSensitivity = 46;
constexpr size_t kDriverInfoAtMotorStatus = 47;
constexpr size_t kDriverInfoAtAutoFireSpeedSelector = 49;
constexpr size_t kDriverInfoAtAutoFireButtons = 50;
constexpr size_t kDriverInfoAtDriverSettingTagId = 54;

// SettingFlags bits.
constexpr uint32_t kFlagUseAxisMap2 = 1u << 0;
constexpr uint32_t kFlagHatSwitchMode = 1u << 1;
constexpr uint32_t kFlagSliderBaseCenter1 = 1u << 2;
constexpr uint32_t kFlagSliderBaseCenter2 = 1u << 3;
constexpr uint32_t kFlagEnableRapidFire = 1u << 4;

constexpr uint32_t kCommandSetDriverSettings = 1;
constexpr uint32_t kCommandDisconnectLink = 2;
constexpr uint32_t kCommandReconnectLink = 3;
constexpr uint32_t kCommandEnterDebugMode = 0x80000000;
constexpr uint32_t kCommandLeaveDebugMode = 0x80000001;
constexpr uint32_t kCommandQueryDebugInfo = 0x80000006;
constexpr uint32_t kCommandQueryBthSupportInfo = 0x80000007;
constexpr uint32_t kCommandQueryDebugRawData = 0x80000008;

constexpr uint32_t kFieldMaskProfile = 0x0007FFFF;
constexpr uint32_t kFieldMaskAutoFire = 0x00080000;

// Debug-query info types as the debug dialog numbers them.
constexpr uint32_t kInfoTypeDriverInfo = 0;
constexpr uint32_t kInfoTypeDebugInfo = 1;
constexpr uint32_t kInfoTypeBthSupportInfo = 2;
constexpr uint32_t kInfoTypeDebugRawData = 3;

// A DeviceSelector: transport in the high half (0 USB, other Bluetooth), index in the low half.
constexpr uint32_t kSelectorUsb0 = 0x00000000;
constexpr uint32_t kSelectorBluetooth0 = 0x00010000;
inline int SelectorIsBluetooth(uint32_t selector) {
    return (selector >> 16) != 0;
}
inline uint32_t SelectorIndex(uint32_t selector) {
    return selector & 0xFFFFu;
}

// Clears bytes 0..108 and writes report id, signature and protocol version; 0 for a null buffer.
int InitRequest(uint8_t* request);
// Rotate-XOR over bytes 1..108 placed at the start of a zeroed 256-byte scratch area.
uint32_t RequestChecksum(const uint8_t* request);

// Each builder clears the whole report first, so nothing beyond the request content is sent.
// Profile body, FieldMask 0x0007FFFF, checksum filled. 0 when either pointer is null.
int BuildProfileRequest(uint8_t* report, const ProfileSetting* setting);
// Auto-fire body (buttons at 105..108), FieldMask 0x00080000, checksum filled.
int BuildAutoFireRequest(uint8_t* report, uint32_t buttons);
// DisconnectLink with the value 1 at 53..56.
int BuildDisconnectRequest(uint8_t* report);
// Any command without a body (ReconnectLink, the debug-mode commands).
int BuildHeaderOnlyRequest(uint8_t* report, uint32_t command);
// Clears the report and sets the report id, ready for a feature-report read.
int PrepareReadBuffer(uint8_t* report);

// Query command for a debug info type: 1, 2, 3 as named, any other nonzero value gives
// QueryDebugInfo, 0 gives 0 (refused).
uint32_t DebugQueryCommand(uint32_t infoType);

// What the DeviceTag (bytes 1..4 of an answer) says about the device.
enum class TagKind { Usb, Bluetooth, Debug, Foreign };
TagKind ClassifyDeviceTag(const uint8_t* answer);
// 1 when bytes 1..4 of the answer are exactly `tag` (four ASCII letters).
int HasDeviceTag(const uint8_t* answer, const char* tag);

// Debug records carry their layout's InfoTypeId at bytes 5..8.
constexpr size_t kOffsetInfoTypeId = 5;
// "INFO", "BTSP", "DRAW" for info types 1, 2, 3; null for any other type.
const char* ExpectedInfoTypeId(uint32_t infoType);
// 1 when the record's InfoTypeId is the one the info type expects.
int HasExpectedInfoTypeId(const uint8_t* record, uint32_t infoType);

// The Driver information record, decoded; field names are the driver's labels.
struct DriverInfo {
    uint8_t reportId;
    char DeviceTag[4];
    uint8_t DriverVersionMajor;
    uint8_t DriverVersionMinor;
    uint8_t DriverVersionType;
    uint16_t DriverVersionBuild;
    uint32_t DriverModeFlags;
    uint32_t DriverStatus;
    uint32_t ErrorCode;
    uint8_t HCI_Version;
    uint16_t HCI_Revision;
    uint8_t LMP_Version;
    uint16_t LMP_Subversion;
    uint16_t Manufacturer_ID;
    uint8_t Adapter_BDADDR[6];
    uint8_t Remote_BDADDR[6];
    int8_t MaxTransmitPowerLevel;
    int8_t CurrentTransmitPowerLevel;
    uint8_t LinkQuality;
    uint8_t BatteryStatus;
    uint8_t ReceiverSensitivity;
    uint16_t MotorStatus;
    uint8_t AutoFireSpeedSelector;
    uint32_t AutoFireButtons;
    uint32_t DriverSettingTagId;
};

// Decodes the 81-byte record; 0 when either pointer is null.
int DecodeDriverInfo(const uint8_t* record, DriverInfo* info);
