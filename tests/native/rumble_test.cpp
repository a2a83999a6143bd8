// The Rumble parameter block over the in-memory kernel objects: layout, lock, sweep, toggle, and
// every text the rumble windows show or parse.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/bytes.h"
#include "monitor/monitor.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_port_native.h"
#include "rumble/rumble_text.h"
#include "tests/native/ui_port_fake.h"

namespace {

ToolState& Fresh() {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    MemoryRumbleReset();
    ClearShownErrors();
    return state;
}

void Claim(uint8_t* block, uint32_t i, const char16_t* name) {
    uint8_t* slot = RumbleSlot(block, i);
    std::memcpy(slot, "DS3R", 4);
    for (uint32_t k = 0; name[k] != 0 && k < kRumbleNameUnits; ++k)
        WriteU16LE(slot + kSlotClientName + 2 * k, static_cast<uint16_t>(name[k]));
    WriteU32LE(block + kRumbleSlotMask, ReadU32LE(block + kRumbleSlotMask) | (1u << i));
}

std::u16string Text(const Utf16* s) {
    return std::u16string(s);
}

std::string Ascii(const Utf16* s) {
    std::string out;
    for (; *s != 0; ++s)
        out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    return out;
}

TEST(RumbleBlock, FreshBlockHeaderAndEmptySlots) {
    ToolState& state = Fresh();
    // Whatever an earlier run left in the mapping is overwritten.
    std::memset(MemoryRumbleBytes(), 0xAB, kRumbleBlockSize);
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    const uint8_t* b = state.rumbleBlock;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::memcmp(b, "PDWN", 4), 0);
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(b[5], 3);
    EXPECT_EQ(ReadU16LE(b + 6), 15);
    EXPECT_EQ(ReadU32LE(b + 8), 0u);
    EXPECT_EQ(ReadU32LE(b + 12), 1u);
    for (uint32_t i = kRumbleHeaderSize; i < kRumbleBlockSize; ++i)
        ASSERT_EQ(b[i], 0) << "offset " << i;
    EXPECT_TRUE(ShownErrors().empty());
    // The creator released its initial ownership: the lock is free.
    ASSERT_EQ(LockRumbleBlock(&state), 1);
    UnlockRumbleBlock(&state);
    CloseRumbleBlock(&state);
    EXPECT_EQ(state.rumbleBlock, nullptr);
    EXPECT_EQ(state.rumbleMapping, nullptr);
    EXPECT_EQ(state.rumbleMutex, nullptr);
    EXPECT_EQ(MemoryRumbleOpenHandles(), 0u);
    EXPECT_EQ(MemoryRumbleViewMapped(), 0);
    // Once the start-up handle is closed the mutex is gone and nothing can lock.
    EXPECT_EQ(LockRumbleBlock(&state), 0);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
}

TEST(RumbleBlock, EveryStartUpFailureShowsItsMessageAndUndoesEverything) {
    struct Case {
        int step; // 0 mapping, 1 view, 2 mutex, 3 the mutex exists already
        uint32_t message;
    };
    const Case cases[] = {{0, IDS_CANNOT_CREATE_MAPPING},
                          {1, IDS_CANNOT_MAP_VIEW},
                          {2, IDS_CANNOT_CREATE_MUTEX},
                          {3, IDS_MUTEX_EXISTS}};
    for (const Case& c : cases) {
        ToolState& state = Fresh();
        if (c.step == 0)
            MemoryRumbleFailNext(MemoryRumbleStep::CreateMapping);
        else if (c.step == 1)
            MemoryRumbleFailNext(MemoryRumbleStep::MapView);
        else if (c.step == 2)
            MemoryRumbleFailNext(MemoryRumbleStep::CreateMutex);
        else
            MemoryRumbleOtherProcessCreatesMutex();
        std::memset(MemoryRumbleBytes(), 0x5A, kRumbleBlockSize);
        EXPECT_EQ(OpenRumbleBlock(&state), 0) << c.step;
        EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{c.message}) << c.step;
        EXPECT_EQ(state.rumbleBlock, nullptr);
        EXPECT_EQ(state.rumbleMapping, nullptr);
        EXPECT_EQ(state.rumbleMutex, nullptr);
        EXPECT_EQ(MemoryRumbleOpenHandles(), 0u) << c.step;
        EXPECT_EQ(MemoryRumbleViewMapped(), 0) << c.step;
        // The other owner's block is left as it was.
        EXPECT_EQ(MemoryRumbleBytes()[0], 0x5A) << c.step;
    }
}

TEST(RumbleBlock, AbandonedMutexCostsExactlyOneAttempt) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    MemoryRumbleOwnerDies();
    EXPECT_EQ(LockRumbleBlock(&state), 0);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(MemoryRumbleOpenHandles(), 2u); // mapping and start-up mutex only
    ASSERT_EQ(LockRumbleBlock(&state), 1);
    EXPECT_NE(state.rumbleLock.load(), nullptr);
    // A second attempt while held fails at once instead of waiting.
    EXPECT_EQ(LockRumbleBlock(&state), 0);
    UnlockRumbleBlock(&state);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    UnlockRumbleBlock(&state); // a stray unlock changes nothing
    EXPECT_EQ(MemoryRumbleOpenHandles(), 2u);
    CloseRumbleBlock(&state);
}

TEST(RumbleBlock, SweepTable) {
    uint8_t block[kRumbleBlockSize];
    uint32_t ages[kRumbleSlotCount];

    // An owner that always acknowledges: a heartbeat on the 601st live sweep, then every 600th.
    WriteRumbleHeader(block, 1);
    std::memset(ages, 0, sizeof ages);
    Claim(block, 3, u"ok");
    std::vector<int> beats;
    for (int sweep = 1; sweep <= 1801; ++sweep) {
        uint8_t* slot = RumbleSlot(block, 3);
        WriteU32LE(slot + kSlotAckSequence, ReadU32LE(slot + kSlotRequestSequence));
        const uint32_t before = ReadU32LE(slot + kSlotRequestSequence);
        EXPECT_EQ(SweepRumbleBlock(block, ages), 1u << 3);
        if (ReadU32LE(slot + kSlotRequestSequence) != before)
            beats.push_back(sweep);
    }
    EXPECT_EQ(beats, (std::vector<int>{601, 1201, 1801}));
    EXPECT_EQ(ages[3], 1u);

    // A silent owner: kept while its counter climbs to 600, reaped on the sweep that finds 600.
    WriteRumbleHeader(block, 1);
    std::memset(ages, 0, sizeof ages);
    Claim(block, 31, u"silent");
    WriteU32LE(RumbleSlot(block, 31) + kSlotRequestSequence, 5);
    for (int sweep = 1; sweep <= 600; ++sweep)
        ASSERT_EQ(SweepRumbleBlock(block, ages), 1u << 31) << sweep;
    EXPECT_EQ(ages[31], 600u);
    EXPECT_EQ(SweepRumbleBlock(block, ages), 0u);
    EXPECT_EQ(ReadU32LE(block + kRumbleSlotMask), 0u);
    EXPECT_EQ(ages[31], 1u);
    for (uint32_t k = 0; k < kRumbleSlotSize; ++k)
        ASSERT_EQ(RumbleSlot(block, 31)[k], 0) << k;

    // A set bit without the magic: the bit goes, the bytes and the counter stay.
    WriteRumbleHeader(block, 1);
    std::memset(ages, 0, sizeof ages);
    Claim(block, 7, u"gone");
    std::memcpy(RumbleSlot(block, 7), "DS3X", 4);
    WriteU32LE(RumbleSlot(block, 7) + kSlotGain, 1234);
    ages[7] = 42;
    uint8_t before[kRumbleSlotSize];
    std::memcpy(before, RumbleSlot(block, 7), kRumbleSlotSize);
    EXPECT_EQ(SweepRumbleBlock(block, ages), 0u);
    EXPECT_EQ(std::memcmp(before, RumbleSlot(block, 7), kRumbleSlotSize), 0);
    EXPECT_EQ(ages[7], 42u);

    // A heartbeat at the top of the sequence wraps to 1, never 0.
    WriteRumbleHeader(block, 1);
    std::memset(ages, 0, sizeof ages);
    Claim(block, 0, u"wrap");
    WriteU32LE(RumbleSlot(block, 0) + kSlotRequestSequence, 0xFFFFFFFFu);
    WriteU32LE(RumbleSlot(block, 0) + kSlotAckSequence, 0xFFFFFFFFu);
    ages[0] = 600;
    EXPECT_EQ(SweepRumbleBlock(block, ages), 1u);
    EXPECT_EQ(ReadU32LE(RumbleSlot(block, 0) + kSlotRequestSequence), 1u);
    EXPECT_EQ(ages[0], 1u);

    // A clear bit leaves a magic-bearing slot and its counter alone.
    WriteRumbleHeader(block, 1);
    std::memset(ages, 0, sizeof ages);
    std::memcpy(RumbleSlot(block, 9), "DS3R", 4);
    ages[9] = 600;
    EXPECT_EQ(SweepRumbleBlock(block, ages), 0u);
    EXPECT_EQ(ages[9], 600u);
    EXPECT_EQ(std::memcmp(RumbleSlot(block, 9), "DS3R", 4), 0);
}

TEST(RumbleBlock, PollPassLightsTheRumbleIconOnlyWithALiveClient) {
    ToolState& state = Fresh();
    state.statusBits = 1;
    state.iconValue = 1;
    DecidePass(&state, 1, 0); // no block: no client
    EXPECT_EQ(state.rumbleActive.load(), 0);
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    // With no client the pass leaves the mutex alone: a dead owner's abandonment is still there
    // for the next locker.
    MemoryRumbleOwnerDies();
    for (int i = 0; i < 3; ++i)
        DecidePass(&state, 1, 0);
    EXPECT_EQ(state.rumbleActive.load(), 0);
    EXPECT_EQ(LockRumbleBlock(&state), 0) << "the abandonment was not consumed by a sweep";
    Claim(state.rumbleBlock, 2, u"pad");
    DecidePass(&state, 1, 0);
    EXPECT_EQ(state.rumbleActive.load(), 1);
    EXPECT_EQ(state.rumbleSlotMask, 1u << 2);
    EXPECT_NE(state.statusBits & kIconRumble, 0u);
    EXPECT_EQ(state.rumbleSlotAge[2], 1u);
    // The lock held elsewhere in this process: the sweep is skipped and counts as no client.
    ASSERT_EQ(LockRumbleBlock(&state), 1);
    DecidePass(&state, 1, 0);
    EXPECT_EQ(state.rumbleActive.load(), 0);
    EXPECT_EQ(state.statusBits & kIconRumble, 0u);
    EXPECT_EQ(state.rumbleSlotAge[2], 1u);
    UnlockRumbleBlock(&state);
    CloseRumbleBlock(&state);
}

TEST(RumbleBlock, PermissionToggleTwiceAndWhileLocked) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    EXPECT_EQ(state.rumbleEnabled.load(), 0);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    EXPECT_TRUE(ShownErrors().empty());
    ASSERT_EQ(LockRumbleBlock(&state), 1);
    EXPECT_EQ(ToggleRumblePermission(&state), 0);
    EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{IDS_CANNOT_CHANGE_SETTING});
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    UnlockRumbleBlock(&state);
    CloseRumbleBlock(&state);
    // Without a block the toggle reports the failure too.
    ClearShownErrors();
    EXPECT_EQ(ToggleRumblePermission(&state), 0);
    EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{IDS_CANNOT_CHANGE_SETTING});
}

// The Monitor thread sweeps while the main thread toggles and edits slot 0. The holder record
// must keep the threads from queueing behind each other and from touching each other's handle.
TEST(RumbleBlock, TwoThreadsShareTheHolderRecord) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    Claim(state.rumbleBlock, 0, u"live");
    int inside = 0; // touched only under the lock; a sanitizer sees any overlap
    std::atomic<int> sweeps{0}, toggles{0};
    // Each side goes on until it has had its share of the lock, within a bound.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto busy = [&](const std::atomic<int>& mine) {
        return mine.load() < 3000 && std::chrono::steady_clock::now() < until;
    };
    std::thread monitor([&] {
        while (busy(sweeps)) {
            if (LockRumbleBlock(&state)) {
                ++inside;
                state.rumbleSlotMask = SweepRumbleBlock(state.rumbleBlock, state.rumbleSlotAge);
                --inside;
                UnlockRumbleBlock(&state);
                ++sweeps;
            }
        }
    });
    for (int i = 0; busy(toggles); ++i) {
        if (i % 2 == 0) {
            toggles += ToggleRumblePermission(&state);
        } else if (LockRumbleBlock(&state)) {
            ++inside;
            uint8_t* slot = RumbleSlot(state.rumbleBlock, 0);
            WriteU32LE(slot + kSlotAckSequence, ReadU32LE(slot + kSlotRequestSequence));
            --inside;
            UnlockRumbleBlock(&state);
        }
    }
    monitor.join();
    EXPECT_EQ(inside, 0);
    EXPECT_EQ(sweeps.load(), 3000);
    EXPECT_EQ(toggles.load(), 3000);
    EXPECT_EQ(MemoryRumbleCrossThreadUses(), 0u);
    EXPECT_EQ(MemoryRumbleQueuedWaits(), 0u);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(MemoryRumbleOpenHandles(), 2u);
    // Every toggle that got the lock changed the block and the tool's copy together.
    const uint32_t expected = toggles.load() % 2 == 0 ? 1u : 0u;
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), expected);
    EXPECT_EQ(static_cast<uint32_t>(state.rumbleEnabled.load()), expected);
    CloseRumbleBlock(&state);
}

// Another process made the mapping first, smaller than the block: the header would be written past
// the view's end. Start-up fails with 1008 and leaves that process's bytes and no handle behind.
TEST(RumbleBlock, ViewSmallerThanTheBlockFailsStartUp) {
    struct Case {
        uint32_t size;
        int opens;
    };
    const Case cases[] = {{0, 0}, {16, 0}, {4096, 0}, {kRumbleBlockSize - 1, 0}, {kRumbleBlockSize, 1}};
    for (const Case& c : cases) {
        ToolState& state = Fresh();
        MemoryRumbleOtherProcessCreatesMapping(c.size);
        std::memset(MemoryRumbleBytes(), 0x5A, kRumbleBlockSize);
        EXPECT_EQ(OpenRumbleBlock(&state), c.opens) << c.size;
        if (c.opens) {
            EXPECT_TRUE(ShownErrors().empty());
            CloseRumbleBlock(&state);
            continue;
        }
        EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{IDS_CANNOT_MAP_VIEW}) << c.size;
        EXPECT_EQ(MemoryRumbleBytes()[0], 0x5A) << c.size;
        EXPECT_EQ(state.rumbleBlock, nullptr);
        EXPECT_EQ(MemoryRumbleOpenHandles(), 0u) << c.size;
        EXPECT_EQ(MemoryRumbleViewMapped(), 0) << c.size;
        // Nothing is left to sweep or read.
        EXPECT_EQ(SweepRumbleSlots(&state), 0);
    }
}

// Runs `action` on a thread of its own and reports whether it returned within `seconds`; an
// unbounded wait fails the test instead of hanging it (the holder then lets go so it can end).
template <typename Action> int ReturnsWithin(int seconds, Action action) {
    std::atomic<int> done{0};
    std::thread worker([&] {
        action();
        done = 1;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int inTime = done.load();
    if (!inTime)
        MemoryRumbleOtherProcessLetsGo();
    worker.join();
    return inTime;
}

// A client stopped in a debugger keeps the mutex. The Monitor thread's pass gives up its sweep
// quickly and counts nothing against any slot; a user's action gives up within about a second,
// says the driver is busy and changes nothing. Once the client lets go everything works again.
TEST(RumbleBlock, AClientKeepingTheMutexStallsNothing) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    state.statusBits = 1;
    state.iconValue = 1;
    // A silent client at the end of its period: a counted pass would reap it.
    Claim(state.rumbleBlock, 4, u"silent");
    WriteU32LE(RumbleSlot(state.rumbleBlock, 4) + kSlotRequestSequence, 9);
    state.rumbleSlotAge[4] = kRumbleAgeLimit;
    MemoryRumbleOtherProcessHolds();

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReturnsWithin(5, [&] {
        for (int pass = 0; pass < 5; ++pass)
            DecidePass(&state, 1, 0);
    })) << "the poll pass waited for the holder";
    std::printf("five passes with the mutex held took %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_EQ(state.rumbleSlotAge[4], kRumbleAgeLimit) << "a skipped pass is no pass for the slot's age";
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleSlotMask), 1u << 4) << "nor a reason to reap it";
    EXPECT_EQ(std::memcmp(RumbleSlot(state.rumbleBlock, 4), "DS3R", 4), 0);
    EXPECT_EQ(state.rumbleActive.load(), 0);

    int toggled = -1;
    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReturnsWithin(5, [&] { toggled = ToggleRumblePermission(&state); }))
        << "the permission item waited for the holder";
    std::printf("the permission item gave up after %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_EQ(toggled, 0);
    EXPECT_EQ(ShownErrors(), std::vector<uint32_t>{IDS_RUMBLE_BUSY});
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(MemoryRumbleOpenHandles(), 2u);

    MemoryRumbleOtherProcessLetsGo();
    ClearShownErrors();
    DecidePass(&state, 1, 0);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleSlotMask), 0u) << "the first pass that counts reaps it";
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    EXPECT_TRUE(ShownErrors().empty());
    CloseRumbleBlock(&state);
}

// A user's action that meets this process's other thread in its sweep, or in its short wait on a
// held mutex, waits for it instead of failing: the dialog's values are not thrown away because
// the Monitor thread happened to be inside the lock.
TEST(RumbleBlock, UserActionWaitsOutTheMonitorThread) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    MemoryRumbleOtherProcessHolds();
    std::atomic<int> started{0};
    std::thread monitor([&] {
        started = 1;
        if (LockRumbleBlock(&state))
            UnlockRumbleBlock(&state);
    });
    while (!started.load())
        std::this_thread::yield();
    // The Monitor thread is now in its short wait; the client lets go a moment later.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::thread client([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        MemoryRumbleOtherProcessLetsGo();
    });
    EXPECT_EQ(LockRumbleBlockForUser(&state, nullptr, IDS_CANNOT_CHANGE_SETTING), 1);
    UnlockRumbleBlock(&state);
    monitor.join();
    client.join();
    EXPECT_TRUE(ShownErrors().empty());

    // The other thread inside the lock for a while (a sweep on a slow machine).
    std::atomic<int> inside{0};
    std::thread sweeping([&] {
        inside = LockRumbleBlock(&state) ? 1 : 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        UnlockRumbleBlock(&state);
    });
    while (!inside.load())
        std::this_thread::yield();
    ASSERT_EQ(inside.load(), 1);
    EXPECT_EQ(ToggleRumblePermission(&state), 1) << "failed at once instead of waiting";
    sweeping.join();
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    EXPECT_EQ(MemoryRumbleCrossThreadUses(), 0u);

    // A client died holding the mutex: the attempt that meets the abandonment gives the mutex
    // back, and the user's action takes it on its next try instead of failing.
    MemoryRumbleOwnerDies();
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_TRUE(ShownErrors().empty());
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    CloseRumbleBlock(&state);
}

TEST(RumbleText, TypedTextToHundredths) {
    struct Case {
        const char16_t* text;
        int32_t value;
    };
    const Case cases[] = {
        {u"0.29", 28},
        {u"1.15", 114},
        {u"150", 15000},
        {u"-1", -100},
        {u"  12.5x", 1250},
        {u"abc", 0},
        {u"", 0},
        {u"1e12", INT32_MAX},
        {u"-1e12", INT32_MIN},
        {u"inf", INT32_MAX},
        {u"-infinity", INT32_MIN},
        {u"nan", 0},
        {u"-nan", 0},
        {u"1e400", INT32_MAX},
        {u"-1e400", INT32_MIN},
        {u"12345678901234567890123456789012345678901234567890", INT32_MAX},
        {u"21474836.47", INT32_MAX},
        {u"21474836.46", 2147483646},
        {u"-21474836.48", INT32_MIN},
        {u"-21474836.47", -2147483647},
        // Only the first 31 units count.
        {u"                               5", 0},
        {u"                              5", 500},
        // Full-width digits are not a number.
        {u"\xFF11", 0},
        {u"2\xFF10", 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RumbleValueFromText(reinterpret_cast<const Utf16*>(c.text)), c.value)
            << Ascii(reinterpret_cast<const Utf16*>(c.text));
}

TEST(RumbleText, AcceptRulesTable) {
    struct Case {
        const char16_t* typed[5];
        uint32_t stored[5]; // gain, small, low, mid, high
    };
    const Case cases[] = {
        {{u"1", u"20", u"10", u"10", u"50"}, {100, 2000, 2001, 2002, 5000}},
        {{u"150", u"0", u"0", u"0", u"0"}, {10000, 0, 1, 2, 3}},
        {{u"-1", u"x", u"y", u"z", u"w"}, {10000, 0, 1, 2, 3}},
        {{u"0.29", u"250", u"300", u"400", u"500"}, {28, 25000, 30000, 40000, 50000}},
        {{u"1e12", u"1e12", u"1", u"2", u"3"}, {10000, 0x7FFFFFFF, 0x80000000, 0x80000001, 0x80000002}},
        // A small threshold at the top of the range: the rest saturate rather than wrap to 0.
        {{u"1", u"-0.01", u"5", u"6", u"7"}, {100, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},
        {{u"nan", u"nan", u"nan", u"nan", u"nan"}, {0, 0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        uint8_t slot[kRumbleSlotSize] = {};
        WriteU32LE(slot + kSlotRequestSequence, 41);
        int32_t values[5];
        for (int i = 0; i < 5; ++i)
            values[i] = RumbleValueFromText(reinterpret_cast<const Utf16*>(c.typed[i]));
        AcceptRumbleValues(slot, 1, values);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ReadU32LE(slot + kRumbleEditFields[i]), c.stored[i])
                << Ascii(reinterpret_cast<const Utf16*>(c.typed[0])) << " field " << i;
        EXPECT_EQ(ReadU32LE(slot + kSlotEnable), 1u);
        EXPECT_EQ(ReadU32LE(slot + kSlotRequestSequence), 42u);
    }
    uint8_t slot[kRumbleSlotSize] = {};
    WriteU32LE(slot + kSlotEnable, 1);
    WriteU32LE(slot + kSlotRequestSequence, 0xFFFFFFFFu);
    const int32_t zero[5] = {};
    AcceptRumbleValues(slot, 0, zero);
    EXPECT_EQ(ReadU32LE(slot + kSlotEnable), 0u);
    EXPECT_EQ(ReadU32LE(slot + kSlotRequestSequence), 1u);
}

TEST(RumbleText, FieldsAsShown) {
    const std::pair<uint32_t, const char*> cases[] = {{100, "1.00"},     {2500, "25.00"},
                                                      {0, "0.00"},       {5, "0.05"},
                                                      {10000, "100.00"}, {0xFFFFFFFFu, "42949672.96"}};
    for (const auto& c : cases) {
        Utf16 out[kRumbleFieldUnits];
        FormatRumbleField(out, kRumbleFieldUnits, c.first);
        EXPECT_EQ(Ascii(out), c.second) << c.first;
    }
}

// The tool's side of the block the force-feedback driver shares, written out by hand: what the
// tool writes lands on these bytes, and these bytes are what it reads.
TEST(RumbleText, TheToolsSideOfTheBlockByteForByte) {
    static uint8_t block[kRumbleBlockSize];
    std::memset(block, 0xAB, sizeof block);
    WriteRumbleHeader(block, 1);
    const uint8_t header[16] = {'P', 'D', 'W', 'N', 0, 3, 15, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(block, header, sizeof header), 0);
    // Slot 0 as a client left it: version 2.7 type 1 build 0x0309, the name "Ab", request and
    // answer 41, then the row: enable 1, gain 100, thresholds 1000, 2000, 3000, 4000.
    uint8_t want[169] = {'D', 'S', '3', 'R', 2, 7, 1, 0x09, 0x03, 'A', 0, 'b', 0};
    const uint8_t tail[32] = {41,   0,    0, 0, 41,   0,    0, 0, 1,    0,    0, 0, 100,  0,    0, 0,
                              0xE8, 0x03, 0, 0, 0xD0, 0x07, 0, 0, 0xB8, 0x0B, 0, 0, 0xA0, 0x0F, 0, 0};
    std::memcpy(want + 137, tail, sizeof tail);
    uint8_t* slot = block + 16;
    std::memcpy(slot, want, sizeof want);
    block[8] = 0x01;
    Utf16 text[kRumbleTitleUnits];
    FormatFfDriverVersion(block, text, kFfVersionUnits);
    EXPECT_EQ(Ascii(text), " 2. 7. 1.0777");
    FormatRumbleTitle(text, kRumbleTitleUnits, u"T", slot);
    EXPECT_EQ(Ascii(text), "T - Ab");
    // The five edit controls show the gain and the four thresholds, in that order.
    const uint32_t shownAt[5] = {149, 153, 157, 161, 165};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(kRumbleEditFields[i], shownAt[i]) << "edit control " << i;

    // The dialog's accept: enable off, gain 1.5, thresholds 20, 10, 10, 50 (kept rising).
    const int32_t values[5] = {150, 2000, 1000, 1000, 5000};
    AcceptRumbleValues(slot, 0, values);
    const uint8_t row[24] = {0,    0,    0, 0, 150,  0,    0, 0, 0xD0, 0x07, 0, 0,
                             0xD1, 0x07, 0, 0, 0xD2, 0x07, 0, 0, 0x88, 0x13, 0, 0};
    want[137] = 42; // the request the client answers
    std::memcpy(want + 145, row, sizeof row);
    EXPECT_EQ(std::memcmp(slot, want, sizeof want), 0);
}

TEST(RumbleText, TitleTakesAtMostTheNameField) {
    const Utf16* base = u"Rumble Setting";
    // The slot ends right after its name field, so reading on would leave the allocation.
    std::vector<uint8_t> slot(kSlotClientName + 2 * kRumbleNameUnits, 0);
    Utf16 title[kRumbleTitleUnits];
    FormatRumbleTitle(title, kRumbleTitleUnits, base, slot.data());
    EXPECT_EQ(Text(title), u"Rumble Setting - ");

    const char16_t name[] = u"FFSim pad \x632F\x52D5";
    for (int k = 0; name[k] != 0; ++k)
        WriteU16LE(slot.data() + kSlotClientName + 2 * k, static_cast<uint16_t>(name[k]));
    FormatRumbleTitle(title, kRumbleTitleUnits, base, slot.data());
    EXPECT_EQ(Text(title), std::u16string(u"Rumble Setting - ") + name);

    for (uint32_t k = 0; k < kRumbleNameUnits; ++k)
        WriteU16LE(slot.data() + kSlotClientName + 2 * k, static_cast<uint16_t>(u'A' + k % 26));
    FormatRumbleTitle(title, kRumbleTitleUnits, base, slot.data());
    const std::u16string t = Text(title);
    EXPECT_EQ(t.size(), 17u + kRumbleNameUnits);
    EXPECT_EQ(t.substr(17, 3), u"ABC");

    // A small buffer cuts the title and keeps it terminated.
    Utf16 small[10];
    FormatRumbleTitle(small, 10, base, slot.data());
    EXPECT_EQ(Text(small), u"Rumble Se");
}

TEST(RumbleText, DumpLines) {
    uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    const uint8_t odd[] = {0x00, 0x41, 0x7F, 0x80, 0xFF};
    std::memcpy(block + 32, odd, sizeof odd);
    std::vector<Utf16> text(kRumbleDumpUnits);
    const size_t n = FormatRumbleDump(block, text.data(), text.size());
    EXPECT_EQ(n, 339u * 68u);
    EXPECT_EQ(text[n], 0);
    const std::u16string all(text.data(), n);
    EXPECT_EQ(all.substr(0, 68), u"50 44 57 4E 00 03 0F 00 00 00 00 00 01 00 00 00  PDWN............ \r\n");
    EXPECT_EQ(all.substr(2 * 68, 68),
              u"00 41 7F 80 FF 00 00 00 00 00 00 00 00 00 00 00  .A.............. \r\n");
    for (size_t line = 0; line < 339; ++line) {
        ASSERT_EQ(all.substr(line * 68 + 66, 2), u"\r\n") << line;
        ASSERT_EQ(all.substr(line * 68 + 47, 2), u"  ") << line;
    }
    // A smaller buffer is filled and terminated, never overrun.
    std::vector<Utf16> small(100, 0x7777);
    EXPECT_EQ(FormatRumbleDump(block, small.data(), 99), 98u);
    EXPECT_EQ(small[98], 0);
    EXPECT_EQ(small[99], 0x7777);
}

TEST(RumbleText, ForceFeedbackVersion) {
    uint8_t block[kRumbleBlockSize];
    WriteRumbleHeader(block, 1);
    Utf16 out[kFfVersionUnits];
    FormatFfDriverVersion(nullptr, out, kFfVersionUnits);
    EXPECT_EQ(Ascii(out), "-.--.--.----");
    uint8_t* slot = RumbleSlot(block, 0);
    slot[kSlotVersionMajor] = 1;
    slot[kSlotVersionBuild] = 3;
    FormatFfDriverVersion(block, out, kFfVersionUnits);
    EXPECT_EQ(Ascii(out), "-.--.--.----"); // slot 0 free
    Claim(block, 0, u"x");
    FormatFfDriverVersion(block, out, kFfVersionUnits);
    EXPECT_EQ(Ascii(out), " 1. 0. 0.0003");
    slot[kSlotVersionMajor] = 255;
    slot[kSlotVersionMinor] = 12;
    slot[kSlotVersionType] = 255;
    WriteU16LE(slot + kSlotVersionBuild, 65535);
    FormatFfDriverVersion(block, out, kFfVersionUnits);
    EXPECT_EQ(Ascii(out), "255.12.255.65535");
}

// The migration ends in "Done" only when the copy ran to its end and every row was written; rows
// that were not written are counted below the failure text.
TEST(RumbleText, MigrationResult) {
    struct Case {
        int ranToEnd;
        uint32_t notWritten;
        const char16_t* shown;
    };
    const Case cases[] = {
        {1, 0, u"Done"},
        {0, 0, u"Failed"},
        {1, 2, u"Failed\r\n2 value(s) could not be written."},
        {0, 1, u"Failed\r\n1 value(s) could not be written."},
        {1, 4294967295u, u"Failed\r\n4294967295 value(s) could not be written."},
    };
    for (const Case& c : cases) {
        Utf16 out[kMigrationResultUnits];
        FormatMigrationResult(out, kMigrationResultUnits, c.ranToEnd, c.notWritten, u"Done", u"Failed",
                              u"%u value(s) could not be written.");
        EXPECT_EQ(Text(out), std::u16string(c.shown)) << c.ranToEnd << " " << c.notWritten;
    }
    // The count may stand anywhere in the text (Japanese puts it first); a small buffer is cut.
    Utf16 out[kMigrationResultUnits];
    FormatMigrationResult(out, kMigrationResultUnits, 1, 3, u"Done", u"F", u"\x5024 %u \x4EF6");
    EXPECT_EQ(Text(out), u"F\r\n\x5024 3 \x4EF6");
    Utf16 small[6];
    FormatMigrationResult(small, 6, 1, 12345, u"Done", u"F", u"n=%u!");
    EXPECT_EQ(Text(small), u"F\r\nn=");
    FormatMigrationResult(small, 6, 1, 7, u"Done", u"Fail", u"%u");
    EXPECT_EQ(Text(small), u"Fail\r");
}

} // namespace
