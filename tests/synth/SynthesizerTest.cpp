// Synthesizer: the MIDI byte parser, note handling with retrigger and
// stealing, pitch bend, controllers, system-exclusive messages, resets,
// volumes and the voice pool.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "SynthTestSupport.h"
#include "output/SoundOutput.h"
#include "synth/SynthTables.h"
#include "synth/Synthesizer.h"

namespace brellin {
namespace {

class SynthesizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<std::uint8_t> bytes = test::smallTestFont().bytes();
        ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
        ASSERT_TRUE(synth.createVoices(output, 4));
    }

    void send(std::vector<std::uint8_t> bytes) {
        EXPECT_TRUE(synth.sendMidi(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    }

    int activeVoices() {
        int count = 0;
        for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) count += synth.voice(i).isActive() ? 1 : 0;
        return count;
    }

    // Index of the voice whose slot plays `key` on `channel`, or −1.
    int voiceOf(std::int32_t channel, std::int32_t key) {
        for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) {
            if (synth.slot(i).channel.load() == channel && synth.slot(i).key == key) return static_cast<int>(i);
        }
        return -1;
    }

    // The step a voice gets for `frequency` with `record`, from a voice of the same format.
    std::uint64_t stepFor(const InstrumentRecord& record, std::uint32_t frequency) {
        Voice voice;
        voice.configure(synth.voice(0).sampleRate, synth.voice(0).bits, 1);
        voice.setInstrument(record, synth.soundFont.sampleBlock.get());
        voice.noteOn(frequency);
        return voice.step;
    }

    // The output comes first: the Synthesizer's voices leave it on destruction.
    SoundOutput output;
    Synthesizer synth;
};

// ------------------------------------------------------------------ parser

TEST_F(SynthesizerTest, ParserDropsRunningStatus) {
    send({0x90, 0x3C, 0x40});
    EXPECT_EQ(activeVoices(), 1);
    send({0x3C, 0x41});  // a second note without its status byte
    EXPECT_EQ(activeVoices(), 1);
    EXPECT_EQ(synth.parserState(), 0u);
    send({0x90, 0x3E, 0x40});
    EXPECT_EQ(activeVoices(), 2);
}

TEST_F(SynthesizerTest, ParserTakesProgramChangeAndChannelPressureAsTwoBytes) {
    send({0xC0, 0x05, 0x90, 0x3C, 0x40});
    ASSERT_GE(voiceOf(0, 60), 0);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).record.groupId, 5);
    send({0xD0, 0x40, 0x90, 0x3E, 0x40});
    EXPECT_GE(voiceOf(0, 62), 0);
    send({0xA0, 0x3E, 0x40, 0x90, 0x40, 0x40});  // polyphonic pressure: three bytes, ignored
    EXPECT_GE(voiceOf(0, 64), 0);
    EXPECT_EQ(activeVoices(), 3);
}

TEST_F(SynthesizerTest, ParserTakesDataBytesAsTheyComeInStatesOneAndTwo) {
    send({0x90, 0xBC, 0xC0});  // key and velocity keep their low 7 bits: key 60, velocity 64
    const int voice = voiceOf(0, 60);
    ASSERT_GE(voice, 0);
    EXPECT_EQ(synth.slot(static_cast<std::uint32_t>(voice)).velocity.load(), 0x40);
    EXPECT_EQ(synth.parserState(), 0u);
}

TEST_F(SynthesizerTest, ParserKeepsCollectingAShortSystemExclusiveMessage) {
    // F7 in state 1 or 2 is a data byte: F0 7E F7 has not ended.
    send({0xF0, 0x7E, 0xF7});
    EXPECT_EQ(synth.parserState(), 3u);
    send({0x90, 0x3C, 0x40});  // swallowed by the message
    EXPECT_EQ(activeVoices(), 0);
    send({0xF7});
    EXPECT_EQ(synth.parserState(), 0u);
    send({0x90, 0x3C, 0x40});
    EXPECT_EQ(activeVoices(), 1);
}

TEST_F(SynthesizerTest, ParserKeepsOnlySixteenBytesOfALongMessageAndEndsItAtF7) {
    std::vector<std::uint8_t> message = {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40};
    message.insert(message.end(), 40, 0x11);
    send(message);
    EXPECT_EQ(synth.parserState(), 16u);
    send({0xF7});
    EXPECT_EQ(synth.parserState(), 0u);
    EXPECT_EQ(synth.systemVolumeValue(), 0x40);  // recognised from its first bytes
    send({0x90, 0x3C, 0x40});
    EXPECT_EQ(activeVoices(), 1);
}

TEST_F(SynthesizerTest, ParserTreatsVelocityZeroAsNoteOff) {
    send({0x90, 0x3C, 0x40});
    const int voice = voiceOf(0, 60);
    send({0x90, 0x3C, 0x00});
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voice)).isKeyDown());
    EXPECT_EQ(synth.slot(static_cast<std::uint32_t>(voice)).velocity.load(), 0);
}

// ------------------------------------------------------- notes and voices

TEST_F(SynthesizerTest, SameKeyTwiceRetriggersOneVoiceAndOneNoteOffReleasesIt) {
    send({0x90, 0x3C, 0x40, 0x90, 0x3C, 0x50});
    EXPECT_EQ(activeVoices(), 1);
    const int voice = voiceOf(0, 60);
    EXPECT_EQ(synth.slot(static_cast<std::uint32_t>(voice)).velocity.load(), 0x50);
    send({0x80, 0x3C, 0x00});
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voice)).isKeyDown());
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voice)).isActive());  // releasing
}

TEST_F(SynthesizerTest, FreeVoicesComeFirstThenTheLowestReleasedOne) {
    send({0x90, 60, 100, 0x90, 61, 100, 0x90, 62, 100});
    send({0x80, 61, 0});
    send({0x90, 63, 100});  // voice 3 is free: the releasing voice 1 is kept
    EXPECT_EQ(voiceOf(0, 63), 3);
    EXPECT_EQ(voiceOf(0, 61), 1);
    send({0x90, 64, 100});  // all active: the released voice 1 is stolen
    EXPECT_EQ(voiceOf(0, 64), 1);
    send({0x90, 65, 100});  // all active and held: dropped
    EXPECT_EQ(voiceOf(0, 65), -1);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(synth.voice(i).isKeyDown());
    send({0x80, 62, 0, 0x80, 60, 0});
    send({0x91, 66, 100});  // of the released voices 0 and 2, the lowest index goes
    EXPECT_EQ(voiceOf(1, 66), 0);
}

TEST_F(SynthesizerTest, NoteOffOnlyReachesItsOwnChannel) {
    send({0x90, 60, 100, 0x91, 60, 100});
    send({0x81, 60, 0});
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).isKeyDown());
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 60))).isKeyDown());
}

TEST_F(SynthesizerTest, DrumRegionsSharingAGroupCutEachOther) {
    send({0x99, 42, 100});  // closed hi-hat, group 200
    const int voice = voiceOf(9, 42);
    ASSERT_GE(voice, 0);
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voice)).isFixedStep());
    send({0x99, 46, 100});  // open hi-hat, same group: takes the same voice, keeps key 42
    EXPECT_EQ(activeVoices(), 1);
    EXPECT_EQ(voiceOf(9, 42), voice);
    EXPECT_EQ(voiceOf(9, 46), -1);
    send({0x99, 38, 100});  // snare, its own group
    EXPECT_EQ(activeVoices(), 2);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(9, 38))).record.groupId, 129);
}

TEST_F(SynthesizerTest, MelodicChannelsDoNotRetriggerByGroup) {
    send({0x90, 60, 100, 0x90, 62, 100});  // same program, same groupId, different keys
    EXPECT_EQ(activeVoices(), 2);
}

TEST_F(SynthesizerTest, DrumChannelUsesTheKitOfItsProgram) {
    SoundFontWriter writer = test::smallTestFont();
    writer.drumKitMaps.resize(2 * 128, 0);
    for (std::uint32_t key = 0; key < 128; ++key) writer.drumKitMaps[128 + key] = 1;  // kit 1: all snare
    writer.programKits[16] = 1;
    const std::vector<std::uint8_t> bytes = writer.bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(synth.createVoices(output, 4));
    send({0x99, 36, 100});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(9, 36))).record.groupId, 128);  // kit 0: kick
    send({0xC9, 16, 0x99, 36, 100});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(9, 36))).record.groupId, 129);  // kit 1: snare
}

TEST_F(SynthesizerTest, BrokenKitIndexesNeverLeaveTheSoundFont) {
    SoundFontWriter writer = test::smallTestFont();
    writer.drumKitMaps.resize(2 * 128, 0);
    for (std::uint32_t key = 0; key < 256; ++key) writer.drumKitMaps[key] = 1000 + key;  // no such regions
    for (std::uint32_t& kit : writer.programKits) kit = 77;                              // no such kit
    const std::vector<std::uint8_t> bytes = writer.bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(synth.createVoices(output, 8));
    std::vector<std::int32_t> acc(2 * 176);
    for (int program = 0; program < 128; ++program) {
        send({0xC9, static_cast<std::uint8_t>(program)});
        for (int key = 0; key < 128; key += 5) send({0x99, static_cast<std::uint8_t>(key), 100});
        for (std::uint32_t i = 0; i < synth.voiceTotal(); ++i) {
            Voice& voice = synth.voice(i);
            voice.mix.load()(&voice, acc.data(), 44);
        }
    }
    for (std::int32_t value : acc) EXPECT_EQ(value, 0);  // the repaired regions are silent
}

// ------------------------------------------------------------------- pitch

TEST(SynthesizerPitch, BendInterpolatesTheFrequencyTable) {
    EXPECT_EQ(Synthesizer::pitch(2, 60, 0), noteFrequencies[58]);
    EXPECT_EQ(Synthesizer::pitch(2, 60, 8192), noteFrequencies[60]);
    EXPECT_EQ(Synthesizer::pitch(0, 60, 0), noteFrequencies[60]);  // range 0 ignores the bend
    EXPECT_EQ(Synthesizer::pitch(2, 60, 4096), noteFrequencies[59]);
    EXPECT_EQ(Synthesizer::pitch(12, 60, 0), noteFrequencies[48]);
    const std::uint32_t top = Synthesizer::pitch(2, 60, 16383);
    EXPECT_GT(top, noteFrequencies[61]);
    EXPECT_LT(top, noteFrequencies[62]);
    // Between table entries the pitch moves linearly: halfway between 58 and 59.
    EXPECT_NEAR(Synthesizer::pitch(2, 60, 2048), (noteFrequencies[58] + noteFrequencies[59]) / 2.0, 1.0);
    for (const std::int32_t range : {1, 2, 7, 12, 24}) {
        std::uint32_t previous = 0;
        for (std::int32_t bend = 0; bend < 16384; ++bend) {
            const std::uint32_t value = Synthesizer::pitch(range, 60, bend);
            ASSERT_GE(value, previous) << range << " " << bend;
            previous = value;
        }
    }
}

TEST(SynthesizerPitch, ExtremeKeysAndRangesStayInsideTheTable) {
    EXPECT_EQ(Synthesizer::pitch(2, 0, 0), noteFrequencies[0]);
    // Bend bytes are taken as they come, so values up to 32767 arrive; the
    // interpolation then stays between the last two entries.
    EXPECT_GE(Synthesizer::pitch(127, 127, 32766), noteFrequencies[126]);
    EXPECT_LE(Synthesizer::pitch(127, 127, 32766), noteFrequencies[127]);
    EXPECT_EQ(Synthesizer::pitch(2, -1, 8192), noteFrequencies[0]);
    EXPECT_GT(Synthesizer::pitch(127, 127, 32767), 0u);
}

TEST_F(SynthesizerTest, PitchBendRetunesSoundingVoices) {
    send({0x90, 60, 100});
    const int voice = voiceOf(0, 60);
    const InstrumentRecord& program = synth.soundFont.programs[0];
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voice)).step, stepFor(program, noteFrequencies[60]));
    send({0xE0, 0x00, 0x00});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voice)).step, stepFor(program, noteFrequencies[58]));
    // A note started while the wheel is down starts bent.
    send({0x90, 64, 100});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 64))).step, stepFor(program, noteFrequencies[62]));
    send({0xE0, 0x00, 0x40});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voice)).step, stepFor(program, noteFrequencies[60]));
}

TEST_F(SynthesizerTest, RpnDataEntrySetsTheBendRangeOnce) {
    send({0xB0, 101, 0, 0xB0, 100, 0, 0xB0, 6, 12});
    EXPECT_EQ(synth.channel(0).bendRange, 12);
    send({0xB0, 6, 5});  // the parameter number has moved on
    EXPECT_EQ(synth.channel(0).bendRange, 12);
    send({0x90, 60, 100, 0xE0, 0x00, 0x00});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).step,
              stepFor(synth.soundFont.programs[0], noteFrequencies[48]));
    send({0xB1, 6, 9});  // no parameter selected (0x3FF): nothing happens
    EXPECT_EQ(synth.channel(1).bendRange, 2);
}

// ------------------------------------------------------------- controllers

TEST_F(SynthesizerTest, PanOneIsHardRightAndPanZeroIsRandom) {
    send({0x90, 60, 100, 0xB0, 10, 1});
    EXPECT_EQ(synth.channel(0).pan, 0);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).pan.load(), 0);
    send({0x90, 62, 100});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 62))).pan.load(),
              0);  // new notes take the channel's pan
    send({0xB0, 10, 127});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).pan.load(), 126);
    std::set<std::int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        send({0xB0, 10, 0});
        const std::int32_t pan = synth.channel(0).pan;
        ASSERT_GE(pan, 0);
        ASSERT_LE(pan, 126);
        seen.insert(pan);
    }
    EXPECT_GT(seen.size(), 20u);
}

TEST_F(SynthesizerTest, VolumeControllerSetsGainAndTheVoicesOfTheChannel) {
    send({0x90, 60, 100});
    const int voice = voiceOf(0, 60);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voice)).volume.load(), (128 * 24 * 100) >> 14);
    send({0xB0, 7, 127});
    EXPECT_EQ(synth.channel(0).gain.load(), (127 * 127) >> 9);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voice)).volume.load(),
              (128 * 31) >> 7);  // velocities are not applied here
    send({0xB0, 11, 64});
    EXPECT_EQ(synth.channel(0).gain.load(), (64 * 127) >> 9);
    send({0x90, 62, 100});
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 62))).volume.load(), (128 * 15 * 100) >> 14);
}

TEST_F(SynthesizerTest, DamperModulationAndAllSoundOffReachTheChannelsVoices) {
    send({0x91, 60, 100, 0x91, 64, 100, 0x92, 67, 100});
    send({0xB1, 64, 127, 0xB1, 1, 127});
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 60))).hold.load());
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 64))).hold.load());
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voiceOf(2, 67))).hold.load());
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 60))).modOffset, 31 << 16);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(2, 67))).modOffset, 0);
    send({0xB1, 64, 63});
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 60))).hold.load());
    send({0xB1, 120, 0});
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 60))).isKeyDown());
    EXPECT_FALSE(synth.voice(static_cast<std::uint32_t>(voiceOf(1, 64))).isKeyDown());
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(2, 67))).isKeyDown());
}

TEST_F(SynthesizerTest, ModulationAndHoldBelongToTheVoice) {
    // After the reset every slot is in channel 0's list: its controllers reach all voices.
    send({0xB0, 1, 127, 0xB0, 64, 127});
    send({0x93, 60, 100});
    const Voice& voice = synth.voice(static_cast<std::uint32_t>(voiceOf(3, 60)));
    EXPECT_EQ(voice.modOffset, 31 << 16);
    EXPECT_TRUE(voice.hold.load());
}

TEST_F(SynthesizerTest, ResetAllControllersRestoresPanRangeAndSystemVolume) {
    send({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x20, 0xF7});
    send({0xB0, 10, 20, 0xB0, 101, 0, 0xB0, 100, 0, 0xB0, 6, 7, 0xB0, 7, 50, 0xE0, 0, 0, 0xC0, 9});
    send({0xB0, 121, 0});
    EXPECT_EQ(synth.systemVolumeValue(), 127);
    EXPECT_EQ(synth.channel(0).pan, 64);
    EXPECT_EQ(synth.channel(0).bendRange, 2);
    EXPECT_EQ(synth.channel(0).rpn, 0x3FF);
    EXPECT_EQ(synth.channel(0).gain.load(), (50 * 127) >> 9);  // kept
    EXPECT_EQ(synth.channel(0).bend, 0);                       // kept
    EXPECT_EQ(synth.channel(0).program, 9);                    // kept
}

// ------------------------------------------------- system-exclusive, resets

TEST_F(SynthesizerTest, GeneralMidiOnFadesVoicesWhileTheQuietResetStopsThem) {
    send({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x30, 0xF7});
    send({0xC1, 7, 0x91, 60, 100, 0x92, 62, 100});
    send({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(activeVoices(), 2);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(synth.voice(i).isKeyDown());
        EXPECT_EQ(synth.slot(i).key, -1);
        EXPECT_EQ(synth.slot(i).channel.load(), 0);
    }
    EXPECT_EQ(synth.systemVolumeValue(), 127);
    EXPECT_EQ(synth.channel(1).program, 7);                                // kept for the drum kit
    EXPECT_EQ(synth.channel(1).instrument, &synth.soundFont.programs[0]);  // but melodic notes use program 0
    synth.reset();
    EXPECT_EQ(activeVoices(), 0);
    EXPECT_EQ(synth.channel(1).program, 0);
}

TEST_F(SynthesizerTest, GsResetWorksWithAnyDeviceNumber) {
    send({0x90, 60, 100, 0xB0, 1, 100});
    send({0xF0, 0x41, 0x13, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    EXPECT_FALSE(synth.voice(0).isKeyDown());
    EXPECT_EQ(synth.voice(0).modOffset, 0);  // the full reset clears modulation
    EXPECT_EQ(synth.slot(0).key, -1);
}

TEST_F(SynthesizerTest, GsRhythmPartMessagesMakeDrumChannels) {
    auto rhythm = [&](std::uint8_t part, std::uint8_t value) {
        send({0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, static_cast<std::uint8_t>(0x10 | part), 0x15, value, 0x55, 0xF7});
    };
    rhythm(1, 0x02);
    EXPECT_TRUE(synth.channel(0).isDrum);
    rhythm(0, 0x02);
    EXPECT_TRUE(synth.channel(9).isDrum);
    rhythm(10, 0x02);
    EXPECT_TRUE(synth.channel(10).isDrum);
    rhythm(5, 0x01);  // only 02 is recognised
    EXPECT_FALSE(synth.channel(4).isDrum);
    rhythm(9, 0x00);  // a channel is never turned back
    EXPECT_TRUE(synth.channel(9).isDrum);
    send({0x90, 38, 100});
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 38))).isFixedStep());
    synth.reset();
    EXPECT_FALSE(synth.channel(0).isDrum);
    EXPECT_TRUE(synth.channel(9).isDrum);
}

TEST_F(SynthesizerTest, UnknownSystemExclusiveMessagesAreIgnored) {
    send({0x90, 60, 100});
    send({0xF0, 0x7E, 0x7F, 0x09, 0xF7});                    // too short for GM on
    send({0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0xF7});  // another maker's reset
    send({0xF1, 0x7E, 0x7F, 0x09, 0x01, 0xF7});              // not F0
    EXPECT_TRUE(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).isKeyDown());
    EXPECT_EQ(synth.systemVolumeValue(), 128);
}

// ------------------------------------------------------------------ volume

TEST_F(SynthesizerTest, VolumeUpdateAppliesVelocityGainAndMasterGain) {
    send({0x90, 60, 100, 0x90, 62, 80});
    send({0x80, 62, 0});
    synth.setUserVolume(64);
    EXPECT_EQ(synth.masterGainValue(), (64 * 128) >> 7);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).volume.load(), (100 * 24 * 64) >> 14);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 62))).volume.load(), 0);  // released notes fall silent
    synth.setSystemVolume(100);
    EXPECT_EQ(synth.masterGainValue(), (64 * 100) >> 7);
    synth.setUserVolume(1000);
    EXPECT_EQ(synth.userVolumeValue(), 128);
    synth.setSystemVolume(-3);
    EXPECT_EQ(synth.systemVolumeValue(), 0);
    EXPECT_EQ(synth.voice(static_cast<std::uint32_t>(voiceOf(0, 60))).volume.load(), 0);
}

TEST_F(SynthesizerTest, MasterVolumeMessageGoesThroughTheClamp) {
    send({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0xFF, 0xF7});
    EXPECT_EQ(synth.systemVolumeValue(), 128);
    send({0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x00, 0xF7});
    EXPECT_EQ(synth.systemVolumeValue(), 0);
}

// --------------------------------------------------------------- the pool

TEST(SynthesizerPool, CreateVoicesNeedsASoundFont) {
    SoundOutput output;
    Synthesizer synth;
    EXPECT_FALSE(synth.createVoices(output, 8));
    EXPECT_EQ(synth.lastError, RESULT_FAILED);
    EXPECT_EQ(output.sourceCount(), 0u);
    // Messages without voices are harmless.
    const std::uint8_t bytes[] = {0x90, 60, 100, 0xE0, 0, 0, 0xB0, 7, 100, 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    synth.sendMidi(bytes, sizeof bytes);
    EXPECT_EQ(synth.voiceTotal(), 0u);
    EXPECT_EQ(synth.outputTime(), 0u);
}

TEST(SynthesizerPool, VoicesJoinAndLeaveTheOutput) {
    SoundOutput output;
    Synthesizer synth;
    const std::vector<std::uint8_t> bytes = test::smallTestFont().bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(synth.createVoices(output, 12));
    EXPECT_EQ(output.sourceCount(), 12u);
    ASSERT_TRUE(synth.createVoices(output, 5));  // replaces the pool
    EXPECT_EQ(output.sourceCount(), 5u);
    for (std::uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(synth.slot(i).key, -1);
        EXPECT_EQ(synth.voice(i).pan.load(), 64);
        EXPECT_FALSE(synth.voice(i).isActive());
    }
    synth.destroyVoices();
    EXPECT_EQ(output.sourceCount(), 0u);
    EXPECT_EQ(synth.voiceTotal(), 0u);
}

TEST(SynthesizerPool, LoadingAFontFirstDestroysTheVoicesThatPointIntoTheOldOne) {
    SoundOutput output;
    Synthesizer synth;
    const std::vector<std::uint8_t> bytes = test::smallTestFont().bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(synth.createVoices(output, 4));
    EXPECT_FALSE(synth.loadSoundFont("/nonexistent/folder/none.brf"));
    EXPECT_EQ(synth.lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_EQ(synth.voiceTotal(), 0u);
    EXPECT_EQ(output.sourceCount(), 0u);
    EXPECT_FALSE(synth.createVoices(output, 4));
}

TEST(SynthesizerPool, ClockPassesThroughToTheOutput) {
    SoundOutput output;
    Synthesizer synth;
    const std::vector<std::uint8_t> bytes = test::smallTestFont().bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(bytes.data(), bytes.size()));
    ASSERT_TRUE(synth.createVoices(output, 2));
    output.clock.store(1234);
    EXPECT_EQ(synth.outputTime(), 1234u);
    ClockCallback first = [](void*) {};
    int argument = 0;
    const SliceClientHandle client = synth.addSliceClient(first, &argument, SliceOrder::Song);
    EXPECT_NE(client, 0u);
    EXPECT_EQ(output.sliceClientCount(), 1u);
    synth.removeSliceClient(client);
    EXPECT_EQ(output.sliceClientCount(), 0u);
}

}  // namespace
}  // namespace brellin
