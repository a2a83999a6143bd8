// What a user types into the rumble dialog's edit controls: any text through the number rules
// and the accept step, which keeps the gain capped and each threshold above the one before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Five texts separated by NUL units, as the five edit controls hold them.
    std::vector<Utf16> units(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2)
        units[i / 2] = static_cast<Utf16>(data[i] | (data[i + 1] << 8));
    int32_t values[5] = {};
    size_t start = 0;
    for (int field = 0; field < 5; ++field) {
        if (start >= units.size())
            break;
        values[field] = RumbleValueFromText(&units[start]);
        while (start < units.size() && units[start] != 0)
            ++start;
        ++start;
    }
    uint8_t slot[kRumbleSlotSize] = {};
    AcceptRumbleValues(slot, size & 1, values);
    const uint32_t gain = ReadU32LE(slot + kSlotGain);
    const uint32_t small = ReadU32LE(slot + kSlotSmallThreshold);
    const uint32_t low = ReadU32LE(slot + kSlotLargeLow);
    const uint32_t mid = ReadU32LE(slot + kSlotLargeMid);
    const uint32_t high = ReadU32LE(slot + kSlotLargeHigh);
    // The rules hold for every input, not only the ones a test thought of.
    const auto above = [](uint32_t value, uint32_t previous) {
        return value > previous || value == 0xFFFFFFFFu;
    };
    if (gain > kRumbleGainLimit || !above(low, small) || !above(mid, low) || !above(high, mid))
        std::abort();
    return 0;
}
