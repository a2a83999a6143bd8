// Figures for the Monitor thread's pass and animation step. Budget: no heap allocation in a pass,
// and a pass's own work (without the two report exchanges) well under 2 microseconds.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/ui_port.h"
#include "bench/bench_allocations.h"
#include "driver/discovery.h"
#include "monitor/battery_log.h"
#include "monitor/monitor.h"
#include "sim/sim_driver.h"

namespace {
std::atomic<uint64_t> allocations{0};
} // namespace

uint64_t BenchAllocations() {
    return allocations.load();
}

void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

// The benchmark's own platform: nothing is shown or written.
void ModifyTrayIcon(ToolState*) {}
void ShowErrorMessage(WindowHandle, uint32_t) {}
void GetLocalClock(uint32_t* h, uint32_t* m, uint32_t* s) {
    *h = *m = *s = 0;
}
void AppendBatteryLog(KernelHandle, const uint8_t*, uint32_t) {}

namespace {

ToolState& StateWithBothDevices() {
    static ToolState state;
    SimReset();
    InitializeToolStateDefaults(&state);
    SimAddDevice(SimKind::DriverUsb);
    SimAddDevice(SimKind::DriverBluetooth);
    DiscoverDevices(&state);
    state.statusBits = 1;
    state.iconValue = 1;
    state.iconAnimationSpeed = 0;
    return state;
}

void BM_PassOwnWork(benchmark::State& run) {
    ToolState& state = StateWithBothDevices();
    const uint64_t before = allocations.load();
    for (auto _ : run) {
        DecidePass(&state, 1, 1);
        benchmark::DoNotOptimize(state.statusBits);
    }
    run.counters["allocs_per_pass"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                         benchmark::Counter::kAvgIterations);
    CloseDevices(&state);
}
BENCHMARK(BM_PassOwnWork);

void BM_AnimationStep(benchmark::State& run) {
    ToolState& state = StateWithBothDevices();
    state.statusBits = 1 | 2 | 4 | 8;
    SetIconMode(&state, 1);
    const uint64_t before = allocations.load();
    for (auto _ : run) {
        AnimationStep(&state);
        benchmark::DoNotOptimize(state.iconValue.load());
    }
    run.counters["allocs_per_step"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                         benchmark::Counter::kAvgIterations);
    CloseDevices(&state);
}
BENCHMARK(BM_AnimationStep);

// The whole pass with the simulator's exchanges, for scale: the simulator's logging dominates.
void BM_PassWithSimulatedExchanges(benchmark::State& run) {
    ToolState& state = StateWithBothDevices();
    int passes = 0;
    for (auto _ : run) {
        PollPass(&state);
        if (++passes % 1000 == 0)
            SimClearLog();
    }
    CloseDevices(&state);
}
BENCHMARK(BM_PassWithSimulatedExchanges)->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
