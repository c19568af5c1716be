// brellin-synth on a real JACK server: a private jackd on its dummy backend
// (no sound card, no root), brellin-synth as a user starts it with
// --audio-device jack, and two JACK clients of the test that play notes into
// its MIDI input at known frames and listen to its output (bench/live/JackProbe.h).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/live/JackProbe.h"
#include "tests/JackTestServer.h"

namespace brellin {
namespace {

using testing::Child;
using testing::waitForJackPort;

TEST(BrellinSynthJack, NotesSoundAtTheirFrameSurviveAFloodAndTheServerGoingAway) {
    ASSERT_EQ(testing::runCommand("command -v jackd >/dev/null && echo yes").output, "yes\n")
        << "jackd is missing: scripts/install-deps.sh test installs jackd2";
    testing::JackTestServer jackd("test", 48000, 64);
    const std::string& server = jackd.name;
    const std::string logs = "/tmp/" + server;
    // A machine where jackd cannot run at all (no shared memory) is said, not failed.
    if (!jackd.running()) GTEST_SKIP() << "jackd did not start here:\n" << jackd.output();

    Child synth("env JACK_DEFAULT_SERVER=" + server +
                    " BRELLIN_JACK_CONNECT=0 " BRELLIN_BINARY_DIR
                    "/brellin-synth --audio-device jack --soundfont " BRELLIN_BINARY_DIR "/small.brf",
                logs + "-synth.log");
    ASSERT_TRUE(waitForJackPort(server, "brellin:midi_in")) << synth.output();
    // It says where it is, even without an ALSA sequencer.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(synth.output().find("JACK ports brellin:out_left brellin:out_right brellin:midi_in at 48000 Hz"),
              std::string::npos)
        << synth.output();

    // Every note sounds from the frame it was sent at, whatever its offset
    // within the period: within one 64-frame block (1.5 ms at 48000 Hz). A
    // run in which the server reports xruns (a busy machine: cycles skipped)
    // does not measure that; up to three runs, the first clean one counts.
    brellin::bench::ProbeOptions options;
    options.server = server;
    options.midiTarget = "brellin:midi_in";
    options.audioSource = "brellin:out_left";
    options.notes = 24;
    options.spacingSeconds = 0.15;
    brellin::bench::ProbeResult result;
    for (int attempt = 0; attempt < 3; ++attempt) {
        result = brellin::bench::runProbe(options);
        ASSERT_TRUE(result.connected) << result.error;
        if (result.xruns == 0) break;
    }
    EXPECT_EQ(result.period, 64u);
    for (std::size_t k = 0; k < result.delays.size(); ++k) {
        EXPECT_GE(result.delays[k], 0) << "note " << k << " (offset " << result.offsets[k] << ") was not heard";
        if (result.xruns == 0) {
            EXPECT_LE(result.delays[k], 64) << "note " << k << " (offset " << result.offsets[k] << ")";
        }
    }
    if (result.xruns != 0) std::printf("the JACK server reported xruns in all three runs: note timing not checked\n");

    // A flood of note-ons in one period: brellin-synth plays what it can,
    // drops the rest and goes on; the notes after it are heard.
    options.floodNotes = 10000;
    options.notes = 6;
    options.program = 19;  // an organ: no note can be mistaken for the flood's fading piano
    result = brellin::bench::runProbe(options);
    ASSERT_TRUE(result.connected) << result.error;
    EXPECT_GT(result.flooded, 1000u);
    EXPECT_EQ(result.heard(), 6u);
    EXPECT_EQ(synth.wait(0.1), -1) << "brellin-synth ended after the flood: " << synth.output();

    // The server goes away: brellin-synth says so and ends with status 1.
    // (SIGTERM: a killed jackd would leave its entry in JACK's registry of
    // servers, which holds only a few.)
    jackd.stop();
    EXPECT_EQ(synth.wait(10), 1) << synth.output();
    EXPECT_NE(synth.output().find("the JACK server has gone away"), std::string::npos) << synth.output();
}

}  // namespace
}  // namespace brellin
