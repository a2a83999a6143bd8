// The Rumble parameter block with Wine's real named mapping and mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "app/bytes.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"

namespace {

const wchar_t kMappingName[] = L"DUALSHOCK3 RUMBLE PARAMETERS";
const wchar_t kMutexName[] = L"DUALSHOCK3 Rumble Parameters Mutex Object";

ToolState& Fresh() {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    return state;
}

DWORD HandleCount() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

TEST(RumbleBlockWin, FreshBlockThroughTheNamedMapping) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    // What a driver-side process sees when it opens the mapping by name.
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kMappingName);
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    MEMORY_BASIC_INFORMATION region = {};
    ASSERT_NE(VirtualQuery(view, &region, sizeof region), 0u);
    EXPECT_GE(region.RegionSize, kRumbleBlockSize);
    EXPECT_EQ(std::memcmp(view, "PDWN", 4), 0);
    EXPECT_EQ(view[4], 0);
    EXPECT_EQ(view[5], 3);
    EXPECT_EQ(ReadU16LE(view + 6), 15);
    EXPECT_EQ(ReadU32LE(view + 8), 0u);
    EXPECT_EQ(ReadU32LE(view + 12), 1u);
    int zero = 1;
    for (uint32_t i = kRumbleHeaderSize; i < kRumbleBlockSize; ++i)
        zero &= view[i] == 0;
    EXPECT_TRUE(zero);
    // A write through the other view is the tool's block: it is one shared section.
    view[kRumbleHeaderSize] = 'D';
    EXPECT_EQ(state.rumbleBlock[kRumbleHeaderSize], 'D');
    // The mutex is free for other processes once start-up is done.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseRumbleBlock(&state);
    EXPECT_EQ(state.rumbleBlock, nullptr);
    // With the start-up handle closed the names are gone.
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName), nullptr);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kMappingName), nullptr);
}

TEST(RumbleBlockWin, SecondOpenWhileTheMutexExistsFailsAndLeavesNoHandle) {
    ToolState& first = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&first), 1);
    WriteU32LE(first.rumbleBlock + kRumbleSlotMask, 5);
    static ToolState second;
    InitializeToolStateDefaults(&second);
    const DWORD before = HandleCount();
    EXPECT_EQ(OpenRumbleBlock(&second), 0);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(second.rumbleBlock, nullptr);
    EXPECT_EQ(second.rumbleMapping, nullptr);
    EXPECT_EQ(second.rumbleMutex, nullptr);
    // The first owner's block was not zeroed.
    EXPECT_EQ(ReadU32LE(first.rumbleBlock + kRumbleSlotMask), 5u);
    CloseRumbleBlock(&first);
}

// The handle the ending thread leaves open; closed by the test so the name goes with the block.
HANDLE abandonedHandle = nullptr;

DWORD WINAPI HoldAndEnd(LPVOID) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex != nullptr)
        WaitForSingleObject(mutex, INFINITE);
    abandonedHandle = mutex;
    // Ends without releasing: the mutex is abandoned.
    return mutex != nullptr;
}

TEST(RumbleBlockWin, AbandonedMutexCostsExactlyOneFailedAttempt) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    HANDLE thread = CreateThread(nullptr, 0, HoldAndEnd, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD held = 0;
    GetExitCodeThread(thread, &held);
    CloseHandle(thread);
    ASSERT_EQ(held, 1u);
    const DWORD before = HandleCount();
    EXPECT_EQ(LockRumbleBlock(&state), 0);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(SweepRumbleSlots(&state), 1);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    CloseHandle(abandonedHandle);
    CloseRumbleBlock(&state);
}

// Another program made the mapping first at its own size: the view is smaller than the block and
// start-up must refuse it rather than write the header past its end.
TEST(RumbleBlockWin, MappingMadeFirstTooSmallFailsStartUp) {
    struct Case {
        DWORD protect;
        DWORD size;
    };
    const Case cases[] = {{PAGE_READWRITE, 4096}, {PAGE_READWRITE, 16}, {PAGE_READWRITE | SEC_RESERVE, 8192}};
    for (const Case& c : cases) {
        HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, c.protect, 0, c.size, kMappingName);
        ASSERT_NE(first, nullptr);
        ToolState& state = Fresh();
        const DWORD before = HandleCount();
        EXPECT_EQ(OpenRumbleBlock(&state), 0) << c.size;
        EXPECT_EQ(HandleCount(), before) << c.size;
        EXPECT_EQ(state.rumbleBlock, nullptr);
        EXPECT_EQ(state.rumbleMapping, nullptr);
        EXPECT_EQ(state.rumbleMutex, nullptr);
        EXPECT_EQ(SweepRumbleSlots(&state), 0);
        // The mutex was never created, so the next start is not refused as a second owner.
        EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName), nullptr);
        CloseHandle(first);
    }
    // With the small mapping gone, the block is made at its full size.
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    CloseRumbleBlock(&state);
}

struct Holder {
    HANDLE taken = nullptr;
    HANDLE letGo = nullptr;
};

DWORD WINAPI HoldUntilLetGo(LPVOID parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0)
        return 0;
    SetEvent(holder->taken);
    WaitForSingleObject(holder->letGo, 30000);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 1;
}

// A client that keeps the real mutex (another thread stands in for its process): every lock gives
// up within its bound, closes what it opened and leaves the block as it was.
TEST(RumbleBlockWin, LocksGiveUpOnAHeldMutex) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    std::memcpy(RumbleSlot(state.rumbleBlock, 0), "DS3R", 4);
    WriteU32LE(state.rumbleBlock + kRumbleSlotMask, 1);
    state.rumbleSlotAge[0] = kRumbleAgeLimit;
    WriteU32LE(RumbleSlot(state.rumbleBlock, 0) + kSlotRequestSequence, 7);
    Holder holder = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                     CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, HoldUntilLetGo, &holder, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(holder.taken, 10000), WAIT_OBJECT_0);
    const DWORD before = HandleCount();
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(SweepRumbleSlots(&state), 0);
    std::printf("sweep gave up after %llu ms\n", GetTickCount64() - start);
    EXPECT_EQ(state.rumbleSlotAge[0], kRumbleAgeLimit) << "a skipped pass does not age the slot";
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleSlotMask), 1u) << "nor reap it";
    start = GetTickCount64();
    EXPECT_EQ(ToggleRumblePermission(&state), 0);
    std::printf("toggle gave up after %llu ms\n", GetTickCount64() - start);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(HandleCount(), before);
    SetEvent(holder.letGo);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(holder.taken);
    CloseHandle(holder.letGo);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    CloseRumbleBlock(&state);
}

// Every text the tool may show exists in both string tables.
TEST(RumbleBlockWin, NewTextsExistInBothLanguages) {
    const LANGID languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)};
    for (LANGID language : languages) {
        for (UINT id = IDS_DONE; id <= IDS_RUMBLE_BUSY; ++id) {
            // A string table block holds 16 strings, each a length and that many units.
            HRSRC found = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
            ASSERT_NE(found, nullptr) << id << " " << language;
            auto* units = static_cast<const WORD*>(LockResource(LoadResource(nullptr, found)));
            for (UINT skip = 0; skip < id % 16; ++skip)
                units += 1 + *units;
            EXPECT_GT(*units, 0) << id << " " << language;
        }
    }
}

} // namespace
