// The tooltip that tells the controllers' state, when the user asks for it: one line each for the
// caption, USB, Bluetooth and, with rumble on, the force-feedback clients.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"
#include "core/tool_state.h"
#include "profiles/profile_record.h"

constexpr size_t kTrayTipTextUnits = 96;

enum class TipLink : int32_t { NotConnected = 0, Waiting = 1, Connected = 2 };

struct TrayTipFacts {
    TipLink usb = TipLink::NotConnected;
    TipLink bth = TipLink::NotConnected;
    uint8_t battery = 0;      // BatteryStatus while Bluetooth is connected
    int32_t lastBattery = -1; // the last BatteryStatus seen before Bluetooth went, -1 none
    uint32_t lastSeenMinute = 0;
    int32_t rumbleOn = 0;
    uint32_t clients = 0;
    // The profile last applied on a connected transport, by the menu or the command line.
    Utf16 usbProfile[kProfileTitleChars] = {};
    Utf16 bthProfile[kProfileTitleChars] = {};
    // Who chose it when an application rule did: the listed program, or (noListed) the rule for
    // when none is in front. Empty and 0 for a choice by hand.
    Utf16 chooser[2][kAppliedRuleChars] = {};
    int32_t noListed[2] = {};
};

// The string-table lines, in either language; %1 is a number, %2 a time as hh:mm.
struct TrayTipTexts {
    Utf16 usbConnected[kTrayTipTextUnits];
    Utf16 usbWaiting[kTrayTipTextUnits];
    Utf16 usbNone[kTrayTipTextUnits];
    Utf16 bthConnected[kTrayTipTextUnits];
    Utf16 bthLevel[kTrayTipTextUnits];
    Utf16 bthCharging[kTrayTipTextUnits];
    Utf16 bthFull[kTrayTipTextUnits];
    Utf16 bthWaiting[kTrayTipTextUnits];
    Utf16 bthNone[kTrayTipTextUnits];
    Utf16 bthLastLevel[kTrayTipTextUnits];
    Utf16 bthLastSeen[kTrayTipTextUnits];
    Utf16 ffNone[kTrayTipTextUnits];
    Utf16 ffOne[kTrayTipTextUnits];
    Utf16 ffMany[kTrayTipTextUnits];
    Utf16 noListed[kTrayTipTextUnits];
};

// The lines, each whole or not at all: a line that would pass capacity ends the text there.
void ComposeTrayTip(Utf16* out, size_t capacity, const Utf16* caption, const TrayTipFacts& facts,
                    const TrayTipTexts& texts);

// The facts of the last pass; the Monitor thread keeps the last battery and when it was seen.
void TrayTipFactsOf(const ToolState* state, TrayTipFacts* facts);

// The text the tooltip should carry now: the caption alone when the setting is off.
void CurrentTrayTip(const ToolState* state, Utf16* out, size_t capacity);

// Sends the tooltip when it differs from the one last sent; 1 when it sent.
int RefreshTrayTip(ToolState* state);

// Platform: the string-table lines of the tool's language, and one modify that carries `tip`.
void LoadTrayTipTexts(TrayTipTexts* texts);
void SendTrayTip(ToolState* state, const Utf16* tip);
