// The Sequencer driven by hand: the test advances the play clock and calls
// `tick` itself, as the render loop would before each slice. No threads.
#include "player/Sequencer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/MidiFileInfo.h"
#include "midi/SongClock.h"
#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"
#include "tests/player/FakeSynthesizer.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct RecordingNoteOn : NoteOnListener {
    void notify() override { seen.push_back({channel, note, level}); }
    std::vector<std::vector<int>> seen;
};

struct RecordingText : TextEventListener {
    void notify() override { seen.push_back({track, type, std::string(text, textLength)}); }
    struct Seen {
        int track, type;
        std::string text;
    };
    std::vector<Seen> seen;
};

struct CountingSongEnd : SongEndListener {
    void notify() override { ++count; }
    int count = 0;
};

struct ByHand {
    TempDir dir;
    FakeSynthesizer synth;
    Sequencer sequencer{&synth};

    bool load(const std::string& file) { return sequencer.load(dir.write("song.mid", file).c_str()); }
    // play without the play thread
    void start() {
        ASSERT_TRUE(sequencer.rewind());
        sequencer.startClock();
        synth.clearMessages();
    }
    void slice() {
        synth.clock += 4;
        sequencer.tick();
    }
    // Slices until the song has ended; the count, or -1 past the limit.
    int slicesToEnd(int limit) {
        for (int i = 1; i <= limit; ++i) {
            slice();
            if (!sequencer.playing) return i;
        }
        return -1;
    }
    std::vector<Bytes> sent() { return synth.messagesCopy(); }
};

std::string oneTrack(const std::string& body, std::uint32_t division = 96) {
    return header(0, 1, division) + track(body);
}

}  // namespace

// ---- loading and the virtual slots -------------------------------------------

TEST(SequencerLoad, FormatsZeroAndOneLoadAndOthersAreRefused) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(endOfTrack())));
    ASSERT_TRUE(hand.load(header(1, 1, 96) + track(endOfTrack())));
    EXPECT_FALSE(hand.load(header(2, 1, 96) + track(endOfTrack())));
    EXPECT_EQ(hand.sequencer.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_TRUE(hand.sequencer.song.empty());
    EXPECT_FALSE(hand.load(header(7, 1, 96) + track(endOfTrack())));
    std::string fourteen = header(0, 1, 96);
    EXPECT_FALSE(hand.load(fourteen.substr(0, 13)));
    EXPECT_FALSE(hand.load(fourteen));  // format 0 without a track chunk
    EXPECT_TRUE(hand.sequencer.song.empty());
}

TEST(SequencerLoad, PlayWithoutASongFailsAndChangesNothing) {
    FakeSynthesizer synth;
    Sequencer sequencer(&synth);
    EXPECT_FALSE(sequencer.play());
    EXPECT_FALSE(sequencer.resume());
    EXPECT_FALSE(sequencer.playing);
    EXPECT_EQ(synth.resets, 0);
    EXPECT_EQ(synth.clientCount(), 0u);
}

TEST(SequencerLoad, StopWhileStoppedReturnsAtOnceWithoutListener) {
    FakeSynthesizer synth;
    Sequencer sequencer(&synth);
    CountingSongEnd ended;
    sequencer.songEndListener = &ended;
    EXPECT_TRUE(sequencer.stop());
    EXPECT_EQ(ended.count, 0);
    EXPECT_EQ(synth.resets, 0);
}

// ---- the rewind ---------------------------------------------------------------

TEST(SequencerRewind, SetsVolumeResetsAndRestartsEveryTrack) {
    ByHand hand;
    ASSERT_TRUE(hand.load(header(1, 2, 96) + track(noteOn(5, 0, 60, 1) + endOfTrack()) + track(endOfTrack(7))));
    hand.sequencer.tempo = 55;
    hand.start();
    EXPECT_EQ(hand.synth.systemVolume, 127);
    EXPECT_EQ(hand.synth.resets, 1);
    EXPECT_EQ(hand.sequencer.tempo, 120);
    EXPECT_EQ(hand.sequencer.activeTracks, 2);
    EXPECT_EQ(hand.sequencer.song.tracks[0].delta, 5u);
    EXPECT_EQ(hand.sequencer.song.tracks[1].delta, 7u);
    EXPECT_EQ(hand.sequencer.song.tracks[1].index, 1);
    EXPECT_TRUE(hand.sequencer.song.tracks[1].active);
}

// ---- timing -------------------------------------------------------------------

TEST(SequencerTiming, Division96AdvancesTempoTimesDivisionTicksPerMinute) {
    ByHand hand;
    // A note-off exactly 11520 ticks after the note-on: due at the 15000th slice.
    ASSERT_TRUE(
        hand.load(oneTrack(noteOn(0, 0, 60, 100) + noteOff(11520, 0, 60) + noteOn(0, 0, 61, 100) + endOfTrack())));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 1u);
    for (int i = 2; i < 15000; ++i) hand.slice();
    EXPECT_EQ(hand.sent().size(), 1u);
    hand.slice();
    ASSERT_EQ(hand.sent().size(), 3u);
    EXPECT_FALSE(hand.sequencer.playing);  // the last event ends the song in the same slice
}

TEST(SequencerTiming, SetTempoOfHalfASecondGivesTempo119) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(setTempo(0, 500000) + noteOn(10, 0, 60, 1) + endOfTrack())));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sequencer.tempo, 119);
}

TEST(SequencerTiming, SetTempoOfZeroKeepsTheCurrentTempo) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(setTempo(0, 1000000) + setTempo(0, 0) + noteOn(96, 0, 60, 1) + endOfTrack())));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sequencer.tempo, 59);
    EXPECT_GT(hand.slicesToEnd(100000), 0);  // still playing, and ends
}

TEST(SequencerTiming, Smpte25By40AdvancesFourTicksPerSlice) {
    ByHand hand;
    std::string body;
    for (int i = 0; i < 5; ++i) body += noteOn(4, 0, 60 + i, 1);
    ASSERT_TRUE(hand.load(oneTrack(body + endOfTrack(), 0xE728)));
    hand.start();
    for (std::size_t i = 1; i <= 5; ++i) {
        hand.slice();
        EXPECT_EQ(hand.sent().size(), i);
    }
}

TEST(SequencerTiming, Smpte30By80Gives2400TicksPerSecondIn9Or10TickSlices) {
    ByHand hand;
    // One event on every tick: the number sent per slice is the slice's ticks.
    std::string body = noteOn(1, 0, 60, 1);
    for (int i = 1; i < 2400; ++i) body += varLen(1) + bytes({0x3C, 0x01});  // running status
    ASSERT_TRUE(hand.load(oneTrack(body + endOfTrack(), 0xE250)));
    hand.start();
    std::size_t before = 0;
    for (int i = 0; i < 250; ++i) {
        hand.slice();
        std::size_t now = hand.sent().size();
        EXPECT_TRUE(now - before == 9 || now - before == 10) << "slice " << i << ": " << now - before;
        before = now;
    }
    EXPECT_EQ(before, 2400u);
    EXPECT_FALSE(hand.sequencer.playing);
}

TEST(SequencerTiming, ElapsedClockIsUnsignedAcrossWrapAround) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 1) + noteOff(96, 0, 60) + endOfTrack())));
    hand.synth.clock = 0xFFFFFFF0u;
    hand.start();
    EXPECT_EQ(hand.slicesToEnd(1000), 125);  // 96 ticks at 120 × 96 per minute: 500 ms
}

TEST(SequencerTiming, LargeElapsedCarriesTheRemainder) {
    // One call covering 10 slices sends what 10 single slices would; but the
    // first tick after a start covers at most one slice, however late it comes.
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 1) + noteOff(7, 0, 60) + noteOn(1, 0, 61, 1) + endOfTrack())));
    hand.start();
    hand.synth.clock += 40;
    hand.sequencer.tick();
    EXPECT_EQ(hand.sent().size(), 1u);  // 4 ms: 0.768 ticks
    hand.synth.clock += 36;
    hand.sequencer.tick();
    EXPECT_EQ(hand.sent().size(), 2u);  // 40 ms: 7.68 ticks
    EXPECT_EQ(hand.sequencer.tickRemainder, 460800u - 7u * 60000u);
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 3u);  // 44 ms: 8.4 ticks
}

// ---- dispatch order ------------------------------------------------------------

TEST(SequencerDispatch, SmallestDeltaFirstTiesToTheLowestTrack) {
    ByHand hand;
    // All within the first slice at division 15000 (120 ticks per slice).
    std::string t0 = noteOn(5, 0, 10, 1) + noteOn(5, 0, 11, 1) + endOfTrack();
    std::string t1 = noteOn(3, 1, 20, 1) + noteOn(7, 1, 21, 1) + endOfTrack();
    std::string t2 = noteOn(5, 2, 30, 1) + noteOn(0, 2, 31, 1) + endOfTrack();
    ASSERT_TRUE(hand.load(header(1, 3, 15000) + track(t0) + track(t1) + track(t2)));
    hand.start();
    hand.slice();
    std::vector<int> notes;
    for (auto& m : hand.sent()) notes.push_back(m[1]);
    EXPECT_EQ(notes, (std::vector<int>{20, 10, 30, 31, 11, 21}));
    EXPECT_FALSE(hand.sequencer.playing);
}

TEST(SequencerDispatch, EventDueAtTheLastTickOfASliceIsSentInIt) {
    ByHand hand;
    // 25 × 40 SMPTE: exactly 4 ticks per slice; the event at tick 4 is in slice 1.
    ASSERT_TRUE(hand.load(oneTrack(noteOn(4, 0, 60, 1) + noteOn(1, 0, 61, 1) + endOfTrack(), 0xE728)));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 1u);
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 2u);
}

TEST(SequencerDispatch, RunningStatusSurvivesMetaEvents) {
    ByHand hand;
    ASSERT_TRUE(hand.load(
        oneTrack(bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 0x41, 0x00, 0x3C, 0x00}) + endOfTrack())));
    hand.start();
    hand.slice();
    auto sent = hand.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], (Bytes{0x90, 0x3C, 0x00}));
}

TEST(SequencerDispatch, ChannelMessagesAreSentWithTheirLengths) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(bytes({0x00, 0xC3, 0x05, 0x00, 0xD3, 0x40, 0x00, 0xE3, 0x00, 0x40, 0x00,
                                          0xB3, 0x07, 0x64, 0x00, 0xA3, 0x3C, 0x10, 0x00, 0x83, 0x3C, 0x00}) +
                                   endOfTrack())));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sent(), (std::vector<Bytes>{{0xC3, 0x05},
                                               {0xD3, 0x40},
                                               {0xE3, 0x00, 0x40},
                                               {0xB3, 0x07, 0x64},
                                               {0xA3, 0x3C, 0x10},
                                               {0x83, 0x3C, 0x00}}));
}

TEST(SequencerDispatch, SystemExclusiveWithAndWithoutTrailingF7) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(bytes({0x00, 0xF0, 0x03, 0x41, 0x10, 0xF7}) + bytes({0x00, 0xF0, 0x02, 0x41, 0x10}) +
                                   bytes({0x00, 0xF7, 0x02, 0x01, 0x02}) + endOfTrack())));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sent(), (std::vector<Bytes>{{0xF0}, {0x41, 0x10, 0xF7}, {0xF0}, {0x41, 0x10}, {0xF7}}));
}

TEST(SequencerDispatch, StatusInTheLastByteIsNotSent) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 100) + bytes({0x00, 0x90}))));
    hand.start();
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 1u);
    EXPECT_FALSE(hand.sequencer.playing);
}

TEST(SequencerDispatch, EndOfTrackLookAheadEndsAtTheLastEvent) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 100) + bytes({0x83, 0x60, 0xFF, 0x2F, 0x00}))));
    hand.start();
    EXPECT_EQ(hand.slicesToEnd(1000), 1);
}

TEST(SequencerDispatch, TrackOfOnlyEndOfTrackKeepsTheSongPlaying) {
    ByHand hand;
    ASSERT_TRUE(hand.load(header(1, 2, 96) + track(noteOn(0, 0, 60, 1) + endOfTrack()) + track(endOfTrack(96))));
    hand.start();
    EXPECT_EQ(hand.slicesToEnd(1000), 125);
}

TEST(SequencerDispatch, FormatOneWithoutTracksNeverEnds) {
    ByHand hand;
    ASSERT_TRUE(hand.load(header(1, 0, 96)));
    hand.start();
    EXPECT_EQ(hand.slicesToEnd(2000), -1);
    EXPECT_TRUE(hand.sent().empty());
}

TEST(SequencerDispatch, NothingIsSentOnceStopHasBegun) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 1) + noteOn(0, 0, 61, 1) + endOfTrack())));
    hand.start();
    hand.sequencer.playing = false;  // what stop does first
    hand.slice();
    EXPECT_TRUE(hand.sent().empty());
    // resume continues where the song was
    hand.sequencer.startClock();
    hand.slice();
    EXPECT_EQ(hand.sent().size(), 2u);
}

// ---- listeners ------------------------------------------------------------------

TEST(SequencerListeners, NoteOnLevelIsScaledByTheVolume) {
    ByHand hand;
    RecordingNoteOn noteOn100;
    hand.sequencer.noteOnListener = &noteOn100;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 5, 64, 100) + noteOn(0, 5, 65, 0) + endOfTrack())));
    hand.sequencer.volume = 64;
    hand.start();
    hand.slice();
    ASSERT_EQ(noteOn100.seen.size(), 2u);  // velocity 0 included
    EXPECT_EQ(noteOn100.seen[0], (std::vector<int>{5, 64, 50}));
    EXPECT_EQ(noteOn100.seen[1], (std::vector<int>{5, 65, 0}));
    EXPECT_EQ(hand.sent()[0], (Bytes{0x95, 64, 100}));  // sent with its own velocity
}

TEST(SequencerListeners, InitialVolumeReportsTheVelocity) {
    ByHand hand;
    RecordingNoteOn listener;
    hand.sequencer.noteOnListener = &listener;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 127) + endOfTrack())));
    hand.start();
    hand.slice();
    ASSERT_EQ(listener.seen.size(), 1u);
    EXPECT_EQ(listener.seen[0][2], 127);
}

TEST(SequencerListeners, TextEventsCarryTrackTypeAndText) {
    ByHand hand;
    RecordingText listener;
    hand.sequencer.textEventListener = &listener;
    ASSERT_TRUE(hand.load(header(1, 2, 96) + track(meta(0, 0x03, "Name") + meta(0, 0x7F, "seq") + endOfTrack()) +
                          track(meta(0, 0x01, "Hello") + meta(0, 0x0F, "") + endOfTrack())));
    hand.start();
    hand.slice();
    ASSERT_EQ(listener.seen.size(), 3u);
    EXPECT_EQ(listener.seen[0].track, 0);
    EXPECT_EQ(listener.seen[0].type, 3);
    EXPECT_EQ(listener.seen[0].text, "Name");
    EXPECT_EQ(listener.seen[1].track, 1);
    EXPECT_EQ(listener.seen[1].text, "Hello");
    EXPECT_EQ(listener.seen[2].type, 15);
    EXPECT_TRUE(hand.sent().empty());  // meta events are never sent
}

// ---- playback ends where the scan says -------------------------------------------

TEST(SequencerScanAgreement, PlaybackEndsAtTheScannedTime) {
    std::vector<std::string> songs = {
        header(1, 3, 480) + track(setTempo(0, 600000) + setTempo(1000, 350000) + setTempo(333, 0) + endOfTrack(2000)) +
            track(noteOn(0, 0, 60, 1) + noteOff(1234, 0, 60) + noteOn(77, 0, 62, 1) + endOfTrack(4)) +
            track(noteOn(5, 1, 60, 1) + noteOff(3001, 1, 60) + endOfTrack()),
        oneTrack(noteOn(0, 0, 60, 1) + noteOff(5000, 0, 60) + endOfTrack(), 0xE250),
        oneTrack(setTempo(0, 16777215) + noteOn(1, 0, 60, 1) + endOfTrack(), 7),
        oneTrack(setTempo(0, 1) + noteOn(0, 0, 60, 1) + noteOff(200000, 0, 60) + endOfTrack(), 1),
    };
    for (std::size_t i = 0; i < songs.size(); ++i) {
        ByHand hand;
        ASSERT_TRUE(hand.load(songs[i]));
        MidiFileInfo info;
        ASSERT_TRUE(scanMidiFile(hand.dir.path("song.mid").c_str(), info));
        hand.start();
        int slices = hand.slicesToEnd(2000000);
        ASSERT_GT(slices, 0) << i;
        EXPECT_EQ(info.playingTime, static_cast<std::uint32_t>(slices) * 4) << i;
    }
}

// ---- pause, seek, speed and key -------------------------------------------------

namespace {

std::string channelMessage(std::uint32_t delta, std::initializer_list<int> message) {
    return varLen(delta) + bytes(message);
}

// Sends of one slice, with the slice's number.
struct SliceLog {
    std::vector<std::pair<int, Bytes>> sends;
    int slices = 0;
    void run(ByHand& hand, int count) {
        for (int i = 0; i < count; ++i) {
            const std::size_t before = hand.synth.messageCount();
            hand.slice();
            ++slices;
            const auto all = hand.sent();
            for (std::size_t k = before; k < all.size(); ++k) sends.emplace_back(slices, all[k]);
        }
    }
};

}  // namespace

TEST(SequencerPause, ReleasesTheHeldNotesAndGoesOnAtTheSameTick) {
    // A program, a held note on channel 1 and a drum stroke; the note ends after
    // 96 ticks (slice 125), then a second note.
    const std::string song =
        oneTrack(channelMessage(0, {0xC0, 5}) + noteOn(0, 0, 60, 100) + noteOn(0, 9, 36, 90) + noteOff(96, 0, 60) +
                 noteOff(0, 9, 36) + noteOn(96, 0, 62, 80) + noteOff(96, 0, 62) + endOfTrack());
    ByHand plain;
    ASSERT_TRUE(plain.load(song));
    plain.start();
    SliceLog reference;
    reference.run(plain, 400);

    ByHand hand;
    ASSERT_TRUE(hand.load(song));
    hand.start();
    SliceLog log;
    log.run(hand, 10);
    hand.sequencer.pause();
    EXPECT_TRUE(hand.sequencer.paused());
    log.run(hand, 50);
    // The pause took hold in slice 11: the sounding notes were released, and
    // nothing else was sent; the song's clock stood still.
    EXPECT_EQ(hand.sequencer.position(), 40u);
    std::vector<std::pair<int, Bytes>> atPause(log.sends.begin() + 3, log.sends.end());
    EXPECT_EQ(atPause, (std::vector<std::pair<int, Bytes>>{{11, {0x80, 60, 0}}, {11, {0x89, 36, 0}}}));

    ASSERT_TRUE(hand.sequencer.resume());
    EXPECT_FALSE(hand.sequencer.paused());
    log.run(hand, 400);
    // Slice 61 plays song slice 11: the held note starts again (the drum
    // stroke does not), and every later event comes 50 slices after its
    // time in the song played without the pause.
    ASSERT_GE(log.sends.size(), 6u);
    EXPECT_EQ(log.sends[5], (std::pair<int, Bytes>{61, {0x90, 60, 100}}));
    std::vector<std::pair<int, Bytes>> after(log.sends.begin() + 6, log.sends.end());
    std::vector<std::pair<int, Bytes>> expected;
    for (const auto& [slice, message] : reference.sends) {
        if (slice <= 10 || message == Bytes{0x89, 36, 0}) continue;  // the released stroke does not end again
        expected.emplace_back(slice + 50, message);
    }
    EXPECT_EQ(after, expected);
    EXPECT_FALSE(hand.sequencer.playing);
}

TEST(SequencerSeek, ReplaysAllButTheNotesAndStartsTheHeldOnesAtTheTarget) {
    // Before 1000 ms (tick 192 at 120 × 96): a program, a bank select, volume,
    // an RPN (bend range 12), a bend, a tempo, a system exclusive, a note
    // that ends, a note and a drum stroke held across the target.
    const std::string body =
        channelMessage(0, {0xC1, 20}) + channelMessage(0, {0xB1, 0, 8}) + channelMessage(0, {0xB1, 7, 90}) +
        channelMessage(0, {0xB1, 101, 0}) + channelMessage(0, {0xB1, 100, 0}) + channelMessage(0, {0xB1, 6, 12}) +
        noteOn(10, 1, 50, 60) + noteOff(10, 1, 50) + channelMessage(10, {0xE1, 0, 80}) + setTempo(0, 400000) +
        varLen(0) + bytes({0xF0, 0x03, 0x43, 0x10, 0xF7}) + noteOn(0, 1, 64, 70) + noteOn(0, 9, 38, 90) +
        noteOff(400, 1, 64) + noteOff(0, 9, 38) + endOfTrack();
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(body)));
    hand.start();
    hand.sequencer.seek(1001);
    hand.slice();
    const std::vector<Bytes> sent = hand.sent();
    std::vector<Bytes> expected = {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}};
    for (int channel = 0; channel < 16; ++channel) expected.push_back({std::uint8_t(0xC0 | channel), 0});
    const std::vector<Bytes> replay = {{0xC1, 20},    {0xB1, 0, 8},  {0xB1, 7, 90}, {0xB1, 101, 0},    {0xB1, 100, 0},
                                       {0xB1, 6, 12}, {0xE1, 0, 80}, {0xF0},        {0x43, 0x10, 0xF7}};
    expected.insert(expected.end(), replay.begin(), replay.end());
    expected.push_back({0x91, 64, 70});  // held: sounds at the target; the stroke does not
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(hand.sequencer.tempo, TEMPO_CONSTANT / 400000);
    // The slice that holds 1001 ms, then this slice's 4 ms.
    EXPECT_EQ(hand.sequencer.position(), 1004u);

    // Back to the start of the song while the note sounds: it is released first.
    hand.synth.clearMessages();
    hand.sequencer.seek(0);
    hand.slice();
    const std::vector<Bytes> back = hand.sent();
    ASSERT_GE(back.size(), 2u);
    EXPECT_EQ(back[0], (Bytes{0x81, 64, 0}));
    EXPECT_EQ(back[1], (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(hand.sequencer.position(), 4u);

    // Past the end: the song ends.
    hand.sequencer.seek(600000);
    hand.slice();
    EXPECT_FALSE(hand.sequencer.playing);
}

TEST(SequencerKey, MovesEveryNoteButThoseOfChannelTenAndEndsNotesWithTheirKey) {
    ByHand hand;
    ASSERT_TRUE(hand.load(oneTrack(noteOn(0, 0, 60, 100) + noteOn(0, 9, 36, 100) + noteOn(0, 2, 120, 50) +
                                   noteOff(96, 0, 60) + noteOff(0, 9, 36) + noteOff(0, 2, 120) + endOfTrack())));
    hand.sequencer.setTranspose(20);
    EXPECT_EQ(hand.sequencer.transposition(), 12);
    hand.sequencer.setTranspose(3);
    hand.start();
    hand.slice();
    hand.sequencer.setTranspose(-2);  // while the notes sound
    EXPECT_GT(hand.slicesToEnd(1000), 0);
    hand.sequencer.setTranspose(12);
    EXPECT_EQ(hand.sent(), (std::vector<Bytes>{
                               {0x90, 63, 100},
                               {0x99, 36, 100},
                               {0x92, 123, 50},  // 120 + 3
                               {0x80, 63, 0},
                               {0x89, 36, 0},
                               {0x82, 123, 0},  // as they were started
                           }));
    // A note the key moves past 127 is not sent, nor is its end.
    hand.start();
    hand.slicesToEnd(1000);
    EXPECT_EQ(hand.sent(), (std::vector<Bytes>{{0x90, 72, 100}, {0x99, 36, 100}, {0x80, 72, 0}, {0x89, 36, 0}}));
}

TEST(SequencerSpeed, HalfSpeedTakesTwiceAsLongAndDoubleHalf) {
    const std::string song = oneTrack(noteOn(0, 0, 60, 1) + noteOff(96, 0, 60) + endOfTrack());
    const int expected[] = {250, 125, 63};  // 500 ms of song at 50, 100 and 200 %
    const int speeds[] = {50, 100, 200};
    for (int i = 0; i < 3; ++i) {
        ByHand hand;
        ASSERT_TRUE(hand.load(song));
        hand.sequencer.setSpeed(speeds[i]);
        hand.start();
        EXPECT_EQ(hand.slicesToEnd(1000), expected[i]) << speeds[i] << " %";
        EXPECT_GE(hand.sequencer.position(), 500u);
    }
    ByHand hand;
    hand.sequencer.setSpeed(10);
    EXPECT_EQ(hand.sequencer.speedPercent(), 50);
}
