#include "driver/control_report.h"

#include <cstring>

#include "core/bytes.h"
#include "profiles/profile_record.h"

namespace {

const uint8_t kSignature[4] = {'P', 'W', 'R', 'Q'};

void WriteHeader(uint8_t* report, uint32_t command, uint32_t fieldMask) {
    std::memset(report, 0, kReportSize);
    InitRequest(report);
    WriteU32LE(report + kOffsetCommand, command);
    WriteU32LE(report + kOffsetFieldMask, fieldMask);
}

void Seal(uint8_t* report) {
    WriteU32LE(report + kOffsetChecksum, RequestChecksum(report));
}

uint8_t LowByte(uint32_t v) {
    return static_cast<uint8_t>(v & 0xFFu);
}

} // namespace

int InitRequest(uint8_t* request) {
    if (request == nullptr)
        return 0;
    std::memset(request, 0, kRequestContentSize);
    request[kOffsetReportId] = kControlReportId;
    std::memcpy(request + kOffsetSignature, kSignature, sizeof kSignature);
    WriteU32LE(request + kOffsetProtocolVersion, kProtocolVersion);
    return 1;
}

uint32_t RequestChecksum(const uint8_t* request) {
    if (request == nullptr)
        return 0;
    uint8_t scratch[kReportSize] = {};
    std::memcpy(scratch, request + 1, kRequestContentSize - 1);
    uint32_t h = 0;
    for (uint32_t i = 0; i < kReportSize / 4; ++i) {
        h = (h << 1) | (h >> 31);
        h ^= ReadU32LE(scratch + 4 * i);
    }
    return h;
}

int BuildProfileRequest(uint8_t* report, const ProfileSetting* s) {
    if (report == nullptr || s == nullptr)
        return 0;
    WriteHeader(report, kCommandSetDriverSettings, kFieldMaskProfile);

    uint32_t flags = 0;
    if (s->UseAxisMap2 != 0)
        flags |= kFlagUseAxisMap2;
    if (s->HatSwitchMode != 0)
        flags |= kFlagHatSwitchMode;
    if (s->SliderBaseCenter1 != 0)
        flags |= kFlagSliderBaseCenter1;
    if (s->SliderBaseCenter2 != 0)
        flags |= kFlagSliderBaseCenter2;
    if (s->EnableRapidFire != 0)
        flags |= kFlagEnableRapidFire;
    WriteU32LE(report + kOffsetSettingFlags, flags);

    for (int i = 0; i < 4; ++i)
        report[kOffsetDeadZone + i] = s->DeadZone[i];
    report[kOffsetUseHatSwitch] = LowByte(s->UseHatSwitch);
    report[kOffsetUseSlider1] = LowByte(s->UseSlider1);
    report[kOffsetUseSlider2] = LowByte(s->UseSlider2);
    for (int i = 0; i < 6; ++i)
        report[kOffsetAxisMap + i] = s->AxisMap[i];

    uint32_t invert = 0;
    for (int i = 0; i < 8; ++i)
        if (s->AxisInvert[i] != 0)
            invert |= 1u << i;
    WriteU32LE(report + kOffsetInvertBits, invert);

    for (int i = 0; i < 8; ++i)
        report[kOffsetConvertOut + i] = s->ConvertOut[i];
    for (int i = 0; i < 6; ++i)
        WriteU16LE(report + kOffsetAxisMap2 + 2 * i, static_cast<uint16_t>(s->AxisMap2[i]));
    for (int i = 0; i < 11; ++i)
        report[kOffsetConvertIn + i] = s->ConvertIn[i];
    for (int i = 0; i < 19; ++i)
        report[kOffsetButtonMap + i] = s->ButtonMap[i];
    WriteU32LE(report + kOffsetFunctionButtonMask, s->FunctionButtonMask);
    report[kOffsetSpeedSelector] = LowByte(s->SpeedSelector);
    report[kOffsetSpeeds + 0] = LowByte(s->Speed1);
    report[kOffsetSpeeds + 1] = LowByte(s->Speed2);
    report[kOffsetSpeeds + 2] = LowByte(s->Speed3);
    report[kOffsetSpeeds + 3] = LowByte(s->Speed4);

    Seal(report);
    return 1;
}

int BuildAutoFireRequest(uint8_t* report, uint32_t buttons) {
    if (report == nullptr)
        return 0;
    WriteHeader(report, kCommandSetDriverSettings, kFieldMaskAutoFire);
    WriteU32LE(report + kOffsetAutoFireButtons, buttons);
    Seal(report);
    return 1;
}

int BuildDisconnectRequest(uint8_t* report) {
    if (report == nullptr)
        return 0;
    WriteHeader(report, kCommandDisconnectLink, 0);
    WriteU32LE(report + kOffsetDisconnectValue, 1);
    return 1;
}

int BuildHeaderOnlyRequest(uint8_t* report, uint32_t command) {
    if (report == nullptr)
        return 0;
    WriteHeader(report, command, 0);
    return 1;
}

int PrepareReadBuffer(uint8_t* report) {
    if (report == nullptr)
        return 0;
    std::memset(report, 0, kReportSize);
    report[kOffsetReportId] = kControlReportId;
    return 1;
}

uint32_t DebugQueryCommand(uint32_t infoType) {
    switch (infoType) {
    case kInfoTypeDriverInfo: return 0;
    case kInfoTypeBthSupportInfo: return kCommandQueryBthSupportInfo;
    case kInfoTypeDebugRawData: return kCommandQueryDebugRawData;
    default: return kCommandQueryDebugInfo;
    }
}

int HasDeviceTag(const uint8_t* answer, const char* tag) {
    return answer != nullptr && tag != nullptr && std::memcmp(answer + 1, tag, 4) == 0;
}

TagKind ClassifyDeviceTag(const uint8_t* answer) {
    if (HasDeviceTag(answer, "DS3U") || HasDeviceTag(answer, "DS3D"))
        return TagKind::Usb;
    if (HasDeviceTag(answer, "DS3B") || HasDeviceTag(answer, "DS3X"))
        return TagKind::Bluetooth;
    if (HasDeviceTag(answer, "DBGU") || HasDeviceTag(answer, "DBGB"))
        return TagKind::Debug;
    return TagKind::Foreign;
}

const char* ExpectedInfoTypeId(uint32_t infoType) {
    switch (infoType) {
    case kInfoTypeDebugInfo: return "INFO";
    case kInfoTypeBthSupportInfo: return "BTSP";
    case kInfoTypeDebugRawData: return "DRAW";
    default: return nullptr;
    }
}

int HasExpectedInfoTypeId(const uint8_t* record, uint32_t infoType) {
    const char* id = ExpectedInfoTypeId(infoType);
    return record != nullptr && id != nullptr && std::memcmp(record + kOffsetInfoTypeId, id, 4) == 0;
}

int DecodeDriverInfo(const uint8_t* r, DriverInfo* info) {
    if (r == nullptr || info == nullptr)
        return 0;
    *info = DriverInfo{};
    info->reportId = r[0];
    std::memcpy(info->DeviceTag, r + kDriverInfoAtDeviceTag, 4);
    info->DriverVersionMajor = r[kDriverInfoAtDriverVersionMajor];
    info->DriverVersionMinor = r[kDriverInfoAtDriverVersionMinor];
    info->DriverVersionType = r[kDriverInfoAtDriverVersionType];
    info->DriverVersionBuild = ReadU16LE(r + kDriverInfoAtDriverVersionBuild);
    info->DriverModeFlags = ReadU32LE(r + kDriverInfoAtDriverModeFlags);
    info->DriverStatus = ReadU32LE(r + kDriverInfoAtDriverStatus);
    info->ErrorCode = ReadU32LE(r + kDriverInfoAtErrorCode);
    info->HCI_Version = r[kDriverInfoAtHCIVersion];
    info->HCI_Revision = ReadU16LE(r + kDriverInfoAtHCIRevision);
    info->LMP_Version = r[kDriverInfoAtLMPVersion];
    info->LMP_Subversion = ReadU16LE(r + kDriverInfoAtLMPSubversion);
    info->Manufacturer_ID = ReadU16LE(r + kDriverInfoAtManufacturerID);
    std::memcpy(info->Adapter_BDADDR, r + kDriverInfoAtAdapterBDADDR, 6);
    std::memcpy(info->Remote_BDADDR, r + kDriverInfoAtRemoteBDADDR, 6);
    info->MaxTransmitPowerLevel = static_cast<int8_t>(r[kDriverInfoAtMaxTransmitPowerLevel]);
    info->CurrentTransmitPowerLevel = static_cast<int8_t>(r[kDriverInfoAtCurrentTransmitPowerLevel]);
    info->LinkQuality = r[kDriverInfoAtLinkQuality];
    info->BatteryStatus = r[kDriverInfoAtBatteryStatus];
    info->ReceiverSensitivity = r[kDriverInfoAtReceiverSensitivity];
    info->MotorStatus = ReadU16LE(r + kDriverInfoAtMotorStatus);
    info->AutoFireSpeedSelector = r[kDriverInfoAtAutoFireSpeedSelector];
    info->AutoFireButtons = ReadU32LE(r + kDriverInfoAtAutoFireButtons);
    info->DriverSettingTagId = ReadU32LE(r + kDriverInfoAtDriverSettingTagId);
    return 1;
}
