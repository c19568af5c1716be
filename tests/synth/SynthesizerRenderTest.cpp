// End to end: MIDI bytes through the Synthesizer and the real SoundOutput
// into a WAV file, judged the way a listener would: the pitches of a C major
// scale, drums that sound, no clipping, and the same bytes on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "output/SoundOutput.h"
#include "output/devices/WavFileDevice.h"
#include "synth/Synthesizer.h"
#include "tests/TempDir.h"

namespace brellin {
namespace {

constexpr std::uint32_t RATE = 44100;
constexpr std::uint32_t FRAMES_PER_SLICE = RATE * 44 / 11025;  // 176

// A tiny sequencer: MIDI messages due at given slices, sent from the clock
// callback on the render thread, and the slice at which the file ends.
struct Score {
    struct Event {
        std::uint32_t slice;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Event> events;
    std::size_t next = 0;
    std::uint32_t slice = 0;
    std::uint32_t endSlice = 0;
    Synthesizer* synth = nullptr;
    WavFileDevice* device = nullptr;

    void at(std::uint32_t when, std::vector<std::uint8_t> bytes) { events.push_back({when, std::move(bytes)}); }

    static void tick(void* argument) {
        Score& score = *static_cast<Score*>(argument);
        while (score.next < score.events.size() && score.events[score.next].slice <= score.slice) {
            const auto& bytes = score.events[score.next].bytes;
            score.synth->sendMidi(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            ++score.next;
        }
        if (score.slice == score.endSlice) score.device->finish();
        ++score.slice;
    }
};

constexpr int SCALE[] = {60, 62, 64, 65, 67, 69, 71, 72};
constexpr std::uint32_t NOTE_START = 10;     // slice of the first note
constexpr std::uint32_t NOTE_SPACING = 130;  // slices from note to note (0.52 s)
constexpr std::uint32_t NOTE_LENGTH = 110;   // slices a key is held
constexpr std::uint32_t DRUM_START = NOTE_START + 8 * NOTE_SPACING + 60;
constexpr std::uint32_t DRUM_SPACING = 60;  // an eighth note of 0.24 s
constexpr int DRUM_HITS = 16;

int drumKey(int hit) {
    if (hit % 4 == 0) return 36;  // kick
    if (hit % 4 == 2) return 38;  // snare
    return 42;                    // closed hi-hat
}

Score makeScore() {
    Score score;
    score.at(0, {0xB0, 7, 120, 0xB9, 7, 120});
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t start = NOTE_START + static_cast<unsigned>(i) * NOTE_SPACING;
        const auto key = static_cast<std::uint8_t>(SCALE[i]);
        score.at(start, {0x90, key, 100});
        score.at(start + NOTE_LENGTH, {0x80, key, 0});
    }
    for (int hit = 0; hit < DRUM_HITS; ++hit) {
        const std::uint32_t start = DRUM_START + static_cast<unsigned>(hit) * DRUM_SPACING;
        const auto key = static_cast<std::uint8_t>(drumKey(hit));
        score.at(start, {0x99, key, 110});
        score.at(start + 20, {0x89, key, 0});
    }
    score.endSlice = DRUM_START + DRUM_HITS * DRUM_SPACING + 100;
    return score;
}

std::string fontPath() { return std::string(BRELLIN_BINARY_DIR) + "/small.brf"; }

// Renders the score at 44100 Hz, 16-bit stereo, with 32 voices; returns the WAV bytes.
std::string render(const std::string& path) {
    SoundOutput output;
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.startHeld = true;
    auto owned = std::make_unique<WavFileDevice>(path, options);
    WavFileDevice* device = owned.get();
    output.setDevice(std::move(owned));
    Synthesizer synth;
    EXPECT_TRUE(synth.loadSoundFont(fontPath().c_str())) << fontPath();
    if (!output.open(16, RATE, 2)) {
        ADD_FAILURE() << "open: " << output.deviceErrorText();
        return {};
    }
    EXPECT_TRUE(synth.createVoices(output, 32));
    synth.setUserVolume(128);
    Score score = makeScore();
    score.synth = &synth;
    score.device = device;
    const SliceClientHandle tickClient = synth.addSliceClient(&Score::tick, &score, SliceOrder::Song);
    device->release();
    EXPECT_TRUE(device->waitEnded(120000));
    synth.removeSliceClient(tickClient);
    output.close();  // finalizes the file and ends the render thread
    synth.destroyVoices();
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The PCM of a 16-bit stereo WAV file as left/right frames.
struct Pcm {
    std::vector<std::int16_t> left, right;
};

Pcm parse(const std::string& wav) {
    Pcm pcm;
    std::size_t at = 12;
    while (at + 8 <= wav.size()) {
        std::uint32_t size;
        std::memcpy(&size, wav.data() + at + 4, 4);
        if (wav.compare(at, 4, "data") == 0) {
            const std::size_t end = std::min(wav.size(), at + 8 + size);
            for (std::size_t i = at + 8; i + 4 <= end; i += 4) {
                std::int16_t l, r;
                std::memcpy(&l, wav.data() + i, 2);
                std::memcpy(&r, wav.data() + i + 2, 2);
                pcm.left.push_back(l);
                pcm.right.push_back(r);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return pcm;
}

// Normalised autocorrelation of x[from … from + length) at lag `lag`.
double correlation(const std::vector<double>& x, std::size_t from, std::size_t length, std::size_t lag) {
    double sum = 0, a = 0, b = 0;
    for (std::size_t t = from; t < from + length; ++t) {
        sum += x[t] * x[t + lag];
        a += x[t] * x[t];
        b += x[t + lag] * x[t + lag];
    }
    return a > 0 && b > 0 ? sum / std::sqrt(a * b) : 0;
}

// The period (in frames) near `expected`, measured over k periods so that
// the sub-sample peak position is divided by k: the best lag near k ×
// expected, refined by a parabola through its neighbours.
double measurePeriod(const std::vector<double>& x, std::size_t from, std::size_t length, double expected,
                     double* strength) {
    const int k = std::max(1, static_cast<int>(2000 / expected));
    const double centre = k * expected;
    const auto lo = static_cast<std::size_t>(centre * 0.98);
    const auto hi = static_cast<std::size_t>(centre * 1.02) + 1;
    std::size_t best = lo;
    double bestValue = -2;
    for (std::size_t lag = lo; lag <= hi; ++lag) {
        const double value = correlation(x, from, length, lag);
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    const double before = correlation(x, from, length, best - 1);
    const double after = correlation(x, from, length, best + 1);
    const double denominator = before - 2 * bestValue + after;
    const double shift = denominator != 0 ? 0.5 * (before - after) / denominator : 0;
    *strength = bestValue;
    return (static_cast<double>(best) + shift) / k;
}

double rms(const std::vector<double>& x, std::size_t from, std::size_t length) {
    double sum = 0;
    for (std::size_t t = from; t < from + length && t < x.size(); ++t) sum += x[t] * x[t];
    return std::sqrt(sum / static_cast<double>(length));
}

class SynthesizerRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new testing::TempDir;
        first = new std::string(render(dir->path("first.wav")));
    }
    static void TearDownTestSuite() {
        delete first;
        delete dir;
    }
    static testing::TempDir* dir;
    static std::string* first;
};
testing::TempDir* SynthesizerRender::dir = nullptr;
std::string* SynthesizerRender::first = nullptr;

TEST_F(SynthesizerRender, ScaleNotesHaveTheirFundamentalsWithinThreeCents) {
    const Pcm pcm = parse(*first);
    ASSERT_GT(pcm.left.size(), (DRUM_START + DRUM_HITS * DRUM_SPACING) * FRAMES_PER_SLICE);
    std::vector<double> mono(pcm.left.size());
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = (pcm.left[i] + pcm.right[i]) / 2.0;
    for (int i = 0; i < 8; ++i) {
        const double frequency = 440.0 * std::pow(2.0, (SCALE[i] - 69) / 12.0);
        const double expected = RATE / frequency;
        // Skip the attack, measure over the held part.
        const std::size_t from = (NOTE_START + static_cast<unsigned>(i) * NOTE_SPACING + 30) * FRAMES_PER_SLICE;
        const std::size_t length = 60 * FRAMES_PER_SLICE;
        ASSERT_GT(rms(mono, from, length), 300) << "note " << SCALE[i] << " is silent";
        double strength = 0;
        const double period = measurePeriod(mono, from, length, expected, &strength);
        const double cents = 1200 * std::log2(period / expected);
        std::printf("note %d: %+.3f cents, correlation %.4f, half-period %.4f, rms %.0f\n", SCALE[i], cents, strength,
                    correlation(mono, from, length, static_cast<std::size_t>(std::lround(expected / 2))),
                    rms(mono, from, length));
        EXPECT_GT(strength, 0.9) << "note " << SCALE[i] << " is not periodic near its pitch";
        EXPECT_LE(std::abs(cents), 3.0) << "note " << SCALE[i] << ": " << cents << " cents";
        // Not an octave off: half the period does not repeat the waveform as well.
        const double half = correlation(mono, from, length, static_cast<std::size_t>(std::lround(expected / 2)));
        EXPECT_LT(half, strength - 0.2) << "note " << SCALE[i] << " may be an octave high";
    }
}

TEST_F(SynthesizerRender, DrumHitsSoundOnChannelTen) {
    const Pcm pcm = parse(*first);
    std::vector<double> mono(pcm.left.size());
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = (pcm.left[i] + pcm.right[i]) / 2.0;
    // Just before the drums start the scale has faded out.
    const std::size_t quietFrom = (DRUM_START - 10) * FRAMES_PER_SLICE;
    const double quiet = rms(mono, quietFrom, 8 * FRAMES_PER_SLICE);
    for (int hit = 0; hit < DRUM_HITS; ++hit) {
        const std::size_t from = (DRUM_START + static_cast<unsigned>(hit) * DRUM_SPACING) * FRAMES_PER_SLICE;
        const double loud = rms(mono, from, 10 * FRAMES_PER_SLICE);
        std::printf("hit %d: rms %.0f (quiet %.0f)\n", hit, loud, quiet);
        EXPECT_GT(loud, 200) << "drum hit " << hit << " (key " << drumKey(hit) << ") is silent";
        EXPECT_GT(loud, 4 * quiet + 50) << "drum hit " << hit;
    }
}

TEST_F(SynthesizerRender, NothingClips) {
    const Pcm pcm = parse(*first);
    ASSERT_FALSE(pcm.left.empty());
    std::int32_t peak = 0;
    for (std::size_t i = 0; i < pcm.left.size(); ++i) {
        peak = std::max({peak, std::abs(static_cast<std::int32_t>(pcm.left[i])),
                         std::abs(static_cast<std::int32_t>(pcm.right[i]))});
    }
    std::printf("peak %d\n", peak);
    EXPECT_LT(peak, 32767);
    EXPECT_GT(peak, 1000);
}

TEST_F(SynthesizerRender, ASecondRunGivesTheSameBytes) {
    const std::string second = render(dir->path("second.wav"));
    ASSERT_FALSE(first->empty());
    EXPECT_EQ(second.size(), first->size());
    EXPECT_TRUE(second == *first);
}

}  // namespace
}  // namespace brellin
