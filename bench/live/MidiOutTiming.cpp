// midi-out-timing: how closely brellin-render keeps a song's time when it
// plays to another synthesizer over JACK MIDI. For each song it records what
// arrives on a JACK MIDI input of its own while `brellin-render --midi-out`
// plays the song to it, and sets every note-on and note-off beside its time
// in the player's clock model (MidiRecorder.h), after aligning the first.
//
//   midi-out-timing --render PATH/brellin-render [--server NAME] SONG.mid...
//
// Needs a running JACK server (jackd -d dummy will do). Prints one line per
// song and the worst error over all; exit status 1 when a song's notes did
// not all arrive in order.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/live/MidiRecorder.h"

using namespace brellin::bench;

int main(int argc, char** argv) {
    std::string render, server;
    std::vector<std::string> songs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--render" && i + 1 < argc) {
            render = argv[++i];
        } else if (argument == "--server" && i + 1 < argc) {
            server = argv[++i];
        } else {
            songs.push_back(argument);
        }
    }
    if (render.empty() || songs.empty()) {
        std::fprintf(stderr, "usage: midi-out-timing --render BRELLIN-RENDER [--server NAME] SONG.mid...\n");
        return 2;
    }
    double worst = 0;
    int status = 0;
    for (const std::string& song : songs) {
        std::vector<ModelNote> expected;
        if (!noteTimesInClockModel(song, expected)) {
            std::fprintf(stderr, "%s: cannot read\n", song.c_str());
            status = 1;
            continue;
        }
        MidiRecorder recorder;
        std::string error;
        if (!recorder.open(server, "midi-out-timing", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::string command = "BRELLIN_JACK_CONNECT=0 ";
        if (!server.empty()) command += "JACK_DEFAULT_SERVER='" + server + "' ";
        command += "'" + render + "' -q --midi-out 'jack:" + recorder.portName() + "' '" + song + "'";
        const int code = std::system(command.c_str());
        const std::vector<RecordedMessage> messages = recorder.messages();
        const std::uint32_t xruns = recorder.xruns();
        recorder.close();
        const std::uint32_t rate = recorder.rate();
        const auto sliceFrames = static_cast<std::uint32_t>((rate * 44ull + 11025 / 2) / 11025);
        const TimingReport report = compareTiming(expected, messages, rate, sliceFrames);
        std::printf("%s: %zu of %zu note messages, %s, worst %.3f ms, mean %.3f ms, %u xruns (exit %d)\n", song.c_str(),
                    report.received, report.expected, report.sameOrder ? "in order" : report.mismatch.c_str(),
                    report.worstMs, report.meanMs, xruns, WIFEXITED(code) ? WEXITSTATUS(code) : -1);
        if (std::getenv("MIDI_OUT_TIMING_DUMP") != nullptr) {
            std::size_t shown = 0;
            for (const RecordedMessage& message : messages) {
                if (shown++ > 40) break;
                std::printf("  %llu:", static_cast<unsigned long long>(message.frame));
                for (std::uint8_t b : message.bytes) std::printf(" %02X", b);
                std::printf("\n");
            }
            for (std::size_t i = 0; i < expected.size() && i < 30; ++i)
                std::printf("  model %.3f %02X %u\n", expected[i].ms, expected[i].status, expected[i].note);
        }
        if (!report.sameOrder) status = 1;
        if (report.worstMs > worst) worst = report.worstMs;
    }
    std::printf("worst error over %zu songs: %.3f ms\n", songs.size(), worst);
    return status;
}
