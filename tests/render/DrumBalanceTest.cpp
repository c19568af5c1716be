// The built-in font's drum kit against its melodic programs, over the
// all-instruments and all-percussion song of BalanceSong.h rendered the way
// brellin-render renders (22050 Hz, 16-bit mono, 32 voices, no effects).
//
// Measurement: the RMS level of the whole melodic part against the RMS level
// of the whole percussion part (every note and every stroke at velocity 100,
// held 0.9 s in a 1-second slot of its own), in dB. The same song rendered by
// FluidSynth 2.3 (reverb and chorus off, bench/soundfont/drum-balance.sh)
// puts the drums 8.96 dB under the melodic programs with TimGM6mb and
// 8.30 dB under with FluidR3_GM: 8.63 dB on average, the level a General
// MIDI song's author expects. The built-in kit is to stay within 2 dB of it.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "BalanceSong.h"
#include "engine/RenderSession.h"
#include "tests/TempDir.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

constexpr double REFERENCE_DRUMS_UNDER_MELODIC_DB = (8.96 + 8.30) / 2;

WavSamples renderBalanceSong(const TempDir& dir) {
    RenderOptions options;
    options.outputPath = dir.path("balance.wav");
    options.soundFont = std::string(BRELLIN_BINARY_DIR) + "/small.brf";
    options.rate = 22050;
    options.bits = 16;
    options.channels = 1;
    options.voices = 32;
    RenderSession session(options);
    std::string error;
    if (!session.start(error) || !session.playFile(dir.write("balance.mid", BalanceSong::midiFile())) ||
        !session.finish(error)) {
        ADD_FAILURE() << "render failed: " << error;
        return {};
    }
    WavSamples wav = WavSamples::parse(dir.read("balance.wav"));
    // The file ends with the song's last event; the player's clock runs a
    // little off the nominal tempo (whole beats a minute), so the slots are
    // placed by the length of the render.
    wav.clock = static_cast<double>(wav.frames()) / wav.rate / BalanceSong::END;
    return wav;
}

}  // namespace

TEST(DrumBalance, EveryKeySoundsAndTheKitSitsUnderTheProgramsAsInGeneralMidiFonts) {
    TempDir dir;
    const WavSamples wav = renderBalanceSong(dir);
    ASSERT_EQ(wav.rate, 22050u);
    ASSERT_EQ(wav.channels, 1u);
    // Within 1 % of the nominal length (119 beats a minute for 120 and 4-ms
    // slices of 88 frames: 0.6 % long): the whole song is there.
    ASSERT_NEAR(wav.clock, 1.0, 0.01);

    // Every key 27 … 87 is heard in its own slot: the slot starts louder
    // than the sound of the slot before rings into it. (Events fall on 4-ms
    // slices, so a slot may start a few ms early.)
    auto heard = [&](double slot) {
        const double onset = wav.peak(slot - 0.01, slot + 0.3), before = wav.peak(slot - 0.1, slot - 0.01);
        return onset > 0.01 && onset > 2 * before;
    };
    double loudest = 0;
    for (int key = BalanceSong::FIRST_DRUM_KEY; key <= BalanceSong::LAST_DRUM_KEY; ++key) {
        const double slot = BalanceSong::DRUM_START + (key - BalanceSong::FIRST_DRUM_KEY);
        EXPECT_TRUE(heard(slot)) << "key " << key << " is silent";
        loudest = std::max(loudest, wav.peak(slot, slot + 1));
    }
    // No stroke clips or comes near it.
    EXPECT_LT(loudest, 0.25);
    // Nothing sounds in the gap between the parts but the melodic tails.
    EXPECT_LT(wav.peak(BalanceSong::DRUM_START - 1.5, BalanceSong::DRUM_START - 0.05), 0.001);

    const double balance = drumsUnderMelodicDb(wav);
    RecordProperty("drums_under_melodic_db", std::to_string(balance));
    EXPECT_NEAR(balance, REFERENCE_DRUMS_UNDER_MELODIC_DB, 2.0);
}
