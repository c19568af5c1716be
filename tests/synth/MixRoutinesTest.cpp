// The eight mixing routines: bit-exact agreement with the per-frame
// algorithm, interpolation through the guard byte, pan, fixed-step gain and
// the way voices end inside a slice.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "ReferenceMix.h"
#include "SynthTestSupport.h"
#include "synth/MixRoutines.h"
#include "synth/SynthTables.h"

namespace brellin {
namespace {

using test::mixFrames;
using test::prepareVoice;

constexpr std::int32_t LOUD = 4000000;  // an envelope level well above the shifts

// 512 bytes and the guard byte (and some spare) that interpolation may read after them.
std::vector<std::int8_t> constantSample(std::int8_t value, std::size_t length = 520) {
    return std::vector<std::int8_t>(length, value);
}

// Copies everything a mix routine reads or writes.
void copyState(Voice& to, const Voice& from) {
    to.configure(from.sampleRate, from.bits, from.outputChannels);
    to.record = from.record;
    to.sample = from.sample;
    to.mix.store(from.mix.load());
    to.volume.store(from.volume.load());
    to.pan.store(from.pan.load());
    to.stage = from.stage;
    to.level = from.level;
    to.rate.store(from.rate.load());
    to.target.store(from.target.load());
    to.position = from.position;
    to.step = from.step;
    to.lfoClock = from.lfoClock;
    to.lfoCounter = from.lfoCounter;
    to.depth = from.depth;
    to.depthTarget = from.depthTarget;
    to.hold.store(from.hold.load());
    to.active.store(from.active.load());
    to.keyDown.store(from.keyDown.load());
    to.stopRequest.store(from.stopRequest.load());
}

void expectSameState(const Voice& a, const Voice& b, const char* where) {
    EXPECT_EQ(a.level, b.level) << where;
    EXPECT_EQ(a.stage, b.stage) << where;
    EXPECT_EQ(a.rate.load(), b.rate.load()) << where;
    EXPECT_EQ(a.target.load(), b.target.load()) << where;
    EXPECT_EQ(a.position, b.position) << where;
    EXPECT_EQ(a.lfoCounter, b.lfoCounter) << where;
    EXPECT_EQ(a.depth, b.depth) << where;
    EXPECT_EQ(a.active.load(), b.active.load()) << where;
}

struct Format {
    std::uint32_t width;
    std::uint32_t channels;
};
constexpr Format FORMATS[] = {{8, 1}, {8, 2}, {16, 1}, {16, 2}};

// A random voice state: rates, levels and positions chosen so that stages,
// loops and the tremolo delay end inside slices, with now and then extreme
// values that make the 32-bit arithmetic wrap.
void randomVoice(std::mt19937& random, Voice& voice, const Format& format, bool fixedStep,
                 const std::vector<std::int8_t>& samples, std::uint32_t sampleLength) {
    auto pick = [&](std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(random);
    };
    auto chance = [&](int percent) { return pick(0, 99) < percent; };
    auto anyInt = [&]() { return static_cast<std::int32_t>(pick(INT32_MIN, INT32_MAX)); };
    const std::uint32_t rates[] = {11025, 22050, 44100};
    InstrumentRecord r{};
    r.fixedStep = fixedStep ? 1 : 0;
    voice.configure(rates[pick(0, 2)], format.width, format.channels);
    voice.setInstrument(r, samples.data());

    InstrumentRecord& k = voice.record;
    k.decay1Rate = static_cast<std::int32_t>(pick(-50, 3000));
    k.decay2Rate = static_cast<std::int32_t>(pick(-50, 3000));
    k.decay3Rate = static_cast<std::int32_t>(pick(0, 3000));
    k.releaseRate = static_cast<std::int32_t>(pick(4, 5000));
    k.decay1Level = static_cast<std::int32_t>(pick(0, 300000));
    k.decay2Level = static_cast<std::int32_t>(pick(0, 300000));
    k.lfoDepthStep = static_cast<std::int32_t>(chance(10) ? anyInt() : pick(-100, 0x40000));
    k.lfoRateShift = static_cast<std::int32_t>(chance(5) ? pick(-5, 40) : pick(0, 12));
    k.loopEnd = static_cast<std::uint32_t>(pick(1, sampleLength));
    k.loopStart = static_cast<std::uint32_t>(chance(20) ? pick(k.loopEnd, sampleLength) : pick(0, k.loopEnd - 1));
    k.cycleLength = static_cast<std::uint32_t>(pick(0, sampleLength));
    if (chance(10)) {
        k.decay1Rate = anyInt();
        k.decay2Rate = anyInt();
        k.decay1Level = anyInt();
    }

    voice.volume.store(static_cast<std::int32_t>(pick(0, 127)));
    voice.pan.store(static_cast<std::int32_t>(chance(5) ? anyInt() : pick(0, 127)));
    voice.stage = static_cast<std::int32_t>(pick(0, 4));
    voice.level = static_cast<std::int32_t>(pick(0, 300000));
    voice.rate.store(static_cast<std::int32_t>(pick(-3000, 3000)));
    if (chance(10)) voice.rate.store(0);
    voice.target.store(static_cast<std::int32_t>(pick(0, 300000)));
    if (chance(8)) {
        voice.level = anyInt();
        voice.rate.store(anyInt());
        voice.target.store(anyInt());
    }
    voice.step = static_cast<std::uint64_t>(pick(0, 3ll << 32));
    if (chance(10)) voice.step = static_cast<std::uint64_t>(pick(0, 200ll << 32));
    if (chance(3)) voice.step = static_cast<std::uint64_t>(pick(0, INT64_MAX)) * 2;
    voice.position = static_cast<std::uint64_t>(pick(0, (static_cast<std::int64_t>(k.loopEnd) << 32) - 1));
    if (chance(20)) {
        // Whole-sample steps and positions land exactly on loopEnd.
        voice.step &= ~0xFFFFFFFFull;
        voice.position &= ~0xFFFFFFFFull;
    }
    voice.lfoCounter = static_cast<std::int32_t>(chance(5) ? pick(INT32_MAX - 300, INT32_MAX) : pick(-400, 400));
    voice.depth = static_cast<std::int32_t>(pick(0, 0x3F0000));
    voice.depthTarget = static_cast<std::int32_t>(pick(0, 0x3F0000));
    if (chance(15)) voice.depth = 0;  // most programs have no tremolo at all
    if (chance(10)) voice.depthTarget = 0;
    voice.hold.store(chance(30));
    voice.active.store(!chance(5));
    voice.stopRequest.store(chance(3));
    if (fixedStep) {
        voice.stage = static_cast<std::int32_t>(chance(10) ? anyInt() : pick(-0x8000, 0x40000));
        voice.position = static_cast<std::uint64_t>(pick(0, (static_cast<std::int64_t>(sampleLength) << 32) - 1));
    }
}

class MixReference : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!setWideMixing(GetParam()) && GetParam()) GTEST_SKIP() << "no AVX2 on this processor";
    }
    void TearDown() override { setWideMixing(true); }
};

INSTANTIATE_TEST_SUITE_P(Paths, MixReference, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& testInfo) {
                             return testInfo.param ? "Wide" : "Plain";
                         });

TEST_P(MixReference, EveryRoutineMatchesThePerFrameAlgorithmBitForBit) {
    std::mt19937 random(20240611);
    const std::uint32_t sampleLength = 3000;
    std::vector<std::int8_t> samples(sampleLength + 8);
    for (auto& byte : samples) byte = static_cast<std::int8_t>(random());
    for (const bool fixedStep : {false, true}) {
        for (const Format& format : FORMATS) {
            for (int trial = 0; trial < 1500; ++trial) {
                Voice real, reference;
                randomVoice(random, real, format, fixedStep, samples, sampleLength);
                copyState(reference, real);
                std::vector<std::int32_t> accReal(2 * 400), accReference;
                for (auto& value : accReal) value = static_cast<std::int32_t>(random()) >> 8;
                accReference = accReal;
                for (int slice = 0; slice < 3; ++slice) {
                    const auto frames = static_cast<std::uint32_t>(1 + random() % 400);
                    real.mix.load()(&real, accReal.data(), frames);
                    test::referenceMix(reference, accReference.data(), frames, format.width, format.channels);
                    ASSERT_EQ(accReal, accReference)
                        << "width " << format.width << " channels " << format.channels
                        << (fixedStep ? " fixed-step" : " pitched") << " trial " << trial << " slice " << slice;
                    expectSameState(real, reference, "after slice");
                    if (HasFailure()) return;
                }
            }
        }
    }
}

TEST_P(MixReference, SliceSizesDoNotChangeTheResult) {
    std::mt19937 random(7);
    SoundFontWriter writer = test::smallTestFont();
    SoundFont font;
    ASSERT_TRUE(test::loadFont(font, writer));
    for (const Format& format : FORMATS) {
        Voice whole, sliced;
        prepareVoice(whole, 44100, format.width, format.channels, font.programs[0], font.sampleBlock.get());
        prepareVoice(sliced, 44100, format.width, format.channels, font.programs[0], font.sampleBlock.get());
        whole.noteOn(noteFrequencies[64]);
        sliced.noteOn(noteFrequencies[64]);
        const std::uint32_t frames = 20000;
        std::vector<std::int32_t> a(frames * 2), b(frames * 2);
        whole.mix.load()(&whole, a.data(), frames);
        std::uint32_t done = 0;
        while (done < frames) {
            const std::uint32_t n =
                std::min<std::uint32_t>(frames - done, static_cast<std::uint32_t>(1 + random() % 176));
            sliced.mix.load()(&sliced, b.data() + done * format.channels, n);
            done += n;
        }
        EXPECT_EQ(a, b) << format.width << "/" << format.channels;
    }
}

TEST(MixPitched, InactiveVoiceAddsNothingAndDoesNotAdvance) {
    const auto sample = constantSample(50);
    for (const Format& format : FORMATS) {
        Voice voice;
        prepareVoice(voice, 22050, format.width, format.channels, test::holdingRecord(LOUD, 512), sample.data());
        voice.noteOn(noteFrequencies[60]);
        voice.silence();
        const std::uint64_t position = voice.position;
        const auto out = mixFrames(voice, 100);
        for (std::int32_t value : out) ASSERT_EQ(value, 0);
        EXPECT_EQ(voice.position, position);
    }
}

TEST(MixPitched, StopRequestSwitchesTheVoiceOff) {
    const auto sample = constantSample(50);
    Voice voice;
    prepareVoice(voice, 22050, 16, 2, test::holdingRecord(LOUD, 512), sample.data());
    voice.noteOn(noteFrequencies[60]);
    voice.stop();
    const auto out = mixFrames(voice, 10);
    for (std::int32_t value : out) EXPECT_EQ(value, 0);
    EXPECT_FALSE(voice.isActive());
}

TEST(MixPitched, ReleaseEndingMidSliceAddsNothingForTheRestOfTheSlice) {
    const auto sample = constantSample(50);
    InstrumentRecord r = test::holdingRecord(LOUD, 512);
    r.releaseRate = LOUD / 10;  // 10 samples of release at 22050 Hz
    for (const Format& format : FORMATS) {
        Voice voice;
        prepareVoice(voice, 22050, format.width, format.channels, r, sample.data());
        voice.noteOn(noteFrequencies[60]);
        mixFrames(voice, 5);
        voice.noteOff();
        const auto out = mixFrames(voice, 40);
        EXPECT_FALSE(voice.isActive());
        // Levels 9/10 … 1/10 sound, the level 0 frame and everything after add nothing.
        for (std::uint32_t frame = 0; frame < 40; ++frame) {
            for (std::uint32_t c = 0; c < format.channels; ++c) {
                const std::int32_t value = out[frame * format.channels + c];
                if (frame < 9) {
                    EXPECT_GT(value, 0) << frame;
                } else {
                    EXPECT_EQ(value, 0) << frame;
                }
            }
        }
    }
}

TEST(MixInterpolation, LastPositionReadsTheGuardByte) {
    SoundFontWriter writer;
    const std::uint32_t looped = writer.addSample({10, 20, 30, 40});
    const std::uint32_t oneShot = writer.addSample({50, 60, 70});
    const std::uint32_t other = writer.addSample({1, 2, 3});
    for (auto& program : writer.programs) {
        program = test::holdingRecord(LOUD, 3);
        program.sample = static_cast<std::int32_t>(other);
    }
    writer.programs[0] = test::holdingRecord(LOUD, 4);
    writer.programs[0].sample = static_cast<std::int32_t>(looped);
    writer.programs[0].loopStart = 1;  // guard byte: the byte at loopStart, 20
    writer.programs[1] = test::holdingRecord(LOUD, 3);
    writer.programs[1].sample = static_cast<std::int32_t>(oneShot);
    writer.programs[1].loopStart = 3;  // not inside the sample: guard byte 0
    SoundFont font;
    ASSERT_TRUE(test::loadFont(font, writer));

    // Output at position p + 0.5 between the last byte and the guard byte
    // equals the output of a flat sample holding the midpoint.
    auto render = [](const InstrumentRecord& record, const std::int8_t* block, std::uint64_t position) {
        Voice voice;
        prepareVoice(voice, 22050, 16, 2, record, block);
        voice.noteOn(noteFrequencies[60]);
        voice.position = position;
        return mixFrames(voice, 1);
    };
    const auto flat30 = constantSample(30, 8);
    const auto flat35 = constantSample(35, 8);
    InstrumentRecord flat = font.programs[0];
    flat.sample = 0;
    EXPECT_EQ(render(font.programs[0], font.sampleBlock.get(), (3ull << 32) | 0x80000000u),
              render(flat, flat30.data(), 0x80000000u));
    flat = font.programs[1];
    flat.sample = 0;
    flat.loopStart = 0;
    EXPECT_EQ(render(font.programs[1], font.sampleBlock.get(), (2ull << 32) | 0x80000000u),
              render(flat, flat35.data(), 0x80000000u));
}

TEST(MixInterpolation, OnlyTheSixteenBitStereoRoutineInterpolates) {
    const std::vector<std::int8_t> ramp = {100, 0, 100, 0, 100, 0, 100, 0, 100};
    InstrumentRecord r = test::holdingRecord(LOUD, 8);
    for (const Format& format : FORMATS) {
        Voice voice;
        prepareVoice(voice, 22050, format.width, format.channels, r, ramp.data());
        voice.noteOn(noteFrequencies[60]);
        mixFrames(voice, 1);  // past the attack: the level holds from here on
        voice.position = 0;
        const auto whole = mixFrames(voice, 1);
        voice.position = 0x80000000u;  // halfway between 100 and 0
        const auto half = mixFrames(voice, 1);
        ASSERT_GT(whole[0], 0);
        if (format.width == 16 && format.channels == 2) {
            EXPECT_NEAR(half[0], whole[0] / 2, 1);
        } else {
            EXPECT_EQ(half, whole);  // the byte at the integer position
        }
    }
}

TEST(MixPan, PanZeroPutsEverythingIntoTheSecondChannel) {
    const auto sample = constantSample(90);
    for (const std::uint32_t width : {8u, 16u}) {
        for (const bool fixedStep : {false, true}) {
            InstrumentRecord r = test::holdingRecord(LOUD, 512);
            if (fixedStep) {
                r.fixedStep = 1;
                r.lfoDepthStep = 0x10000;
            }
            Voice voice;
            prepareVoice(voice, 22050, width, 2, r, sample.data());
            voice.noteOn(noteFrequencies[60]);
            voice.setPan(0);
            const auto out = mixFrames(voice, 16);
            for (std::uint32_t frame = 1; frame < 16; ++frame) {
                EXPECT_EQ(out[2 * frame], 0);
                EXPECT_GT(out[2 * frame + 1], 0);
            }
        }
    }
}

TEST(MixPan, Pan127StillSendsOne128thToTheSecondChannel) {
    const auto sample = constantSample(100);
    Voice voice;
    prepareVoice(voice, 22050, 8, 2, test::holdingRecord(LOUD * 4, 512), sample.data());
    voice.noteOn(noteFrequencies[60]);
    voice.setPan(127);
    const auto out = mixFrames(voice, 8);
    for (std::uint32_t frame = 1; frame < 8; ++frame) {
        const std::int32_t total = out[2 * frame] + out[2 * frame + 1];
        ASSERT_GT(total, 128);
        EXPECT_EQ(out[2 * frame + 1], total >> 7);
        EXPECT_EQ(out[2 * frame], total - (total >> 7));
    }
}

TEST(MixPan, CentredPitchedStereoGivesEachChannelTheMonoLevel) {
    const auto sample = constantSample(-77);
    for (const std::uint32_t width : {8u, 16u}) {
        Voice mono, stereo;
        prepareVoice(mono, 22050, width, 1, test::holdingRecord(LOUD, 512), sample.data());
        prepareVoice(stereo, 22050, width, 2, test::holdingRecord(LOUD, 512), sample.data());
        mono.noteOn(noteFrequencies[60]);
        stereo.noteOn(noteFrequencies[60]);
        const auto a = mixFrames(mono, 8);
        const auto b = mixFrames(stereo, 8);
        for (std::uint32_t frame = 0; frame < 8; ++frame) {
            EXPECT_NEAR(b[2 * frame], a[frame], 1 + std::abs(a[frame]) / 100) << width;
            EXPECT_NEAR(b[2 * frame + 1], a[frame], 1 + std::abs(a[frame]) / 100) << width;
        }
    }
}

InstrumentRecord drumRecord(std::uint32_t length) {
    InstrumentRecord r{};
    r.fixedStep = 1;
    r.lfoDepthStep = 0x10000;  // 1.0 while held
    r.lfoDepth = 0x20000;      // 2.0 after note-off
    r.cycleLength = length;
    r.loopEnd = length;
    r.releaseRate = 4;
    return r;
}

TEST(MixFixedStep, GainIsVolumeAndAHalfCappedAt127) {
    const auto sample = constantSample(100);
    auto render = [&](std::int32_t volume) {
        Voice voice;
        prepareVoice(voice, 22050, 8, 1, drumRecord(512), sample.data());
        voice.setVolume(volume);
        voice.noteOn(noteFrequencies[60]);
        return mixFrames(voice, 4);
    };
    EXPECT_EQ(render(100), render(127));  // 150 and 190 both cap at 127
    EXPECT_EQ(render(100)[0], (100 * 127) >> 7);
    EXPECT_EQ(render(80)[0], (100 * 120) >> 7);  // 80 + 40
    EXPECT_EQ(render(84)[0], (100 * 126) >> 7);  // 84 + 42
}

TEST(MixFixedStep, SixteenBitAndStereoLevels) {
    const auto sample = constantSample(-100);
    Voice mono16, stereo8;
    prepareVoice(mono16, 22050, 16, 1, drumRecord(512), sample.data());
    prepareVoice(stereo8, 22050, 8, 2, drumRecord(512), sample.data());
    mono16.setVolume(127);
    stereo8.setVolume(127);
    mono16.noteOn(noteFrequencies[60]);
    stereo8.noteOn(noteFrequencies[60]);
    EXPECT_EQ(mixFrames(mono16, 1)[0], -200 * 127);
    // Unlike pitched voices, a centred fixed-step voice gives each channel half the mono level.
    const auto out = mixFrames(stereo8, 1);
    const std::int32_t monoLevel = (-100 * 127) >> 7;
    EXPECT_EQ(out[1], (monoLevel * 64) >> 7);
    EXPECT_EQ(out[0] + out[1], monoLevel);
}

TEST(MixFixedStep, PlaysToItsEndEvenAfterSilenceAndUsesTheReleaseStep) {
    const auto sample = constantSample(100, 600);
    Voice voice;
    prepareVoice(voice, 22050, 8, 1, drumRecord(300), sample.data());
    voice.noteOn(noteFrequencies[60]);
    mixFrames(voice, 100);
    EXPECT_EQ(voice.position >> 32, 100u);
    voice.noteOff();  // step 2.0 from now on
    mixFrames(voice, 10);
    EXPECT_EQ(voice.position >> 32, 120u);
    voice.silence();
    EXPECT_FALSE(voice.isActive());
    const auto out = mixFrames(voice, 100);
    // Positions 120, 122 … 298 sound: 90 frames, then the end position stops it.
    for (std::uint32_t frame = 0; frame < 100; ++frame) {
        if (frame < 90) {
            ASSERT_NE(out[frame], 0) << frame;
        } else {
            ASSERT_EQ(out[frame], 0) << frame;
        }
    }
    EXPECT_FALSE(voice.isActive());
}

TEST(MixChoice, TheRoutineFollowsTheFormatAndTheRecordKind) {
    EXPECT_EQ(chooseMixRoutine(8, 1, false), (&mixVoice<8, 1, false>));
    EXPECT_EQ(chooseMixRoutine(8, 2, true), (&mixVoice<8, 2, true>));
    EXPECT_EQ(chooseMixRoutine(16, 2, false), (&mixVoice<16, 2, false>));
    EXPECT_EQ(chooseMixRoutine(24, 1, true), (&mixVoice<16, 1, true>));  // any other width is 16-bit
    const auto sample = constantSample(1);
    Voice voice;
    prepareVoice(voice, 22050, 16, 2, test::holdingRecord(LOUD, 512), sample.data());
    EXPECT_EQ(voice.mix.load(), (&mixVoice<16, 2, false>));
    voice.setInstrument(drumRecord(100), sample.data());
    EXPECT_EQ(voice.mix.load(), (&mixVoice<16, 2, true>));
}

}  // namespace
}  // namespace brellin

// Golden hashes of short renders: any change to what the routines compute
// shows here, whichever path computed it. After an intended change, run with
// BRELLIN_UPDATE_GOLDEN=1 to print the new values and paste them below.
namespace brellin {
namespace {

std::uint64_t fnv1a(const std::vector<std::int32_t>& values) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::int32_t value : values) {
        for (int i = 0; i < 4; ++i) {
            hash ^= (static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// A pitched note (attack, decays, tremolo, loop, release) and a drum hit at
// each rate, mixed in slices of the rate's slice length.
std::uint64_t goldenRender(std::uint32_t width, std::uint32_t channels) {
    SoundFontWriter writer = test::smallTestFont();
    writer.programs[3].lfoDelay = 100;  // the tremolo starts within the render
    SoundFont font;
    if (!test::loadFont(font, writer)) return 0;
    std::vector<std::int32_t> all;
    for (const std::uint32_t rate : {11025u, 22050u, 44100u}) {
        const std::uint32_t slice = rate * 44 / 11025;
        Voice note, drum;
        prepareVoice(note, rate, width, channels, font.programs[3], font.sampleBlock.get());
        prepareVoice(drum, rate, width, channels, font.drumRegion(0, 38), font.sampleBlock.get());
        note.setVolume(100);
        drum.setVolume(90);
        note.setPan(30);
        note.setModulation(64);
        note.noteOn(noteFrequencies[57]);
        drum.noteOn(noteFrequencies[60]);
        for (int s = 0; s < 120; ++s) {
            if (s == 80) note.noteOff();
            if (s == 20) drum.noteOff();
            std::vector<std::int32_t> acc(static_cast<std::size_t>(slice) * channels, 0);
            note.mix.load()(&note, acc.data(), slice);
            drum.mix.load()(&drum, acc.data(), slice);
            all.insert(all.end(), acc.begin(), acc.end());
        }
    }
    return fnv1a(all);
}

TEST(MixGolden, ShortRendersKeepTheirHashes) {
    const std::uint64_t expected[4] = {0x1678f1393522a1b0ull, 0x18a8798592bce53dull, 0xd5f4b47eadcaec17ull,
                                       0x67dba54984dca539ull};
    const bool update = std::getenv("BRELLIN_UPDATE_GOLDEN") != nullptr;
    for (int i = 0; i < 4; ++i) {
        const Format& format = FORMATS[i];
        const std::uint64_t hash = goldenRender(format.width, format.channels);
        if (update) {
            std::printf("%u-bit %u-channel: 0x%016llxull\n", format.width, format.channels,
                        static_cast<unsigned long long>(hash));
        } else {
            EXPECT_EQ(hash, expected[i]) << format.width << "-bit " << format.channels << "-channel";
        }
        setWideMixing(false);
        EXPECT_EQ(goldenRender(format.width, format.channels), hash) << "plain path";
        setWideMixing(true);
    }
}

}  // namespace
}  // namespace brellin
