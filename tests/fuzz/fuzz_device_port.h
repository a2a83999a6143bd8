#pragma once
#include <cstddef>
#include <cstdint>

// What the next feature-report reads answer: the first 256 bytes of `data` (zero-padded), or a
// failed read when `fail` is set.
void SetFuzzAnswer(const uint8_t* data, size_t size, int fail);
