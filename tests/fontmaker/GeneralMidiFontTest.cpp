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
constexpr std::uint64_t GOLDEN_FONT_HASH = 0x8f2dc8dba7b1d11dull;
// FNV-1a of the 128 program records (their sample offsets left out: those
// move when samples are added) and the program samples through their guard
// bytes. A change to the drum kit alone leaves this value, and every melodic
// render, as it is.
constexpr std::uint64_t GOLDEN_PROGRAMS_HASH = 0x4912fa86dfde0eebull;

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

TEST(GeneralMidiFontFile, ProgramsKeepTheirRecordsAndSamples) {
    const SoundFont& f = font();
    std::vector<std::uint8_t> bytes;
    for (const InstrumentRecord& program : f.programs) {
        InstrumentRecord r = program;
        r.sample = 0;
        const auto* record = reinterpret_cast<const std::uint8_t*>(&r);
        bytes.insert(bytes.end(), record, record + sizeof r);
        const auto* sample = reinterpret_cast<const std::uint8_t*>(f.sampleData(program));
        bytes.insert(bytes.end(), sample, sample + program.loopEnd + 1);
    }
    if (std::getenv("BRELLIN_UPDATE_GOLDEN")) {
        std::printf("GOLDEN_PROGRAMS_HASH = 0x%016llxull\n", static_cast<unsigned long long>(fnv1a(bytes)));
    } else {
        EXPECT_EQ(fnv1a(bytes), GOLDEN_PROGRAMS_HASH) << "the melodic programs changed; see GOLDEN_PROGRAMS_HASH";
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
        for (std::uint32_t i = r.loopStart; i + 1 < r.loopEnd; ++i)
            largestStep = std::max(largestStep, std::abs(s[i + 1] - s[i]));
        // The wrap from loopEnd − 1 to loopStart is no bigger than a step inside the loop.
        EXPECT_LE(std::abs(s[r.loopStart] - s[r.loopEnd - 1]), largestStep + 2);
        // The guard byte carries the interpolation across the wrap.
        EXPECT_EQ(s[r.loopEnd], s[r.loopStart]);
    }
}

TEST(GeneralMidiFontRecords, DrumKitCoversKeys27To87AndNothingElse) {
    const SoundFont& f = font();
    for (int key = 0; key < 128; ++key) {
        const InstrumentRecord& r = f.drumRegion(0, static_cast<std::uint32_t>(key));
        SCOPED_TRACE(key);
        EXPECT_NE(r.fixedStep, 0);
        if (key >= 27 && key <= 87) {
            EXPECT_GE(r.cycleLength, 600u);  // at least 27 ms …
            EXPECT_LE(r.cycleLength, f.sampleLength(0) + 40000u);
            EXPECT_GT(r.lfoDepthStep, 0);
            EXPECT_EQ(r.lfoDepth, r.lfoDepthStep);  // note-off does not change the pitch
            EXPECT_NE(generalMidiDrumName(key), nullptr);
        } else {
            EXPECT_EQ(r.cycleLength, 0u);
            EXPECT_EQ(generalMidiDrumName(key), nullptr);
        }
    }
    // The hi-hats cut each other, and so do the two surdos.
    EXPECT_EQ(f.drumRegion(0, 42).groupId, f.drumRegion(0, 46).groupId);
    EXPECT_EQ(f.drumRegion(0, 44).groupId, f.drumRegion(0, 46).groupId);
    EXPECT_NE(f.drumRegion(0, 38).groupId, f.drumRegion(0, 46).groupId);
    EXPECT_EQ(f.drumRegion(0, 86).groupId, f.drumRegion(0, 87).groupId);
    EXPECT_NE(f.drumRegion(0, 85).groupId, f.drumRegion(0, 87).groupId);
    EXPECT_STREQ(generalMidiDrumName(27), "High Q");
    EXPECT_STREQ(generalMidiDrumName(35), "Acoustic Bass Drum");
    EXPECT_STREQ(generalMidiDrumName(87), "Open Surdo");
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
}

// Drum strokes at velocity 100 peak near −22 dBFS: lower than the melodic
// notes, since a stroke's energy is concentrated at its start (the balance
// of the two is measured over whole renders in DrumBalanceTest).
TEST(GeneralMidiFontLevel, DrumsPeakNearMinus22Dbfs) {
    const SoundFont& f = font();
    for (int key = 27; key <= 87; ++key) {
        SCOPED_TRACE(key);
        std::vector<std::int32_t> x =
            renderNote(f, f.drumRegion(0, static_cast<std::uint32_t>(key)), 22050, 1, key, voiceVolume(), 22050, 2205);
        double peak = dbfs(peakOf(x));
        EXPECT_GT(peak, -24.0);
        EXPECT_LT(peak, -19.5);
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

namespace {

// Sign changes a second over frames [from, to) of a render at 22050 Hz,
// samples at 0 skipped: a stand-in for a sound's main frequency (twice it
// for a pure tone).
double crossingsPerSecond(const std::vector<std::int32_t>& x, std::size_t from, std::size_t to) {
    int last = 0, count = 0;
    for (std::size_t i = from; i < to && i < x.size(); ++i) {
        int sign = (x[i] > 0) - (x[i] < 0);
        if (sign != 0 && last != 0 && sign != last) ++count;
        if (sign != 0) last = sign;
    }
    return count * 22050.0 / static_cast<double>(to - from);
}

double energy(const std::vector<std::int32_t>& x, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to && i < x.size(); ++i) sum += double(x[i]) * x[i];
    return sum;
}

}  // namespace

// The GS keys sound like what they are named after: the surdos are low, the
// open one rings on where the mute one stops; clicks and sticks are over at
// once; shaker, bells and sticks are bright; a scratch pushed rises, pulled
// falls; the bell tree runs downwards.
TEST(GeneralMidiFontDrums, GsKeysHaveTheirCharacter) {
    const SoundFont& f = font();
    auto stroke = [&](int key) {
        return renderNote(f, f.drumRegion(0, static_cast<std::uint32_t>(key)), 22050, 1, key, voiceVolume(), 22050 * 2,
                          22050);
    };
    const std::size_t ms = 22050 / 1000;

    std::vector<std::int32_t> mute = stroke(86), open = stroke(87);
    EXPECT_LT(crossingsPerSecond(mute, 30 * ms, 200 * ms), 400);
    EXPECT_LT(crossingsPerSecond(open, 30 * ms, 400 * ms), 400);
    EXPECT_GT(energy(open, 200 * ms, 1000 * ms), 10 * energy(mute, 200 * ms, 1000 * ms));

    for (int key : {27, 31, 32, 33}) {
        SCOPED_TRACE(key);
        std::vector<std::int32_t> x = stroke(key);
        EXPECT_GT(energy(x, 0, 60 * ms), 0.95 * energy(x, 0, x.size()));
    }
    for (int key : {31, 34, 82, 83, 84}) {
        SCOPED_TRACE(key);
        std::vector<std::int32_t> x = stroke(key);
        EXPECT_GT(crossingsPerSecond(x, 0, 30 * ms), 4000);
    }
    std::vector<std::int32_t> push = stroke(29), pull = stroke(30);
    EXPECT_GT(crossingsPerSecond(push, 110 * ms, 150 * ms), 1.5 * crossingsPerSecond(push, 10 * ms, 50 * ms));
    EXPECT_GT(crossingsPerSecond(pull, 10 * ms, 50 * ms), 1.5 * crossingsPerSecond(pull, 130 * ms, 170 * ms));
    std::vector<std::int32_t> tree = stroke(84);
    EXPECT_GT(crossingsPerSecond(tree, 0, 150 * ms), 1.3 * crossingsPerSecond(tree, 500 * ms, 800 * ms));
}
