// brf-tool from-sf2 as a user runs it: exit status, messages and the font it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fontmaker/Sf2File.h"
#include "soundfont/SoundFont.h"
#include "tests/CommandRun.h"
#include "tests/TempDir.h"
#include "tests/fontmaker/OggEncode.h"
#include "tests/fontmaker/Sf2Builder.h"

namespace brellin {
namespace {

using testing::Sf2Builder;
using testing::TempDir;

using ToolRun = testing::CommandRun;

ToolRun fromSf2(const std::string& arguments) {
    std::string command = std::string(BRELLIN_BINARY_DIR) + "/brf-tool from-sf2 " + arguments + " 2>&1";
    return testing::runCommand(command);
}

std::string bank() {
    Sf2Builder b;
    b.samples.push_back({"tone", Sf2Builder::sine(4410, 44100.0 / 440.0), 44100, 69, 0, 441, 4410});
    b.instruments.push_back({"tone", {{{SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}}}});
    b.instruments.push_back({"kit", {{{SF2_KEY_RANGE, Sf2Builder::range(36, 40)}, {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back({"Tone", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
    b.presets.push_back({"Kit", 0, 128, {{{SF2_INSTRUMENT, 1}}}});
    return b.build();
}

TEST(FromSf2Tool, ConvertsABankIntoAFontThatLoads) {
    TempDir dir;
    std::string in = dir.write("bank.sf2", bank());
    ToolRun run = fromSf2(in + " " + dir.path("out.brf"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("1 programs from presets, 127 borrowed"), std::string::npos) << run.output;
    SoundFont font;
    ASSERT_TRUE(font.loadSoundFont(dir.path("out.brf").c_str()));
    EXPECT_EQ(font.programs[5].cycleLength, font.programs[0].cycleLength);
    EXPECT_NE(font.drumRegion(0, 36).fixedStep, 0);
}

TEST(FromSf2Tool, TunesProgramsTo440HzOnlyWhenAsked) {
    // A recording 20 cents sharp of the A its header names, looped over 40 whole periods.
    const double period = 44100.0 / (440.0 * std::pow(2.0, 20.0 / 1200.0));
    const auto loop = static_cast<std::uint32_t>(std::lround(40 * period));
    Sf2Builder b;
    b.samples.push_back({"sharp", Sf2Builder::sine(441 + 2 * loop, loop / 40.0), 44100, 69, 0, 441, 441 + loop});
    b.instruments.push_back({"sharp", {{{SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back({"Sharp", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
    TempDir dir;
    std::string in = dir.write("sharp.sf2", b.build());
    ToolRun tuned = fromSf2(in + " " + dir.path("tuned.brf") + " --tune-to-440 --verbose");
    ASSERT_EQ(tuned.status, 0) << tuned.output;
    EXPECT_NE(tuned.output.find("1 retuned"), std::string::npos) << tuned.output;
    const std::string said = "program 0: sample measured ";
    std::size_t at = tuned.output.find(said);
    ASSERT_NE(at, std::string::npos) << tuned.output;
    EXPECT_NEAR(std::strtod(tuned.output.c_str() + at + said.size(), nullptr), 20.0, 0.5) << tuned.output;
    for (const char* keep : {"", " --keep-tuning"}) {
        ToolRun kept = fromSf2(in + " " + dir.path("kept.brf") + keep);
        ASSERT_EQ(kept.status, 0) << kept.output;
        EXPECT_NE(kept.output.find("0 retuned"), std::string::npos) << kept.output;
    }
    // Taken at its real pitch, the period of the sharp recording is shorter.
    SoundFont a, c;
    ASSERT_TRUE(a.loadSoundFont(dir.path("tuned.brf").c_str()));
    ASSERT_TRUE(c.loadSoundFont(dir.path("kept.brf").c_str()));
    EXPECT_EQ(a.programs[0].cycleLength, 83u);
    EXPECT_EQ(c.programs[0].cycleLength, 84u);
}

TEST(FromSf2Tool, BadOrTruncatedBanksExitWith2AndSayWhy) {
    TempDir dir;
    std::string full = bank();
    std::string truncated = dir.write("cut.sf2", full.substr(0, full.size() / 2));
    ToolRun cut = fromSf2(truncated + " " + dir.path("out.brf"));
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.output.find("truncated"), std::string::npos) << cut.output;

    std::string text = dir.write("text.sf2", "this is not a sound font");
    ToolRun wrong = fromSf2(text + " " + dir.path("out.brf"));
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.output.find("not a SoundFont 2 file"), std::string::npos) << wrong.output;

    ToolRun missing = fromSf2(dir.path("none.sf2") + " " + dir.path("out.brf"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("cannot open"), std::string::npos);
    EXPECT_FALSE(std::ifstream(dir.path("out.brf")).good());  // nothing written on failure
}

TEST(FromSf2Tool, ConvertsSf3BanksAndNamesWhatIsWrongWithDamagedOnes) {
    Sf2Builder b;
    b.versionMajor = 3;
    b.padOddChunks = false;
    std::vector<std::int16_t> frames = Sf2Builder::sine(4410, 44100.0 / 440.0);
    b.samples.push_back({"tone", frames, 44100, 69, 0, 441, 4410, 1, testing::encodeOggVorbis(frames, 44100)});
    b.instruments.push_back({"tone", {{{SF2_SAMPLE_MODES, 1}, {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back({"Tone", 0, 0, {{{SF2_INSTRUMENT, 0}}}});
    TempDir dir;
    ToolRun good = fromSf2(dir.write("good.sf3", b.build()) + " " + dir.path("good.brf"));
    ASSERT_EQ(good.status, 0) << good.output;
    EXPECT_NE(good.output.find("1 programs from presets"), std::string::npos) << good.output;
    SoundFont font;
    EXPECT_TRUE(font.loadSoundFont(dir.path("good.brf").c_str()));

    Sf2Builder future = b;
    future.versionMajor = 4;
    future.versionMinor = 1;
    ToolRun version = fromSf2(dir.write("v4.sf3", future.build()) + " " + dir.path("v4.brf"));
    EXPECT_EQ(version.status, 2);
    EXPECT_NE(version.output.find("v4.sf3: unsupported SoundFont version 4.1"), std::string::npos) << version.output;

    Sf2Builder cut = b;
    cut.samples[0].ogg.resize(cut.samples[0].ogg.size() / 2);
    ToolRun broken = fromSf2(dir.write("cut.sf3", cut.build()) + " " + dir.path("cut.brf"));
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.output.find("sample \"tone\" does not decode"), std::string::npos) << broken.output;
    EXPECT_FALSE(std::ifstream(dir.path("cut.brf")).good());
}

TEST(FromSf2Tool, BadArgumentsExitWith2) {
    EXPECT_EQ(fromSf2("").status, 2);
    EXPECT_EQ(fromSf2("a.sf2 b.brf --rate 100").status, 2);
    EXPECT_EQ(fromSf2("a.sf2 b.brf --bogus").status, 2);
}

TEST(FromSf2Tool, SizeLimitThatCannotBeMetFails) {
    TempDir dir;
    std::string in = dir.write("bank.sf2", bank());
    ToolRun run = fromSf2(in + " " + dir.path("out.brf") + " --max-size 0.01");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("size limit"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace brellin
