// Speed of the SF2 converter's building blocks: band-limited resampling,
// the loop filter, and a whole conversion of a small bank built in memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Importer.h"
#include "fontmaker/Sf2Resampler.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/fontmaker/Sf2Builder.h"

namespace {

using brellin::testing::Sf2Builder;

std::vector<float> tone(std::size_t n) {
    auto frames = Sf2Builder::sine(n, 100.227);
    return std::vector<float>(frames.begin(), frames.end());
}

// 44100 Hz to 22050 Hz: the common case of a General MIDI bank.
void BM_ResampleHalf(benchmark::State& state) {
    auto frames = tone(44100);
    brellin::Sf2Signal signal{frames.data(), static_cast<std::int64_t>(frames.size())};
    std::vector<double> out;
    for (auto _ : state) {
        out.clear();
        brellin::sf2Resample(signal, 0.0, 2.0, 22050, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 22050);
}
BENCHMARK(BM_ResampleHalf);

void BM_LowPassLoop(benchmark::State& state) {
    auto frames = tone(44100);
    for (auto _ : state) {
        auto copy = frames;
        brellin::sf2LowPass(copy, 44100.0, 2000.0, 100.0, true, 22050, 22050 + 4410);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * 44100);
}
BENCHMARK(BM_LowPassLoop);

// 16 programs and a kit of 8 keys, each a second of 44100 Hz sound.
void BM_ConvertSmallBank(benchmark::State& state) {
    Sf2Builder b;
    for (int p = 0; p < 16; ++p) {
        b.samples.push_back({"s", Sf2Builder::sine(44100, 100.227), 44100, 69, 0, 22050, 26460});
        b.instruments.push_back({"i",
                                 {{
                                     {53, p},
                                 }}});
        b.instruments.back().zones[0].insert(b.instruments.back().zones[0].begin(), {54, 1});
        b.presets.push_back({"p", static_cast<std::uint16_t>(p), 0, {{{41, p}}}});
    }
    std::vector<brellin::testing::Sf2ZoneGens> kit;
    for (int k = 0; k < 8; ++k) kit.push_back({{43, Sf2Builder::range(36 + k, 36 + k)}, {53, k}});
    b.instruments.push_back({"kit", kit});
    b.presets.push_back({"kit", 0, 128, {{{41, 16}}}});
    std::string file = b.build();
    for (auto _ : state) {
        brellin::Sf2File bank;
        bank.parse(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
        brellin::Sf2Importer importer;
        brellin::SoundFontWriter writer;
        benchmark::DoNotOptimize(importer.convert(bank, writer));
    }
}
BENCHMARK(BM_ConvertSmallBank)->Unit(benchmark::kMillisecond);

}  // namespace
