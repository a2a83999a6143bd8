// The Rumble parameter block shared with the force-feedback driver: its byte layout, the lock
// with its single holder record, start-up and shut-down, the slot sweep and the permission toggle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/tool_state.h"

constexpr uint32_t kRumbleBlockSize = 5424;
constexpr uint32_t kRumbleHeaderSize = 16;
constexpr uint32_t kRumbleSlotSize = 169;
constexpr uint32_t kRumbleNameUnits = 64;
constexpr uint32_t kRumbleAgeLimit = 600;
// The longest the Monitor thread's sweep waits for a client that holds the mutex before it leaves
// the block to the next pass: polling and the icon must go on while a client is stopped.
constexpr uint32_t kRumbleSweepWaitMs = 20;
// The longest a user's action waits for the lock, this process's other thread included, before it
// tells the user that the force-feedback driver is busy.
constexpr uint32_t kRumbleUserWaitMs = 1000;

// Header, block offsets.
constexpr uint32_t kRumbleBlockMagic = 0;
constexpr uint32_t kRumbleCreatorMajor = 4;
constexpr uint32_t kRumbleCreatorMinor = 5;
constexpr uint32_t kRumbleCreatorBuild = 6;
constexpr uint32_t kRumbleSlotMask = 8;
constexpr uint32_t kRumbleEnableField = 12;

// Slot fields, offsets within a slot.
constexpr uint32_t kSlotMagic = 0;
constexpr uint32_t kSlotVersionMajor = 4;
constexpr uint32_t kSlotVersionMinor = 5;
constexpr uint32_t kSlotVersionType = 6;
constexpr uint32_t kSlotVersionBuild = 7;
constexpr uint32_t kSlotClientName = 9;
constexpr uint32_t kSlotRequestSequence = 137;
constexpr uint32_t kSlotAckSequence = 141;
constexpr uint32_t kSlotEnable = 145;
constexpr uint32_t kSlotGain = 149;
constexpr uint32_t kSlotSmallThreshold = 153;
constexpr uint32_t kSlotLargeLow = 157;
constexpr uint32_t kSlotLargeMid = 161;
constexpr uint32_t kSlotLargeHigh = 165;
constexpr uint32_t kSlotRowSize = 24;

static_assert(kRumbleHeaderSize + kRumbleSlotCount * kRumbleSlotSize == kRumbleBlockSize, "block layout");
static_assert(kSlotLargeHigh + 4 == kRumbleSlotSize, "slot layout");

inline uint8_t* RumbleSlot(uint8_t* block, uint32_t i) {
    return block + kRumbleHeaderSize + kRumbleSlotSize * i;
}
inline const uint8_t* RumbleSlot(const uint8_t* block, uint32_t i) {
    return block + kRumbleHeaderSize + kRumbleSlotSize * i;
}

// The successor of a sequence number, never 0.
uint32_t NextRumbleSequence(uint32_t sequence);
// Zeroes the block and writes the creator's header with the given switch.
void WriteRumbleHeader(uint8_t* block, uint32_t rumbleEnable);
// A slot holds valid data when its magic is "DS3R".
int RumbleSlotValid(const uint8_t* slot);
// One sweep over the 32 slots of a locked block: heartbeats, reaping, clearing of bits whose
// slot lost its magic. Returns the slot mask it leaves.
uint32_t SweepRumbleBlock(uint8_t* block, uint32_t ages[kRumbleSlotCount]);

// Creates the mapping, its view and the mutex, and writes the header; shows 1009, 1008 (also for
// a view smaller than the block), 1007 or 1006 and undoes everything on failure.
int OpenRumbleBlock(ToolState* state);
void CloseRumbleBlock(ToolState* state);
// Fails at once when this process already holds the lock or is waiting for it, and after
// kRumbleSweepWaitMs when another process holds the mutex.
int LockRumbleBlock(ToolState* state);
// The lock for a user's action: waits up to kRumbleUserWaitMs in all, also for this process's
// other thread, and tries again after a mutex left abandoned. On failure it shows, owned by
// `owner`, the busy text when another process kept the mutex, otherwise `failureText`.
int LockRumbleBlockForUser(ToolState* state, WindowHandle owner, uint32_t failureText);
void UnlockRumbleBlock(ToolState* state);
// The poll pass's sweep; 0 when the lock could not be taken.
int SweepRumbleSlots(ToolState* state);
// The permission item: flips RumbleEnable and rumbleEnabled together, or shows 1011.
int ToggleRumblePermission(ToolState* state);
