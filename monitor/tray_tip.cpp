#include "monitor/tray_tip.h"

#include "profiles/profile_library.h"

namespace {

// `line` with %1 as `number` and %2 as hh:mm of `minute`; 0 when it does not fit whole.
int FormatLine(Utf16* out, size_t capacity, const Utf16* line, uint32_t number, uint32_t minute) {
    size_t at = 0;
    const size_t length = Utf16Length(line, kTrayTipTextUnits);
    for (size_t i = 0; i < length; ++i) {
        if (line[i] == u'%' && i + 1 < length && (line[i + 1] == u'1' || line[i + 1] == u'2')) {
            if (line[++i] == u'1') {
                at = WriteDecimal(out, at, capacity, number, 1);
            } else {
                at = WriteDecimal(out, at, capacity, minute / 60 % 24, 2);
                if (at + 1 < capacity)
                    out[at++] = u':';
                at = WriteDecimal(out, at, capacity, minute % 60, 2);
            }
        } else if (at + 1 < capacity) {
            out[at++] = line[i];
        } else {
            out[at] = 0;
            return 0;
        }
    }
    out[at] = 0;
    // A number cut short fills the buffer to its last unit.
    return at + 1 < capacity ? 1 : 0;
}

// The line, and after it the profile in brackets when one was applied on its transport.
int AppendLine(Utf16* out, size_t capacity, const Utf16* line, uint32_t number = 0, uint32_t minute = 0,
               const Utf16* profile = nullptr) {
    Utf16 formatted[kTrayTipUnits];
    if (!FormatLine(formatted, kTrayTipUnits, line, number, minute) || formatted[0] == 0)
        return 0;
    if (profile != nullptr && profile[0] != 0 &&
        !(AppendAscii(formatted, kTrayTipUnits, " (") && AppendUtf16(formatted, kTrayTipUnits, profile) &&
          AppendAscii(formatted, kTrayTipUnits, ")")))
        return 0;
    const size_t used = Utf16Length(out, capacity);
    const size_t length = Utf16Length(formatted, kTrayTipUnits);
    if (used + 1 + length + 1 > capacity)
        return 0;
    out[used] = u'\n';
    for (size_t i = 0; i < length; ++i)
        out[used + 1 + i] = formatted[i];
    out[used + 1 + length] = 0;
    return 1;
}

// BatteryStatus: 0 to 5 a level; 0xEF charged; any other value of 16 or more, charging.
int BatteryLine(Utf16* out, size_t capacity, uint8_t battery, const TrayTipTexts& texts,
                const Utf16* profile) {
    if (battery <= 5)
        return AppendLine(out, capacity, texts.bthLevel, battery, 0, profile);
    if (battery == 0xEF)
        return AppendLine(out, capacity, texts.bthFull, 0, 0, profile);
    if (battery >= 16)
        return AppendLine(out, capacity, texts.bthCharging, 0, 0, profile);
    return AppendLine(out, capacity, texts.bthConnected, 0, 0, profile); // a level this driver never reports
}

// The profile in brackets, and after it who chose it when a rule did: "Racing, game.exe".
void ProfileNote(Utf16* out, size_t capacity, const Utf16* profile, const Utf16* chooser, int noListed,
                 const TrayTipTexts& texts) {
    out[0] = 0;
    if (profile[0] == 0)
        return;
    CopyUtf16Whole(out, capacity, profile);
    const Utf16* by = noListed ? texts.noListed : chooser;
    if (by[0] != 0 && !(AppendAscii(out, capacity, ", ") && AppendUtf16(out, capacity, by)))
        CopyUtf16Whole(out, capacity, profile); // too long for its line: the name alone
}

} // namespace

void ComposeTrayTip(Utf16* out, size_t capacity, const Utf16* caption, const TrayTipFacts& facts,
                    const TrayTipTexts& texts) {
    if (capacity == 0)
        return;
    CopyUtf16Whole(out, capacity, caption);
    const Utf16* usb = facts.usb == TipLink::Connected ? texts.usbConnected
                       : facts.usb == TipLink::Waiting ? texts.usbWaiting
                                                       : texts.usbNone;
    Utf16 notes[2][kTrayTipUnits];
    ProfileNote(notes[0], kTrayTipUnits, facts.usbProfile, facts.chooser[0], facts.noListed[0], texts);
    ProfileNote(notes[1], kTrayTipUnits, facts.bthProfile, facts.chooser[1], facts.noListed[1], texts);
    if (!AppendLine(out, capacity, usb, 0, 0, facts.usb == TipLink::Connected ? notes[0] : nullptr))
        return;
    int fitted;
    if (facts.bth == TipLink::Connected)
        fitted = BatteryLine(out, capacity, facts.battery, texts, notes[1]);
    else if (facts.bth == TipLink::Waiting)
        fitted = AppendLine(out, capacity, texts.bthWaiting);
    else if (facts.lastBattery >= 0 && facts.lastBattery <= 5)
        fitted = AppendLine(out, capacity, texts.bthLastLevel, static_cast<uint32_t>(facts.lastBattery),
                            facts.lastSeenMinute);
    else if (facts.lastBattery >= 0)
        fitted = AppendLine(out, capacity, texts.bthLastSeen, 0, facts.lastSeenMinute);
    else
        fitted = AppendLine(out, capacity, texts.bthNone);
    if (!fitted || !facts.rumbleOn)
        return;
    if (facts.clients == 0)
        AppendLine(out, capacity, texts.ffNone);
    else if (facts.clients == 1)
        AppendLine(out, capacity, texts.ffOne);
    else
        AppendLine(out, capacity, texts.ffMany, facts.clients);
}

void TrayTipFactsOf(const ToolState* state, TrayTipFacts* facts) {
    const TrayTipWatch& w = state->trayTipWatch;
    facts->usb = !state->usbConnected ? TipLink::NotConnected
                 : w.usbWaiting       ? TipLink::Waiting
                                      : TipLink::Connected;
    facts->bth = !state->bthConnected ? TipLink::NotConnected
                 : w.bthWaiting       ? TipLink::Waiting
                                      : TipLink::Connected;
    facts->battery = w.battery;
    facts->lastBattery = w.bthGone ? w.battery : -1;
    facts->lastSeenMinute = w.lastSeenMinute;
    // Rumble on: permitted, and the force-feedback driver's block is there to count clients in.
    facts->rumbleOn = state->rumbleEnabled.load() != 0 && state->rumbleBlock != nullptr ? 1 : 0;
    uint32_t clients = 0;
    for (uint32_t mask = state->rumbleSlotMask; mask != 0; mask &= mask - 1)
        ++clients;
    facts->clients = clients;
    const uint32_t applied[2] = {state->appliedProfile[0].load(), state->appliedProfile[1].load()};
    Utf16* names[2] = {facts->usbProfile, facts->bthProfile};
    for (int t = 0; t < 2; ++t) {
        names[t][0] = 0;
        if (applied[t] != 0 && state->profiles != nullptr && applied[t] <= state->profileCount)
            ProfileMenuText(state, applied[t] - 1, names[t], kProfileTitleChars);
    }
    std::lock_guard<std::mutex> hold(state->appliedLock);
    for (int t = 0; t < 2; ++t) {
        facts->chooser[t][0] = 0;
        facts->noListed[t] = state->appliedChooser[t] == 2 ? 1 : 0;
        if (state->appliedChooser[t] == 1)
            CopyUtf16Whole(facts->chooser[t], kAppliedRuleChars, state->appliedRule[t]);
    }
}

void CurrentTrayTip(const ToolState* state, Utf16* out, size_t capacity) {
    if (!state->showStateInTooltip) {
        CopyUtf16Whole(out, capacity, state->caption);
        return;
    }
    TrayTipFacts facts;
    TrayTipFactsOf(state, &facts);
    TrayTipTexts texts;
    LoadTrayTipTexts(&texts);
    ComposeTrayTip(out, capacity, state->caption, facts, texts);
}

int RefreshTrayTip(ToolState* state) {
    if (!state->enableTrayIcon)
        return 0;
    Utf16* sent = state->trayTipWatch.sent;
    // Nothing sent yet and the setting off: the icon went up with the caption, as it always has.
    if (!state->showStateInTooltip && sent[0] == 0)
        return 0;
    Utf16 tip[kTrayTipUnits];
    CurrentTrayTip(state, tip, kTrayTipUnits);
    if (EqualUtf16(tip, sent))
        return 0;
    SendTrayTip(state, tip);
    CopyUtf16(sent, kTrayTipUnits, tip);
    return 1;
}
