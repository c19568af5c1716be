// Voice: envelope, rate rescaling, position stepping, note operations and tremolo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "SynthTestSupport.h"
#include "synth/SynthTables.h"
#include "synth/Voice.h"

namespace brellin {
namespace {

using test::mixFrames;
using test::prepareVoice;

// A flat sample: every output frame shows amp × 64 (16-bit mono: s × amp).
const std::vector<std::int8_t> flat(1024, 64);

InstrumentRecord envelopeRecord() {
    InstrumentRecord r{};
    r.attackRate = 4;
    r.attackLevel = 400;
    r.decay1Rate = 0;
    r.decay1Level = 100;
    r.decay2Rate = 2;
    r.decay2Level = 50;
    r.decay3Rate = 2;
    r.releaseRate = 10;
    r.cycleLength = 16;
    r.loopStart = 0;
    r.loopEnd = 1000;
    return r;
}

// Levels after each of `frames` single-frame mixes.
std::vector<std::int32_t> levels(Voice& voice, std::uint32_t frames) {
    std::vector<std::int32_t> result;
    for (std::uint32_t i = 0; i < frames; ++i) {
        mixFrames(voice, 1);
        result.push_back(voice.level);
    }
    return result;
}

TEST(VoiceEnvelope, AttackReachesItsLevelAfter100SamplesAndDecayZeroHolds) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    ASSERT_TRUE(voice.noteOn(noteFrequencies[60]));
    const auto attack = levels(voice, 100);
    EXPECT_EQ(attack[0], 4);
    EXPECT_EQ(attack[49], 200);
    EXPECT_EQ(attack[98], 396);
    EXPECT_EQ(attack[99], 400);
    const auto held = levels(voice, 2000);
    for (std::int32_t level : held) ASSERT_EQ(level, 400);
    EXPECT_EQ(voice.stage, Voice::STAGE_DECAY1);
    EXPECT_TRUE(voice.isActive());
}

TEST(VoiceEnvelope, DecayStagesFollowEachOtherAndEndTheVoiceAtZero) {
    InstrumentRecord r = envelopeRecord();
    r.decay1Rate = 100;  // 400 → 100 in three samples
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 100);
    // Reaching the target exactly does not end a falling stage; passing it
    // does, and the level is then set to the target.
    EXPECT_EQ(levels(voice, 4), (std::vector<std::int32_t>{300, 200, 100, 100}));
    EXPECT_EQ(voice.stage, Voice::STAGE_DECAY2);
    // Decay 2 at 2 per sample down to 50, decay 3 at 2 per sample down to 0.
    levels(voice, 26);
    EXPECT_EQ(voice.level, 50);
    EXPECT_EQ(voice.stage, Voice::STAGE_DECAY3);
    levels(voice, 25);
    EXPECT_EQ(voice.level, 0);
    EXPECT_TRUE(voice.isActive());
    levels(voice, 1);
    EXPECT_FALSE(voice.isActive());
    EXPECT_EQ(voice.target.load(), INT32_MIN);
}

TEST(VoiceEnvelope, ReleaseAfterNoteOffFallsAtTheReleaseRateAndEnds) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 150);
    voice.noteOff();
    EXPECT_FALSE(voice.isKeyDown());
    EXPECT_TRUE(voice.isActive());
    EXPECT_EQ(levels(voice, 3), (std::vector<std::int32_t>{390, 380, 370}));
    levels(voice, 36);
    EXPECT_EQ(voice.level, 10);
    EXPECT_TRUE(voice.isActive());
    // The step that takes the level to 0 ends the voice; it adds nothing after.
    const auto rest = mixFrames(voice, 10);
    EXPECT_FALSE(voice.isActive());
    for (std::int32_t value : rest) EXPECT_EQ(value, 0);
}

TEST(VoiceEnvelope, DamperFreezesDecayAndReleasingItResumesTheStage) {
    InstrumentRecord r = envelopeRecord();
    r.decay1Rate = 2;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 110);
    EXPECT_EQ(voice.level, 380);
    voice.setHold(true);
    for (std::int32_t level : levels(voice, 500)) ASSERT_EQ(level, 380);
    voice.setHold(false);
    EXPECT_EQ(levels(voice, 2), (std::vector<std::int32_t>{378, 376}));
}

TEST(VoiceEnvelope, DamperAlsoFreezesTheRelease) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 100);
    voice.noteOff();
    levels(voice, 5);
    voice.setHold(true);
    for (std::int32_t level : levels(voice, 100)) ASSERT_EQ(level, 350);
    voice.setHold(false);
    EXPECT_EQ(levels(voice, 1), (std::vector<std::int32_t>{340}));
}

TEST(VoiceEnvelope, NoteOffWithDamperDownStillReleases) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 120);
    voice.setHold(true);
    voice.noteOff();
    EXPECT_EQ(levels(voice, 2), (std::vector<std::int32_t>{390, 380}));
}

TEST(VoiceEnvelope, DamperDuringAttackLetsTheAttackContinue) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 10);
    voice.setHold(true);
    EXPECT_EQ(levels(voice, 2), (std::vector<std::int32_t>{44, 48}));
}

TEST(VoiceEnvelope, ClearingDamperDuringAttackJumpsToAttackLevelThenDecays) {
    InstrumentRecord r = envelopeRecord();
    r.decay1Rate = 2;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 10);
    voice.setHold(false);  // the rate becomes −releaseRate: the attack ends at once
    EXPECT_EQ(levels(voice, 3), (std::vector<std::int32_t>{400, 398, 396}));
    EXPECT_EQ(voice.stage, Voice::STAGE_DECAY1);
}

TEST(VoiceEnvelope, DamperHeldAtTheEndOfTheAttackHoldsDecayOne) {
    InstrumentRecord r = envelopeRecord();
    r.decay1Rate = 2;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.setHold(true);
    voice.noteOn(noteFrequencies[60]);
    for (std::int32_t level : levels(voice, 300)) ASSERT_LE(level, 400);
    EXPECT_EQ(voice.level, 400);
    EXPECT_EQ(voice.stage, Voice::STAGE_DECAY1);
}

TEST(VoiceRescaling, RatesStepsAndDelaysFollowTheOutputRate) {
    InstrumentRecord r = envelopeRecord();
    r.attackRate = 8;
    r.decay1Rate = 6;
    r.decay2Rate = 4;
    r.decay3Rate = 2;
    r.releaseRate = 10;
    r.lfoDelay = 1000;
    r.lfoDepthStep = 30;
    r.lfoDepth = 0x20000;
    struct Case {
        std::uint32_t rate;
        std::int32_t attack, decay1, decay2, decay3, release, delay, depthStep;
    };
    for (const Case& c : {Case{11025, 16, 12, 8, 4, 20, 500, 60}, Case{22050, 8, 6, 4, 2, 10, 1000, 30},
                          Case{44100, 4, 3, 2, 1, 5, 2000, 15}}) {
        Voice voice;
        prepareVoice(voice, c.rate, 16, 1, r, flat.data());
        EXPECT_EQ(voice.record.attackRate, c.attack) << c.rate;
        EXPECT_EQ(voice.record.decay1Rate, c.decay1) << c.rate;
        EXPECT_EQ(voice.record.decay2Rate, c.decay2) << c.rate;
        EXPECT_EQ(voice.record.decay3Rate, c.decay3) << c.rate;
        EXPECT_EQ(voice.record.releaseRate, c.release) << c.rate;
        EXPECT_EQ(voice.record.lfoDelay, c.delay) << c.rate;
        EXPECT_EQ(voice.record.lfoDepthStep, c.depthStep) << c.rate;
        EXPECT_EQ(voice.record.lfoDepth, 0x20000) << c.rate;  // a pitched record keeps its depth
    }
    // The source record is untouched, so one record serves every voice.
    EXPECT_EQ(r.releaseRate, 10);
}

TEST(VoiceRescaling, ReleaseAt44100FallsByHalfTheStoredRate) {
    Voice voice;
    prepareVoice(voice, 44100, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    levels(voice, 300);  // attack at 2 per sample
    EXPECT_EQ(voice.level, 400);
    voice.noteOff();
    EXPECT_EQ(levels(voice, 2), (std::vector<std::int32_t>{395, 390}));
}

TEST(VoiceRescaling, FixedStepRecordsScaleBothSteps) {
    InstrumentRecord r{};
    r.fixedStep = 1;
    r.lfoDepth = 0x8000;
    r.lfoDepthStep = 0x10000;
    r.cycleLength = 100;
    r.releaseRate = 10;
    Voice low, high;
    prepareVoice(low, 11025, 8, 1, r, flat.data());
    prepareVoice(high, 44100, 8, 1, r, flat.data());
    EXPECT_EQ(low.record.lfoDepth, 0x10000);
    EXPECT_EQ(low.record.lfoDepthStep, 0x20000);
    EXPECT_EQ(high.record.lfoDepth, 0x4000);
    EXPECT_EQ(high.record.lfoDepthStep, 0x8000);
    EXPECT_EQ(low.record.releaseRate, 10);
}

TEST(VoicePosition, LoopWrapsFrom200Point5To100Point5) {
    InstrumentRecord r = test::holdingRecord(1000, 300);
    r.loopStart = 100;
    r.loopEnd = 200;
    Voice voice;
    prepareVoice(voice, 22050, 16, 2, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    voice.position = 199ull << 32;
    voice.step = 0x180000000ull;  // 1.5
    mixFrames(voice, 1);
    EXPECT_EQ(voice.position, (100ull << 32) | 0x80000000ull);
    EXPECT_TRUE(voice.isActive());
}

TEST(VoicePosition, WithoutLoopTheVoiceEndsAtLoopEnd) {
    InstrumentRecord r = test::holdingRecord(4000000, 300);
    r.loopStart = 200;
    r.loopEnd = 200;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    voice.position = 198ull << 32;
    voice.step = 1ull << 32;
    const auto out = mixFrames(voice, 4);
    EXPECT_FALSE(voice.isActive());
    EXPECT_NE(out[0], 0);
    EXPECT_NE(out[1], 0);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
}

TEST(VoicePosition, StepLongerThanTheLoopStaysInsideTheLoop) {
    InstrumentRecord r = test::holdingRecord(1000, 300);
    r.loopStart = 100;
    r.loopEnd = 110;
    Voice voice;
    prepareVoice(voice, 22050, 16, 2, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    voice.position = 100ull << 32;
    voice.step = 37ull << 32;
    for (int i = 0; i < 50; ++i) {
        mixFrames(voice, 1);
        const std::uint32_t p = static_cast<std::uint32_t>(voice.position >> 32);
        ASSERT_LT(p, 110u);
        ASSERT_GE(p, 100u);
    }
}

TEST(VoiceNoteOn, StepIsCycleLengthTimesFrequencyOverRateIn32Point32) {
    InstrumentRecord r = test::holdingRecord(1000, 256);
    r.cycleLength = 64;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[69]);
    EXPECT_EQ(voice.step, (64ull * 56320 << 25) / 22050);
    // 64 × 440 / 22050 ≈ 1.277 source samples per output sample.
    EXPECT_NEAR(static_cast<double>(voice.step) / 4294967296.0, 64.0 * 440 / 22050, 1e-6);
    voice.setPitch(noteFrequencies[81]);
    EXPECT_EQ(voice.step, (64ull * noteFrequencies[81] << 25) / 22050);
}

TEST(VoiceNoteOn, VolumeZeroLeavesTheVoiceIdle) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.setVolume(0);
    EXPECT_TRUE(voice.noteOn(noteFrequencies[60]));
    EXPECT_FALSE(voice.isActive());
    const auto out = mixFrames(voice, 16);
    for (std::int32_t value : out) EXPECT_EQ(value, 0);
}

TEST(VoiceNoteOn, FrequencyZeroIsRefused) {
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, envelopeRecord(), flat.data());
    voice.noteOn(noteFrequencies[60]);
    EXPECT_FALSE(voice.noteOn(0));
    EXPECT_FALSE(voice.isActive());  // the silence of noteOn still happened
    voice.noteOn(noteFrequencies[60]);
    const std::uint64_t step = voice.step;
    EXPECT_FALSE(voice.setPitch(0));
    EXPECT_EQ(voice.step, step);
}

TEST(VoiceNoteOn, VolumeAboveRangeIsCapped) {
    Voice voice;
    voice.setVolume(500);
    EXPECT_EQ(voice.volume.load(), 127);
    voice.setVolume(-1);  // an unsigned comparison: −1 is above 127
    EXPECT_EQ(voice.volume.load(), 127);
    voice.setVolume(90);
    EXPECT_EQ(voice.volume.load(), 90);
}

TEST(VoiceModulation, WheelRaisesTheDepthTargetWithinItsLimits) {
    InstrumentRecord r = envelopeRecord();
    r.lfoDepth = 0x300000;
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.setModulation(127);
    EXPECT_EQ(voice.depthTarget, 0x3F0000);
    voice.noteOn(noteFrequencies[60]);
    EXPECT_EQ(voice.depthTarget, 0x1F0000);
    voice.clearModulation();
    EXPECT_EQ(voice.depthTarget, 0x300000);
    voice.setModulation(8);  // (8 >> 2) << 16
    EXPECT_EQ(voice.modOffset, 0x20000);
}

TEST(VoiceTremolo, StartsAtItsNegativePeakWhenTheDelayEnds) {
    // Level 0 after the first sample, so the output is the tremolo term alone.
    InstrumentRecord r = envelopeRecord();
    r.attackLevel = 0;
    r.decay1Level = 0;
    r.lfoDelay = 20;
    r.lfoDepth = 0x3F0000;
    r.lfoDepthStep = 0x3F0000;  // full depth in one step (past the note-on target)
    r.lfoRateShift = 8;         // 2^8 / 256 = 1 Hz
    Voice voice;
    prepareVoice(voice, 22050, 16, 1, r, flat.data());
    voice.noteOn(noteFrequencies[60]);
    const auto out = mixFrames(voice, 22050);
    for (int i = 0; i < 19; ++i) ASSERT_EQ(out[static_cast<std::size_t>(i)], 0) << i;
    // 16-bit mono: 64 × ((−127 × depth) >> 25) at the start, + at half a period.
    EXPECT_EQ(out[19], 64 * ((-127 * 0x3F0000) >> 25));
    // The positive peak (a plateau at this depth) is centred half a second,
    // half a period, after the start.
    const std::int32_t highest = *std::max_element(out.begin(), out.end());
    EXPECT_EQ(highest, 64 * ((127 * 0x3F0000) >> 25));
    const auto first = std::find(out.begin(), out.end(), highest) - out.begin();
    const auto last = out.rend() - std::find(out.rbegin(), out.rend(), highest) - 1;
    EXPECT_NEAR(static_cast<double>(first + last) / 2.0, 19 + 22050 / 2.0, 22050 * 0.005);
}

TEST(VoiceTables, FrequencyAndSineTables) {
    EXPECT_EQ(noteFrequencies[0], 1046u);
    EXPECT_EQ(noteFrequencies[60], 33488u);
    EXPECT_EQ(noteFrequencies[69], 56320u);
    EXPECT_EQ(noteFrequencies[127], 1605613u);
    for (int n = 0; n < 128; ++n) {
        const double exact = 440.0 * 128 * std::pow(2.0, (n - 69) / 12.0);
        ASSERT_LE(noteFrequencies[n], exact + 1e-6) << n;
        ASSERT_GT(noteFrequencies[n] + 1.0, exact) << n;
    }
    EXPECT_EQ(tremoloSine[0], -127);
    EXPECT_EQ(tremoloSine[128], 127);
    EXPECT_EQ(tremoloSine[64], 0);
    EXPECT_EQ(tremoloSine[192], 0);
    for (int i = 1; i < 128; ++i) {
        ASSERT_EQ(tremoloSine[i], tremoloSine[256 - i]) << i;  // cos is even
        ASSERT_LE(tremoloSine[i - 1], tremoloSine[i]) << i;    // rising to the peak
    }
}

}  // namespace
}  // namespace brellin
