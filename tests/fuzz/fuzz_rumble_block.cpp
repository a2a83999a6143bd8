// The shared block is written by other processes: any bytes through the slot sweep (many sweeps,
// so ages reach the reaping limit), the setting dialog's title and fields, the viewer's dump, the
// force-feedback version text, the permission toggle and the accept step.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "rumble/rumble_block.h"
#include "rumble/rumble_port_native.h"
#include "rumble/rumble_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ToolState state;
    MemoryRumbleReset();
    InitializeToolStateDefaults(&state);
    if (!OpenRumbleBlock(&state))
        return 0;
    // The first byte scales the number of sweeps (0..1275, past the 600-sweep limit).
    const uint32_t sweeps = size > 0 ? data[0] * 5u : 0;
    const uint8_t* bytes = size > 0 ? data + 1 : data;
    const size_t count = size > 0 ? size - 1 : 0;
    std::memcpy(state.rumbleBlock, bytes, count < kRumbleBlockSize ? count : kRumbleBlockSize);
    SweepRumbleSlots(&state);
    // The same bytes in an allocation of exactly the block's size, so that a read or write past
    // its end is caught: the in-memory mapping has fields of its own behind the block.
    std::vector<uint8_t> block(state.rumbleBlock, state.rumbleBlock + kRumbleBlockSize);
    std::vector<uint32_t> ages(kRumbleSlotCount);
    for (uint32_t i = 0; i < sweeps; ++i)
        SweepRumbleBlock(block.data(), ages.data());

    // Exactly sized heap buffers, so a write one past the end is caught.
    const uint8_t* slot0 = RumbleSlot(block.data(), 0);
    for (size_t capacity : {size_t{1}, size_t{8}, kRumbleTitleUnits}) {
        std::vector<Utf16> title(capacity);
        FormatRumbleTitle(title.data(), capacity, u"Rumble Setting", slot0);
    }
    std::vector<Utf16> field(kRumbleFieldUnits);
    for (uint32_t f : kRumbleEditFields) {
        uint32_t value;
        std::memcpy(&value, slot0 + f, sizeof value);
        FormatRumbleField(field.data(), field.size(), value);
    }
    std::vector<Utf16> version(kFfVersionUnits);
    FormatFfDriverVersion(block.data(), version.data(), version.size());
    for (size_t capacity : {size_t{1}, size_t{100}, kRumbleDumpUnits}) {
        std::vector<Utf16> dump(capacity);
        FormatRumbleDump(block.data(), dump.data(), capacity);
    }
    const int32_t values[5] = {static_cast<int32_t>(sweeps), -1, 0x7FFFFFFF, -0x7FFFFFFF - 1, 5};
    // The last slot's row ends where the block does.
    AcceptRumbleValues(RumbleSlot(block.data(), kRumbleSlotCount - 1), sweeps & 1, values);
    SweepRumbleBlock(block.data(), ages.data());
    ToggleRumblePermission(&state);
    SweepRumbleSlots(&state);
    CloseRumbleBlock(&state);
    return 0;
}
