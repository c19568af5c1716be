#include "fontmaker/GeneralMidiFont.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "FontRender.h"
#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

// FNV-1a of the whole font. The font must come out the same from every
// compiler and build type; after an intended change of the font, run the test
// with BRELLIN_UPDATE_GOLDEN=1 to print the new value and paste it here.
constexpr std::uint64_t GOLDEN_FONT_HASH = 0x64956ab246cbc67cull;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

// Programs made of noise: they have no pitch to measure.
bool isUnpitched(int program) {
    return program == 119 || program == 121 || program == 122 || program == 125 || program == 126 || program == 127;
}

const std::vector<std::uint8_t>& fontBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        SoundFontWriter writer;
        buildGeneralMidiFont(writer);
        return writer.bytes();
    }();
    return bytes;
}

const SoundFont& font() {
    static SoundFont* loaded = [] {
        auto* f = new SoundFont;
        f->loadSoundFontFromMemory(fontBytes().data(), fontBytes().size());
        return f;
    }();
    return *loaded;
}

double dbfs(std::int32_t peak) { return 20 * std::log10(peak / 32768.0); }

std::int32_t peakOf(const std::vector<std::int32_t>& x) {
    std::int32_t peak = 0;
    for (std::int32_t v : x) peak = std::max(peak, std::abs(v));
    return peak;
}

}  // namespace

TEST(GeneralMidiFontFile, IsDeterministicBrf1AndAtMostOneMebibyte) {
    SoundFontWriter again;
    buildGeneralMidiFont(again);
    const std::vector<std::uint8_t>& bytes = fontBytes();
    EXPECT_EQ(again.bytes(), bytes);
    EXPECT_LE(bytes.size(), 1u << 20);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "BRF1");
    if (std::getenv("BRELLIN_UPDATE_GOLDEN")) {
        std::printf("GOLDEN_FONT_HASH = 0x%016llxull\n", static_cast<unsigned long long>(fnv1a(bytes)));
    } else {
        EXPECT_EQ(fnv1a(bytes), GOLDEN_FONT_HASH) << "the font changed; see GOLDEN_FONT_HASH";
    }
}

TEST(GeneralMidiFontFile, BuildPlacesTheSameFontBesideThePrograms) {
    std::ifstream in(BRELLIN_BINARY_DIR "/small.brf", std::ios::binary);
    ASSERT_TRUE(in) << "the build did not write small.brf";
    std::vector<std::uint8_t> built((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(built, fontBytes());
}

TEST(GeneralMidiFontFile, LoadsWithoutRepairsOrChanges) {
    SoundFont f;
    SoundFontDiagnostics diagnostics;
    ASSERT_TRUE(f.loadSoundFontFromMemory(fontBytes().data(), fontBytes().size(), &diagnostics));
    EXPECT_TRUE(diagnostics.problems.empty());
    EXPECT_TRUE(diagnostics.notes.empty()) << diagnostics.notes.front();
    EXPECT_EQ(f.drumKitCount, 1);
}

TEST(GeneralMidiFontRecords, ProgramsAreLoopedOrEndAndKeepLevelsInRange) {
    const SoundFont& f = font();
    for (int k = 0; k < 128; ++k) {
        const InstrumentRecord& r = f.programs[k];
        SCOPED_TRACE(k);
        EXPECT_EQ(r.fixedStep, 0);
        EXPECT_LT(std::int64_t{r.attackLevel} * 127, std::int64_t{1} << 31);
        EXPECT_GT(r.attackLevel, 0);
        EXPECT_EQ(r.groupId, k);
        // Loops hold at least two periods so that the largest step (key 127 at
        // 11025 Hz, 1.14 periods) never jumps a whole loop.
        EXPECT_LT(r.loopStart, r.loopEnd);
        EXPECT_GE(r.loopEnd - r.loopStart, 2 * r.cycleLength);
    }
}

TEST(GeneralMidiFontRecords, LoopsJoinWithoutAStep) {
    const SoundFont& f = font();
    for (int k = 0; k < 128; ++k) {
        const InstrumentRecord& r = f.programs[k];
        SCOPED_TRACE(k);
        const std::int8_t* s = f.sampleData(r);
        int largestStep = 0;
        for (std::uint32_t i = r.loopStart; i + 1 < r.loopEnd; ++i) largestStep = std::max(largestStep, std::abs(s[i + 1] - s[i]));
        // The wrap from loopEnd − 1 to loopStart is no bigger than a step inside the loop.
        EXPECT_LE(std::abs(s[r.loopStart] - s[r.loopEnd - 1]), largestStep + 2);
        // The guard byte carries the interpolation across the wrap.
        EXPECT_EQ(s[r.loopEnd], s[r.loopStart]);
    }
}

TEST(GeneralMidiFontRecords, DrumKitCoversKeys35To81AndNothingElse) {
    const SoundFont& f = font();
    for (int key = 0; key < 128; ++key) {
        const InstrumentRecord& r = f.drumRegion(0, key);
        SCOPED_TRACE(key);
        EXPECT_NE(r.fixedStep, 0);
        if (key >= 35 && key <= 81) {
            EXPECT_GE(r.cycleLength, 1000u);  // at least 45 ms …
            EXPECT_LE(r.cycleLength, f.sampleLength(0) + 40000u);
            EXPECT_GT(r.lfoDepthStep, 0);
            EXPECT_EQ(r.lfoDepth, r.lfoDepthStep);  // note-off does not change the pitch
        } else {
            EXPECT_EQ(r.cycleLength, 0u);
        }
    }
    // The hi-hats cut each other.
    EXPECT_EQ(f.drumRegion(0, 42).groupId, f.drumRegion(0, 46).groupId);
    EXPECT_EQ(f.drumRegion(0, 44).groupId, f.drumRegion(0, 46).groupId);
    EXPECT_NE(f.drumRegion(0, 38).groupId, f.drumRegion(0, 46).groupId);
}

// Key 69 plays 440 Hz within ±3 cents at every output rate.
TEST(GeneralMidiFontPitch, Key69IsA440AtEveryRate) {
    const SoundFont& f = font();
    for (std::uint32_t rate : {11025u, 22050u, 44100u}) {
        const std::uint32_t frames = rate == 44100 ? 65536 : 32768;
        for (int k = 0; k < 128; ++k) {
            if (isUnpitched(k)) continue;
            SCOPED_TRACE(::testing::Message() << "program " << k << " at " << rate);
            std::vector<std::int32_t> x = renderNote(f, f.programs[k], rate, 2, 69, 100, frames + 256, UINT32_MAX);
            Windowed w(x, 256, frames, rate);
            double hz = measureFrequency(w, 440.0);
            EXPECT_NEAR(cents(hz, 440.0), 0.0, 3.0);
            // And the waveform does not repeat an octave lower.
            EXPECT_GT(w.magnitudeAt(440.0), 3 * w.magnitudeAt(220.0));
        }
    }
}

// A note at velocity 100 on a channel at volume 100 peaks near −18 dBFS.
TEST(GeneralMidiFontLevel, NotesPeakNearMinus18Dbfs) {
    const SoundFont& f = font();
    const std::int32_t volume = voiceVolume();
    ASSERT_EQ(volume, 18);
    for (int k = 0; k < 128; ++k) {
        SCOPED_TRACE(k);
        std::vector<std::int32_t> x = renderNote(f, f.programs[k], 22050, 1, 60, volume, 22050 * 3, 22050 * 2);
        double peak = dbfs(peakOf(x));
        EXPECT_GT(peak, -24.0);
        EXPECT_LT(peak, -13.0);
    }
    for (int key = 35; key <= 81; ++key) {
        SCOPED_TRACE(key);
        std::vector<std::int32_t> x = renderNote(f, f.drumRegion(0, key), 22050, 1, key, volume, 22050, 2205);
        double peak = dbfs(peakOf(x));
        EXPECT_GT(peak, -24.0);
        EXPECT_LT(peak, -13.0);
    }
}

// Notes end: a released note falls silent, and decaying instruments die out
// by themselves while the key is held.
TEST(GeneralMidiFontLevel, ReleasedNotesFallSilent) {
    const SoundFont& f = font();
    for (int k = 0; k < 128; ++k) {
        SCOPED_TRACE(k);
        std::vector<std::int32_t> x = renderNote(f, f.programs[k], 22050, 1, 60, 18, 22050 * 4, 22050);
        std::int32_t tail = 0;
        for (std::size_t i = x.size() - 2205; i < x.size(); ++i) tail = std::max(tail, std::abs(x[i]));
        EXPECT_EQ(tail, 0);
    }
}
