// The driver side of the Rumble parameter block as the simulated force-feedback client plays it:
// claiming a slot, taking the parameters, answering requests and heartbeats, and the faults a
// test asks for. Every call runs with the block's mutex held by the caller.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"

// The block as a force-feedback client reads it, written from the block's description and not
// from the tool's own header: a layout mistake in the tool is then not made here as well, and the
// tests that pit the two against each other see it. Offsets within the block, then the slot.
constexpr uint32_t kFfSlotCount = 32;
constexpr uint32_t kFfHeaderSize = 16;
constexpr uint32_t kFfSlotSize = 169;
constexpr uint32_t kFfSlotMaskAt = 8;
constexpr uint32_t kFfRumbleEnableAt = 12;
constexpr uint32_t kFfMagicAt = 0;
constexpr uint32_t kFfVersionMajorAt = 4;
constexpr uint32_t kFfVersionMinorAt = 5;
constexpr uint32_t kFfVersionTypeAt = 6;
constexpr uint32_t kFfVersionBuildAt = 7;
constexpr uint32_t kFfNameAt = 9;
constexpr uint32_t kFfNameUnits = 64;
constexpr uint32_t kFfRequestAt = 137;
constexpr uint32_t kFfAckAt = 141;
constexpr uint32_t kFfRowAt = 145; // Enable, Gain and the four thresholds, a u32 each
constexpr uint32_t kFfRowSize = 24;

inline uint8_t* FfSlot(uint8_t* block, uint32_t i) {
    return block + kFfHeaderSize + kFfSlotSize * i;
}

struct FfClient {
    int used = 0;
    int acking = 1;
    uint8_t row[kFfRowSize] = {};
};

struct FfClients {
    FfClient slots[kFfSlotCount];
    int enableSeen = 0;
    uint32_t enable = 0;
};

// Claims the lowest slot whose bit is clear; -1 when all 32 are taken. The name is cut to 63 units.
int FfClaim(uint8_t* block, FfClients* clients, const Utf16* name, uint8_t major, uint8_t minor, uint8_t type,
            uint16_t build);
// Gives a slot back: its bytes zeroed and its bit cleared. 0 when this process does not hold it.
int FfRelease(uint8_t* block, FfClients* clients, uint32_t slot);
// Clears the slot's magic but leaves its bit set, as a client that crashed half-way would.
int FfClearMagic(uint8_t* block, FfClients* clients, uint32_t slot);
// Fills all 64 units of ClientName with `fill`, leaving no terminator.
int FfWriteUnterminatedName(uint8_t* block, FfClients* clients, uint32_t slot, Utf16 fill);
int FfSetAcking(FfClients* clients, uint32_t slot, int acking);
// One look at the block: logs every change (rows, the global switch, lost slots) and answers the
// tool's requests of the slots that acknowledge.
void FfStep(uint8_t* block, FfClients* clients, std::vector<std::string>* lines);
