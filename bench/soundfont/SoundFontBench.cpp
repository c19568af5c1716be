// Loading the default sound font, and building it.
#include <benchmark/benchmark.h>

#include "fontmaker/GeneralMidiFont.h"
#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"

namespace {

void LoadSmallBrfFromFile(benchmark::State& state) {
    brellin::SoundFont font;
    for (auto _ : state) {
        bool loaded = font.loadSoundFont(BRELLIN_BINARY_DIR "/small.brf");
        if (!loaded) state.SkipWithError("small.brf does not load");
        benchmark::DoNotOptimize(font.sampleBlock.get());
    }
}
BENCHMARK(LoadSmallBrfFromFile)->Unit(benchmark::kMillisecond);

void LoadSmallBrfFromMemory(benchmark::State& state) {
    brellin::SoundFontWriter writer;
    brellin::buildGeneralMidiFont(writer);
    const std::vector<std::uint8_t> bytes = writer.bytes();
    brellin::SoundFont font;
    for (auto _ : state) {
        font.loadSoundFontFromMemory(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(font.sampleBlock.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(static_cast<std::size_t>(state.iterations()) * bytes.size()));
}
BENCHMARK(LoadSmallBrfFromMemory)->Unit(benchmark::kMillisecond);

void BuildGeneralMidiFont(benchmark::State& state) {
    for (auto _ : state) {
        brellin::SoundFontWriter writer;
        brellin::buildGeneralMidiFont(writer);
        benchmark::DoNotOptimize(writer.samples.data());
    }
}
BENCHMARK(BuildGeneralMidiFont)->Unit(benchmark::kMillisecond);

}  // namespace
