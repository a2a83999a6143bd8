// Application profiles: rules that apply a controller profile by the program in front, their
// stored form, and the switching decisions as a pure state machine (no clock, no window).
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"

struct ToolState;

constexpr uint32_t kMaxApplicationRules = 256;
// MAX_PATH with its terminator.
constexpr size_t kRulePathChars = 260;
// The longest stored rule is 779 units (three parts of 259 and two bars); the rest is room for the
// extra terminators some writers add. Longer data is refused unread.
constexpr size_t kRuleValueUnits = 1024;
// Registry value types the store uses.
constexpr uint32_t kRuleValueString = 1; // REG_SZ
constexpr uint32_t kRuleValueDword = 4;  // REG_DWORD

// What a rule names for a transport, once resolved (ResolvedRules), and who chose a profile.
constexpr int32_t kRuleNoChange = -1;
constexpr int32_t kRuleProfileMissing = -2;
constexpr int32_t kRuleFallback = -3;
constexpr int32_t kChosenByHand = -4;

// program: a file name ("game.exe") or an absolute path ("C:\Games\game.exe",
// "\\server\share\game.exe") for programs that share a name. profile[0] is for USB, profile[1]
// for Bluetooth: a profile file name without folder, empty for "no change".
struct ApplicationRule {
    Utf16 program[kRulePathChars];
    Utf16 profile[2][kRulePathChars];
};

// About 400 KB: keep it static or on the heap, never on a thread's stack.
struct ApplicationRules {
    int32_t enabled = 1;
    uint32_t count = 0;
    ApplicationRule rules[kMaxApplicationRules] = {};
    // "When no listed program is in front".
    Utf16 fallback[2][kRulePathChars] = {};
};

// Enabled, no rules, no fallback.
void ResetApplicationRules(ApplicationRules* rules);

// --- The stored form: under HKCU\Software\Corvane\Padwarden\ApplicationProfiles, "Enabled"
// (REG_DWORD), "Rule000".."Rule255" (REG_SZ "program|usbprofile|bthprofile") and
// "NoListedProgram" (REG_SZ "usbprofile|bthprofile"); an empty part is "no change".

// Registry data as it was read (UTF-16LE bytes, any alignment). 1 only for a REG_SZ of even size
// within kRuleValueUnits, checked UTF-16 without control characters, terminators only at its end,
// exactly the right number of '|', parts shorter than kRulePathChars, a program that is a bare
// file name or an absolute path, profiles that are bare file names. Otherwise 0 and the output
// all empty.
int ParseApplicationRule(const uint8_t* data, size_t size, uint32_t type, ApplicationRule* out);
int ParseFallbackRule(const uint8_t* data, size_t size, uint32_t type, Utf16 (*fallback)[kRulePathChars]);
// The exact inverse, terminated; 0 (with `out` empty) when the text does not fit or would not
// parse back to the same rule.
int FormatApplicationRule(const ApplicationRule* rule, Utf16* out, size_t capacity);
int FormatFallbackRule(const Utf16 (*fallback)[kRulePathChars], Utf16* out, size_t capacity);

// 1 when the key was read: values of the wrong type, size or text are skipped, rules are kept in
// name order, at most kMaxApplicationRules of them. 0, with `out` at the defaults, when the key
// cannot be opened.
int LoadApplicationRules(ApplicationRules* out);
// Writes every rule as Rule000.. in order, removes the RuleNNN values beyond them, then the
// fallback and Enabled. 0 when a value could not be written, or when a rule would not read back
// (then nothing is written).
int SaveApplicationRules(const ApplicationRules* rules);

// --- Matching and resolution.

// The rule for the program whose image is `imagePath` (a full path, as QueryFullProcessImageNameW
// gives it), or -1. Full-path rules are tried before file-name rules, each kind in list order.
int32_t MatchApplicationRule(const ApplicationRules* rules, const Utf16* imagePath);

// Per rule and transport, and for the fallback: a profile index into state->profiles, or
// kRuleNoChange, or kRuleProfileMissing (the file is gone or was refused).
struct ResolvedRules {
    int32_t profile[kMaxApplicationRules][2];
    int32_t fallback[2];
};
void ResolveApplicationRules(const ApplicationRules* rules, const ToolState* state, ResolvedRules* out);
// The same for one profile name.
int32_t ResolveRuleProfile(const Utf16* name, const ToolState* state);
// The last part of a path, after its last '\\' or '/'.
const Utf16* RuleFileName(const Utf16* path);
// 1 when two names or paths are the same as matching takes them (ASCII letters folded).
int SameRuleName(const Utf16* a, const Utf16* b);

// --- The switching decisions.

// A zeroed record has nothing in force. Every rule and chooser is kept one above its value, so that
// zero reads as none (-1); read them through the accessors below.
struct ApplicationSwitch {
    int32_t inForce;
    uint32_t inForceProcess;
    int32_t pending;
    uint32_t pendingProcess;
    uint64_t pendingSince;
    // The rule in force still waits for the once-a-second limit to be applied.
    int32_t due;
    int32_t switched;
    uint64_t lastSwitchMs;
    // Per transport: the profile last applied (index + 1) and who chose it; a hand choice made
    // since the last rule switch.
    uint32_t applied[2];
    int32_t chosenBy[2];
    int32_t handSinceSwitch[2];
};

enum class SwitchEventKind { Foreground, ProgramEnded, DwellElapsed, HandChoice, DeviceArrived, DeviceGone };

// Foreground and DwellElapsed carry the program in front now: its rule (MatchApplicationRule,
// -1 for none) and process. ProgramEnded carries the process; HandChoice the transport and
// profile; DeviceArrived and DeviceGone the transport (0 USB, 1 Bluetooth).
struct SwitchEvent {
    SwitchEventKind kind;
    uint64_t nowMs;
    int32_t rule;
    uint32_t processId;
    int32_t transport;
    uint32_t profileIndex;
};

// Apply profileIndex on transport; rule is the chooser (a rule index or kRuleFallback).
struct SwitchAction {
    int32_t transport;
    uint32_t profileIndex;
    int32_t rule;
};

// Fills up to 2 actions and returns their count; *wakeAtMs is the time at which the caller must
// deliver DwellElapsed, or 0 for none. Indexes refer to `rules` as they were when `resolved` was
// made: after the rules change, start again from a zeroed record.
int StepApplicationSwitch(ApplicationSwitch* s, const ApplicationRules* rules, const ResolvedRules* resolved,
                          const SwitchEvent& e, SwitchAction out[2], uint64_t* wakeAtMs);

// For the tooltip and -status: the rule in force (a rule index, kRuleFallback, or -1); per
// transport who chose the last applied profile (a rule index, kRuleFallback, kChosenByHand, or -1)
// and its index (-1 for none).
int32_t ApplicationRuleInForce(const ApplicationSwitch* s);
int32_t LastAppliedChooser(const ApplicationSwitch* s, int transport);
int32_t LastAppliedProfile(const ApplicationSwitch* s, int transport);

// --- Port: the registry key (application_rules_win.cpp; natively application_rules_native.cpp).

struct RuleStore;
// Null when the key cannot be opened (for reading) or created (for writing).
RuleStore* OpenRuleStore(int forWriting);
// 1 with the value's type and its `*size` bytes in `data`; 0 when it is missing, larger than
// `capacity`, or cannot be read.
int ReadRuleValue(RuleStore* store, const Utf16* name, uint32_t* type, uint8_t* data, size_t capacity,
                  size_t* size);
int WriteRuleValue(RuleStore* store, const Utf16* name, uint32_t type, const uint8_t* data, size_t size);
// 1 when the value is gone, also when it was never there.
int DeleteRuleValue(RuleStore* store, const Utf16* name);
void CloseRuleStore(RuleStore* store);
