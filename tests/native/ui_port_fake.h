// The native suite's ShowErrorMessage: it records the string ids instead of showing a box.
#pragma once
#include <cstdint>
#include <vector>

// Ids shown since the last ClearShownErrors, in order.
std::vector<uint32_t> ShownErrors();
void ClearShownErrors();
