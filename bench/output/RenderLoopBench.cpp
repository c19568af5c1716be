// CPU used by the render loop while it plays silence in real time through the
// null device: the whole process's CPU time over 10 s of wall time, as a
// percentage of one core ("cpu_percent"). Nothing else runs in the process.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "output/SoundOutput.h"
#include "output/devices/NullDevice.h"

namespace brellin {
namespace {

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void RenderSilence(benchmark::State& state) {
    const auto bits = static_cast<std::uint32_t>(state.range(0));
    const auto rate = static_cast<std::uint32_t>(state.range(1));
    const auto channels = static_cast<std::uint32_t>(state.range(2));
    for (auto _ : state) {
        SoundOutput output;
        output.setDevice(std::make_unique<NullDevice>());
        if (!output.open(bits, rate, channels)) {
            state.SkipWithError("open failed");
            return;
        }
        const std::uint32_t clockBefore = output.clock.load();
        const double cpuBefore = processSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double cpu = processSeconds() - cpuBefore;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const std::uint32_t rendered = output.clock.load() - clockBefore;
        output.close();
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        // Play clock per wall second: 4 ms per 44/11025-s slice gives 1002.3.
        state.counters["clock_ms_per_s"] = rendered / wall;
    }
}

BENCHMARK(RenderSilence)
    ->Args({8, 11025, 1})
    ->Args({16, 44100, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace brellin
