// Values per second through each conversion routine, for one slice of the
// largest (352 values: 44100 Hz stereo) and the smallest (44 values) count.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "output/Converters.h"

namespace brellin {
namespace {

void ConverterThroughput(benchmark::State& state, ConverterRoutine routine, unsigned bits) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    // A mixed signal of a few voices: mostly inside the range, sometimes clipping.
    std::vector<std::int32_t> accumulator(static_cast<std::size_t>(count));
    std::mt19937 random(7);
    const std::int32_t full = bits == 8 ? 128 : 32768;
    std::uniform_int_distribution<std::int32_t> value(-full - full / 4, full + full / 4);
    for (auto& v : accumulator) v = value(random);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * 2);
    ConversionState effects;
    effects.reverbLast = 2047;
    for (auto _ : state) {
        benchmark::DoNotOptimize(routine(effects, out.data(), accumulator.data(), count));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

[[maybe_unused]] const bool registered = [] {
    int n = 0;
    const ConverterEntry* table = converterTable(&n);
    for (int i = 0; i < n; ++i) {
        benchmark::RegisterBenchmark((std::string("Converter/") + table[i].name).c_str(), ConverterThroughput,
                                     table[i].routine, table[i].bitsPerSample)
            ->Arg(352)
            ->Arg(44);
    }
    return true;
}();

}  // namespace
}  // namespace brellin
