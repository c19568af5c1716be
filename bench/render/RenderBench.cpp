// Benchmarks of the song side of rendering, over the songs of Debian's
// openttd-openmsx (installed by ./test.sh).
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiFileInfo.h"
#include "output/AudioDevice.h"
#include "output/SoundOutput.h"
#include "output/devices/AudioDevices.h"
#include "player/Sequencer.h"
#include "synth/Synthesizer.h"

using namespace brellin;

namespace {

std::vector<std::string> songs() {
    std::vector<std::string> found;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/games/openttd/baseset/openmsx", failure)) {
        if (entry.path().extension() == ".mid") found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Takes every message and does nothing with it; the clock is advanced by hand.
class DiscardingSynthesizer : public SynthesizerInterface {
public:
    bool sendMidi(const std::uint8_t*, std::uint32_t) override {
        ++messages;
        return true;
    }
    bool reset() override { return true; }
    std::uint32_t outputTime() override { return clock; }
    SliceClientHandle addSliceClient(ClockCallback, void*, SliceOrder) override { return 0; }
    void removeSliceClient(SliceClientHandle) override {}
    void setSystemVolume(std::int32_t) override {}
    void setUserVolume(std::int32_t) override {}
    std::uint32_t clock = 0;
    std::uint64_t messages = 0;
};

void BM_ScanCorpus(benchmark::State& state) {
    std::vector<std::string> files = songs();
    if (files.empty()) {
        state.SkipWithError("openttd-openmsx is not installed");
        return;
    }
    std::uint64_t music = 0;
    for (auto _ : state) {
        music = 0;
        for (const std::string& file : files) {
            MidiFileInfo info;
            scanMidiFile(file.c_str(), info);
            music += info.playingTime;
            benchmark::DoNotOptimize(info.playingTime);
        }
    }
    state.counters["songs"] = static_cast<double>(files.size());
    state.counters["music_s"] = static_cast<double>(music) / 1000.0;
}
BENCHMARK(BM_ScanCorpus)->Unit(benchmark::kMillisecond);

void BM_SequencerTicksCorpus(benchmark::State& state) {
    std::vector<std::string> files = songs();
    if (files.empty()) {
        state.SkipWithError("openttd-openmsx is not installed");
        return;
    }
    std::uint64_t slices = 0, messages = 0;
    for (auto _ : state) {
        slices = messages = 0;
        for (const std::string& file : files) {
            DiscardingSynthesizer synth;
            Sequencer sequencer(&synth);
            sequencer.load(file.c_str());
            sequencer.rewind();
            sequencer.startClock();
            while (sequencer.playing) {
                synth.clock += 4;
                sequencer.tick();
                ++slices;
            }
            messages += synth.messages;
        }
    }
    state.counters["slices"] = static_cast<double>(slices);
    state.counters["messages"] = static_cast<double>(messages);
    state.counters["ns_per_slice"] = benchmark::Counter(
        static_cast<double>(slices), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SequencerTicksCorpus)->Unit(benchmark::kMillisecond);

// A seek to the end of the longest song (by its playing time): the tick that
// takes the seek replays the whole song without sound into a Synthesizer
// with the small font and 32 voices, as the render thread would in one slice.
void BM_SeekToEndOfLongestSong(benchmark::State& state) {
    std::string longest;
    std::uint32_t length = 0;
    for (const std::string& file : songs()) {
        MidiFileInfo info;
        if (scanMidiFile(file.c_str(), info) && info.playingTime > length) {
            length = info.playingTime;
            longest = file;
        }
    }
    SoundOutput output;  // never opened: the voices are there, nothing renders
    Synthesizer synth;
    if (longest.empty() || !synth.loadSoundFont(BRELLIN_BINARY_DIR "/small.brf") || !synth.createVoices(output, 32)) {
        state.SkipWithError("openttd-openmsx is not installed, or the engine did not start");
        return;
    }
    Sequencer sequencer(&synth);
    sequencer.load(longest.c_str());
    for (auto _ : state) {
        state.PauseTiming();
        sequencer.rewind();
        sequencer.startClock();
        state.ResumeTiming();
        sequencer.seek(length - 4);
        sequencer.tick();
        benchmark::DoNotOptimize(sequencer.position());
    }
    state.SetLabel(std::filesystem::path(longest).filename().string() + ", " + std::to_string(length / 60000) + ":" +
                   std::to_string(length / 10000 % 6) + std::to_string(length / 1000 % 10));
    state.counters["position_ms"] = sequencer.position();
}
BENCHMARK(BM_SeekToEndOfLongestSong)->Unit(benchmark::kMicrosecond);

// Measures the render thread's CPU time from inside a slice client of its own
// (called before every slice, after the Sequencer's tick).
struct ThreadClock {
    static void callback(void* argument) noexcept {
        auto* self = static_cast<ThreadClock*>(argument);
        timespec now;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        std::uint64_t ns =
            static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
        std::uint64_t expected = 0;
        self->first.compare_exchange_strong(expected, ns);
        self->last = ns;
        ++self->slices;
    }
    std::atomic<std::uint64_t> first{0}, last{0}, slices{0};
};

void BM_RealtimeRenderThreadShare(benchmark::State& state) {
    std::vector<std::string> files = songs();
    if (files.empty()) {
        state.SkipWithError("openttd-openmsx is not installed");
        return;
    }
    // The song with the most note-ons.
    std::string busiest = "/usr/share/games/openttd/baseset/openmsx/ttsong_iii_imuh3.mid";
    if (!std::filesystem::exists(busiest)) busiest = files.front();
    const std::uint32_t bits = static_cast<std::uint32_t>(state.range(0));
    const std::uint32_t rate = static_cast<std::uint32_t>(state.range(1));
    for (auto _ : state) {
        SoundOutput output;
        output.setDevice(createAudioDevice("null"));
        Synthesizer synth;
        if (!output.open(bits, rate, 2) || !synth.loadSoundFont(BRELLIN_BINARY_DIR "/small.brf") ||
            !synth.createVoices(output, 32)) {
            state.SkipWithError("engine did not start");
            return;
        }
        ThreadClock measure;
        output.addSliceClient(&ThreadClock::callback, &measure, SliceOrder::Watch);
        Sequencer sequencer(&synth);
        sequencer.load(busiest.c_str());
        auto start = std::chrono::steady_clock::now();
        sequencer.play();
        std::this_thread::sleep_for(std::chrono::seconds(20));
        std::uint64_t cpu = measure.last - measure.first;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["render_thread_cpu_percent"] = 100.0 * static_cast<double>(cpu) / 1e9 / wall;
        state.counters["slices"] = static_cast<double>(measure.slices.load());
        sequencer.stop();
        output.close();
        synth.destroyVoices();
    }
}
BENCHMARK(BM_RealtimeRenderThreadShare)
    ->Args({16, 22050})
    ->Args({16, 44100})
    ->Args({8, 22050})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
