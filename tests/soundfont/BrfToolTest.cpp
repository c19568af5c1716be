// brf-tool as a user runs it: exit status and report of `info`, and the
// font `synth` writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <string>

#include "soundfont/SoundFontWriter.h"
#include "tests/CommandRun.h"
#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

using ToolRun = brellin::testing::CommandRun;

ToolRun brfTool(const std::string& arguments) {
    std::string command = std::string(BRELLIN_BINARY_DIR) + "/brf-tool " + arguments + " 2>&1";
    return brellin::testing::runCommand(command);
}

SoundFontWriter soundFont() {
    SoundFontWriter w;
    w.addSample({0, 50, 100, 50, 0, -50, -100, -50});
    w.addSample({90, -90, 60, -60, 30, -30});
    for (auto& p : w.programs) {
        p.attackRate = 1000;
        p.attackLevel = 100000;
        p.releaseRate = 100;
        p.cycleLength = 8;
        p.loopEnd = 8;
    }
    InstrumentRecord drum{};
    drum.fixedStep = 1;
    drum.lfoDepth = drum.lfoDepthStep = 0x10000;
    drum.cycleLength = drum.loopEnd = 6;
    drum.sample = 1;
    w.drumRegions.push_back(drum);
    return w;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(BrfToolInfo, SoundFileExitsZeroAndDescribesTheFont) {
    TempDir dir;
    ASSERT_TRUE(soundFont().save(dir.path("good.brf").c_str()));
    ToolRun run = brfTool("info " + dir.path("good.brf"));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "BRF1")) << run.output;
    EXPECT_TRUE(contains(run.output, "samples     2")) << run.output;
    EXPECT_TRUE(contains(run.output, "sample 1: 6 bytes")) << run.output;
    EXPECT_TRUE(contains(run.output, "program 127")) << run.output;
    EXPECT_TRUE(contains(run.output, "region   0 fixed-step sample 1 end 6")) << run.output;
    EXPECT_TRUE(contains(run.output, "0 problem(s)")) << run.output;
}

TEST(BrfToolInfo, ListsEveryProblemAndExitsOne) {
    TempDir dir;
    SoundFontWriter w = soundFont();
    w.programs[3].sample = 7;           // no sample 7
    w.programs[4].loopEnd = 20;         // sample 0 has 8 bytes
    w.drumRegions[0].cycleLength = 99;  // sample 1 has 6 bytes
    w.drumKitMaps[36] = 4;              // one region
    ASSERT_TRUE(w.save(dir.path("bad.brf").c_str()));
    ToolRun run = brfTool("info " + dir.path("bad.brf"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "problem: program 3: sample index 7")) << run.output;
    EXPECT_TRUE(contains(run.output, "problem: program 4: loopEnd 20")) << run.output;
    EXPECT_TRUE(contains(run.output, "problem: drum region 0: end position (cycleLength) 99")) << run.output;
    EXPECT_TRUE(contains(run.output, "problem: kit 0 key 36: region index 4")) << run.output;
    EXPECT_TRUE(contains(run.output, "4 problem(s)")) << run.output;
}

TEST(BrfToolInfo, SanitizingAloneIsNotAProblem) {
    TempDir dir;
    SoundFontWriter w = soundFont();
    w.programs[0].releaseRate = 3;
    ASSERT_TRUE(w.save(dir.path("odd.brf").c_str()));
    ToolRun run = brfTool("info " + dir.path("odd.brf"));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "note: program 0: releaseRate")) << run.output;
}

TEST(BrfToolInfo, UnloadableFileExitsTwoWithTheResultCode) {
    TempDir dir;
    std::vector<std::uint8_t> bytes = soundFont().bytes();
    bytes.resize(bytes.size() - 3);
    dir.write("short.brf", std::string(bytes.begin(), bytes.end()));
    ToolRun run = brfTool("info " + dir.path("short.brf"));
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_TRUE(contains(run.output, "RESULT_FILE_IO_ERROR")) << run.output;

    dir.write("wav.brf", "RIFF....WAVEfmt ");
    run = brfTool("info " + dir.path("wav.brf"));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "RESULT_UNSUPPORTED_DATA")) << run.output;

    run = brfTool("info " + dir.path("missing.brf"));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "RESULT_CANNOT_OPEN_FILE")) << run.output;
}

TEST(BrfToolSynth, WritesAFontThatPassesInfo) {
    TempDir dir;
    ToolRun made = brfTool("synth " + dir.path("gm.brf"));
    ASSERT_EQ(made.status, 0) << made.output;
    ToolRun run = brfTool("info " + dir.path("gm.brf"));
    EXPECT_EQ(run.status, 0) << run.output.substr(run.output.size() > 2000 ? run.output.size() - 2000 : 0);
    EXPECT_TRUE(contains(run.output, "0 problem(s), 0 note(s)"));
    EXPECT_TRUE(contains(run.output, "program   0 Acoustic Grand Piano"));
}

TEST(BrfToolCommandLine, UnknownCommandOrMissingArgumentIsAnError) {
    EXPECT_EQ(brfTool("").status, 2);
    EXPECT_EQ(brfTool("frobnicate x").status, 2);
    EXPECT_EQ(brfTool("info").status, 2);
    EXPECT_EQ(brfTool("synth").status, 2);
}
