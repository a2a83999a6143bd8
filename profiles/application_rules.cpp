#include "profiles/application_rules.h"

#include <cstring>

#include "core/tool_state.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"

namespace {

constexpr Utf16 kBar = u'|';
// A listed program must stay in front this long before its rule comes into force, and rule
// switches come at most this often.
constexpr uint64_t kDwellMs = 1000;
constexpr uint64_t kSwitchGapMs = 1000;

bool IsSeparator(Utf16 c) {
    return c == u'\\' || c == u'/';
}

// Windows folds all of Unicode in file names; only ASCII letters are folded here (and the two
// separators made one), other units are compared as they are, so a rule must spell a non-ASCII
// name in the case the file has.
Utf16 Folded(Utf16 c) {
    if (c >= u'A' && c <= u'Z')
        return static_cast<Utf16>(c - u'A' + u'a');
    return c == u'/' ? u'\\' : c;
}

bool SameText(const Utf16* a, size_t aLength, const Utf16* b, size_t bLength) {
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i)
        if (Folded(a[i]) != Folded(b[i]))
            return false;
    return true;
}

// Whole surrogate pairs, no control characters.
bool CleanUnits(const Utf16* text, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        const Utf16 c = text[i];
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// A name a file may have: not empty, not "." or "..", none of the characters Windows refuses.
bool FileNameOk(const Utf16* s, size_t n) {
    if (n == 0 || (n == 1 && s[0] == u'.') || (n == 2 && s[0] == u'.' && s[1] == u'.'))
        return false;
    for (size_t i = 0; i < n; ++i)
        switch (s[i]) {
        case u'<':
        case u'>':
        case u':':
        case u'"':
        case u'/':
        case u'\\':
        case u'|':
        case u'?':
        case u'*': return false;
        default: break;
        }
    return true;
}

bool ProfileNameOk(const Utf16* s, size_t n) {
    return n == 0 || FileNameOk(s, n);
}

// A bare file name, or an absolute path ("X:\dir\name", "\\server\share\dir\name") whose every
// component is a file name. A drive-relative or folder-relative path names no one program.
bool ProgramOk(const Utf16* s, size_t n) {
    size_t start = 0;
    size_t wanted = 1;
    if (n >= 3 && ((s[0] >= u'A' && s[0] <= u'Z') || (s[0] >= u'a' && s[0] <= u'z')) && s[1] == u':' &&
        IsSeparator(s[2])) {
        start = 3;
    } else if (n >= 2 && IsSeparator(s[0]) && IsSeparator(s[1])) {
        start = 2;
        wanted = 3; // server, share, file
    } else {
        return FileNameOk(s, n);
    }
    size_t components = 0;
    size_t from = start;
    for (size_t i = start; i <= n; ++i) {
        if (i < n && !IsSeparator(s[i]))
            continue;
        if (!FileNameOk(s + from, i - from))
            return false;
        ++components;
        from = i + 1;
    }
    return components >= wanted;
}

// The stored text of a value, terminated, or 0. Trailing terminators are dropped; one anywhere
// else is a control character and refuses the value.
int DecodeValue(const uint8_t* data, size_t size, uint32_t type, Utf16* text, size_t* length) {
    if (type != kRuleValueString || (data == nullptr && size != 0) || size % 2 != 0 ||
        size / 2 > kRuleValueUnits)
        return 0;
    size_t n = size / 2;
    for (size_t i = 0; i < n; ++i)
        text[i] = static_cast<Utf16>(data[2 * i] | (data[2 * i + 1] << 8));
    while (n > 0 && text[n - 1] == 0)
        --n;
    if (!CleanUnits(text, n))
        return 0;
    text[n] = 0;
    *length = n;
    return 1;
}

// Cuts `text` at every bar into exactly `count` parts, each shorter than kRulePathChars.
int SplitParts(const Utf16* text, size_t n, Utf16* const* parts, size_t* lengths, size_t count) {
    size_t part = 0;
    size_t from = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i < n && text[i] != kBar)
            continue;
        const size_t length = i - from;
        if (part >= count || length >= kRulePathChars)
            return 0;
        std::memcpy(parts[part], text + from, length * sizeof(Utf16));
        parts[part][length] = 0;
        lengths[part++] = length;
        from = i + 1;
    }
    return part == count;
}

// Joins parts with bars into `out`; 0 with `out` empty when a part is unterminated within
// kRulePathChars, not clean, holds a bar, or the whole does not fit.
int JoinParts(const Utf16* const* parts, size_t count, Utf16* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = 0;
    size_t used = 0;
    for (size_t p = 0; p < count; ++p) {
        const size_t length = Utf16Length(parts[p], kRulePathChars);
        if (length >= kRulePathChars || !CleanUnits(parts[p], length))
            return 0;
        for (size_t i = 0; i < length; ++i)
            if (parts[p][i] == kBar)
                return 0;
        if (length + (p > 0 ? 1 : 0) >= capacity - used) {
            out[0] = 0;
            return 0;
        }
        if (p > 0)
            out[used++] = kBar;
        std::memcpy(out + used, parts[p], length * sizeof(Utf16));
        used += length;
    }
    out[used] = 0;
    return 1;
}

void RuleValueName(uint32_t index, Utf16* name) {
    const char digits[] = "0123456789";
    CopyUtf16(name, 8, u"Rule");
    name[4] = static_cast<Utf16>(digits[index / 100 % 10]);
    name[5] = static_cast<Utf16>(digits[index / 10 % 10]);
    name[6] = static_cast<Utf16>(digits[index % 10]);
    name[7] = 0;
}

int WriteText(RuleStore* store, const Utf16* name, const Utf16* text) {
    uint8_t bytes[kRuleValueUnits * 2];
    const size_t units = Utf16Length(text, kRuleValueUnits - 1) + 1; // with its terminator
    for (size_t i = 0; i < units; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    return WriteRuleValue(store, name, kRuleValueString, bytes, units * 2);
}

uint32_t RuleCount(const ApplicationRules* rules) {
    return rules->count < kMaxApplicationRules ? rules->count : kMaxApplicationRules;
}

int32_t ResolveName(const Utf16* name, const ToolState* state) {
    const size_t length = Utf16Length(name, kRulePathChars);
    if (length == 0)
        return kRuleNoChange;
    if (length >= kRulePathChars || state == nullptr || state->profiles == nullptr)
        return kRuleProfileMissing;
    for (uint32_t i = 0; i < state->profileCount && i <= 0x7FFFFFFF; ++i) {
        if (!ProfileAccepted(state, i))
            continue;
        const Utf16* file = state->profiles[i].FileName;
        size_t fileLength = Utf16Length(file, kProfileFileNameChars);
        for (size_t k = fileLength; k > 0; --k)
            if (IsSeparator(file[k - 1])) {
                file += k;
                fileLength -= k;
                break;
            }
        if (SameText(name, length, file, fileLength))
            return static_cast<int32_t>(i);
    }
    return kRuleProfileMissing;
}

} // namespace

void ResetApplicationRules(ApplicationRules* rules) {
    rules->enabled = 1;
    rules->count = 0;
    std::memset(rules->rules, 0, sizeof rules->rules);
    std::memset(rules->fallback, 0, sizeof rules->fallback);
}

int ParseApplicationRule(const uint8_t* data, size_t size, uint32_t type, ApplicationRule* out) {
    if (out == nullptr)
        return 0;
    std::memset(out, 0, sizeof *out);
    Utf16 text[kRuleValueUnits + 1];
    size_t n = 0;
    if (!DecodeValue(data, size, type, text, &n))
        return 0;
    ApplicationRule rule = {};
    Utf16* const parts[3] = {rule.program, rule.profile[0], rule.profile[1]};
    size_t lengths[3] = {};
    if (!SplitParts(text, n, parts, lengths, 3) || !ProgramOk(rule.program, lengths[0]) ||
        !ProfileNameOk(rule.profile[0], lengths[1]) || !ProfileNameOk(rule.profile[1], lengths[2]))
        return 0;
    *out = rule;
    return 1;
}

int ParseFallbackRule(const uint8_t* data, size_t size, uint32_t type, Utf16 (*fallback)[kRulePathChars]) {
    if (fallback == nullptr)
        return 0;
    std::memset(fallback, 0, 2 * sizeof *fallback);
    Utf16 text[kRuleValueUnits + 1];
    size_t n = 0;
    if (!DecodeValue(data, size, type, text, &n))
        return 0;
    Utf16 profiles[2][kRulePathChars] = {};
    Utf16* const parts[2] = {profiles[0], profiles[1]};
    size_t lengths[2] = {};
    if (!SplitParts(text, n, parts, lengths, 2) || !ProfileNameOk(profiles[0], lengths[0]) ||
        !ProfileNameOk(profiles[1], lengths[1]))
        return 0;
    std::memcpy(fallback, profiles, sizeof profiles);
    return 1;
}

int FormatApplicationRule(const ApplicationRule* rule, Utf16* out, size_t capacity) {
    if (out != nullptr && capacity != 0)
        out[0] = 0;
    if (rule == nullptr)
        return 0;
    const Utf16* const parts[3] = {rule->program, rule->profile[0], rule->profile[1]};
    if (!JoinParts(parts, 3, out, capacity))
        return 0;
    if (ProgramOk(rule->program, Utf16Length(rule->program, kRulePathChars)) &&
        ProfileNameOk(rule->profile[0], Utf16Length(rule->profile[0], kRulePathChars)) &&
        ProfileNameOk(rule->profile[1], Utf16Length(rule->profile[1], kRulePathChars)))
        return 1;
    out[0] = 0;
    return 0;
}

int FormatFallbackRule(const Utf16 (*fallback)[kRulePathChars], Utf16* out, size_t capacity) {
    if (out != nullptr && capacity != 0)
        out[0] = 0;
    if (fallback == nullptr)
        return 0;
    const Utf16* const parts[2] = {fallback[0], fallback[1]};
    if (!JoinParts(parts, 2, out, capacity))
        return 0;
    if (ProfileNameOk(fallback[0], Utf16Length(fallback[0], kRulePathChars)) &&
        ProfileNameOk(fallback[1], Utf16Length(fallback[1], kRulePathChars)))
        return 1;
    out[0] = 0;
    return 0;
}

int LoadApplicationRules(ApplicationRules* out) {
    if (out == nullptr)
        return 0;
    ResetApplicationRules(out);
    RuleStore* store = OpenRuleStore(0);
    if (store == nullptr)
        return 0;
    uint8_t data[kRuleValueUnits * 2];
    uint32_t type = 0;
    size_t size = 0;
    if (ReadRuleValue(store, u"Enabled", &type, data, sizeof data, &size) && type == kRuleValueDword &&
        size == 4)
        out->enabled = (data[0] | data[1] | data[2] | data[3]) != 0 ? 1 : 0;
    // Asked for by name, so the rules keep their names' order whatever order the key lists them
    // in; a gap or a bad value costs only itself.
    Utf16 name[8];
    for (uint32_t i = 0; i < kMaxApplicationRules; ++i) {
        RuleValueName(i, name);
        if (ReadRuleValue(store, name, &type, data, sizeof data, &size) &&
            ParseApplicationRule(data, size, type, &out->rules[out->count]))
            ++out->count;
    }
    if (ReadRuleValue(store, u"NoListedProgram", &type, data, sizeof data, &size))
        ParseFallbackRule(data, size, type, out->fallback);
    CloseRuleStore(store);
    return 1;
}

int SaveApplicationRules(const ApplicationRules* rules) {
    if (rules == nullptr)
        return 0;
    const uint32_t count = RuleCount(rules);
    Utf16 text[kRuleValueUnits];
    // Every value is checked before the first is written, so a refused rule leaves the stored
    // set as it was.
    for (uint32_t i = 0; i < count; ++i)
        if (!FormatApplicationRule(&rules->rules[i], text, kRuleValueUnits))
            return 0;
    if (!FormatFallbackRule(rules->fallback, text, kRuleValueUnits))
        return 0;
    RuleStore* store = OpenRuleStore(1);
    if (store == nullptr)
        return 0;
    int ok = 1;
    Utf16 name[8];
    for (uint32_t i = 0; i < kMaxApplicationRules; ++i) {
        RuleValueName(i, name);
        if (i < count) {
            FormatApplicationRule(&rules->rules[i], text, kRuleValueUnits);
            ok &= WriteText(store, name, text);
        } else {
            ok &= DeleteRuleValue(store, name);
        }
    }
    FormatFallbackRule(rules->fallback, text, kRuleValueUnits);
    ok &= WriteText(store, u"NoListedProgram", text);
    const uint8_t enabled[4] = {static_cast<uint8_t>(rules->enabled != 0 ? 1 : 0), 0, 0, 0};
    ok &= WriteRuleValue(store, u"Enabled", kRuleValueDword, enabled, sizeof enabled);
    CloseRuleStore(store);
    return ok;
}

int32_t MatchApplicationRule(const ApplicationRules* rules, const Utf16* imagePath) {
    if (rules == nullptr || imagePath == nullptr)
        return -1;
    const size_t length = Utf16Length(imagePath, kRulePathChars);
    if (length == 0 || length >= kRulePathChars)
        return -1;
    size_t nameStart = length;
    while (nameStart > 0 && !IsSeparator(imagePath[nameStart - 1]))
        --nameStart;
    const uint32_t count = RuleCount(rules);
    for (int byPath = 1; byPath >= 0; --byPath)
        for (uint32_t i = 0; i < count; ++i) {
            const Utf16* program = rules->rules[i].program;
            const size_t n = Utf16Length(program, kRulePathChars);
            if (n == 0 || n >= kRulePathChars)
                continue;
            bool isPath = false;
            for (size_t k = 0; k < n && !isPath; ++k)
                isPath = IsSeparator(program[k]);
            if (isPath != (byPath != 0))
                continue;
            if (isPath ? SameText(program, n, imagePath, length)
                       : SameText(program, n, imagePath + nameStart, length - nameStart))
                return static_cast<int32_t>(i);
        }
    return -1;
}

void ResolveApplicationRules(const ApplicationRules* rules, const ToolState* state, ResolvedRules* out) {
    if (out == nullptr)
        return;
    for (uint32_t i = 0; i < kMaxApplicationRules; ++i)
        out->profile[i][0] = out->profile[i][1] = kRuleNoChange;
    out->fallback[0] = out->fallback[1] = kRuleNoChange;
    if (rules == nullptr)
        return;
    const uint32_t count = RuleCount(rules);
    for (uint32_t i = 0; i < count; ++i)
        for (int t = 0; t < 2; ++t)
            out->profile[i][t] = ResolveName(rules->rules[i].profile[t], state);
    for (int t = 0; t < 2; ++t)
        out->fallback[t] = ResolveName(rules->fallback[t], state);
}

namespace {

// Rules and choosers are kept one above their value, so that a zeroed record holds none.
int32_t Value(int32_t stored) {
    return stored - 1;
}
int32_t Stored(int32_t value) {
    return value + 1;
}

bool GapPassed(const ApplicationSwitch* s, uint64_t now) {
    return !s->switched || (now >= s->lastSwitchMs && now - s->lastSwitchMs >= kSwitchGapMs);
}

uint64_t After(uint64_t t, uint64_t span) {
    return t > UINT64_MAX - span ? UINT64_MAX : t + span;
}

// What `rule` (or the fallback) names for a transport, as resolved.
int32_t Named(const ApplicationRules* rules, const ResolvedRules* resolved, int32_t rule, int transport) {
    if (rule == kRuleFallback)
        return resolved->fallback[transport];
    if (rule >= 0 && static_cast<uint32_t>(rule) < RuleCount(rules))
        return resolved->profile[rule][transport];
    return kRuleNoChange;
}

// One action, unless the device already has that profile: a second send would only restart it.
void Offer(ApplicationSwitch* s, int transport, int32_t profile, int32_t rule, SwitchAction* out, int* n) {
    if (profile < 0 || *n >= 2)
        return;
    const uint32_t stored = static_cast<uint32_t>(profile) + 1;
    if (s->applied[transport] == stored)
        return;
    s->applied[transport] = stored;
    s->chosenBy[transport] = Stored(rule);
    out[(*n)++] = SwitchAction{transport, static_cast<uint32_t>(profile), rule};
}

// Sends the profiles of the rule in force, except where a hand choice came after the switch was
// decided (a choice made while the switch waited for the limit is the newer one).
void ApplyInForce(ApplicationSwitch* s, const ApplicationRules* rules, const ResolvedRules* resolved,
                  uint64_t now, SwitchAction* out, int* n) {
    const int before = *n;
    const int32_t rule = Value(s->inForce);
    for (int t = 0; t < 2; ++t)
        if (!s->handSinceSwitch[t])
            Offer(s, t, Named(rules, resolved, rule, t), rule, out, n);
    s->due = 0;
    // Only a switch that reached a device counts against the limit.
    if (*n > before) {
        s->switched = 1;
        s->lastSwitchMs = now;
    }
}

void SwitchTo(ApplicationSwitch* s, const ApplicationRules* rules, const ResolvedRules* resolved,
              int32_t rule, uint32_t process, uint64_t now, SwitchAction* out, int* n) {
    s->inForce = Stored(rule);
    s->inForceProcess = process;
    s->handSinceSwitch[0] = s->handSinceSwitch[1] = 0;
    if (GapPassed(s, now))
        ApplyInForce(s, rules, resolved, now, out, n);
    else
        s->due = 1;
}

} // namespace

int StepApplicationSwitch(ApplicationSwitch* s, const ApplicationRules* rules, const ResolvedRules* resolved,
                          const SwitchEvent& e, SwitchAction out[2], uint64_t* wakeAtMs) {
    if (wakeAtMs != nullptr)
        *wakeAtMs = 0;
    if (s == nullptr || out == nullptr)
        return 0;
    const int t = e.transport;
    const bool transportOk = t == 0 || t == 1;
    // What the hand and the devices did is kept even while switching is off.
    if (e.kind == SwitchEventKind::HandChoice && transportOk && e.profileIndex < 0x7FFFFFFF) {
        s->applied[t] = e.profileIndex + 1;
        s->chosenBy[t] = Stored(kChosenByHand);
        s->handSinceSwitch[t] = 1;
    } else if ((e.kind == SwitchEventKind::DeviceGone || e.kind == SwitchEventKind::DeviceArrived) &&
               transportOk) {
        // A new connection starts without a profile.
        s->applied[t] = 0;
        s->chosenBy[t] = 0;
    }
    const uint32_t count = rules != nullptr ? RuleCount(rules) : 0;
    if (rules == nullptr || resolved == nullptr || rules->enabled == 0 || count == 0) {
        s->inForce = s->pending = s->due = 0;
        return 0;
    }
    // A rule the list no longer holds is none.
    if (Value(s->inForce) >= static_cast<int32_t>(count))
        s->inForce = s->due = 0;
    if (Value(s->pending) >= static_cast<int32_t>(count))
        s->pending = 0;
    const int32_t rule = e.rule >= 0 && static_cast<uint32_t>(e.rule) < count ? e.rule : -1;
    const int32_t inForce = Value(s->inForce);
    int n = 0;
    switch (e.kind) {
    case SwitchEventKind::Foreground:
        if (rule < 0) {
            // A chat window or an overlay: the profile in force stays.
            s->pending = 0;
        } else if (rule == inForce) {
            s->pending = 0;
            // Its newest process is the one whose end hands over to the fallback.
            s->inForceProcess = e.processId;
        } else if (Value(s->pending) != rule || s->pendingProcess != e.processId) {
            s->pending = Stored(rule);
            s->pendingProcess = e.processId;
            s->pendingSince = e.nowMs;
        }
        break;
    case SwitchEventKind::ProgramEnded:
        if (s->pending != 0 && s->pendingProcess == e.processId)
            s->pending = 0;
        if (inForce >= 0 && s->inForceProcess == e.processId)
            SwitchTo(s, rules, resolved, kRuleFallback, 0, e.nowMs, out, &n);
        break;
    case SwitchEventKind::DwellElapsed:
        if (s->pending != 0) {
            if (Value(s->pending) != rule || s->pendingProcess != e.processId) {
                s->pending = 0;
            } else if (e.nowMs >= s->pendingSince && e.nowMs - s->pendingSince >= kDwellMs) {
                s->pending = 0;
                SwitchTo(s, rules, resolved, rule, e.processId, e.nowMs, out, &n);
            }
        }
        if (s->due && GapPassed(s, e.nowMs))
            ApplyInForce(s, rules, resolved, e.nowMs, out, &n);
        break;
    case SwitchEventKind::DeviceArrived:
        // Only a listed program's rule follows a new connection; the fallback and "nothing" leave
        // it as the tool always has.
        if (transportOk && inForce >= 0 && !s->handSinceSwitch[t])
            Offer(s, t, Named(rules, resolved, inForce, t), inForce, out, &n);
        break;
    case SwitchEventKind::HandChoice:
    case SwitchEventKind::DeviceGone: break;
    }
    if (wakeAtMs != nullptr) {
        uint64_t wake = s->pending != 0 ? After(s->pendingSince, kDwellMs) : 0;
        if (s->due) {
            const uint64_t limit = After(s->lastSwitchMs, kSwitchGapMs);
            if (wake == 0 || limit < wake)
                wake = limit;
        }
        *wakeAtMs = wake;
    }
    return n;
}

int32_t ApplicationRuleInForce(const ApplicationSwitch* s) {
    return s != nullptr ? Value(s->inForce) : -1;
}

int32_t LastAppliedChooser(const ApplicationSwitch* s, int transport) {
    if (s == nullptr || (transport != 0 && transport != 1) || s->applied[transport] == 0)
        return -1;
    return Value(s->chosenBy[transport]);
}

int32_t LastAppliedProfile(const ApplicationSwitch* s, int transport) {
    if (s == nullptr || (transport != 0 && transport != 1) || s->applied[transport] == 0 ||
        s->applied[transport] > 0x80000000u)
        return -1;
    return static_cast<int32_t>(s->applied[transport] - 1);
}

int32_t ResolveRuleProfile(const Utf16* name, const ToolState* state) {
    return name != nullptr ? ResolveName(name, state) : kRuleNoChange;
}

const Utf16* RuleFileName(const Utf16* path) {
    const Utf16* name = path;
    for (size_t i = 0; i < kRulePathChars && path[i] != 0; ++i)
        if (IsSeparator(path[i]))
            name = path + i + 1;
    return name;
}

int SameRuleName(const Utf16* a, const Utf16* b) {
    return SameText(a, Utf16Length(a, kRulePathChars), b, Utf16Length(b, kRulePathChars)) ? 1 : 0;
}
