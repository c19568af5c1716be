// brellin-render --midi-out on a private JACK server (dummy backend): a JACK
// client of the test stands for the synthesizer at the other end and
// records what arrives, and when (bench/live/MidiRecorder.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/live/MidiRecorder.h"
#include "tests/JackTestServer.h"
#include "tests/TempDir.h"

namespace brellin {
namespace {

using bench::MidiRecorder;
using bench::RecordedMessage;
using testing::Child;

// A Standard MIDI File of the given tracks (each: delta, message bytes...).
struct TrackWriter {
    std::vector<std::uint8_t> bytes;
    void event(std::uint32_t delta, std::initializer_list<std::uint8_t> message) {
        std::uint8_t groups[5];
        int count = 0;
        do {
            groups[count++] = delta & 0x7F;
            delta >>= 7;
        } while (delta != 0);
        while (count-- > 0) bytes.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
        bytes.insert(bytes.end(), message);
    }
};

void writeSong(const std::string& path, std::uint16_t division, const std::vector<TrackWriter>& tracks) {
    std::vector<std::uint8_t> file = {'M',
                                      'T',
                                      'h',
                                      'd',
                                      0,
                                      0,
                                      0,
                                      6,
                                      0,
                                      1,
                                      0,
                                      static_cast<std::uint8_t>(tracks.size()),
                                      static_cast<std::uint8_t>(division >> 8),
                                      static_cast<std::uint8_t>(division)};
    for (TrackWriter track : tracks) {
        track.event(0, {0xFF, 0x2F, 0x00});
        const auto size = static_cast<std::uint32_t>(track.bytes.size());
        file.insert(file.end(),
                    {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                     static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
        file.insert(file.end(), track.bytes.begin(), track.bytes.end());
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// About four seconds: tempo changes between odd tick positions, a melody on
// channel 0 with odd deltas, chords on channel 1 in running status, drums,
// Channel Volume, and a system exclusive message.
void writeTimingSong(const std::string& path) {
    TrackWriter tempo, melody, drums;
    tempo.event(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});    // 500000 µs per quarter
    tempo.event(397, {0xFF, 0x51, 0x03, 0x05, 0xB8, 0xD8});  // 375000
    tempo.event(611, {0xFF, 0x51, 0x03, 0x0A, 0x2C, 0x2A});  // 666666
    melody.event(0, {0xB0, 0x07, 100});
    melody.event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    for (int i = 0; i < 24; ++i) {
        melody.event(i == 0 ? 0u : 7u + static_cast<std::uint32_t>(i % 5),
                     {0x90, static_cast<std::uint8_t>(60 + i % 12), 100});
        melody.event(41u + 3u * static_cast<std::uint32_t>(i % 4), {0x80, static_cast<std::uint8_t>(60 + i % 12), 64});
        melody.event(0, {0x91, 48, 90});
        melody.event(0, {52, 90});  // running status
        melody.event(13, {48, 0});
        melody.event(0, {52, 0});
    }
    for (int i = 0; i < 40; ++i) {
        drums.event(i == 0 ? 5 : 49, {0x99, static_cast<std::uint8_t>(i % 2 ? 38 : 36), 110});
        drums.event(1, {0x89, static_cast<std::uint8_t>(i % 2 ? 38 : 36), 0});
    }
    writeSong(path, 192, {tempo, melody, drums});
}

// Twenty seconds of long notes on four channels, for a stop in the middle.
void writeLongSong(const std::string& path) {
    TrackWriter track;
    for (int i = 0; i < 40; ++i) {
        const auto channel = static_cast<std::uint8_t>(i % 4);
        track.event(0, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(50 + i), 90});
        track.event(0, {static_cast<std::uint8_t>(0x90 | ((channel + 1) % 4)), static_cast<std::uint8_t>(70 + i), 90});
        track.event(240, {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(50 + i), 0});
        track.event(0, {static_cast<std::uint8_t>(0x80 | ((channel + 1) % 4)), static_cast<std::uint8_t>(70 + i), 0});
    }
    writeSong(path, 480, {track});
}

std::string renderCommand(const std::string& server, const std::string& arguments) {
    return "env JACK_DEFAULT_SERVER=" + server + " BRELLIN_JACK_CONNECT=0 " BRELLIN_BINARY_DIR "/brellin-render -q " +
           arguments;
}

// Notes still sounding after the last message: each note-on needs a later
// note-off of its key, or All Notes Off on its channel.
std::vector<std::string> hangingNotes(const std::vector<RecordedMessage>& messages) {
    std::map<int, int> held;  // channel × 128 + key → count
    for (const RecordedMessage& message : messages) {
        if (message.bytes.size() < 3) continue;
        const int kind = message.bytes[0] & 0xF0, channel = message.bytes[0] & 0x0F;
        if (kind == 0x90 && message.bytes[2] != 0) held[channel * 128 + message.bytes[1]] += 1;
        if (kind == 0x80 || (kind == 0x90 && message.bytes[2] == 0)) held.erase(channel * 128 + message.bytes[1]);
        if (kind == 0xB0 && message.bytes[1] == 123)
            for (int key = 0; key < 128; ++key) held.erase(channel * 128 + key);
    }
    std::vector<std::string> hanging;
    for (const auto& [note, count] : held)
        hanging.push_back("channel " + std::to_string(note / 128) + " key " + std::to_string(note % 128));
    return hanging;
}

TEST(BrellinRenderMidiOut, ASongReachesAJackSynthesizerOnTimeAndNothingHangs) {
    ASSERT_EQ(testing::runCommand("command -v jackd >/dev/null && echo yes").output, "yes\n")
        << "jackd is missing: scripts/install-deps.sh test installs jackd2";
    // A period of 1024 frames: the MIDI timing does not depend on it, and a
    // busy machine keeps up with it.
    testing::JackTestServer jackd("midi-out", 48000, 1024);
    if (!jackd.running()) GTEST_SKIP() << "jackd did not start here:\n" << jackd.output();
    testing::TempDir folder;
    const std::string song = folder.path("timing.mid"), longSong = folder.path("long.mid");
    writeTimingSong(song);
    writeLongSong(longSong);
    std::vector<bench::ModelNote> expected;
    ASSERT_TRUE(bench::noteTimesInClockModel(song, expected));
    ASSERT_EQ(expected.size(), 24u * 6 + 40 * 2);

    // Every note in order, each within 1 ms of the clock model; a General
    // MIDI reset first; the song's Channel Volume scaled by --volume 64.
    // A run the server reports xruns in is not a measure of timing: up to
    // three runs, the first clean one counts.
    bool measured = false;
    for (int attempt = 0; attempt < 3 && !measured; ++attempt) {
        MidiRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.open(jackd.name, "synth", error)) << error;
        Child render(renderCommand(jackd.name, "--volume 64 --midi-out jack:synth:in " + song),
                     folder.path("render.log"));
        ASSERT_EQ(render.wait(30), 0) << render.output();
        const std::vector<RecordedMessage> messages = recorder.messages();
        const std::uint32_t xruns = recorder.xruns();
        recorder.close();
        const bench::TimingReport report = bench::compareTiming(expected, messages, 48000, 192);
        ASSERT_TRUE(report.sameOrder) << report.mismatch;
        EXPECT_EQ(report.received, report.expected) << "notes besides the song's";
        EXPECT_TRUE(hangingNotes(messages).empty());
        std::size_t firstNote = messages.size(), gmReset = messages.size(), songVolume = 0;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const std::vector<std::uint8_t>& bytes = messages[i].bytes;
            if ((bytes[0] & 0xF0) == 0x90 && firstNote == messages.size()) firstNote = i;
            if (bytes == std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7} && gmReset == messages.size())
                gmReset = i;
            if (bytes == std::vector<std::uint8_t>{0xB0, 7, 100 * 64 / 127}) ++songVolume;
        }
        EXPECT_LT(gmReset, firstNote) << "no General MIDI reset before the song";
        EXPECT_GE(songVolume, 1u) << "the song's Channel Volume 100 was not scaled to 50";
        if (xruns != 0) continue;
        measured = true;
        EXPECT_LE(report.worstMs, 1.0) << "mean " << report.meanMs << " ms";
        std::printf("timing song: %zu notes, worst error %.3f ms, mean %.3f ms\n", report.received, report.worstMs,
                    report.meanMs);
    }
    if (!measured) GTEST_SKIP() << "the JACK server reported xruns in all three runs: too busy to measure timing";

    // Stopped with SIGTERM in mid-song: every note it started is released.
    {
        MidiRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.open(jackd.name, "synth", error)) << error;
        Child render(renderCommand(jackd.name, "--midi-out jack:synth:in " + longSong), folder.path("stop.log"));
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        render.stop(SIGTERM);
        std::vector<RecordedMessage> messages = recorder.messages();
        std::size_t noteOns = 0;
        for (const RecordedMessage& message : messages) noteOns += (message.bytes[0] & 0xF0) == 0x90;
        EXPECT_GT(noteOns, 4u) << render.output();
        const std::vector<std::string> hanging = hangingNotes(messages);
        EXPECT_TRUE(hanging.empty()) << hanging.size() << " notes hang, the first " << hanging.front();
    }

    // The synthesizer goes away in mid-song: playing stops with a message.
    {
        auto recorder = std::make_unique<MidiRecorder>();
        std::string error;
        ASSERT_TRUE(recorder->open(jackd.name, "synth", error)) << error;
        Child render(renderCommand(jackd.name, "--midi-out jack:synth:in " + longSong), folder.path("gone.log"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        recorder.reset();
        EXPECT_EQ(render.wait(10), 1) << render.output();
        EXPECT_NE(render.output().find("the MIDI port jack:synth:in has gone away"), std::string::npos)
            << render.output();
    }

    // A port that is not there: the ports that are, and status 2.
    {
        MidiRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.open(jackd.name, "synth", error)) << error;
        Child render(renderCommand(jackd.name, "--midi-out jack:nobody:in " + song), folder.path("none.log"));
        EXPECT_EQ(render.wait(10), 2) << render.output();
        EXPECT_NE(render.output().find("no JACK MIDI input \"nobody:in\""), std::string::npos) << render.output();
        EXPECT_NE(render.output().find("jack:synth:in"), std::string::npos) << render.output();
    }
}

}  // namespace
}  // namespace brellin
