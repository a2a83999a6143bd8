#include "app/settings.h"

const Utf16* const kToolSettingNames[kToolSettingCount] = {
    u"ToolSettingPosX",
    u"ToolSettingPosY",
    u"VersionPosX",
    u"VersionPosY",
    u"RumblePosX",
    u"RumblePosY",
    u"USBRapidFireSettingPosX",
    u"USBRapidFireSettingPosY",
    u"BTHRapidFireSettingPosX",
    u"BTHRapidFireSettingPosY",
    u"USBInformationPosX",
    u"USBInformationPosY",
    u"BTHInformationPosX",
    u"BTHInformationPosY",
    u"ThreadInterval",
    u"EnableTrayIcon",
    u"EnableAnimationIcon",
    u"EnableNotifyPSButton",
    u"EnableNotifyLowBattery",
    u"IconAnimationSpeed",
};

const Utf16 kShowStateInTooltipName[] = u"ShowStateInTooltip";

namespace {

// Two's complement both ways: -1200 is stored as 0xFB50 and read back as -1200.
template <typename Place> void CapturePlace(const Place& place, uint16_t* out) {
    out[0] = static_cast<uint16_t>(place.posX);
    out[1] = static_cast<uint16_t>(place.posY);
}

template <typename Place> void ApplyPlace(Place& place, const uint16_t* in) {
    place.posX = static_cast<int16_t>(in[0]);
    place.posY = static_cast<int16_t>(in[1]);
}

} // namespace

void CaptureToolSettings(const ToolState* state, StoredToolSettings* out) {
    CapturePlace(state->toolSettingPlace, out->positions + 0);
    CapturePlace(state->versionPlace, out->positions + 2);
    CapturePlace(state->rumblePlace, out->positions + 4);
    CapturePlace(state->usbAutoFirePlace, out->positions + 6);
    CapturePlace(state->bthAutoFirePlace, out->positions + 8);
    CapturePlace(state->usbInformationPlace, out->positions + 10);
    CapturePlace(state->bthInformationPlace, out->positions + 12);
    out->dwords[0] = state->threadInterval;
    out->dwords[1] = static_cast<uint32_t>(state->enableTrayIcon);
    out->dwords[2] = static_cast<uint32_t>(state->enableAnimationIcon.load());
    out->dwords[3] = static_cast<uint32_t>(state->enableNotifyPSButton.load());
    out->dwords[4] = static_cast<uint32_t>(state->enableNotifyLowBattery.load());
    out->dwords[5] = state->iconAnimationSpeed;
}

void ApplyToolSettings(ToolState* state, const StoredToolSettings* in) {
    ApplyPlace(state->toolSettingPlace, in->positions + 0);
    ApplyPlace(state->versionPlace, in->positions + 2);
    ApplyPlace(state->rumblePlace, in->positions + 4);
    ApplyPlace(state->usbAutoFirePlace, in->positions + 6);
    ApplyPlace(state->bthAutoFirePlace, in->positions + 8);
    ApplyPlace(state->usbInformationPlace, in->positions + 10);
    ApplyPlace(state->bthInformationPlace, in->positions + 12);
    state->threadInterval = in->dwords[0];
    state->enableTrayIcon = static_cast<int32_t>(in->dwords[1]);
    state->enableAnimationIcon = static_cast<int32_t>(in->dwords[2]);
    state->enableNotifyPSButton = static_cast<int32_t>(in->dwords[3]);
    state->enableNotifyLowBattery = static_cast<int32_t>(in->dwords[4]);
    state->iconAnimationSpeed = in->dwords[5];
}

void ClampToolSettings(uint32_t* threadInterval, uint32_t* iconAnimationSpeed) {
    uint32_t interval = *threadInterval;
    if (interval < 100)
        interval = 100;
    if (interval > 1000)
        interval = 1000;
    // 64-bit products: a stored speed must not slip past the 30000 ms bound through wrap-around.
    uint64_t speed = *iconAnimationSpeed;
    if (speed * interval < 100)
        speed = 100 / interval;
    if (speed * interval > 30000)
        speed = 30000 / interval;
    if (speed == 0)
        speed = 1;
    if (speed > 300)
        speed = 300;
    *threadInterval = interval;
    *iconAnimationSpeed = static_cast<uint32_t>(speed);
}
