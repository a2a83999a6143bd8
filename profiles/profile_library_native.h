// The native stand-in for the registry value that names the profile folder (tests set it).
#pragma once
#include "core/text.h"

// The text ReadSettingFilePath answers; null makes the value missing (the start state).
void SetNativeSettingFilePath(const Utf16* path);
