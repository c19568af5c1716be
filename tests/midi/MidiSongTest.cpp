#include "midi/MidiSong.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

struct Loaded {
    TempDir dir;
    MidiSong song;
    bool ok = false;
    explicit Loaded(const std::string& file) { ok = song.load(dir.write("song.mid", file).c_str()); }
};

// Walks a track to its end, collecting the events (bounded, for safety).
std::vector<MidiEvent> walk(const MidiSong& song, std::uint32_t trackIndex) {
    MidiImage image = song.view();
    TrackState track = song.tracks[trackIndex];
    image.rewindTrack(track, static_cast<std::int16_t>(trackIndex));
    std::vector<MidiEvent> events;
    for (int i = 0; i < 10000; ++i) {
        MidiEvent event = image.readEvent(track);
        events.push_back(event);
        if (event.kind == MidiEventKind::TrackEnd) break;
    }
    return events;
}

std::string oneNoteSong() { return header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + endOfTrack(96)); }

}  // namespace

// ---- loading -----------------------------------------------------------------

TEST(MidiSongLoad, Format0PlaysOnlyTheFirstTrackWhateverTheHeaderClaims) {
    std::string body = noteOn(0, 0, 60, 100) + endOfTrack();
    Loaded file(header(0, 3, 96) + track(body) + track(body) + track(body));
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.song.trackCount, 1u);
    EXPECT_EQ(file.song.tracks[0].start, 22u);
}

TEST(MidiSongLoad, Format1TakesTheHeadersTrackCountAndChunkOffsets) {
    std::string first = noteOn(0, 0, 60, 100) + endOfTrack();
    std::string second = noteOn(0, 1, 62, 100) + noteOff(10, 1, 62) + endOfTrack();
    Loaded file(header(1, 2, 480) + track(first) + track(second));
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.song.trackCount, 2u);
    EXPECT_EQ(file.song.division, 480);
    EXPECT_EQ(file.song.tracks[0].start, 22u);
    EXPECT_EQ(file.song.tracks[0].length, first.size());
    EXPECT_EQ(file.song.tracks[1].start, 22u + first.size() + 8);
    EXPECT_EQ(file.song.tracks[1].position, file.song.tracks[1].start);
}

TEST(MidiSongLoad, ThirteenByteFileIsRefusedAndFourteenBytesReachTheTrackTable) {
    std::string fourteen = header(0, 1, 96);
    ASSERT_EQ(fourteen.size(), 14u);
    Loaded short13(fourteen.substr(0, 13));
    EXPECT_FALSE(short13.ok);
    EXPECT_EQ(short13.song.lastError, RESULT_FILE_IO_ERROR);

    // Fourteen bytes pass the size check; the image holds them all, and only
    // the missing track chunk refuses the file.
    TempDir dir;
    MidiSong song;
    ASSERT_TRUE(song.readImage(dir.write("h.mid", fourteen).c_str()));
    EXPECT_EQ(song.imageSize, 14u);
    EXPECT_EQ(song.format(), 0);
    EXPECT_FALSE(song.prepareFormat0());
}

TEST(MidiSongLoad, ForeignHeaderIdIsAccepted) {
    Loaded file(header(0, 1, 96, "XYZW") + track(noteOn(0, 0, 60, 100) + endOfTrack()));
    EXPECT_TRUE(file.ok);
    EXPECT_EQ(file.song.trackCount, 1u);
}

TEST(MidiSongLoad, ImageCarriesTwoGuardBytes) {
    std::string smf = oneNoteSong();
    Loaded file(smf);
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.song.imageSize, smf.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.song.image.get()), smf.size()), smf);
    EXPECT_EQ(file.song.image[smf.size()], 0xF7);
    EXPECT_EQ(file.song.image[smf.size() + 1], 0xF7);
}

TEST(MidiSongLoad, RefusesFormat2AndOtherFormats) {
    std::string tracks = track(endOfTrack());
    for (int format : {2, 3, 0xFFFF}) {
        Loaded file(header(format, 1, 96) + tracks);
        EXPECT_FALSE(file.ok) << format;
        EXPECT_TRUE(file.song.empty());
        EXPECT_EQ(file.song.trackCount, 0u);
        EXPECT_EQ(file.song.lastError, RESULT_FILE_IO_ERROR);
    }
}

TEST(MidiSongLoad, MissingOrForeignTrackChunkFails) {
    Loaded foreign(header(1, 2, 96) + track(endOfTrack()) + "XTrk" + be32(4) + endOfTrack());
    EXPECT_FALSE(foreign.ok);
    // The second track would start past the end of the image.
    Loaded shortFile(header(1, 2, 96) + track(endOfTrack()));
    EXPECT_FALSE(shortFile.ok);
    EXPECT_TRUE(shortFile.song.empty());
}

TEST(MidiSongLoad, ChunkLengthCannotWrapBackIntoTheImage) {
    // A first track claiming 0xFFFFFFF8 bytes would, in 32-bit arithmetic,
    // put the next chunk back at its own offset.
    std::string file = header(1, 2, 96) + "MTrk" + be32(0xFFFFFFF8u) + endOfTrack();
    Loaded song(file);
    EXPECT_FALSE(song.ok);
}

TEST(MidiSongLoad, MissingFileFails) {
    MidiSong song;
    EXPECT_FALSE(song.load("/nonexistent/brellin/song.mid"));
    EXPECT_EQ(song.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_TRUE(song.empty());
}

TEST(MidiSongLoad, FailedLoadEmptiesAPreviousSong) {
    TempDir dir;
    MidiSong song;
    ASSERT_TRUE(song.load(dir.write("a.mid", oneNoteSong()).c_str()));
    EXPECT_FALSE(song.load(dir.write("b.mid", "MThd").c_str()));
    EXPECT_TRUE(song.empty());
    EXPECT_EQ(song.imageSize, 0u);
    EXPECT_EQ(song.trackCount, 0u);
}

// ---- RIFF -------------------------------------------------------------------

TEST(MidiSongRiff, DataChunkAfterAListChunkIsFound) {
    std::string smf = oneNoteSong();
    Loaded file(riff(riffChunk("LIST", std::string("INFOINAM\x05\x00\x00\x00"
                                                   "Song",
                                                   17)) +
                     riffChunk("data", smf)));
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.song.imageSize, smf.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.song.image.get()), 4), "MThd");
}

TEST(MidiSongRiff, OddChunkLengthsGetNoPadByte) {
    std::string smf = oneNoteSong();
    Loaded file(riff(riffChunk("JUNK", "abc") + riffChunk("data", smf)));
    EXPECT_TRUE(file.ok);
}

TEST(MidiSongRiff, TrailingChunksAreNotPartOfTheSong) {
    std::string smf = oneNoteSong();
    Loaded file(riff(riffChunk("data", smf) + riffChunk("LIST", "INFO")));
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.song.imageSize, smf.size());
}

TEST(MidiSongRiff, RefusesOtherFormsMissingDataAndOverlongChunks) {
    std::string smf = oneNoteSong();
    EXPECT_FALSE(Loaded(riff(riffChunk("data", smf), "WAVE")).ok);
    EXPECT_FALSE(Loaded(riff(riffChunk("LIST", smf))).ok);
    // data chunk claiming more than the file holds
    std::string overlong = riff("data" + le32(static_cast<std::uint32_t>(smf.size() + 10)) + smf);
    EXPECT_FALSE(Loaded(overlong).ok);
    // a skipped chunk claiming more than the file holds
    std::string overSkip = riff("LIST" + le32(0x7FFFFFF0u) + riffChunk("data", smf));
    EXPECT_FALSE(Loaded(overSkip).ok);
    // too little left for a song after the data chunk header
    EXPECT_FALSE(Loaded(riff(riffChunk("data", "MThd\0\0\0\6"))).ok);
}

// ---- variable-length quantities ------------------------------------------------

TEST(MidiVarLen, DecodesUpToFourBytes) {
    std::string b = bytes({0x00, 0x7F, 0x81, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x83, 0x60});
    MidiImage image{reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<std::uint32_t>(b.size())};
    EXPECT_EQ(image.readVarLen(0).value, 0u);
    EXPECT_EQ(image.readVarLen(1).value, 0x7Fu);
    VarLen v = image.readVarLen(2);
    EXPECT_EQ(v.value, 0x80u);
    EXPECT_EQ(v.position, 4u);
    v = image.readVarLen(4);
    EXPECT_EQ(v.value, 0x0FFFFFFFu);
    EXPECT_EQ(v.position, 8u);
    EXPECT_EQ(image.readVarLen(8).value, 480u);
}

TEST(MidiVarLen, OverlongQuantityGivesAllOnesPastItsFourBytes) {
    std::string b = bytes({0x81, 0x82, 0x83, 0x84, 0x05, 0x00});
    MidiImage image{reinterpret_cast<const std::uint8_t*>(b.data()), static_cast<std::uint32_t>(b.size())};
    VarLen v = image.readVarLen(0);
    EXPECT_EQ(v.value, 0xFFFFFFFFu);
    EXPECT_EQ(v.position, 4u);
}

TEST(MidiVarLen, ReadsGuardBytesAtTheEndOfTheImage) {
    // 0x81 is the last byte: the quantity ends at the first guard byte
    // (0xF7), read as the guard bytes of the image would give it.
    std::string b = bytes({0x00, 0x81});
    MidiImage image{reinterpret_cast<const std::uint8_t*>(b.data()), 2};
    VarLen v = image.readVarLen(1);
    EXPECT_EQ(v.value, (0x01u << 7) | 0x77u);
    EXPECT_EQ(v.position, 3u);
    // From past the end: one guard byte.
    v = image.readVarLen(5);
    EXPECT_EQ(v.value, 0x77u);
    EXPECT_EQ(v.position, 6u);
}

// ---- the track step ----------------------------------------------------------

TEST(MidiTrackStep, RunningStatusSurvivesMetaEvents) {
    Loaded file(header(0, 1, 96) +
                track(bytes({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 0x41, 0x00, 0x3C, 0x00}) + endOfTrack()));
    ASSERT_TRUE(file.ok);
    auto events = walk(file.song, 0);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[1].kind, MidiEventKind::Meta);
    EXPECT_EQ(events[1].metaType, 0x01);
    ASSERT_EQ(events[1].length, 1u);
    EXPECT_EQ(events[1].data[0], 'A');
    EXPECT_EQ(events[2].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[2].status, 0x90);
    EXPECT_EQ(events[2].byteCount, 3);
    EXPECT_EQ(events[2].bytes[1], 0x3C);
    EXPECT_EQ(events[2].bytes[2], 0x00);
    EXPECT_EQ(events[3].kind, MidiEventKind::TrackEnd);
}

TEST(MidiTrackStep, DeltaInFrontOfEndOfTrackIsIgnored) {
    Loaded file(header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + bytes({0x83, 0x60, 0xFF, 0x2F, 0x00})));
    ASSERT_TRUE(file.ok);
    MidiImage image = file.song.view();
    TrackState& track = file.song.tracks[0];
    image.rewindTrack(track, 0);
    MidiEvent note = image.readEvent(track);
    EXPECT_EQ(note.kind, MidiEventKind::Channel);
    EXPECT_EQ(track.delta, 0u);  // not 480
    std::uint32_t start = track.start;
    EXPECT_EQ(image.readEvent(track).kind, MidiEventKind::TrackEnd);
    EXPECT_EQ(track.position, start);  // End of Track returns to the start
}

TEST(MidiTrackStep, FirstDeltaHasNoLookAhead) {
    // A track holding only End of Track after 200 ticks waits those ticks.
    Loaded file(header(0, 1, 96) + track(endOfTrack(200)));
    ASSERT_TRUE(file.ok);
    TrackState& track = file.song.tracks[0];
    file.song.view().rewindTrack(track, 0);
    EXPECT_EQ(track.delta, 200u);
}

TEST(MidiTrackStep, StatusInTheLastByteEndsTheTrackUninterpreted) {
    // The track runs to the end of the file, whose last byte is a status.
    Loaded file(header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + bytes({0x00, 0x90})));
    ASSERT_TRUE(file.ok);
    auto events = walk(file.song, 0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[1].kind, MidiEventKind::TrackEnd);
}

TEST(MidiTrackStep, ChannelMessageCutByTheEndIsNotDelivered) {
    // 0x90 0x3C at the very end: the velocity would be a guard byte.
    Loaded file(header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + bytes({0x00, 0x90, 0x3C})));
    ASSERT_TRUE(file.ok);
    auto events = walk(file.song, 0);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, MidiEventKind::TrackEnd);
}

TEST(MidiTrackStep, SystemExclusiveAndEscapes) {
    Loaded file(header(0, 1, 96) + track(bytes({0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7, 0x00, 0xF7, 0x02, 0x01, 0x02, 0x00,
                                                0xF1, 0x05, 0x00, 0x90, 0x3C, 0x40}) +
                                         endOfTrack()));
    ASSERT_TRUE(file.ok);
    auto events = walk(file.song, 0);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, MidiEventKind::SystemExclusive);
    ASSERT_EQ(events[0].length, 3u);
    EXPECT_EQ(events[0].data[2], 0xF7);
    EXPECT_EQ(events[1].kind, MidiEventKind::Escape);
    EXPECT_EQ(events[1].length, 2u);
    EXPECT_EQ(events[2].kind, MidiEventKind::OtherSystem);
    EXPECT_EQ(events[3].kind, MidiEventKind::Channel);  // the escape and F1's byte moved the cursor right
    EXPECT_EQ(events[3].bytes[1], 0x3C);
}

TEST(MidiTrackStep, SystemMessagesLeaveRunningStatus) {
    Loaded file(header(0, 1, 96) +
                track(bytes({0x00, 0xB0, 0x07, 0x64, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x0A, 0x40}) + endOfTrack()));
    ASSERT_TRUE(file.ok);
    auto events = walk(file.song, 0);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[2].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[2].status, 0xB0);
    EXPECT_EQ(events[2].bytes[1], 0x0A);
}

TEST(MidiTrackStep, DataByteWithoutRunningStatusIsReadAsADelta) {
    Loaded file(header(0, 1, 96) + track(bytes({0x3C, 0x90, 0x3C, 0x40}) + endOfTrack()));
    ASSERT_TRUE(file.ok);
    MidiImage image = file.song.view();
    TrackState& track = file.song.tracks[0];
    image.rewindTrack(track, 0);
    EXPECT_EQ(track.delta, 0x3Cu);  // the first byte is the first delta
    // At 0x90 now; a stray data byte case: rewind into the middle.
    TrackState stray = track;
    stray.position = track.start + 2;  // at 0x3C with no running status
    stray.runningStatus = 0;
    MidiEvent event = image.readEvent(stray);
    EXPECT_EQ(event.kind, MidiEventKind::NoStatus);
    EXPECT_EQ(stray.delta, 0x3Cu);
    EXPECT_EQ(stray.position, track.start + 3);
}

TEST(MidiTrackStep, LengthsPastTheImageAreCutAtItsEnd) {
    // A sysex claiming 1000 bytes and a text claiming 0x0FFFFFFF bytes.
    std::string sysexFile = header(0, 1, 96) + track(bytes({0x00, 0xF0}) + varLen(1000) + bytes({1, 2, 3}));
    Loaded sysex(sysexFile);
    ASSERT_TRUE(sysex.ok);
    auto events = walk(sysex.song, 0);
    ASSERT_EQ(events[0].kind, MidiEventKind::SystemExclusive);
    EXPECT_EQ(events[0].length, 3u);
    EXPECT_EQ(events[0].data + events[0].length, sysex.song.image.get() + sysex.song.imageSize);
    EXPECT_EQ(events.back().kind, MidiEventKind::TrackEnd);

    Loaded text(header(0, 1, 96) + track(bytes({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'})));
    ASSERT_TRUE(text.ok);
    events = walk(text.song, 0);
    ASSERT_EQ(events[0].kind, MidiEventKind::Meta);
    EXPECT_EQ(events[0].length, 2u);
    EXPECT_EQ(events.back().kind, MidiEventKind::TrackEnd);
}

TEST(MidiTrackStep, TrackLengthDoesNotBoundReading) {
    // The first chunk declares only its note; the walk continues into the
    // next chunk's bytes ("MTrk" read as a delta and running-status data).
    std::string file = header(1, 2, 96) + track(noteOn(0, 0, 60, 100)) + track(endOfTrack());
    Loaded song(file);
    ASSERT_TRUE(song.ok);
    auto events = walk(song.song, 0);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[1].kind, MidiEventKind::Channel);
    EXPECT_EQ(events[1].status, 0x90);
    EXPECT_EQ(events[1].bytes[1], 'T');
}
