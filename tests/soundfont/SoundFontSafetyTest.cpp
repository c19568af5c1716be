// No file, however broken, makes the synthesizer read outside the sample
// block or index outside a table: the loader's repairs checked against the
// positions the mix routines read, and the records played through the Voice
// (under AddressSanitizer any stray read is reported).
#include <gtest/gtest.h>

#include <vector>

#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"
#include "synth/SynthTables.h"
#include "synth/Voice.h"

using namespace brellin;

namespace {

SoundFontWriter baseFont() {
    SoundFontWriter w;
    w.addSample({0, 60, 120, 60, 0, -60, -120, -60});
    w.addSample({});
    w.addSample({100, -100, 50});
    for (auto& p : w.programs) {
        p.attackRate = 1000;
        p.attackLevel = 1000000;
        p.releaseRate = 1000;
        p.cycleLength = 8;
        p.loopEnd = 8;
    }
    InstrumentRecord drum{};
    drum.fixedStep = 1;
    drum.lfoDepth = drum.lfoDepthStep = 0x10000;
    drum.cycleLength = drum.loopEnd = 3;
    drum.sample = 2;
    w.drumRegions.push_back(drum);
    w.drumKitMaps.assign(2 * 128, 0);
    return w;
}

// Bytes from the start of sampleBlock that may be read: the used block plus its padding.
std::size_t readable(const SoundFont& font) { return font.sampleBlockSize + SoundFont::BLOCK_PADDING; }

// The last byte a mix routine can read for `record` lies inside the block.
void expectReadsInside(const SoundFont& font, const InstrumentRecord& record) {
    ASSERT_GE(record.sample, 0);
    std::size_t last = static_cast<std::size_t>(record.sample) +
                       (record.fixedStep != 0 ? (record.cycleLength ? record.cycleLength - 1 : 1) : record.loopEnd + 1);
    EXPECT_LT(last, readable(font));
    EXPECT_LT(static_cast<std::size_t>(record.sample) + 1, readable(font));
}

void playEverything(const SoundFont& font) {
    for (std::uint32_t rate : {11025u, 22050u, 44100u}) {
        Voice voice;
        voice.configure(rate, 16, 2);
        std::int32_t accumulator[2 * 256];
        auto play = [&](const InstrumentRecord& record) {
            for (int key : {0, 69, 127}) {
                voice.setInstrument(record, font.sampleBlock.get());
                voice.setVolume(127);
                voice.noteOn(noteFrequencies[key]);
                voice.mix.load()(&voice, accumulator, 256);
                voice.noteOff();
                voice.mix.load()(&voice, accumulator, 256);
            }
        };
        for (const InstrumentRecord& record : font.programs) play(record);
        for (std::uint32_t program = 0; program < 128; ++program)
            for (std::uint32_t key = 0; key < 128; key += 7) play(font.drumRegion(program, key));
    }
}

void checkFont(const SoundFontWriter& w, std::size_t expectedProblems) {
    SoundFont font;
    SoundFontDiagnostics diagnostics;
    std::vector<std::uint8_t> bytes = w.bytes();
    ASSERT_TRUE(font.loadSoundFontFromMemory(bytes.data(), bytes.size(), &diagnostics));
    EXPECT_EQ(diagnostics.problems.size(), expectedProblems);
    for (const InstrumentRecord& record : font.programs) expectReadsInside(font, record);
    for (std::int32_t j = 0; j <= font.drumRegionCount; ++j)
        expectReadsInside(font, font.drumRegions[static_cast<std::size_t>(j)]);
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(font.drumKitCount) * 128; ++i)
        EXPECT_LE(font.drumKitMaps[i], static_cast<std::uint32_t>(font.drumRegionCount));
    for (std::uint32_t kit : font.programKits) EXPECT_LT(kit, static_cast<std::uint32_t>(font.drumKitCount));
    playEverything(font);
}

}  // namespace

TEST(SoundFontSafety, SoundFontNeedsNoRepairAndPlays) { checkFont(baseFont(), 0); }

TEST(SoundFontSafety, BadSampleIndexesPlaySilence) {
    SoundFontWriter w = baseFont();
    w.programs[0].sample = 3;
    w.programs[1].sample = -7;
    w.programs[2].sample = 0x7FFFFFFF;
    w.drumRegions[0].sample = 99;
    checkFont(w, 4);
}

TEST(SoundFontSafety, LoopsAndEndsBeyondTheSampleAreCut) {
    SoundFontWriter w = baseFont();
    w.programs[0].loopEnd = 0xFFFFFFFFu;
    w.programs[0].cycleLength = 0xFFFFFFFFu;
    w.programs[1].loopStart = 5;
    w.programs[1].loopEnd = 4000;
    w.programs[2].sample = 1;  // the empty sample
    w.programs[3].fixedStep = 1;
    w.programs[3].lfoDepth = w.programs[3].lfoDepthStep = -0x10000;  // a backward step
    w.programs[3].cycleLength = 8;
    w.programs[3].loopEnd = 100;
    w.drumRegions[0].cycleLength = 1u << 31;
    InstrumentRecord pitchedDrum = w.programs[5];
    pitchedDrum.loopStart = 7000;
    pitchedDrum.loopEnd = 9000;
    pitchedDrum.cycleLength = 0xFFFFFFFFu;
    w.drumRegions.push_back(pitchedDrum);
    checkFont(w, 5);
}

TEST(SoundFontSafety, KitIndexesOutsideTheirTablesPlaySilenceOrKitZero) {
    SoundFontWriter w = baseFont();
    w.drumKitMaps[36] = 1;  // one region only
    w.drumKitMaps[128 + 38] = 0x80000000u;
    w.programKits[0] = 1;
    w.programKits[1] = 2;  // two kits only
    w.programKits[2] = 0xFFFFFFFFu;
    checkFont(w, 4);
}

TEST(SoundFontSafety, SampleLengthsLongerThanTheDataAreCut) {
    SoundFontWriter w = baseFont();
    std::vector<std::uint8_t> bytes = w.bytes();
    // The first length (8) becomes 0x7FFFFFFF.
    const std::size_t lengthsAt = 8 + 128 * 72 + 4 + 72 + 2 * 512 + 4;
    bytes[lengthsAt + 3] = 0x7F;
    bytes[lengthsAt + 2] = bytes[lengthsAt + 1] = bytes[lengthsAt] = 0xFF;
    SoundFont font;
    SoundFontDiagnostics diagnostics;
    ASSERT_TRUE(font.loadSoundFontFromMemory(bytes.data(), bytes.size(), &diagnostics));
    EXPECT_EQ(font.sampleLength(0), 11u);  // all the sample data there is
    EXPECT_EQ(font.sampleLength(2), 0u);
    for (const InstrumentRecord& record : font.programs) expectReadsInside(font, record);
    expectReadsInside(font, font.drumRegions[0]);
    playEverything(font);
}
