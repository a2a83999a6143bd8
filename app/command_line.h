#pragma once
#include "app/text.h"

// 1 when the debug switch is on the command line: the first hyphen after the program's own path
// (the first token, quoted or not) followed by exactly "debug"; later letters do not matter.
int IsDebugCommandLineText(const Utf16* commandLine);
