// Voice mixing cost.
//
// Mix<width, channels, kind>: one sounding voice mixed slice after slice
// (176 frames, the 44100-Hz slice); the "frame" counter is the time per
// output frame, that is per active voice per frame. Pitched voices loop a
// 256-byte sample with the tremolo running; "moving" keeps the envelope
// rate non-zero, "held" holds the level. Fixed-step voices play a long
// one-shot sample at step 1.0.
//
// FullPool: 32 sounding voices at 44100 Hz 16-bit stereo. "Slice" does what
// the render loop does per slice (zero the accumulator, mix every voice,
// convert to PCM); "audio_second" is the CPU time per second of audio.
// "RenderLoop" runs the real SoundOutput into a WAV file on /dev/null and
// reports the process CPU time per second of audio rendered.
//
// BRELLIN_MIX_PLAIN=1 in the environment measures the routines without their
// AVX2 runs.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "SynthTestSupport.h"
#include "output/Converters.h"
#include "output/SoundOutput.h"
#include "output/devices/WavFileDevice.h"
#include "synth/MixRoutines.h"
#include "synth/SynthTables.h"
#include "synth/Synthesizer.h"
#include "tests/output/OutputTestSupport.h"

namespace brellin {
namespace {

constexpr std::uint32_t SLICE_FRAMES = 176;  // one slice at 44100 Hz

std::vector<std::int8_t> loopedSine() {
    std::vector<std::int8_t> bytes;
    for (int period = 0; period < 4; ++period) {
        const auto cycle = test::sineCycle(64, 100);
        bytes.insert(bytes.end(), cycle.begin(), cycle.end());
    }
    bytes.push_back(bytes[0]);  // guard byte: the loop start value
    return bytes;
}

// Honours BRELLIN_MIX_PLAIN; called at the start of every benchmark (after
// static initialisation, which sets up the routines' own choice).
void choosePath() {
    if (std::getenv("BRELLIN_MIX_PLAIN") != nullptr) setWideMixing(false);
}

void perFrameCounter(benchmark::State& state) {
    state.counters["frame"] = benchmark::Counter(
        static_cast<double>(SLICE_FRAMES), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <unsigned Width, unsigned Channels>
void MixPitched(benchmark::State& state) {
    choosePath();
    const bool moving = state.range(0) != 0;
    const std::vector<std::int8_t> sample = loopedSine();
    InstrumentRecord r{};
    r.attackRate = 400000;
    r.attackLevel = 8000000;
    r.decay1Rate = moving ? 2 : 0;  // a slow decay that never ends during the run
    r.decay1Level = 0;
    r.releaseRate = 400;
    r.lfoDelay = 0;
    r.lfoDepth = 0x80000;
    r.lfoDepthStep = 0x10000;
    r.lfoRateShift = 10;
    r.cycleLength = 64;
    r.loopStart = 0;
    r.loopEnd = 256;
    Voice voice;
    voice.configure(44100, Width, Channels);
    voice.setInstrument(r, sample.data());
    voice.setVolume(100);
    voice.setPan(40);
    voice.noteOn(noteFrequencies[60]);
    std::vector<std::int32_t> acc(SLICE_FRAMES * 2);
    const MixRoutine routine = voice.mix.load();
    for (auto _ : state) {
        routine(&voice, acc.data(), SLICE_FRAMES);
        benchmark::DoNotOptimize(acc.data());
        if (!voice.isActive()) state.SkipWithError("the voice ended");
    }
    perFrameCounter(state);
}

template <unsigned Width, unsigned Channels>
void MixFixedStep(benchmark::State& state) {
    choosePath();
    std::vector<std::int8_t> sample(1 << 20);
    for (std::size_t i = 0; i < sample.size(); ++i) sample[i] = static_cast<std::int8_t>(i * 37);
    InstrumentRecord r{};
    r.fixedStep = 1;
    r.lfoDepthStep = 0x20000;  // 1.0 at 44100 Hz once halved
    r.lfoDepth = 0x20000;
    r.cycleLength = static_cast<std::uint32_t>(sample.size() - 1);
    r.loopEnd = r.cycleLength;
    Voice voice;
    voice.configure(44100, Width, Channels);
    voice.setInstrument(r, sample.data());
    voice.setVolume(100);
    voice.setPan(40);
    voice.noteOn(noteFrequencies[60]);
    std::vector<std::int32_t> acc(SLICE_FRAMES * 2);
    const MixRoutine routine = voice.mix.load();
    for (auto _ : state) {
        routine(&voice, acc.data(), SLICE_FRAMES);
        benchmark::DoNotOptimize(acc.data());
        if (!voice.isActive()) voice.noteOn(noteFrequencies[60]);  // once per 6000 slices
    }
    perFrameCounter(state);
}

BENCHMARK_TEMPLATE(MixPitched, 8, 1)->ArgName("moving")->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(MixPitched, 8, 2)->ArgName("moving")->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(MixPitched, 16, 1)->ArgName("moving")->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(MixPitched, 16, 2)->ArgName("moving")->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(MixFixedStep, 8, 1);
BENCHMARK_TEMPLATE(MixFixedStep, 8, 2);
BENCHMARK_TEMPLATE(MixFixedStep, 16, 1);
BENCHMARK_TEMPLATE(MixFixedStep, 16, 2);

// ------------------------------------------------------------- full pool

bool loadDefaultFont(Synthesizer& synth) {
    if (synth.loadSoundFont(BRELLIN_BINARY_DIR "/small.brf")) return true;
    const std::vector<std::uint8_t> bytes = test::smallTestFont().bytes();
    return synth.loadSoundFontFromMemory(bytes.data(), bytes.size());
}

// 32 held notes on 15 melodic channels with different programs, and any
// voice that has ended is started again, so that all 32 keep sounding.
void holdNotes(Synthesizer& synth) {
    for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) {
        if (synth.voice(i).isActive()) continue;
        const std::uint8_t channel = static_cast<std::uint8_t>(i % 15 < 9 ? i % 15 : i % 15 + 1);
        const std::uint8_t program = static_cast<std::uint8_t>((i * 11) % 96);  // pianos … synth pads
        const std::uint8_t key = static_cast<std::uint8_t>(48 + (i * 7) % 36);
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(0xC0 | channel), program,
                                      static_cast<std::uint8_t>(0x90 | channel), key, 100};
        synth.sendMidi(bytes, sizeof bytes);
    }
}

std::uint32_t sounding(Synthesizer& synth) {
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) count += synth.voice(i).isActive() ? 1u : 0u;
    return count;
}

void FullPoolSlice(benchmark::State& state) {
    choosePath();
    SoundOutput output;
    WavFileDevice::Options options;
    options.startHeld = true;  // the render thread stays idle; this loop does its work
    output.setDevice(std::make_unique<WavFileDevice>("/dev/null", options));
    if (!output.open(16, 44100, 2)) {
        state.SkipWithError("cannot open the output");
        return;
    }
    Synthesizer synth;
    if (!loadDefaultFont(synth) || !synth.createVoices(output, 32)) {
        state.SkipWithError("no sound font");
        return;
    }
    synth.setUserVolume(128);
    holdNotes(synth);
    std::vector<Voice*> voices;
    for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) voices.push_back(&synth.voice(i));
    std::int32_t acc[SoundOutput::MAX_ACCUMULATOR];
    std::vector<std::uint8_t> pcm(SLICE_FRAMES * 4);
    ConversionState conversion;
    const ConverterRoutine convert = selectConverter(16, false, false, 2);
    std::uint64_t soundingTotal = 0;
    for (auto _ : state) {
        std::memset(acc, 0, sizeof acc);
        for (Voice* voice : voices) voice->mix.load(std::memory_order_acquire)(voice, acc, SLICE_FRAMES);
        convert(conversion, pcm.data(), acc, SLICE_FRAMES * 2);
        benchmark::DoNotOptimize(pcm.data());
        soundingTotal += sounding(synth);
        holdNotes(synth);
    }
    state.counters["sounding"] =
        static_cast<double>(soundingTotal) /
        static_cast<double>(std::max<std::uint64_t>(1, static_cast<std::uint64_t>(state.iterations())));
    state.counters["audio_second"] =
        benchmark::Counter(static_cast<double>(SLICE_FRAMES) / 44100.0,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    synth.destroyVoices();
    output.close();
}
BENCHMARK(FullPoolSlice);

// The work of one JACK period at 48000 Hz: a pulling device asks the output
// for 64 (128, 256) frames of 16-bit stereo with the reverb and the filter
// on, while 32 voices sound. The time per iteration is what Brellin adds to
// the server's cycle (1333 µs at 64 frames).
void PulledPeriod(benchmark::State& state) {
    choosePath();
    SoundOutput output;
    auto owned = std::make_unique<testing::PullingDevice>();
    testing::PullingDevice* device = owned.get();
    output.setDevice(std::move(owned));
    Synthesizer synth;
    if (!output.open(16, 48000, 2) || !loadDefaultFont(synth) || !synth.createVoices(output, 32)) {
        state.SkipWithError("cannot open the output or load the font");
        return;
    }
    output.reverbOn = true;
    output.lowPassOn = true;
    output.chooseConverter();
    synth.setUserVolume(128);
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::uint8_t> pcm(frames * 4);
    for (auto _ : state) {
        holdNotes(synth);
        device->renderer->renderFrames(pcm.data(), frames);
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["sounding"] = sounding(synth);
    synth.destroyVoices();
    output.close();
}
BENCHMARK(PulledPeriod)->ArgName("frames")->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Keeper {
    Synthesizer* synth;
    std::atomic<std::uint32_t> slices{0};
    static void tick(void* argument) {
        Keeper& keeper = *static_cast<Keeper*>(argument);
        holdNotes(*keeper.synth);
        keeper.slices.fetch_add(1, std::memory_order_relaxed);
    }
};

// The real render loop with 32 sounding voices, as fast as it goes, for 10 s
// of audio per iteration; manual time is the process CPU time.
void FullPoolRenderLoop(benchmark::State& state) {
    choosePath();
    constexpr std::uint32_t slicesPerRun = 10 * 44100 / SLICE_FRAMES;
    for (auto _ : state) {
        SoundOutput output;
        WavFileDevice::Options options;
        options.startHeld = true;
        auto owned = std::make_unique<WavFileDevice>("/dev/null", options);
        WavFileDevice* device = owned.get();
        output.setDevice(std::move(owned));
        Synthesizer synth;
        if (!output.open(16, 44100, 2) || !loadDefaultFont(synth) || !synth.createVoices(output, 32)) {
            state.SkipWithError("cannot set up");
            return;
        }
        synth.setUserVolume(128);
        Keeper keeper{&synth};
        const SliceClientHandle tickClient = synth.addSliceClient(&Keeper::tick, &keeper, SliceOrder::Song);
        const double start = processCpuSeconds();
        device->release();
        while (keeper.slices.load() < slicesPerRun) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double used = processCpuSeconds() - start;
        const std::uint32_t rendered = keeper.slices.load();
        synth.removeSliceClient(tickClient);
        output.close();
        synth.destroyVoices();
        state.SetIterationTime(used * slicesPerRun / rendered);
    }
    state.counters["audio_second"] =
        benchmark::Counter(10.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(FullPoolRenderLoop)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brellin
