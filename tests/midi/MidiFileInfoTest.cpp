#include "midi/MidiFileInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

std::string text(const char* pointer, std::uint32_t length) { return std::string(pointer, length); }

struct Scanned {
    TempDir dir;
    MidiFileInfo info;
    bool ok = false;
    explicit Scanned(const std::string& file, std::uint32_t presetTime = 0) {
        info.playingTime = presetTime;
        ok = scanMidiFile(dir.write("song.mid", file).c_str(), info);
    }
};

std::uint32_t timeOf(const std::string& smf) {
    return measurePlayingTime(
        MidiImage{reinterpret_cast<const std::uint8_t*>(smf.data()), static_cast<std::uint32_t>(smf.size())});
}

// One note of `ticks` ticks, preceded by an optional tempo event.
std::string noteSong(std::uint32_t division, std::uint32_t ticks, const std::string& before = "") {
    return header(0, 1, division) + track(before + noteOn(0, 0, 60, 100) + noteOff(ticks, 0, 60) + endOfTrack());
}

}  // namespace

// ---- title, copyright, size ----------------------------------------------------

TEST(MidiFileInfoTexts, FirstTitleAndCopyrightOfTheFirstTrack) {
    std::string first = meta(0, 0x02, "(c) One") + meta(0, 0x03, "Title") + meta(0, 0x02, "(c) Two") +
                        meta(0, 0x03, "Other") + noteOn(0, 0, 60, 100) + endOfTrack(10);
    std::string file = header(1, 2, 96) + track(first) + track(meta(0, 0x03, "Second track") + endOfTrack());
    Scanned scan(file);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(scan.info.fileSize, file.size());
    EXPECT_EQ(text(scan.info.title, scan.info.titleLength), "Title");
    EXPECT_EQ(text(scan.info.copyright, scan.info.copyrightLength), "(c) One");
    EXPECT_STREQ(scan.info.errorText, "");
}

TEST(MidiFileInfoTexts, NameAfterANoteIsNotATitle) {
    Scanned scan(header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + meta(0, 0x03, "Late") + endOfTrack()));
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(scan.info.titleLength, 0u);
    EXPECT_STREQ(scan.info.title, "");
}

TEST(MidiFileInfoTexts, TextsPointIntoTheImageWithFourZeroBytes) {
    std::string file = header(0, 1, 96) + track(meta(0, 0x03, "Name") + endOfTrack());
    Scanned scan(file);
    ASSERT_TRUE(scan.ok);
    ASSERT_TRUE(scan.info.image);
    const char* base = reinterpret_cast<const char*>(scan.info.image.get());
    EXPECT_GE(scan.info.title, base);
    EXPECT_LT(scan.info.title, base + file.size());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(scan.info.image[file.size() + static_cast<std::size_t>(i)], 0);
}

TEST(MidiFileInfoTexts, TitleLongerThanTheFileIsCut) {
    std::string file = header(0, 1, 96) + "MTrk" + be32(100) + bytes({0x00, 0xFF, 0x03}) + varLen(5000) + "abc";
    Scanned scan(file);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(text(scan.info.title, scan.info.titleLength), "abc");
}

TEST(MidiFileInfoTexts, RiffWithDataFirstIsMeasured) {
    std::string smf = header(0, 1, 96) +
                      track(meta(0, 0x03, "Riff song") + noteOn(0, 0, 60, 100) + noteOff(96, 0, 60) + endOfTrack());
    Scanned scan(riff(riffChunk("data", smf) + riffChunk("LIST", "INFOjunk")));
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(text(scan.info.title, scan.info.titleLength), "Riff song");
    EXPECT_EQ(scan.info.playingTime, timeOf(smf));
    EXPECT_GT(scan.info.playingTime, 0u);
}

TEST(MidiFileInfoTexts, RiffWithListBeforeDataReportsNothing) {
    std::string smf =
        header(0, 1, 96) + track(meta(0, 0x03, "Hidden") + noteOn(0, 0, 60, 100) + noteOff(96, 0, 60) + endOfTrack());
    Scanned scan(riff(riffChunk("LIST", std::string("INFOINAM\x04\x00\x00\x00"
                                                    "Abc",
                                                    16)) +
                      riffChunk("data", smf)),
                 4444);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(scan.info.titleLength, 0u);
    EXPECT_EQ(scan.info.copyrightLength, 0u);
    EXPECT_EQ(scan.info.playingTime, 4444u);  // no track found: left as the caller set it
}

TEST(MidiFileInfoTexts, NoTrackChunkLeavesThePlayingTime) {
    Scanned scan(header(0, 1, 96) + "JUNK" + be32(4) + "abcd", 1234);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(scan.info.playingTime, 1234u);
}

TEST(MidiFileInfoTexts, OtherFormatsHaveTitleButNoTime) {
    Scanned scan(
        header(2, 1, 96) + track(meta(0, 0x03, "Fmt2") + noteOn(0, 0, 60, 1) + noteOff(96, 0, 60) + endOfTrack()), 999);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(text(scan.info.title, scan.info.titleLength), "Fmt2");
    EXPECT_EQ(scan.info.playingTime, 0u);
}

TEST(MidiFileInfoTexts, UnopenableFileKeepsTheCallersSize) {
    MidiFileInfo info;
    info.fileSize = 77;
    EXPECT_FALSE(scanMidiFile("/nonexistent/brellin/x.mid", info));
    EXPECT_STREQ(info.errorText, "");
    EXPECT_EQ(info.fileSize, 77u);
    TempDir dir;  // a folder is not a readable file either
    EXPECT_FALSE(scanMidiFile(dir.root.c_str(), info));
}

TEST(MidiFileInfoTexts, HugeChunkLengthsDoNotLoop) {
    // A chunk length that would wrap a 32-bit offset back to itself.
    Scanned scan(header(0, 1, 96) + "JUNK" + be32(0xFFFFFFF8u) + "MTrk", 55);
    ASSERT_TRUE(scan.ok);
    EXPECT_EQ(scan.info.playingTime, 55u);
}

// ---- playing time ------------------------------------------------------------

TEST(MidiPlayingTime, OneMinuteAtDivision96AndTempo120) {
    // 120 × 96 = 11520 ticks per minute of play clock.
    EXPECT_EQ(timeOf(noteSong(96, 11520)), 60000u);
    EXPECT_EQ(timeOf(noteSong(96, 11521)), 60008u);  // 15001.3 slices round up
}

TEST(MidiPlayingTime, SetTempoOfHalfASecondGivesTempo119) {
    // 11520 ticks at 119 × 96 × 4 = 45696 per slice: 15127 slices.
    EXPECT_EQ(timeOf(noteSong(96, 11520, setTempo(0, 500000))), 15127u * 4);
}

TEST(MidiPlayingTime, SetTempoOfZeroKeepsTheTempo) {
    EXPECT_EQ(timeOf(noteSong(96, 11520, setTempo(0, 0))), 60000u);
    std::string slow = setTempo(0, 1000000);  // 59 beats
    EXPECT_EQ(timeOf(noteSong(96, 5000, slow + setTempo(0, 0))), timeOf(noteSong(96, 5000, slow)));
}

TEST(MidiPlayingTime, SmpteDivisions) {
    // 25 frames × 40 ticks: exactly 4 ticks per slice.
    EXPECT_EQ(timeOf(noteSong(0xE728, 1000)), 1000u);
    EXPECT_EQ(timeOf(noteSong(0xE728, 1001)), 1004u);
    // 30 frames × 80 ticks: 2400 ticks per second.
    EXPECT_EQ(timeOf(noteSong(0xE250, 2400)), 1000u);
    EXPECT_EQ(timeOf(noteSong(0xE250, 9)), 4u);
    EXPECT_EQ(timeOf(noteSong(0xE250, 10)), 8u);
}

TEST(MidiPlayingTime, EventsAtTickZeroEndInTheFirstSlice) {
    EXPECT_EQ(timeOf(header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + endOfTrack(500))), 4u);
}

TEST(MidiPlayingTime, TrackOfOnlyEndOfTrackKeepsItsDelta) {
    EXPECT_EQ(timeOf(header(1, 2, 96) + track(endOfTrack(96)) + track(noteOn(0, 0, 60, 1) + endOfTrack())), 500u);
}

TEST(MidiPlayingTime, LongestTrackDecides) {
    std::string file = header(1, 3, 96) + track(noteOn(0, 0, 60, 1) + noteOff(10, 0, 60) + endOfTrack()) +
                       track(noteOn(0, 1, 60, 1) + noteOff(960, 1, 60) + endOfTrack()) +
                       track(noteOn(0, 2, 60, 1) + noteOff(100, 2, 60) + endOfTrack());
    EXPECT_EQ(timeOf(file), 5000u);
}

TEST(MidiPlayingTime, TempoChangeTakesEffectFromTheNextSlice) {
    // A tempo change at tick 96 (the 125th slice) halves the speed of what follows.
    std::string body = noteOn(0, 0, 60, 1) + setTempo(96, 1000000) + noteOff(96, 0, 60) + endOfTrack();
    std::uint32_t time = timeOf(header(0, 1, 96) + track(body));
    // 59 beats × 96 ticks × 4 = 22656 per slice; after slice 125 the
    // remainder is 0 (125 × 46080 = 96 × 60000), and 96 more ticks need
    // ceil(96 × 60000 / 22656) = 255 slices.
    EXPECT_EQ(time, (125u + 255u) * 4);
}

TEST(MidiPlayingTime, OverlongDeltaSaturatesQuickly) {
    std::string body = noteOn(0, 0, 60, 1) + bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x3C, 0x00}) + endOfTrack();
    bool complete = true;
    std::string smf = header(0, 1, 96) + track(body);
    std::uint32_t time = measurePlayingTime(
        MidiImage{reinterpret_cast<const std::uint8_t*>(smf.data()), static_cast<std::uint32_t>(smf.size())},
        &complete);
    EXPECT_EQ(time, 0xFFFFFFFCu);
    EXPECT_FALSE(complete);
}

TEST(MidiPlayingTime, StalledClockReportsTheLastPlayedSlice) {
    // Division 0: no tick ever passes; only the events at tick 0 play.
    bool complete = false;
    std::string smf = header(0, 1, 0) + track(noteOn(0, 0, 60, 1) + noteOff(10, 0, 60) + endOfTrack());
    EXPECT_EQ(measurePlayingTime(
                  MidiImage{reinterpret_cast<const std::uint8_t*>(smf.data()), static_cast<std::uint32_t>(smf.size())},
                  &complete),
              4u);
    EXPECT_TRUE(complete);
}

TEST(MidiPlayingTime, FormatOneWithoutTracksIsZero) { EXPECT_EQ(timeOf(header(1, 0, 96)), 0u); }

TEST(MidiPlayingTime, ManyOverlappingTracksStayBounded) {
    // 4000 one-byte-apart tracks that each walk the rest of the file: the
    // work limit ends the scan.
    std::string body;
    for (int i = 0; i < 4000; ++i) body += track("");
    std::string data;
    for (int i = 0; i < 60000; ++i) data += bytes({0x00, 0x90, 0x3C});
    std::string smf = header(1, 4000, 96) + body + "MTrk" + be32(static_cast<std::uint32_t>(data.size())) + data;
    bool complete = true;
    measurePlayingTime(
        MidiImage{reinterpret_cast<const std::uint8_t*>(smf.data()), static_cast<std::uint32_t>(smf.size())},
        &complete);
    EXPECT_FALSE(complete);
}
