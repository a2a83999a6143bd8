// Figures for the rumble sweep: one sweep of 32 live slots under the lock, over the in-memory
// kernel objects. Target: no heap allocation. Printed, never asserted.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstring>

#include "core/bytes.h"
#include "bench/bench_allocations.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_port_native.h"

namespace {

void BM_SweepOf32LiveSlots(benchmark::State& run) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    MemoryRumbleReset();
    if (!OpenRumbleBlock(&state)) {
        run.SkipWithError("no block");
        return;
    }
    for (uint32_t i = 0; i < kRumbleSlotCount; ++i)
        std::memcpy(RumbleSlot(state.rumbleBlock, i), "DS3R", 4);
    WriteU32LE(state.rumbleBlock + kRumbleSlotMask, 0xFFFFFFFFu);
    const uint64_t before = BenchAllocations();
    for (auto _ : run) {
        // Every owner acknowledges at once, so the slots stay live however long the run.
        for (uint32_t i = 0; i < kRumbleSlotCount; ++i) {
            uint8_t* slot = RumbleSlot(state.rumbleBlock, i);
            WriteU32LE(slot + kSlotAckSequence, ReadU32LE(slot + kSlotRequestSequence));
        }
        benchmark::DoNotOptimize(SweepRumbleSlots(&state));
    }
    run.counters["allocs_per_sweep"] = benchmark::Counter(static_cast<double>(BenchAllocations() - before),
                                                          benchmark::Counter::kAvgIterations);
    run.counters["live_slots"] = static_cast<double>(std::popcount(state.rumbleSlotMask));
    CloseRumbleBlock(&state);
}
BENCHMARK(BM_SweepOf32LiveSlots);

} // namespace
