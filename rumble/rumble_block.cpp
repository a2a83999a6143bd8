#include "rumble/rumble_block.h"

#include <chrono>
#include <cstring>
#include <utility>
#include <thread>

#include "core/bytes.h"
#include "core/ui_port.h"
#include "resources/resource.h"
#include "rumble/rumble_port.h"

namespace {

// Marks the holder record while its thread opens and waits: the other thread then fails at once
// and can never release or close a handle that is not its own.
uint8_t claimMarker;
KernelHandle ClaimMarker() {
    return &claimMarker;
}

enum class LockAttempt { Held, HeldHere, Busy, Abandoned, Failed };

LockAttempt TryLockRumbleBlock(ToolState* state, uint32_t waitMs) {
    KernelHandle expected = nullptr;
    if (!state->rumbleLock.compare_exchange_strong(expected, ClaimMarker()))
        return LockAttempt::HeldHere;
    KernelHandle mutex = RumblePortOpenMutex();
    if (mutex == nullptr) {
        state->rumbleLock.store(nullptr);
        return LockAttempt::Failed;
    }
    const RumbleWaitResult result = RumblePortWait(mutex, waitMs);
    if (result == RumbleWaitResult::Signalled) {
        state->rumbleLock.store(mutex);
        return LockAttempt::Held;
    }
    // An abandoned wait hands us the mutex: give it back so that the next attempt finds it free.
    if (result == RumbleWaitResult::Abandoned)
        RumblePortRelease(mutex);
    RumblePortClose(mutex);
    state->rumbleLock.store(nullptr);
    if (result == RumbleWaitResult::TimedOut)
        return LockAttempt::Busy;
    return result == RumbleWaitResult::Abandoned ? LockAttempt::Abandoned : LockAttempt::Failed;
}

} // namespace

uint32_t NextRumbleSequence(uint32_t sequence) {
    return sequence == 0xFFFFFFFFu ? 1u : sequence + 1u;
}

void WriteRumbleHeader(uint8_t* block, uint32_t rumbleEnable) {
    std::memset(block, 0, kRumbleBlockSize);
    std::memcpy(block + kRumbleBlockMagic, "PDWN", 4);
    block[kRumbleCreatorMajor] = 0;
    block[kRumbleCreatorMinor] = 3;
    WriteU16LE(block + kRumbleCreatorBuild, 15);
    WriteU32LE(block + kRumbleSlotMask, 0);
    WriteU32LE(block + kRumbleEnableField, rumbleEnable);
}

int RumbleSlotValid(const uint8_t* slot) {
    return std::memcmp(slot + kSlotMagic, "DS3R", 4) == 0;
}

uint32_t SweepRumbleBlock(uint8_t* block, uint32_t ages[kRumbleSlotCount]) {
    uint32_t mask = ReadU32LE(block + kRumbleSlotMask);
    for (uint32_t i = 0; i < kRumbleSlotCount; ++i) {
        const uint32_t bit = 1u << i;
        if ((mask & bit) == 0)
            continue;
        uint8_t* slot = RumbleSlot(block, i);
        if (!RumbleSlotValid(slot)) {
            mask &= ~bit;
            continue;
        }
        if (ages[i] < kRumbleAgeLimit) {
            ++ages[i];
            continue;
        }
        const uint32_t request = ReadU32LE(slot + kSlotRequestSequence);
        if (request == ReadU32LE(slot + kSlotAckSequence)) {
            WriteU32LE(slot + kSlotRequestSequence, NextRumbleSequence(request));
        } else {
            std::memset(slot, 0, kRumbleSlotSize);
            mask &= ~bit;
        }
        ages[i] = 1;
    }
    WriteU32LE(block + kRumbleSlotMask, mask);
    return mask;
}

namespace {

// Undo steps of the opening, in the spirit of std::lock_guard: a handle or view is given back
// when the scope ends, unless the opening kept it.
struct PortHandle {
    KernelHandle handle;
    explicit PortHandle(KernelHandle made) : handle(made) {}
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    ~PortHandle() {
        if (handle != nullptr)
            RumblePortClose(handle);
    }
    KernelHandle Keep() { return std::exchange(handle, nullptr); }
};

struct PortView {
    uint8_t* view;
    explicit PortView(uint8_t* mapped) : view(mapped) {}
    PortView(const PortView&) = delete;
    PortView& operator=(const PortView&) = delete;
    ~PortView() {
        if (view != nullptr)
            RumblePortUnmapView(view);
    }
    uint8_t* Keep() { return std::exchange(view, nullptr); }
};

} // namespace

int OpenRumbleBlock(ToolState* state) {
    PortHandle mapping(RumblePortCreateMapping(kRumbleBlockSize));
    if (mapping.handle == nullptr) {
        ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_MAPPING);
        return 0;
    }
    size_t usable = 0;
    PortView view(RumblePortMapView(mapping.handle, &usable));
    // A mapping of this name made first by another process keeps its own size: a smaller view
    // cannot hold the block, and writing the header would run past its end.
    if (view.view != nullptr && usable < kRumbleBlockSize)
        RumblePortUnmapView(view.Keep());
    if (view.view == nullptr) {
        ShowErrorMessage(nullptr, IDS_CANNOT_MAP_VIEW);
        return 0;
    }
    int existed = 0;
    PortHandle mutex(RumblePortCreateMutex(&existed));
    if (mutex.handle == nullptr) {
        ShowErrorMessage(nullptr, IDS_CANNOT_CREATE_MUTEX);
        return 0;
    }
    if (existed) {
        ShowErrorMessage(nullptr, IDS_MUTEX_EXISTS);
        RumblePortRelease(mutex.handle);
        return 0;
    }
    WriteRumbleHeader(view.view, static_cast<uint32_t>(state->rumbleEnabled.load()));
    RumblePortRelease(mutex.handle);
    state->rumbleMapping = mapping.Keep();
    state->rumbleMutex = mutex.Keep();
    state->rumbleBlock = view.Keep();
    return 1;
}

void CloseRumbleBlock(ToolState* state) {
    if (state->rumbleMapping != nullptr) {
        if (state->rumbleBlock != nullptr) {
            RumblePortUnmapView(state->rumbleBlock);
            state->rumbleBlock = nullptr;
        }
        RumblePortClose(state->rumbleMapping);
        state->rumbleMapping = nullptr;
    }
    if (state->rumbleMutex != nullptr) {
        RumblePortRelease(state->rumbleMutex);
        RumblePortClose(state->rumbleMutex);
        state->rumbleMutex = nullptr;
    }
}

int LockRumbleBlock(ToolState* state) {
    return TryLockRumbleBlock(state, kRumbleSweepWaitMs) == LockAttempt::Held ? 1 : 0;
}

int LockRumbleBlockForUser(ToolState* state, WindowHandle owner, uint32_t failureText) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRumbleUserWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const uint32_t leftMs = left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0u;
        const LockAttempt attempt = TryLockRumbleBlock(state, leftMs);
        if (attempt == LockAttempt::Held)
            return 1;
        // The Monitor thread holds the record at most for its own short wait and one sweep.
        if (attempt == LockAttempt::HeldHere && leftMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // A client died holding the mutex: that attempt gave it back, the next one finds it free.
        if (attempt == LockAttempt::Abandoned && leftMs > 0)
            continue;
        ShowErrorMessage(owner, attempt == LockAttempt::Busy ? IDS_RUMBLE_BUSY : failureText);
        return 0;
    }
}

void UnlockRumbleBlock(ToolState* state) {
    KernelHandle held = state->rumbleLock.load();
    if (held == nullptr || held == ClaimMarker())
        return;
    // Keep the record marked until the handle is closed, so no one claims it in between.
    if (!state->rumbleLock.compare_exchange_strong(held, ClaimMarker()))
        return;
    RumblePortRelease(held);
    RumblePortClose(held);
    state->rumbleLock.store(nullptr);
}

int SweepRumbleSlots(ToolState* state) {
    if (state->rumbleBlock == nullptr)
        return 0;
    // With no client registered there is nothing to age, ask or reap, and taking the named mutex
    // costs four kernel calls every pass. Only this thread writes the mask in this process; a
    // client that registers meanwhile is swept on the next pass.
    if (ReadU32LE(state->rumbleBlock + kRumbleSlotMask) == 0) {
        state->rumbleSlotMask = 0;
        return 1;
    }
    if (!LockRumbleBlock(state))
        return 0;
    state->rumbleSlotMask = SweepRumbleBlock(state->rumbleBlock, state->rumbleSlotAge);
    UnlockRumbleBlock(state);
    return 1;
}

int ToggleRumblePermission(ToolState* state) {
    const int32_t next = state->rumbleEnabled.load() == 0 ? 1 : 0;
    if (state->rumbleBlock == nullptr) {
        ShowErrorMessage(nullptr, IDS_CANNOT_CHANGE_SETTING);
        return 0;
    }
    if (!LockRumbleBlockForUser(state, nullptr, IDS_CANNOT_CHANGE_SETTING))
        return 0;
    WriteU32LE(state->rumbleBlock + kRumbleEnableField, static_cast<uint32_t>(next));
    UnlockRumbleBlock(state);
    state->rumbleEnabled = next;
    return 1;
}
