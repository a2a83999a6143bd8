// Figures for the Monitor thread's pass and animation step. Budget: no heap allocation in a pass,
// and a pass's own work (without the two report exchanges) well under 2 microseconds.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <new>
#include <thread>

#include "core/ui_port.h"
#include "bench/bench_allocations.h"
#include "driver/discovery.h"
#include "monitor/battery_log.h"
#include "monitor/monitor.h"
#include "monitor/tray_tip.h"
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
void LoadTrayTipTexts(TrayTipTexts*) {}
void SendTrayTip(ToolState*, const Utf16*) {}
void TellConnectionChange(ToolState*, int, int) {}
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

// The thread's pace: milliseconds between passes with two controllers (the interval, 20 here) and
// with nothing to watch (kIdlePassMs). Printed only: the suite's tests hold no clock bound.
void BM_ThreadPassSpacing(benchmark::State& run) {
    using Clock = std::chrono::steady_clock;
    ToolState& state = StateWithBothDevices();
    CloseDevices(&state);
    state.threadInterval = 20;
    state.running = 1;
    auto spacing = [&state](std::chrono::milliseconds span) {
        const uint32_t from = state.monitorPasses;
        const auto start = Clock::now();
        std::this_thread::sleep_for(span);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const uint32_t passes = state.monitorPasses - from;
        return passes ? ms / passes : ms;
    };
    for (auto _ : run) {
        std::thread thread(MonitorThreadMain, &state);
        spacing(std::chrono::milliseconds(100));
        run.counters["busy_ms_per_pass"] = spacing(std::chrono::milliseconds(500));
        SimReset();
        CloseDevices(&state);
        WakeMonitor(&state);
        spacing(std::chrono::milliseconds(100));
        run.counters["idle_ms_per_pass"] = spacing(std::chrono::milliseconds(3000));
        state.running = 0;
        WakeMonitor(&state);
        thread.join();
    }
}
BENCHMARK(BM_ThreadPassSpacing)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
