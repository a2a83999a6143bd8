#pragma once
#include <cstddef>

#include "core/text.h"

// The line after the program's own path, its first token, quoted or not (leading blanks skipped).
const Utf16* SkipCommandLineProgram(const Utf16* p);

// 1 when the debug switch is on the command line: the first hyphen after the program's own path
// (the first token, quoted or not) followed by exactly "debug"; later letters do not matter.
int IsDebugCommandLineText(const Utf16* commandLine);

// What an installer asks of the program before and after it replaces the files.
enum class SetupSwitch {
    None,
    Exit,            // "-exit": end the running copy through its Exit command
    ExitForSetup,    // "-exit-for-setup": the same, noting that it ran so that a setup restarts it
    StartAfterSetup, // "-start-after-setup": run only when a setup ended a running copy
    ExitForRemoval,  // "-exit-for-removal": end it, and drop what the shell keeps of its log-on start
};

// The switch is the whole first argument after the program path; anything else is None, so
// that "-debug" and every other line start the tool as before.
SetupSwitch SetupSwitchOf(const Utf16* commandLine);

// The elevated copy's switch: the whole first argument "-driver-reset", then the device instance
// id of the node to restart, in quotes or not. 1 with the id in `id` (terminated) when the line
// is exactly that and the id fits `capacity` units; an id with a quote or a control character,
// or anything after it, is refused.
int DriverResetSwitchOf(const Utf16* commandLine, Utf16* id, size_t capacity);

// The registered message by which "-exit" asks the running copy to do what its Exit command does.
// A message of its own, not WM_COMMAND, so that an elevated copy can let it through the integrity
// filter without opening every menu command to lower programs.
constexpr char16_t kExitMessageName[] = u"Padwarden Exit";
