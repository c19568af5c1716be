// Pause and seek on the real engine. A render with a pause in it against the
// same render without one; a seek's replay against the song played from its
// start, on the 31 songs of openttd-openmsx (installed by ./test.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/RenderSession.h"
#include "midi/MidiFileInfo.h"
#include "player/Sequencer.h"
#include "synth/Synthesizer.h"
#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string message(std::uint32_t delta, std::initializer_list<int> values) { return varLen(delta) + bytes(values); }

// A slice client of the rank after the songs': asks for a pause in the slice
// in which the song's clock reaches `at`, and for the resume `length` slices later.
struct Pauser {
    Sequencer* sequencer = nullptr;
    std::uint32_t at = 0;
    int length = 0;
    int count = -1;
    static void call(void* argument) noexcept {
        auto* self = static_cast<Pauser*>(argument);
        if (self->count < 0) {
            if (self->sequencer->playing && self->sequencer->position() >= self->at) {
                self->sequencer->pause();
                self->count = 0;
            }
        } else if (self->count < self->length && ++self->count == self->length) {
            self->sequencer->resume();
        }
    }
};

// Renders `song` (22050 Hz, 16-bit mono, no effects) with a pause of
// `pauseSlices` slices at `pauseAt` ms of the song (none for 0 slices).
std::string renderWithPause(const TempDir& dir, const std::string& song, std::uint32_t pauseAt, int pauseSlices) {
    RenderOptions options;
    options.outputPath = dir.path("pause" + std::to_string(pauseSlices) + ".wav");
    options.soundFont = std::string(BRELLIN_BINARY_DIR) + "/small.brf";
    options.rate = 22050;
    options.bits = 16;
    options.channels = 1;
    RenderSession session(options);
    std::string error;
    if (!session.start(error)) {
        ADD_FAILURE() << error;
        return {};
    }
    Pauser pauser{&session.player(), pauseAt, pauseSlices};
    SliceClientHandle client = 0;
    if (pauseSlices > 0) client = session.addSliceClient(&Pauser::call, &pauser, SliceOrder::Live);
    EXPECT_TRUE(session.playFile(dir.write("song.mid", song)));
    EXPECT_TRUE(session.finish(error)) << error;
    session.removeSliceClient(client);
    return readAll(options.outputPath);
}

// A SynthesizerInterface in front of a Synthesizer without voices, with a
// clock the test moves: the channels react to every message, nothing sounds.
struct ChannelsOnly : SynthesizerInterface {
    Synthesizer synth;
    std::uint32_t clock = 0;
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override { return synth.sendMidi(bytes, length); }
    bool reset() override { return synth.reset(); }
    std::uint32_t outputTime() override { return clock; }
    SliceClientHandle addSliceClient(ClockCallback, void*, SliceOrder) override { return 0; }
    void removeSliceClient(SliceClientHandle) override {}
    void setSystemVolume(std::int32_t value) override { synth.setSystemVolume(value); }
    void setUserVolume(std::int32_t value) override { synth.setUserVolume(value); }
};

struct Player {
    ChannelsOnly target;
    Sequencer sequencer{&target};
    bool start(const std::string& path) {
        if (!target.synth.loadSoundFont((std::string(BRELLIN_BINARY_DIR) + "/small.brf").c_str())) return false;
        target.synth.seedRandom(7);
        if (!sequencer.load(path.c_str()) || !sequencer.rewind()) return false;
        sequencer.startClock();
        return true;
    }
    // Slices as the render loop would run them, to `ms` of the song.
    void playTo(std::uint32_t ms) {
        while (sequencer.playing && sequencer.position() < ms) {
            target.clock += 4;
            sequencer.tick();
        }
    }
    // A seek, taken by a tick in which no play clock passes.
    void seekTo(std::uint32_t ms) {
        sequencer.seek(ms);
        sequencer.tick();
    }
};

// What shapes the sound from here on: every channel of the Synthesizer, its
// volumes, and where the Sequencer stands in the song.
std::string stateOf(Player& player) {
    std::string out;
    const Synthesizer& s = player.target.synth;
    for (std::uint32_t i = 0; i < Synthesizer::CHANNEL_COUNT; ++i) {
        const Synthesizer::Channel& c = s.channel(i);
        out += "ch" + std::to_string(i) + " program " + std::to_string(c.program) + " instrument " +
               std::to_string(c.instrument - s.soundFont.programs) + " gain " + std::to_string(c.gain.load()) +
               " bend " + std::to_string(c.bend) + " range " + std::to_string(c.bendRange) + " drum " +
               std::to_string(c.isDrum) + " pan " + std::to_string(c.pan) + " rpn " + std::to_string(c.rpn) + "\n";
    }
    out += "system " + std::to_string(s.systemVolumeValue()) + " master " + std::to_string(s.masterGainValue()) + "\n";
    const Sequencer& q = player.sequencer;
    out += "tempo " + std::to_string(q.tempo) + " remainder " + std::to_string(q.tickRemainder) + " active " +
           std::to_string(q.activeTracks) + " position " + std::to_string(q.position()) + "\n";
    for (std::uint32_t t = 0; t < q.song.trackCount; ++t) {
        const TrackState& track = q.song.tracks[t];
        out += "track " + std::to_string(t) + " at " + std::to_string(track.position) + " delta " +
               std::to_string(track.delta) + " active " + std::to_string(track.active) + " status " +
               std::to_string(track.runningStatus) + "\n";
    }
    return out;
}

std::vector<std::string> openMsxSongs() {
    std::vector<std::string> found;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/games/openttd/baseset/openmsx", failure)) {
        const std::string name = entry.path().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mid") == 0) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

TEST(PauseRender, IsTheRenderWithoutThePauseWithItsSlicesOfSilenceInserted) {
    // Channel 1 gets a program, volume, pan and a bend, plays a note, and
    // rests from 0.5 s to 6 s; then it plays again with channel 2. The pause
    // falls into the rest, so whatever it kept or lost shows in the second part.
    const std::string body = message(0, {0xC0, 48}) + message(0, {0xB0, 7, 110}) + message(0, {0xB0, 10, 30}) +
                             message(0, {0xE0, 0, 80}) + message(0, {0xC1, 73}) + noteOn(0, 0, 60, 100) +
                             noteOff(96, 0, 60) + noteOn(1056, 0, 64, 100) + noteOn(0, 1, 67, 90) +
                             noteOff(192, 0, 64) + noteOff(0, 1, 67) + endOfTrack();
    const std::string song = header(0, 1, 96) + track(body);
    TempDir dir;
    const std::string plain = renderWithPause(dir, song, 0, 0);
    const std::string paused = renderWithPause(dir, song, 4000, 250);
    constexpr std::size_t HEADER = 44, SLICE = 88 * 2;  // 88 frames of 16-bit mono per slice
    // The pause took hold in the slice after the song's clock reached 4000 ms.
    const std::size_t cut = HEADER + 1000 * SLICE, gap = 250 * SLICE;
    ASSERT_EQ(paused.size(), plain.size() + gap);
    ASSERT_GT(plain.size(), cut + 400 * SLICE);
    // The rest is silent in the render without the pause (so no note rang into it).
    EXPECT_EQ(plain.substr(cut - 50 * SLICE, 100 * SLICE), std::string(100 * SLICE, '\0'));
    // (The headers differ in the lengths they give.)
    EXPECT_TRUE(paused.compare(HEADER, cut - HEADER, plain, HEADER, cut - HEADER) == 0);
    EXPECT_EQ(paused.substr(cut, gap), std::string(gap, '\0'));
    // Every sample after the pause equals its counterpart, the second part included.
    EXPECT_TRUE(paused.compare(cut + gap, std::string::npos, plain, cut, std::string::npos) == 0);
    EXPECT_NE(plain.substr(plain.size() - 300 * SLICE), std::string(300 * SLICE, '\0'));
}

TEST(SeekChase, EveryOpenMsxSongStandsAtTheTargetAsIfPlayedFromTheStart) {
    // At a third and two thirds of every song, and just before its end: the
    // state after a seek from the start, and after a seek back from later,
    // equals the state of the song played slice by slice to that point.
    const std::vector<std::string> files = openMsxSongs();
    ASSERT_EQ(files.size(), 31u) << "the songs of openttd-openmsx are missing (./test.sh installs the package)";
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        MidiFileInfo info;
        ASSERT_TRUE(scanMidiFile(file.c_str(), info));
        for (std::uint32_t target : {info.playingTime / 3, info.playingTime * 2 / 3, info.playingTime - 100}) {
            target -= target % 4;
            SCOPED_TRACE(target);
            Player played, sought, back;
            ASSERT_TRUE(played.start(file) && sought.start(file) && back.start(file));
            played.playTo(target);
            ASSERT_EQ(played.sequencer.position(), target);
            sought.seekTo(target);
            back.playTo(info.playingTime - 40);
            back.seekTo(target);
            const std::string expected = stateOf(played);
            EXPECT_EQ(stateOf(sought), expected);
            EXPECT_EQ(stateOf(back), expected);
        }
    }
}
