#include "fontmaker/Sf2Importer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Resampler.h"
#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/fontmaker/FontRender.h"
#include "tests/fontmaker/OggEncode.h"
#include "tests/fontmaker/Sf2Builder.h"

namespace brellin {
namespace {

using testing::Sf2Builder;
using testing::Sf2BuildModulator;
using testing::Sf2ZoneGens;

constexpr double OUTPUT_RATE = 22050.0;

// Program `program` of bank 0 plays `sample` through one instrument zone.
void addMelodic(Sf2Builder& b, int program, const testing::Sf2BuildSample& sample, Sf2ZoneGens instrumentZone,
                Sf2ZoneGens presetZone = {}) {
    b.samples.push_back(sample);
    instrumentZone.push_back({SF2_SAMPLE_ID, static_cast<std::int32_t>(b.samples.size() - 1)});
    b.instruments.push_back({sample.name, {instrumentZone}});
    presetZone.push_back({SF2_INSTRUMENT, static_cast<std::int32_t>(b.instruments.size() - 1)});
    b.presets.push_back({sample.name, static_cast<std::uint16_t>(program), 0, {presetZone}});
}

// 440 Hz at 44100 Hz: 44 periods are exactly 4410 frames.
testing::Sf2BuildSample sine440(std::uint8_t root = 69, std::int8_t correction = 0) {
    testing::Sf2BuildSample s{"sine", Sf2Builder::sine(8820, 44100.0 / 440.0), 44100, root, correction, 2205, 6615};
    return s;
}

struct Converted {
    Sf2File bank;
    SoundFontWriter writer;
    Sf2Importer importer;
    std::string file;
    bool ok = false;
};

std::unique_ptr<Converted> convert(const Sf2Builder& b, std::uint32_t rate = 22050, bool keepTuning = false,
                                   bool tuneTo440 = false) {
    auto c = std::make_unique<Converted>();
    c->file = b.build();
    if (!c->bank.parse(reinterpret_cast<const std::uint8_t*>(c->file.data()), c->file.size())) return c;
    c->importer.options.dataRate = rate;
    c->importer.options.keepTuning = keepTuning;
    c->importer.options.tuneTo440 = tuneTo440;
    c->ok = c->importer.convert(c->bank, c->writer);
    return c;
}

// The level a held note of program `p` settles on: the loop's peak sample
// scaled by the attack level, in dB (only differences between programs mean
// anything).
double loopLoudnessDb(const Converted& c, int p) {
    const InstrumentRecord& r = c.writer.programs[p];
    int peak = 0;
    for (std::size_t i = r.loopStart; i < r.loopEnd; ++i)
        peak = std::max(peak, std::abs(int(c.writer.samples[static_cast<std::size_t>(r.sample)][i])));
    return 20 * std::log10(double(r.attackLevel) * peak);
}

// Plays a pitched record the way the voice does (step = cycleLength × Hz /
// 22050, linear interpolation, wrap at loopEnd) and measures the frequency
// from rising zero crossings in the second half of `seconds`.
double playedFrequency(const InstrumentRecord& rec, const std::vector<std::int8_t>& data, double hz,
                       double seconds = 2.0) {
    double step = rec.cycleLength * hz / OUTPUT_RATE;
    double pos = 0.0;
    std::size_t frames = static_cast<std::size_t>(seconds * OUTPUT_RATE);
    double prev = 0.0, firstCrossing = -1.0, lastCrossing = -1.0;
    int crossings = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        std::size_t p = static_cast<std::size_t>(pos);
        double f = pos - static_cast<double>(p);
        double s0 = data[p];
        double s1 = p + 1 < rec.loopEnd ? data[p + 1] : data[rec.loopStart];
        double v = s0 + (s1 - s0) * f;
        if (i > frames / 2 && prev < 0.0 && v >= 0.0) {
            double t = static_cast<double>(i - 1) + (-prev) / (v - prev);
            if (firstCrossing < 0)
                firstCrossing = t;
            else
                ++crossings;
            lastCrossing = t;
        }
        prev = v;
        pos += step;
        if (pos >= rec.loopEnd) {
            if (rec.loopEnd <= rec.loopStart) return 0.0;
            pos = pos - rec.loopEnd + rec.loopStart;
        }
    }
    if (crossings == 0) return 0.0;
    return crossings * OUTPUT_RATE / (lastCrossing - firstCrossing);
}

double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

TEST(Sf2ImportPitch, Key69OfARootKey69SinePlays440Hz) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok) << c->importer.errorText;
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_EQ(rec.fixedStep, 0);
    // Root 69 lies 9 semitones above key 60, which the record is made for:
    // the data is kept at 22050 × 2^(9/12) = 37.1 kHz, 84 samples per period.
    EXPECT_EQ(rec.cycleLength, 84u);
    EXPECT_LT(rec.loopStart, rec.loopEnd);
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0), 0.0,
                3.0);
    EXPECT_NEAR(
        cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 261.6256), 261.6256), 0.0,
        3.0);
}

TEST(Sf2ImportPitch, TuningGeneratorsAndCorrectionMoveThePitch) {
    // Root 70 with -30 cents of correction, coarse -1 and fine +45: at key 69
    // the SF2 plays the 440 Hz recording 2^((69 - 70 - 1 + 0.45 - 0.30) / 12)
    // times faster... the record must sound where the SF2 would.
    Sf2Builder b;
    addMelodic(b, 0, sine440(70, -30), {{SF2_SAMPLE_MODES, 1}, {SF2_COARSE_TUNE, -1}, {SF2_FINE_TUNE, 45}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    double expected = 440.0 * std::pow(2.0, (69 - 70 - 1 + 0.45 - 0.30) / 12.0);
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), expected),
                0.0, 3.0);
}

TEST(Sf2ImportPitch, OverridingRootKeyWins) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(20), {{SF2_SAMPLE_MODES, 1}, {SF2_OVERRIDING_ROOT_KEY, 57}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    // The recording is now taken as key 57: key 69 plays it an octave up.
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 880.0), 0.0,
                3.0);
}

TEST(Sf2ImportPitch, HighPitchedSingleCycleLoopsStayInTune) {
    // 1234.5 Hz at 44100 Hz: a loop of 25 periods is 893.1 frames; the file
    // rounds it to 893, the declared pitch follows the true period.
    double period = 44100.0 / 1234.5;
    testing::Sf2BuildSample s{"high", Sf2Builder::sine(3000, period), 44100, 0, 0, 1000, 1000 + 893};
    double trueHz = 44100.0 / (893.0 / 25.0);
    double key = 69 + 12 * std::log2(trueHz / 440.0);
    s.originalPitch = static_cast<std::uint8_t>(std::lround(key));
    s.correction = static_cast<std::int8_t>(std::lround(-(key - s.originalPitch) * 100));
    Sf2Builder b;
    addMelodic(b, 0, s, {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_EQ(rec.cycleLength, 36u);  // kept at its own 44100 Hz: 35.7 samples per period
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0), 0.0,
                3.0);
}

TEST(Sf2ImportPitch, DataRateFollowsTheRootAgainstKey60) {
    // A root at or below key 60 keeps the asked rate: 220 Hz at 22050 Hz is
    // 100 samples per period; a root far above is capped at the sample's own rate.
    Sf2Builder b;
    addMelodic(b, 0, sine440(57), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, sine440(96), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    EXPECT_EQ(c->writer.programs[0].cycleLength, 100u);
    // Root 96 makes the recording 2093 Hz: 44100 / 2093 = 21.1 samples per period.
    EXPECT_EQ(c->writer.programs[1].cycleLength, 21u);
}

TEST(Sf2ImportPitch, HigherDataRateKeepsPitchAndLengthensCycle) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b, 44100);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_EQ(rec.cycleLength, 100u);
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0), 0.0,
                3.0);
}

// A recording that is not at the pitch its header gives: 440 Hz × 2^(cents/1200),
// declared as key 69 with no correction, looped over whole periods.
testing::Sf2BuildSample mistuned440(double cents) {
    double period = 44100.0 / (440.0 * std::pow(2.0, cents / 1200.0));
    auto periods = static_cast<std::uint32_t>(std::floor(4410.0 / period));
    auto loopLength = static_cast<std::uint32_t>(std::lround(periods * period));
    // The loop holds whole periods: the recording's pitch is loopLength / periods.
    double exact = static_cast<double>(loopLength) / periods;
    return {"mistuned", Sf2Builder::sine(2205 + 2 * loopLength, exact), 44100, 69, 0, 2205, 2205 + loopLength};
}

TEST(Sf2ImportTuning, ARecordingOffItsDeclaredPitchIsTunedTo440HzOnlyWhenAsked) {
    for (double off : {-30.0, -8.0, 12.0, 45.0}) {
        Sf2Builder b;
        addMelodic(b, 0, mistuned440(off), {{SF2_SAMPLE_MODES, 1}});
        // By default the program plays where the bank puts it, as a SoundFont synthesizer does.
        auto bank = convert(b);
        ASSERT_TRUE(bank->ok) << bank->importer.errorText;
        const InstrumentRecord& bankRec = bank->writer.programs[0];
        EXPECT_NEAR(
            cents(playedFrequency(bankRec, bank->writer.samples[static_cast<std::size_t>(bankRec.sample)], 440.0),
                  440.0),
            off, 1.0);
        EXPECT_EQ(bank->importer.summary.programsRetuned, 0);

        auto tuned = convert(b, 22050, false, true);
        ASSERT_TRUE(tuned->ok) << tuned->importer.errorText;
        const InstrumentRecord& rec = tuned->writer.programs[0];
        EXPECT_NEAR(
            cents(playedFrequency(rec, tuned->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0), 0.0,
            1.0)
            << off;
        EXPECT_EQ(tuned->importer.summary.programsRetuned, 1) << off;

        // Keeping the bank's tuning plays the recording where the bank puts it.
        auto kept = convert(b, 22050, true);
        ASSERT_TRUE(kept->ok);
        const InstrumentRecord& keptRec = kept->writer.programs[0];
        EXPECT_NEAR(
            cents(playedFrequency(keptRec, kept->writer.samples[static_cast<std::size_t>(keptRec.sample)], 440.0),
                  440.0),
            off, 1.0);
        EXPECT_EQ(kept->importer.summary.programsRetuned, 0);
    }
}

TEST(Sf2ImportTuning, PitchesFarFromTheBanksTuningOrNoPitchAreLeftAlone) {
    // 70 cents sharp is another note, not a mistuned A: the bank's tuning stays.
    Sf2Builder far;
    addMelodic(far, 0, mistuned440(70.0), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(far, 22050, false, true);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_NEAR(cents(playedFrequency(rec, c->writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0),
                70.0, 1.0);
    EXPECT_EQ(c->importer.summary.programsRetuned, 0);

    // Noise has no pitch to measure.
    Sf2Builder noisy;
    testing::Sf2BuildSample noise{"noise", std::vector<std::int16_t>(22050), 44100, 69, 0, 0, 0};
    std::uint32_t state = 12345;
    for (auto& v : noise.frames) {
        state = state * 1103515245u + 12345u;
        v = static_cast<std::int16_t>(static_cast<int>((state >> 16) & 0x7FFF) - 16384);
    }
    addMelodic(noisy, 0, noise, {});
    auto n = convert(noisy, 22050, false, true);
    ASSERT_TRUE(n->ok);
    EXPECT_EQ(n->importer.summary.programsRetuned, 0);
}

TEST(Sf2ImportTuning, PeriodMeasurementFollowsLoopsAndSubOctaves) {
    // A fractional period, with a sub-octave as strong as the tone (an
    // organ's 16-foot stop): the signal repeats every second period only.
    const double period = 100.37;
    std::vector<float> organ(30000);
    for (std::size_t i = 0; i < organ.size(); ++i) {
        double t = 2.0 * 3.14159265358979323846 * static_cast<double>(i) / period;
        organ[i] = static_cast<float>(10000.0 * std::sin(t) + 10000.0 * std::sin(t / 2.0 + 0.3));
    }
    Sf2Signal signal{organ.data(), static_cast<std::int64_t>(organ.size()), false, 0, 0};
    double clarity = 0.0;
    EXPECT_NEAR(sf2MeasurePeriod(signal, 1000, 100.0, 60.0, 8000.0, clarity), period, 0.01);
    EXPECT_GT(clarity, 0.99);

    // A loop of 7 periods and a bit: what repeats is the loop, so the pitch
    // is the loop's length over 7, not the period inside it.
    std::vector<float> looped(1200);
    for (std::size_t i = 0; i < looped.size(); ++i)
        looped[i] =
            static_cast<float>(10000.0 * std::sin(2.0 * 3.14159265358979323846 * static_cast<double>(i) / 168.0));
    Sf2Signal loop{looped.data(), static_cast<std::int64_t>(looped.size()), true, 10, 10 + 1179};
    double measured = sf2MeasurePeriod(loop, 2000, 168.0, 60.0, 20000.0, clarity);
    EXPECT_NEAR(measured, 1179.0 / 7.0, 0.1);

    // Out of range: a tone a whole tone away is not found, nor is silence.
    EXPECT_EQ(sf2MeasurePeriod(signal, 1000, period * 1.12, 60.0, 8000.0, clarity), 0.0);
    std::vector<float> silence(20000, 0.0f);
    Sf2Signal quiet{silence.data(), 20000, false, 0, 0};
    EXPECT_EQ(sf2MeasurePeriod(quiet, 0, 100.0, 60.0, 8000.0, clarity), 0.0);
    EXPECT_EQ(clarity, 0.0);
}

TEST(Sf2ImportTuning, TheProgramPlaysTheBanksOwnA4) {
    Sf2Builder b;
    b.samples.push_back(sine440());
    b.samples.push_back(mistuned440(15.0));
    auto zone = [](int low, int high, int fine, int sample) {
        return Sf2ZoneGens{{SF2_KEY_RANGE, Sf2Builder::range(low, high)},
                           {SF2_SAMPLE_MODES, 1},
                           {SF2_FINE_TUNE, fine},
                           {SF2_SAMPLE_ID, sample}};
    };
    // Program 0: a chorus pair, one recording detuned -10 and +6 cents; the
    // BRF record has one layer, where the pair's mix settles: near its mean
    // (a 4 Hz beat moves the measured pitch of the mix a little).
    b.instruments.push_back({"pair", {zone(0, 127, -10, 0), zone(0, 127, 6, 0)}});
    b.presets.push_back({"pair", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
    // Program 1: key 60's recording is in tune, but the bank plays A4 from
    // another, 15 cents sharp, that it declares in tune.
    b.instruments.push_back({"split", {zone(0, 64, 0, 0), zone(65, 127, 0, 1)}});
    b.presets.push_back({"split", 1, 0, {{{SF2_INSTRUMENT, 1}}}});
    auto a4 = [](const Converted& c, int p) {
        const InstrumentRecord& rec = c.writer.programs[p];
        return cents(playedFrequency(rec, c.writer.samples[static_cast<std::size_t>(rec.sample)], 440.0), 440.0);
    };
    auto bank = convert(b);
    ASSERT_TRUE(bank->ok) << bank->importer.errorText;
    EXPECT_NEAR(a4(*bank, 0), -2.0, 3.0);
    EXPECT_NEAR(a4(*bank, 1), 15.0, 1.0);
    EXPECT_EQ(bank->importer.summary.programsRetuned, 2);
    // Keeping the tuning plays the converted zone (key 60's first layer) as tuned.
    auto kept = convert(b, 22050, true);
    ASSERT_TRUE(kept->ok);
    EXPECT_NEAR(a4(*kept, 0), -10.0, 1.0);
    EXPECT_NEAR(a4(*kept, 1), 0.0, 1.0);
}

// A recording at 44100 Hz declared as key 69: `attackSeconds` of a sine
// `attackCents` off 440 Hz, then a loop of `loopFrames` frames holding a sine
// of `innerCycles` cycles, continuous in phase from the attack. With a whole
// number of cycles the loop is seamless; with a fraction it jumps in phase
// at every wrap and what repeats is the loop, at round(innerCycles) cycles.
testing::Sf2BuildSample attackThenLoop(double attackSeconds, double attackCents, std::uint32_t loopFrames,
                                       double innerCycles) {
    const auto attack = static_cast<std::uint32_t>(attackSeconds * 44100);
    const double attackStep = 2 * M_PI * 440.0 * std::exp2(attackCents / 1200) / 44100;
    const double loopStep = 2 * M_PI * innerCycles / loopFrames;
    testing::Sf2BuildSample s{"held", {}, 44100, 69, 0, attack, attack + loopFrames};
    double phase = 0;
    for (std::uint32_t i = 0; i < attack + loopFrames + 8; ++i) {
        s.frames.push_back(static_cast<std::int16_t>(std::lround(20000 * std::sin(phase))));
        phase += i < attack ? attackStep : loopStep;
    }
    return s;
}

// Key 69 of the converted program through the synthesizer's voice at 22050
// Hz: the frequency (spectral peak) over [from, from + seconds).
double renderedHz(const Converted& c, double from, double seconds) {
    std::vector<std::uint8_t> bytes = c.writer.bytes();
    SoundFont font;
    if (!font.loadSoundFontFromMemory(bytes.data(), bytes.size())) return 0.0;
    const double end = from + seconds;
    auto out = testing::renderNote(font, font.programs[0], 22050, 1, 69, testing::voiceVolume(),
                                   static_cast<std::uint32_t>(end * 22050), static_cast<std::uint32_t>(end * 22050));
    testing::Windowed window(out, static_cast<std::size_t>(from * 22050), static_cast<std::size_t>(seconds * 22050),
                             22050);
    return testing::measureFrequency(window, 440.0, 60);
}

TEST(Sf2ImportLoopTuning, AHeldNoteSettlesInTuneOnItsLoop) {
    // 0.8 s sung 20 cents sharp, then a loop of 50 whole cycles 12 cents flat
    // (4972 frames: 98.44 frames per cycle, 50.21 periods of the declared
    // pitch). Measuring the first second would tune the attack and leave
    // the held note 32 cents flat.
    const std::uint32_t length =
        static_cast<std::uint32_t>(std::lround(50 * 44100 / (440.0 * std::exp2(-12.0 / 1200))));
    Sf2Builder b;
    addMelodic(b, 0, attackThenLoop(0.8, 20.0, length, 50.0), {{SF2_SAMPLE_MODES, 1}});
    auto tuned = convert(b, 22050, false, true);
    ASSERT_TRUE(tuned->ok) << tuned->importer.errorText;
    EXPECT_NEAR(cents(renderedHz(*tuned, 1.2, 1.2), 440.0), 0.0, 2.0) << "held part";
    // A long attack is tuned on its own.
    EXPECT_NEAR(cents(renderedHz(*tuned, 0.15, 0.55), 440.0), 0.0, 2.0) << "attack";
    EXPECT_EQ(tuned->importer.summary.programsRetuned, 1);

    // By default, and keeping the tuning, the loop plays where the bank puts it.
    for (bool keep : {false, true}) {
        auto kept = convert(b, 22050, keep);
        ASSERT_TRUE(kept->ok);
        EXPECT_NEAR(cents(renderedHz(*kept, 1.2, 1.2), 440.0), 1200 * std::log2(50 * 44100.0 / length / 440.0), 2.0);
    }

    // A loop cut 0.2 cycle short of its 40.2 inner cycles (443.2 Hz inside)
    // jumps in phase at each wrap: it repeats with 40 cycles in 4000 frames,
    // 441 Hz, and that is what is heard and tuned, not the inner pitch.
    Sf2Builder cut;
    addMelodic(cut, 0, attackThenLoop(0.05, 0.0, 4000, 40.2), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(cut, 22050, false, true);
    ASSERT_TRUE(c->ok);
    EXPECT_NEAR(cents(renderedHz(*c, 0.5, 1.5), 440.0), 0.0, 2.0);
}

TEST(Sf2ImportLoop, WrapIsSmooth) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    const auto& d = c->writer.samples[static_cast<std::size_t>(rec.sample)];
    ASSERT_EQ(d.size(), rec.loopEnd);  // nothing after the loop is stored
    // The sample after loopEnd - 1 is the one at loopStart: its step from
    // there must look like any other step of the sine.
    int maxStep = 0;
    for (std::size_t i = rec.loopStart + 1; i < rec.loopEnd; ++i)
        maxStep = std::max(maxStep, std::abs(d[i] - d[i - 1]));
    int wrapStep = std::abs(d[rec.loopStart] - d[rec.loopEnd - 1]);
    EXPECT_LE(wrapStep, maxStep + 2);
    // Peak normalized to full 8-bit scale.
    int peak = 0;
    for (auto v : d) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GE(peak, 126);
}

TEST(Sf2ImportLoop, OneShotSamplesHaveNoLoop) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 0}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_EQ(rec.loopStart, rec.loopEnd);
    EXPECT_EQ(rec.loopEnd, c->writer.samples[static_cast<std::size_t>(rec.sample)].size());
    // 8820 frames at 44100 Hz: 0.2 s at cycleLength × 440 Hz.
    EXPECT_NEAR(double(rec.loopEnd), 0.2 * rec.cycleLength * 440.0, 3.0);
}

TEST(Sf2ImportLoop, SnapFindsWholeLoopsWithFewCopies) {
    Sf2LoopSnap whole = sf2SnapLoop(200.0);
    EXPECT_EQ(whole.repeats, 1u);
    EXPECT_EQ(whole.samples, 200u);
    Sf2LoopSnap half = sf2SnapLoop(50.5);
    EXPECT_EQ(half.repeats, 2u);
    EXPECT_EQ(half.samples, 101u);
    Sf2LoopSnap third = sf2SnapLoop(33.3333333);
    EXPECT_EQ(third.repeats, 3u);
    EXPECT_EQ(third.samples, 100u);
    EXPECT_LT(std::fabs(sf2SnapLoop(17.123).errorCents), 1.0);
    EXPECT_EQ(sf2SnapCycleLength(440.0, 22050.0), 50u);
    EXPECT_EQ(sf2SnapCycleLength(30000.0, 22050.0), 1u);
}

TEST(Sf2ImportResample, DownsamplingRemovesContentAboveTheNewNyquist) {
    // 15 kHz at 44100 Hz would alias to 7050 Hz at 22050 Hz; band-limited
    // resampling removes it while a 1 kHz tone passes.
    auto tone = [](double hz) {
        std::vector<std::int16_t> f(4000);
        for (std::size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100.0));
        return f;
    };
    for (double hz : {1000.0, 15000.0}) {
        auto tone16 = tone(hz);
        std::vector<float> frames(tone16.begin(), tone16.end());
        Sf2Signal signal{frames.data(), static_cast<std::int64_t>(frames.size())};
        std::vector<double> out;
        sf2Resample(signal, 500.0, 2.0, 1000, out);
        double rms = 0;
        for (double v : out) rms += v * v;
        rms = std::sqrt(rms / static_cast<double>(out.size()));
        if (hz < 2000)
            EXPECT_NEAR(rms, 10000 / std::sqrt(2.0), 150.0);
        else
            EXPECT_LT(rms, 30.0);
    }
}

TEST(Sf2ImportResample, SameInputGivesSameBytes) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto one = convert(b);
    auto two = convert(b);
    ASSERT_TRUE(one->ok && two->ok);
    EXPECT_EQ(one->writer.bytes(), two->writer.bytes());
}

// Runs the converted envelope the way the voice does while the key is held.
std::vector<std::int64_t> heldLevels(const InstrumentRecord& r, std::size_t samples) {
    std::vector<std::int64_t> out;
    std::int64_t level = 0, rate = r.attackRate, target = r.attackLevel;
    int stage = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        if (rate != 0) {
            level += rate;
            if ((level - target >= 0) == (rate > 0)) {
                level = target;
                if (stage == 0)
                    rate = -r.decay1Rate, target = r.decay1Level, stage = 1;
                else if (stage == 1)
                    rate = -r.decay2Rate, target = r.decay2Level, stage = 2;
                else if (stage == 2)
                    rate = -r.decay3Rate, target = 0, stage = 3;
                else
                    return out;  // the voice ends
            }
        }
        out.push_back(level);
    }
    return out;
}

TEST(Sf2ImportEnvelope, AttackTakesTheAttackTime) {
    InstrumentRecord r{};
    Sf2VolumeEnvelope e;
    e.attack = 0;  // 1 s
    sf2ConvertEnvelope(e, 2000000, r);
    EXPECT_EQ(r.attackLevel, 2000000);
    EXPECT_NEAR(r.attackRate, 2000000 / 22050.0, 2.0);
    EXPECT_EQ(r.attackRate % 2, 0);
    EXPECT_EQ(r.decay1Rate, 0);  // sustain 0 cB: the level holds until note-off
}

TEST(Sf2ImportEnvelope, DecayFollowsTheDecibelCurveToTheSustain) {
    InstrumentRecord r{};
    Sf2VolumeEnvelope e;
    e.decay = 1200;   // 2 s per 96 dB
    e.sustain = 500;  // 48 dB down, reached after 1 s
    sf2ConvertEnvelope(e, 4000000, r);
    auto levels = heldLevels(r, 3 * 22050);
    ASSERT_EQ(levels.size(), 3u * 22050);
    auto db = [&](double seconds) {
        return 20 * std::log10(static_cast<double>(levels[static_cast<std::size_t>(seconds * 22050)]) / 4000000.0);
    };
    EXPECT_NEAR(db(1.0 / 3), -16.0, 1.0);  // the knee lies on the curve
    EXPECT_NEAR(db(1.0), -48.0, 0.5);
    EXPECT_NEAR(db(2.5), -48.0, 0.5);  // sustain holds
    for (std::int32_t rate : {r.attackRate, r.decay1Rate, r.decay2Rate, r.decay3Rate, r.releaseRate})
        EXPECT_EQ(rate % 2, 0);
}

TEST(Sf2ImportEnvelope, SilentSustainEndsTheNoteAtMinus60Decibels) {
    InstrumentRecord r{};
    Sf2VolumeEnvelope e;
    e.decay = 0;       // 1 s per 96 dB
    e.sustain = 1000;  // decays out
    sf2ConvertEnvelope(e, 4000000, r);
    auto levels = heldLevels(r, 2 * 22050);
    EXPECT_NEAR(static_cast<double>(levels.size()) / 22050.0, 60.0 / 96.0, 0.02);
    EXPECT_NEAR(20 * std::log10(static_cast<double>(levels[static_cast<std::size_t>(10.0 / 96 * 22050)]) / 4000000.0),
                -10.0, 0.5);
}

TEST(Sf2ImportEnvelope, HoldKeepsThePeakBeforeTheDecay) {
    InstrumentRecord r{};
    Sf2VolumeEnvelope e;
    e.hold = -1200;  // 0.5 s
    e.decay = 0;
    e.sustain = 1440;
    sf2ConvertEnvelope(e, 4000000, r);
    auto levels = heldLevels(r, 2 * 22050);
    EXPECT_GT(levels[static_cast<std::size_t>(0.45 * 22050)], 3900000);
    EXPECT_LT(levels[static_cast<std::size_t>(0.7 * 22050)], 2000000);
}

TEST(Sf2ImportEnvelope, ReleaseFallsInTheTimeTheSf2TakesFor20Decibels) {
    InstrumentRecord r{};
    Sf2VolumeEnvelope e;
    e.release = 1200;  // 2 s per 96 dB
    sf2ConvertEnvelope(e, 4000000, r);
    EXPECT_NEAR(4000000.0 / r.releaseRate / 22050.0, 2.0 * 20 / 96, 0.01);
    e.release = -12000;
    sf2ConvertEnvelope(e, 4000000, r);
    EXPECT_GE(r.releaseRate, 4);
}

TEST(Sf2ImportEnvelope, PresetGeneratorsAddToTheInstrumentsInTheRecord) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}, {SF2_ATTACK_VOL_ENV, -1200}}, {{SF2_ATTACK_VOL_ENV, 1200}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    EXPECT_NEAR(double(rec.attackLevel) / rec.attackRate / 22050.0, 1.0, 0.01);  // 0 tc = 1 s
}

TEST(Sf2ImportLoudness, AttenuationAndNormalizationAreFoldedIntoTheLevel) {
    Sf2Builder b;
    testing::Sf2BuildSample quiet = sine440();
    quiet.frames = Sf2Builder::sine(8820, 44100.0 / 440.0, 7500.0);  // 12 dB below the loud one
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, quiet, {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 2, sine440(), {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_ATTENUATION, 150}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    // What the voice plays at volume 18 (velocity 100, controller 7 at 100):
    // sample × (level × 18 >> 21).
    auto loudness = [&](int p) {
        const InstrumentRecord& r = c->writer.programs[p];
        int peak = 0;
        for (auto v : c->writer.samples[static_cast<std::size_t>(r.sample)]) peak = std::max(peak, std::abs(int(v)));
        return 20 * std::log10(double((std::int64_t{r.attackLevel} * 18) >> 21) * peak);
    };
    EXPECT_NEAR(loudness(1) - loudness(0), -12.04, 0.7);  // the amplitude steps are 1/8 here
    EXPECT_NEAR(loudness(2) - loudness(0), -6.0, 0.7);    // 150 cB at 0.4 per cB
    // A full-scale sine at 0 cB gets the reference level.
    EXPECT_NEAR(c->writer.programs[0].attackLevel, SF2_LEVEL_REFERENCE * 30000.0 / 127.0,
                SF2_LEVEL_REFERENCE * 30000.0 / 127.0 * 0.03);
}

TEST(Sf2ImportLoudness, StereoPairSoundsAsLoudAsBothHalves) {
    // The left and right halves, panned apart, carry twice the power of one
    // centred mono sample: the converted (left) half plays 3 dB louder.
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    testing::Sf2BuildSample left = sine440(), right = sine440();
    left.type = 4;
    right.type = 2;
    right.frames = Sf2Builder::sine(8820, 44100.0 / 440.0, 20000.0);  // the quieter half is not the one kept
    b.samples.push_back(right);
    b.samples.push_back(left);
    auto n = static_cast<std::int32_t>(b.samples.size());
    b.instruments.push_back({"pair",
                             {{{SF2_PAN, 500}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, n - 2}},
                              {{SF2_PAN, -500}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, n - 1}}}});
    b.presets.push_back({"Pair", 1, 0, {{{SF2_INSTRUMENT, static_cast<std::int32_t>(b.instruments.size() - 1)}}}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    EXPECT_NEAR(20 * std::log10(double(w.programs[1].attackLevel) / w.programs[0].attackLevel), 3.01, 0.2);
}

TEST(Sf2ImportLayers, TheLayerThatCarriesTheHeldSoundIsConverted) {
    // A chiff that dies within 0.1 s layered over a sustained pad: the
    // program is the pad, whichever zone comes first.
    Sf2Builder b;
    testing::Sf2BuildSample chiff = sine440(), pad = sine440(57);
    b.samples.push_back(chiff);
    b.samples.push_back(pad);
    b.instruments.push_back(
        {"layers",
         {{{SF2_DECAY_VOL_ENV, -4800}, {SF2_SUSTAIN_VOL_ENV, 1000}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}},
          {{SF2_INITIAL_ATTENUATION, 60}, {SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 1}}}});
    b.presets.push_back({"Pad", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& rec = c->writer.programs[0];
    // Root 57 makes the pad's recording 220 Hz: 100 samples per period at 22050 Hz.
    EXPECT_EQ(rec.cycleLength, 100u);
    EXPECT_EQ(rec.decay1Rate, 0);  // the pad's envelope, not the chiff's
}

TEST(Sf2ImportLoudness, QuietInstrumentsKeepAnAudibleAmplitude) {
    // 60 dB of attenuation (600 cB × 0.4 is 24 dB, plus a sample 36 dB down):
    // level × 18 >> 21 would round to 0; the sample takes the rest instead.
    Sf2Builder b;
    testing::Sf2BuildSample faint = sine440();
    faint.frames = Sf2Builder::sine(8820, 44100.0 / 440.0, 500.0);
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, faint, {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_ATTENUATION, 600}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const InstrumentRecord& r = c->writer.programs[1];
    EXPECT_GE((std::int64_t{r.attackLevel} * 18) >> 21, 8);
    int peak = 0;
    for (auto v : c->writer.samples[static_cast<std::size_t>(r.sample)]) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 127);
}

TEST(Sf2ImportFilter, LowFilterCutoffIsBakedIntoTheLoudness) {
    // A cutoff of 4800 cents (131 Hz, less the velocity-100 modulation) two
    // octaves below the 440 Hz sine: the two-pole low-pass takes about 24 dB.
    Sf2Builder b;
    addMelodic(b, 0, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, sine440(60), {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_FILTER_FC, 4800}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    auto loudness = [&](int p) { return loopLoudnessDb(*c, p); };
    double drop = loudness(1) - loudness(0);
    EXPECT_LT(drop, -20.0);
    EXPECT_GT(drop, -32.0);
}

TEST(Sf2ImportFilter, ModulationEnvelopeOpensTheFilter) {
    // The same 131 Hz cutoff opened by 4800 cents through a modulation
    // envelope that stays at full level: 2.1 kHz, the 440 Hz sine passes.
    Sf2Builder b;
    addMelodic(b, 0, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, sine440(60),
               {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_FILTER_FC, 4800}, {SF2_MOD_ENV_TO_FILTER_FC, 4800}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    double ratio = double(w.programs[1].attackLevel) / w.programs[0].attackLevel;
    EXPECT_NEAR(20 * std::log10(ratio), 0.0, 1.0);
}

// Modulator source words: velocity falling through the concave curve (the
// default velocity-to-attenuation source), velocity rising linearly.
constexpr std::uint16_t VELOCITY_CONCAVE_FALLING = 0x0502, VELOCITY_LINEAR = 0x0002;

TEST(Sf2ImportModulators, ZoneModulatorsSetTheConvertedLevelAndFilter) {
    // A grand piano made like MuseScore's: its filter sits at 131 Hz and only
    // a velocity modulator of the preset opens it (10000 cents at full
    // velocity: 7812 at velocity 100, 3.3 kHz with the envelope's -2350);
    // the instrument switches the default velocity curve off and the preset
    // puts a flatter one (700 cB) back. Without the modulators the note
    // plays through a 33 Hz filter, 40 dB down.
    Sf2Builder b;
    addMelodic(b, 0, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    const Sf2BuildModulator defaultCurveOff{VELOCITY_CONCAVE_FALLING, SF2_INITIAL_ATTENUATION, 0, 0, 0};
    addMelodic(b, 1, sine440(60), {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_FILTER_FC, 4800}},
               {{SF2_MOD_ENV_TO_FILTER_FC, -2350}});
    b.instruments.back().modulators = {{defaultCurveOff}};
    b.presets.back().modulators = {{{VELOCITY_LINEAR, SF2_MOD_ENV_TO_FILTER_FC, 10000, 0, 0},
                                    {VELOCITY_CONCAVE_FALLING, SF2_INITIAL_ATTENUATION, 700, 0, 0}}};
    // The default curve switched off alone: velocity 100 loses nothing
    // where the default curve takes 4.3 dB.
    addMelodic(b, 2, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    b.instruments.back().modulators = {{defaultCurveOff}};
    // The same modulator in a preset adds to the default instead: twice the curve.
    addMelodic(b, 3, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    b.presets.back().modulators = {{{VELOCITY_CONCAVE_FALLING, SF2_INITIAL_ATTENUATION, 960, 0, 0}}};
    // In a preset's global zone it applies to every zone below it; a
    // modulator with a linked source counts nothing.
    b.samples.push_back(sine440(60));
    b.instruments.push_back(
        {"global", {{{SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, static_cast<std::int32_t>(b.samples.size() - 1)}}}});
    b.presets.push_back({"global",
                         4,
                         0,
                         {{}, {{SF2_INSTRUMENT, static_cast<std::int32_t>(b.instruments.size() - 1)}}},
                         {{{VELOCITY_CONCAVE_FALLING, SF2_INITIAL_ATTENUATION, 960, 0, 0},
                           {0x007F, SF2_INITIAL_ATTENUATION, 960, 0, 0}}}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    auto loudness = [&](int p) { return loopLoudnessDb(*c, p); };
    // 960 cB of the curve at velocity 100 is 40 log10(128 / 100) dB.
    const double curve = 40 * std::log10(128.0 / 100.0);
    EXPECT_NEAR(loudness(1) - loudness(0), curve * (960 - 700) / 960, 0.8);
    EXPECT_NEAR(loudness(2) - loudness(0), curve, 0.5);
    EXPECT_NEAR(loudness(3) - loudness(0), -curve, 0.5);
    EXPECT_NEAR(loudness(4) - loudness(0), -curve, 0.5);
}

TEST(Sf2ImportModulators, CurvesFollowTheFormatsShapes) {
    // Velocity through the default curve: nothing at full velocity, 40
    // log10(128 / v) dB below; a bipolar linear key source is 0 at the
    // middle key and signed either side; pitch wheel centred adds nothing.
    const auto& defaults = sf2DefaultModulators();
    EXPECT_NEAR(sf2ModulatedAmount(defaults, SF2_INITIAL_ATTENUATION, 60, 127) -
                    sf2ModulatedAmount(defaults, SF2_INITIAL_ATTENUATION, 60, 64),
                -400 * std::log10(127.0 / 64.0), 1.0);
    EXPECT_NEAR(sf2ModulatedAmount({{0x0502, SF2_INITIAL_ATTENUATION, 960, 0, 0}}, SF2_INITIAL_ATTENUATION, 60, 32),
                400 * std::log10(128.0 / 32.0), 1.0);
    const std::vector<Sf2ModulatorEntry> key{{0x0203, SF2_INITIAL_FILTER_FC, 1000, 0, 0}};
    EXPECT_NEAR(sf2ModulatedAmount(key, SF2_INITIAL_FILTER_FC, 64, 100), 0.0, 1e-9);
    EXPECT_NEAR(sf2ModulatedAmount(key, SF2_INITIAL_FILTER_FC, 96, 100), 500.0, 1e-9);
    EXPECT_NEAR(sf2ModulatedAmount(key, SF2_INITIAL_FILTER_FC, 32, 100), -500.0, 1e-9);
    // Absolute value transform; an amount source scales; switch curve.
    EXPECT_NEAR(sf2ModulatedAmount({{0x0203, SF2_PAN, 1000, 0, 2}}, SF2_PAN, 32, 100), 500.0, 1e-9);
    EXPECT_NEAR(sf2ModulatedAmount({{0x0002, SF2_PAN, 1000, 0x0C02, 0}}, SF2_PAN, 60, 32), 0.0, 1e-9);
    EXPECT_NEAR(sf2ModulatedAmount({{0x0002, SF2_PAN, 1024, 0x0C02, 0}}, SF2_PAN, 60, 96), 768.0, 1e-9);
    EXPECT_NEAR(sf2ModulatedAmount(defaults, 59, 60, 100), 0.0, 1e-9);
}

TEST(Sf2ImportFilter, ResonanceLowersThePassBandEvenWithTheFilterOpen) {
    // 17 dB of resonance with the cutoff at its 20 kHz default: the peak lies
    // above the kept data, but the pass band is still half the peak lower,
    // 8.5 dB (FluidSynth: 8.5 dB), as it is with the filter at 1 kHz.
    Sf2Builder b;
    addMelodic(b, 0, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, sine440(60), {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_FILTER_Q, 170}});
    addMelodic(b, 2, sine440(60), {{SF2_SAMPLE_MODES, 1}, {SF2_INITIAL_FILTER_Q, 170}, {SF2_INITIAL_FILTER_FC, 9600}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    auto loudness = [&](int p) { return loopLoudnessDb(*c, p); };
    EXPECT_NEAR(loudness(1) - loudness(0), -8.5, 0.5);
    EXPECT_NEAR(loudness(2) - loudness(0), -8.5, 1.0);
}

TEST(Sf2ImportFilter, FilteredLoopStaysSeamless) {
    // 44 periods of 440 Hz in a 4410-frame loop, filtered at 600 Hz with
    // resonance: the loop's last frame must lead smoothly into its first.
    auto tone = Sf2Builder::sine(8820, 44100.0 / 440.0);
    std::vector<float> frames(tone.begin(), tone.end());
    sf2LowPass(frames, 44100.0, 600.0, 100.0, true, 2205, 6615);
    double maxStep = 0;
    for (int i = 2206; i < 6615; ++i)
        maxStep = std::max(
            maxStep, double(std::fabs(frames[static_cast<std::size_t>(i)] - frames[static_cast<std::size_t>(i - 1)])));
    EXPECT_LE(std::fabs(frames[2205] - frames[6614]), maxStep * 1.01);
    // Above 0.45 of the rate nothing changes.
    std::vector<float> same(tone.begin(), tone.end());
    sf2LowPass(same, 44100.0, 20000.0, 0.0, false, 0, 0);
    EXPECT_EQ(same[100], float(tone[100]));
}

TEST(Sf2ImportLfo, ModLfoToVolumeBecomesTremolo) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(),
               {{SF2_SAMPLE_MODES, 1}, {SF2_MOD_LFO_TO_VOLUME, 60}, {SF2_FREQ_MOD_LFO, 0}, {SF2_DELAY_MOD_LFO, 0}});
    addMelodic(b, 1, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    EXPECT_GT(c->writer.programs[0].lfoDepth, 0);
    EXPECT_EQ(c->writer.programs[0].lfoRateShift, 11);  // 8.176 Hz ≈ 2^11 / 256
    EXPECT_NEAR(c->writer.programs[0].lfoDelay, 22050, 1);
    EXPECT_EQ(c->writer.programs[1].lfoDepth, 0);
    EXPECT_GT(c->writer.programs[1].lfoDepthStep, 0);
}

// A kit: keys 36 (kick, own root), 42 and 46 (hi-hats, exclusive class 1),
// 38 pitched up a semitone from its root.
void addKit(Sf2Builder& b, int program, int kickAttenuation = 0) {
    std::int32_t kick = static_cast<std::int32_t>(b.samples.size());
    b.samples.push_back({"kick", Sf2Builder::sine(2205, 441.0 / 2, 20000.0), 44100, 36, 0, 0, 0});
    b.samples.push_back({"hat", Sf2Builder::sine(11025, 4.0, 16000.0), 22050, 60, 0, 0, 0});
    std::int32_t hat = kick + 1;
    std::vector<Sf2ZoneGens> zones = {
        {{SF2_KEY_RANGE, Sf2Builder::range(36, 36)}, {SF2_INITIAL_ATTENUATION, kickAttenuation}, {SF2_SAMPLE_ID, kick}},
        {{SF2_KEY_RANGE, Sf2Builder::range(38, 38)}, {SF2_OVERRIDING_ROOT_KEY, 37}, {SF2_SAMPLE_ID, kick}},
        {{SF2_KEY_RANGE, Sf2Builder::range(42, 42)},
         {SF2_EXCLUSIVE_CLASS, 1},
         {SF2_OVERRIDING_ROOT_KEY, 42},
         {SF2_RELEASE_VOL_ENV, 0},
         {SF2_SAMPLE_ID, hat}},
        {{SF2_KEY_RANGE, Sf2Builder::range(44, 44)}, {SF2_OVERRIDING_ROOT_KEY, 44}, {SF2_SAMPLE_ID, hat}},
        {{SF2_KEY_RANGE, Sf2Builder::range(46, 46)},
         {SF2_EXCLUSIVE_CLASS, 1},
         {SF2_OVERRIDING_ROOT_KEY, 46},
         {SF2_DECAY_VOL_ENV, -2400},
         {SF2_SUSTAIN_VOL_ENV, 1000},
         {SF2_SAMPLE_ID, hat}},
    };
    b.instruments.push_back({"kit", zones});
    b.presets.push_back({"Kit",
                         static_cast<std::uint16_t>(program),
                         128,
                         {{{SF2_INSTRUMENT, static_cast<std::int32_t>(b.instruments.size() - 1)}}}});
}

TEST(Sf2ImportDrums, KeysBecomeFixedStepRegionsWithTheirPitch) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0);
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    ASSERT_EQ(w.drumKitMaps.size(), 128u);
    const InstrumentRecord& kick = w.drumRegions[w.drumKitMaps[36]];
    EXPECT_NE(kick.fixedStep, 0);
    EXPECT_EQ(kick.lfoDepthStep, 65536);  // played at its root: one sample per output sample
    EXPECT_EQ(kick.lfoDepth, kick.lfoDepthStep);
    // 2205 frames at 44100 Hz: 1102 or so samples at 22050 Hz.
    EXPECT_NEAR(double(kick.cycleLength), 1102.5, 3.0);
    EXPECT_EQ(kick.cycleLength, w.samples[static_cast<std::size_t>(kick.sample)].size());
    const InstrumentRecord& snare = w.drumRegions[w.drumKitMaps[38]];
    EXPECT_EQ(snare.sample, kick.sample);  // same sample, other tuning: its own region
    EXPECT_NEAR(snare.lfoDepthStep, 65536 * std::pow(2.0, 1 / 12.0), 1.0);
    // Keys without a zone play the silent region.
    const InstrumentRecord& none = w.drumRegions[w.drumKitMaps[60]];
    EXPECT_EQ(none.cycleLength, 0u);
}

TEST(Sf2ImportDrums, ExclusiveClassSharesAGroupSoHiHatsCutEachOther) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0);
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    const InstrumentRecord& closed = w.drumRegions[w.drumKitMaps[42]];
    const InstrumentRecord& open = w.drumRegions[w.drumKitMaps[46]];
    EXPECT_NE(w.drumKitMaps[42], w.drumKitMaps[46]);
    EXPECT_EQ(closed.groupId, open.groupId);
    EXPECT_NE(closed.groupId, w.drumRegions[w.drumKitMaps[36]].groupId);
    EXPECT_NE(w.drumRegions[w.drumKitMaps[36]].groupId, w.drumRegions[w.drumKitMaps[38]].groupId);
    // The open hat's decay envelope (0.25 s per 96 dB, decays out) is baked
    // in: its data ends by -60 dB after 0.16 s (earlier where the 8-bit
    // data has already rounded to silence), the closed hat's after 0.5 s.
    EXPECT_LE(open.cycleLength / 22050.0, 0.25 * 60 / 96 + 0.005);
    EXPECT_GT(open.cycleLength / 22050.0, 0.05);
    EXPECT_NEAR(closed.cycleLength / 22050.0, 0.5, 0.01);
}

TEST(Sf2ImportDrums, ShortReleaseEndsTheDrumAfterTheAssumedNoteLength) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0);
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    // Key 44 plays the 0.5 s hat with the default instant release: it stops
    // where a note held SF2_DRUM_NOTE_SECONDS would.
    EXPECT_NEAR(w.drumRegions[w.drumKitMaps[44]].cycleLength / 22050.0, SF2_DRUM_NOTE_SECONDS, 0.002);
    EXPECT_NEAR(sf2DrumGain(Sf2VolumeEnvelope{}, SF2_DRUM_NOTE_SECONDS - 0.01), 1.0, 1e-9);
    Sf2VolumeEnvelope slow;
    slow.release = 0;  // 1 s per 96 dB
    EXPECT_NEAR(20 * std::log10(sf2DrumGain(slow, SF2_DRUM_NOTE_SECONDS + 0.25)), -24.0, 0.01);
}

TEST(Sf2ImportDrums, AttenuationScalesTheDrumData) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0, 0);
    addKit(b, 8, 150);  // 6 dB quieter
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    auto peak = [&](int kit) {
        const InstrumentRecord& r = w.drumRegions[w.drumKitMaps[static_cast<std::size_t>(kit * 128 + 36)]];
        int p = 0;
        for (auto v : w.samples[static_cast<std::size_t>(r.sample)]) p = std::max(p, std::abs(int(v)));
        return p;
    };
    EXPECT_NEAR(20 * std::log10(double(peak(1)) / peak(0)), -6.0, 0.5);
    // 20000 of 32768 at the drum reference scale.
    EXPECT_NEAR(peak(0), 20000 * SF2_DRUM_GAIN_REFERENCE, 2.0);
}

TEST(Sf2ImportDrums, FurtherKitsFollowTheProgramKitTable) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0);
    addKit(b, 25);
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    EXPECT_EQ(w.drumKitMaps.size(), 256u);
    EXPECT_EQ(w.programKits[0], 0u);
    EXPECT_EQ(w.programKits[24], 0u);
    EXPECT_EQ(w.programKits[25], 1u);
    EXPECT_EQ(w.programKits[127], 1u);
    EXPECT_EQ(c->importer.summary.kits, 2);
}

TEST(Sf2ImportFallback, MissingProgramsBorrowFromTheirFamilyOrProgram0) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 2, sine440(60), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 19, sine440(62), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    const auto& s = c->importer.summary;
    EXPECT_EQ(s.programsConverted, 3);
    EXPECT_EQ(s.programsBorrowed, 125);
    EXPECT_EQ(s.borrowedFrom[1], 0);  // 0 and 2 are equally near: the lower one
    EXPECT_EQ(s.borrowedFrom[3], 2);
    EXPECT_EQ(s.borrowedFrom[16], 19);  // organ family 16–23
    EXPECT_EQ(s.borrowedFrom[23], 19);
    EXPECT_EQ(s.borrowedFrom[9], 0);  // no other chromatic percussion
    const auto& w = c->writer;
    EXPECT_EQ(w.programs[3].sample, w.programs[2].sample);
    EXPECT_EQ(w.programs[3].groupId, 3);
    // With no drum kit, every key plays the silent region.
    EXPECT_EQ(w.drumRegions[w.drumKitMaps[36]].cycleLength, 0u);
}

TEST(Sf2ImportFallback, WithoutProgram0TheFirstProgramFillsOtherFamilies) {
    Sf2Builder b;
    addMelodic(b, 40, sine440(), {{SF2_SAMPLE_MODES, 1}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    EXPECT_EQ(c->importer.summary.borrowedFrom[0], 40);
    EXPECT_EQ(c->importer.summary.borrowedFrom[127], 40);
    EXPECT_EQ(c->writer.programs[0].groupId, 0);
}

TEST(Sf2ImportDrums, StepsFollowTheDataRate) {
    // Stored at 44100 Hz, a drum at its root takes two samples per output
    // sample at 22050 Hz (the voice halves the step at 44100 Hz).
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addKit(b, 0);
    auto c = convert(b, 44100);
    ASSERT_TRUE(c->ok);
    const auto& w = c->writer;
    EXPECT_EQ(w.drumRegions[w.drumKitMaps[36]].lfoDepthStep, 2 * 65536);
    EXPECT_NEAR(double(w.drumRegions[w.drumKitMaps[36]].cycleLength), 2205.0, 3.0);
}

TEST(Sf2ImportFallback, PresetWithoutKey60UsesTheMiddleOfItsRange) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}, {SF2_KEY_RANGE, Sf2Builder::range(80, 100)}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    EXPECT_EQ(c->importer.summary.programsConverted, 1);
}

TEST(Sf2ImportFallback, BankWithoutMelodicPresetsFails) {
    Sf2Builder b;
    addKit(b, 0);
    auto c = convert(b);
    EXPECT_FALSE(c->ok);
    EXPECT_EQ(c->importer.lastError, RESULT_UNSUPPORTED_DATA);
}

TEST(Sf2ImportBadSamples, SampleOutsideTheDataIsSkippedNotRead) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 1, sine440(), {{SF2_SAMPLE_MODES, 1}, {SF2_START_ADDRS_COARSE_OFFSET, 100}});
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    EXPECT_EQ(c->importer.summary.borrowedFrom[1], 0);
}

TEST(Sf2ImportOutput, TheWrittenFontLoadsWithoutRepairs) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 1}});
    addMelodic(b, 40, sine440(55), {{SF2_SAMPLE_MODES, 0}});
    addKit(b, 0);
    addKit(b, 8);
    auto c = convert(b);
    ASSERT_TRUE(c->ok);
    std::vector<std::uint8_t> bytes = c->writer.bytes();
    SoundFont font;
    SoundFontDiagnostics diagnostics;
    ASSERT_TRUE(font.loadSoundFontFromMemory(bytes.data(), bytes.size(), &diagnostics));
    EXPECT_TRUE(diagnostics.problems.empty()) << diagnostics.problems.front();
    EXPECT_EQ(font.drumKitCount, 2);
    // The loader leaves converted records as they are: rates are already even.
    EXPECT_EQ(std::memcmp(&font.programs[40].attackRate, &c->writer.programs[40].attackRate, 48), 0);
}

TEST(Sf2ImportOutput, SizeLimitLowersTheDataRate) {
    Sf2Builder b;
    addMelodic(b, 0, sine440(), {{SF2_SAMPLE_MODES, 0}});
    auto unlimited = convert(b);
    ASSERT_TRUE(unlimited->ok);
    std::size_t full = unlimited->writer.bytes().size();

    auto limited = std::make_unique<Converted>();
    limited->file = b.build();
    ASSERT_TRUE(limited->bank.parse(reinterpret_cast<const std::uint8_t*>(limited->file.data()), limited->file.size()));
    limited->importer.options.maxBytes = full - 1000;
    ASSERT_TRUE(limited->importer.convert(limited->bank, limited->writer));
    EXPECT_LE(limited->writer.bytes().size(), full - 1000);
    EXPECT_LT(limited->importer.summary.dataRate, 22050u);

    limited->importer.options.maxBytes = 9000;  // below the fixed tables
    EXPECT_FALSE(limited->importer.convert(limited->bank, limited->writer));
}

// The looped 440 Hz sine of sine440() as an SF3 bank's Ogg Vorbis sample,
// with a drum kit playing it too.
Sf2Builder sf3Bank() {
    Sf2Builder b;
    b.versionMajor = 3;
    testing::Sf2BuildSample tone = sine440();
    tone.ogg = testing::encodeOggVorbis(tone.frames, tone.sampleRate);
    addMelodic(b, 0, tone, {{SF2_SAMPLE_MODES, 1}});
    b.instruments.push_back({"kit", {{{SF2_KEY_RANGE, Sf2Builder::range(36, 40)}, {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back({"Kit", 0, 128, {{{SF2_INSTRUMENT, 1}}}});
    return b;
}

TEST(Sf3Import, CompressedSampleConvertsAsItsSf2TwinInTuneWithItsLoop) {
    Sf2Builder b = sf3Bank();
    ASSERT_FALSE(b.samples[0].ogg.empty());
    auto c = convert(b);
    ASSERT_TRUE(c->ok) << c->importer.errorText;
    ASSERT_TRUE(c->bank.compressed());
    const InstrumentRecord& rec = c->writer.programs[0];
    const auto& data = c->writer.samples[static_cast<std::size_t>(rec.sample)];
    EXPECT_NEAR(cents(playedFrequency(rec, data, 440.0), 440.0), 0.0, 3.0);
    EXPECT_NEAR(cents(playedFrequency(rec, data, 261.6256), 261.6256), 0.0, 3.0);
    // The loop wraps without a click, as the uncompressed sample's does.
    int maxStep = 0;
    for (std::size_t i = rec.loopStart + 1; i < rec.loopEnd; ++i)
        maxStep = std::max(maxStep, std::abs(data[i] - data[i - 1]));
    EXPECT_LE(std::abs(data[rec.loopStart] - data[rec.loopEnd - 1]), maxStep + 2);
    EXPECT_EQ(c->importer.summary.drumRegions, 6);  // keys 36…40 and the silent region 0

    // Made as the bank says, the geometry is that of the same bank without compression.
    Sf2Builder plain = b;
    plain.versionMajor = 2;
    plain.samples[0].ogg.clear();
    auto sf3 = convert(b, 22050, true);
    auto sf2 = convert(plain, 22050, true);
    ASSERT_TRUE(sf3->ok && sf2->ok);
    EXPECT_FALSE(sf2->bank.compressed());
    const InstrumentRecord &x = sf3->writer.programs[0], &y = sf2->writer.programs[0];
    EXPECT_EQ(x.cycleLength, y.cycleLength);
    EXPECT_EQ(x.loopStart, y.loopStart);
    EXPECT_EQ(x.loopEnd, y.loopEnd);
}

TEST(Sf3Import, ASampleThatDoesNotDecodeFailsTheConversionByName) {
    // Its stream cut short by 40 bytes: whether a program or only a drum
    // uses it, the conversion stops and names it.
    for (bool drumOnly : {false, true}) {
        SCOPED_TRACE(drumOnly ? "drum" : "program");
        Sf2Builder b = sf3Bank();
        b.samples[0].ogg.resize(b.samples[0].ogg.size() - 40);
        if (drumOnly) {
            b.samples.push_back(sine440());
            b.instruments[0].zones[0].back().second = 1;
        }
        auto c = convert(b);
        EXPECT_FALSE(c->ok);
        EXPECT_EQ(c->importer.lastError, RESULT_FILE_IO_ERROR);
        EXPECT_EQ(c->importer.errorText.rfind("sample \"sine\" does not decode: its Ogg data is cut short", 0), 0u)
            << c->importer.errorText;
    }
}

}  // namespace
}  // namespace brellin
