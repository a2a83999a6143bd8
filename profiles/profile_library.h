// The Profile library: every profile file of the folder that the sibling setting tool records in
// the registry, loaded once at start-up into the Tool state and freed at shut-down.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/text.h"

struct ToolState;

// Each transport's sub-menu has this many ids (0x8000 + i for USB, 0x8100 + i for Bluetooth);
// profiles beyond it are loaded but not listed.
constexpr uint32_t kProfileIdsPerTransport = 256;
// Paths, patterns and the registry value, terminator included.
constexpr size_t kProfilePathChars = 260;
constexpr size_t kProfileDriveChars = 8;

// Items in each profile sub-menu.
uint32_t ProfileMenuCount(uint32_t profileCount);
// Menu id of profile `index` for transport 0 (USB) or nonzero (Bluetooth); 0 when the index is
// beyond what the transport's id range can hold.
uint32_t ProfileCommandId(int transport, uint32_t index);

// Drive ("X:" when the second unit is a colon) and directory (up to and including the last "\" or
// "/") of `path`. 0, with both outputs emptied, when either part does not fit its buffer.
int SplitProfileFolder(const Utf16* path, Utf16* drive, size_t driveCapacity, Utf16* directory,
                       size_t directoryCapacity);
// drive + directory (a "\" added unless it ends in one) + name + extension (a "." added unless it
// starts with one); any part may be null or empty. 0, with `out` emptied, when the result does
// not fit: a path is never cut into another file's name.
int JoinProfilePath(Utf16* out, size_t capacity, const Utf16* drive, const Utf16* directory,
                    const Utf16* name, const Utf16* extension);

// Fills state->profiles and state->profileCount (one slot per file the scan found, a rejected
// or unreachable file leaving its slot zero); 1 when at least one file was accepted.
int LoadProfileLibrary(ToolState* state);
// Releases the array: profiles null, profileCount 0.
void FreeProfileLibrary(ToolState* state);
// 1 when record `index` came from an accepted file, so that its setting block may be sent.
int ProfileAccepted(const ToolState* state, uint32_t index);
// Menu text of record `index`: the title, or for a refused file its name, cut to the 31 units a
// title holds without splitting a surrogate pair. 0 (with `out` empty) when there is no text to
// show, so the caller shows its "unreadable" text instead.
int ProfileMenuText(const ToolState* state, uint32_t index, Utf16* out, size_t capacity);

// --- Port: the registry value and the directory scan (profile_library_win.cpp; natively
// profile_library_native.cpp).

// "SettingFilePath" under the current user's "Software\Corvane\Padtuner\Parameters"; 0 when
// the key or value is missing or the value with its terminator does not fit `capacity` units.
int ReadSettingFilePath(Utf16* out, size_t capacity);
// A scan of the names that match `pattern`, files and folders alike, in the platform's order.
// Begin returns null when nothing matches, else the scan with the first name. A name that does
// not fit `capacity` units is given as empty text: it still counts, but is never opened.
struct ProfileScan;
ProfileScan* BeginProfileScan(const Utf16* pattern, Utf16* name, size_t capacity);
// 1 with the next name, 0 when there is none.
int NextProfileScan(ProfileScan* scan, Utf16* name, size_t capacity);
void EndProfileScan(ProfileScan* scan);
