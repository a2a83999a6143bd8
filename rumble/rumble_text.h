// What the rumble windows show and what they store: the setting dialog's title, fields and
// accept rules, the raw dump of the block and the force-feedback driver's version text.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"

constexpr size_t kRumbleTitleUnits = 128;
constexpr size_t kRumbleFieldUnits = 32;
constexpr size_t kRumbleDumpUnits = 23460;
constexpr size_t kRumbleDumpLineUnits = 68;
constexpr size_t kFfVersionUnits = 32;
constexpr size_t kMigrationResultUnits = 512;
constexpr uint32_t kRumbleGainLimit = 10000;

// Slot fields behind the dialog's five edit controls, in control order (gain, then thresholds).
extern const uint32_t kRumbleEditFields[5];

// "<base> - <ClientName>", the name taken from at most its field's 64 units.
void FormatRumbleTitle(Utf16* out, size_t capacity, const Utf16* base, const uint8_t* slot);
// A field in hundredths as shown in its edit control: "%3.2f" of field / 100.
void FormatRumbleField(Utf16* out, size_t capacity, uint32_t field);
// Typed text to hundredths: a decimal number of the first 31 units, times 100, truncated toward
// zero and saturated to the 32-bit range; no number and NaN give 0.
int32_t RumbleValueFromText(const Utf16* text);
// Stores the dialog's values into the slot's parameter row in order (gain capped, each threshold
// above the one before it) and asks the owner to reload the row.
void AcceptRumbleValues(uint8_t* slot, int enableTicked, const int32_t values[5]);
// The block as hex and ASCII lines of 16 bytes; returns the units written (without terminator).
size_t FormatRumbleDump(const uint8_t* block, Utf16* out, size_t capacity);
// Slot 0's driver version, or "-.--.--.----" without a block or with slot 0 free.
void FormatFfDriverVersion(const uint8_t* block, Utf16* out, size_t capacity);
// The migration's closing text: `done` only when the listing ran to its end and every row was
// written; otherwise `failed`, followed on a line of its own by `notWrittenText` with its "%u"
// replaced by the count when rows were not written.
void FormatMigrationResult(Utf16* out, size_t capacity, int ranToEnd, uint32_t notWritten, const Utf16* done,
                           const Utf16* failed, const Utf16* notWrittenText);
