// brellin-synth as a user starts it from a terminal or as a service: on a
// machine with an ALSA sequencer it offers its port and ends cleanly on
// SIGTERM; without one it says why and ends with status 1.
#include <gtest/gtest.h>

#include <string>

#include "input/AlsaSequencerInput.h"
#include "tests/CommandRun.h"

namespace brellin {
namespace {

using testing::CommandRun;
using testing::runCommand;

const std::string program = std::string(BRELLIN_BINARY_DIR) + "/brellin-synth";

TEST(BrellinSynth, RefusesFilesAndUnknownOptions) {
    CommandRun run = runCommand(program + " song.mid 2>&1");
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("takes no files"), std::string::npos) << run.output;
    run = runCommand(program + " --rate 48001 2>&1");
    EXPECT_EQ(run.status, 2) << run.output;
    run = runCommand(program + " --help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("--connect CLIENT:PORT"), std::string::npos) << run.output;
}

TEST(BrellinSynth, OffersItsPortUntilSigterm) {
    const std::string start = program + " --audio-device null --soundfont " BRELLIN_BINARY_DIR "/small.brf";
    if (!AlsaSequencerInput::sequencerPresent()) {
        // Without a sequencer there is nothing to play into: one line says why.
        const CommandRun run = runCommand(start + " 2>&1");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find("/dev/snd/seq is missing"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("no live MIDI input could be opened"), std::string::npos) << run.output;
        GTEST_SKIP() << "no ALSA sequencer on this machine (/dev/snd/seq is absent): only the refusal was tested";
    }
    // The first line is the port's address; SIGTERM then ends it with status 0.
    const CommandRun run =
        runCommand("(" + start + " & pid=$!; sleep 1; kill -TERM $pid; wait $pid; echo status=$?) 2>&1");
    EXPECT_NE(run.output.find("Brellin:Synth input "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("status=0"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace brellin
