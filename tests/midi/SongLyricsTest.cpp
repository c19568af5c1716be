// Lyrics read from small karaoke files and lyric-event songs written here,
// loaded through the MIDI reader as the player loads them.
#include "midi/SongLyrics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "midi/MidiSong.h"
#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

namespace brellin {
namespace {

using brellin::testing::TempDir;
namespace midi = brellin::testing;

// A Soft Karaoke file: 96 ticks a beat at 120 bpm (500 ms a beat); the
// headers in track 1, the words in track 2, a comment in track 0.
std::string karaokeFile(bool withMark) {
    const std::string conductor =
        midi::meta(0, 3, "Twinkle") + midi::meta(0, 1, "Sequenced by somebody") + midi::endOfTrack();
    std::string headers = midi::meta(0, 3, "Soft Karaoke");
    if (withMark) headers += midi::meta(0, 1, "@KMIDI KARAOKE FILE");
    headers += midi::meta(0, 1, "@V0100") + midi::meta(0, 1, "@TTwinkle Twinkle") + midi::endOfTrack();
    const std::string words = midi::meta(0, 3, "Words") + midi::meta(96, 1, "\\Twin") + midi::meta(48, 1, "kle ") +
                              midi::meta(48, 1, "twin") + midi::meta(48, 1, "kle") + midi::meta(48, 1, "/lit") +
                              midi::meta(48, 1, "tle ") + midi::meta(48, 1, "star") + midi::meta(192, 1, "\\How ") +
                              midi::meta(48, 1, "I\tWon") + midi::meta(48, 1, std::string("der\0junk", 8)) +
                              midi::endOfTrack();
    const std::string notes = midi::noteOn(0, 0, 60, 100) + midi::noteOff(96 * 12, 0, 60) + midi::endOfTrack();
    return midi::header(1, 4, 96) + midi::track(conductor) + midi::track(headers) + midi::track(words) +
           midi::track(notes);
}

std::vector<std::string> lineTexts(const SongLyrics& lyrics) {
    std::vector<std::string> out;
    for (const LyricLine& line : lyrics.lines) out.push_back(line.text);
    return out;
}

struct Loaded {
    TempDir dir;
    MidiSong song;
    SongLyrics lyrics;
    bool found = false;
    Loaded(const std::string& name, const std::string& bytes) {
        const std::string path = dir.write(name, bytes);
        EXPECT_TRUE(song.load(path.c_str()));
        found = lyrics.extract(song.view(), SongLyrics::isKaraokeName(path.c_str()));
    }
};

TEST(SongLyrics, KaraokeTextEventsMakeLinesAndParagraphsWithTheirTimes) {
    Loaded kar("twinkle.KAR", karaokeFile(true));
    ASSERT_TRUE(kar.found);
    EXPECT_EQ(lineTexts(kar.lyrics), (std::vector<std::string>{"Twinkle twinkle", "little star", "How I Wonder"}));
    EXPECT_EQ(kar.lyrics.text, "Twinkle twinkle\nlittle star\n\nHow I Wonder");
    EXPECT_FALSE(kar.lyrics.lines[1].paragraph);
    EXPECT_TRUE(kar.lyrics.lines[2].paragraph);
    ASSERT_EQ(kar.lyrics.syllables.size(), 10u);

    // Each syllable is found by where its event's text lies in the song, and
    // its time is that of its tick (a beat is 500 ms) to within one slice.
    const std::vector<std::uint32_t> ticks = {96, 144, 192, 240, 288, 336, 384, 576, 624, 672};
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const LyricSyllable& syllable = kar.lyrics.syllables[i];
        EXPECT_EQ(kar.lyrics.find(syllable.offset), static_cast<std::int32_t>(i));
        EXPECT_NEAR(static_cast<double>(syllable.time), ticks[i] * 500.0 / 96, 4.0) << i;
    }
    EXPECT_EQ(std::memcmp(kar.song.image.get() + kar.lyrics.syllables[4].offset, "/lit", 4), 0);
    EXPECT_EQ(kar.lyrics.find(kar.lyrics.syllables[4].offset + 1), -1);
    // Where each syllable ends in its line, for showing the part being sung.
    EXPECT_EQ(kar.lyrics.lines[0].text.substr(0, kar.lyrics.syllables[1].end), "Twinkle ");
    EXPECT_EQ(kar.lyrics.syllables[3].end, kar.lyrics.lines[0].text.size());
    EXPECT_EQ(kar.lyrics.lines[1].first, 4u);

    // The mark alone makes a karaoke file of any name; without mark or name
    // text events are not words.
    Loaded marked("twinkle.mid", karaokeFile(true));
    EXPECT_EQ(marked.lyrics.text, kar.lyrics.text);
    Loaded named("twinkle.kar", karaokeFile(false));
    EXPECT_EQ(named.lyrics.text, kar.lyrics.text);
    Loaded plain("twinkle.mid", karaokeFile(false));
    EXPECT_FALSE(plain.found);
}

TEST(SongLyrics, LyricEventsWinOverTextEventsAndEndLinesWithReturns) {
    // Format 0: text events of a karaoke file and lyric events in one track;
    // the lyric events are the words. CR LF ends a line, an empty line starts
    // a paragraph, a "/" after a line end is no second break.
    const std::string body = midi::meta(0, 1, "@KMIDI KARAOKE FILE") + midi::meta(0, 1, "\\Not") +
                             midi::meta(0, 5, "Hel") + midi::meta(10, 5, "lo\r\n") + midi::meta(10, 5, "/world\r") +
                             midi::meta(10, 5, "\r") + midi::meta(10, 5, " a") + midi::meta(10, 5, "gain  ") +
                             midi::meta(10, 5, "@Tnot a word") + midi::endOfTrack();
    Loaded song("song.kar", midi::header(0, 1, 96) + midi::track(body));
    ASSERT_TRUE(song.found);
    EXPECT_EQ(song.lyrics.text, "Hello\nworld\n\nagain");
    EXPECT_EQ(song.lyrics.lines[2].text.substr(0, song.lyrics.syllables[3].end), "a");

    // Two singers: the words are the track with more of them.
    const std::string lead =
        midi::meta(0, 5, "one ") + midi::meta(10, 5, "two ") + midi::meta(10, 5, "three") + midi::endOfTrack();
    const std::string second = midi::meta(5, 5, "echo") + midi::endOfTrack();
    Loaded duet("duet.mid", midi::header(1, 2, 96) + midi::track(second) + midi::track(lead));
    EXPECT_EQ(duet.lyrics.text, "one two three");

    // Words that never end a line are broken before a syllable would make
    // the line longer than a line may be.
    std::string endless;
    for (int i = 0; i < 40; ++i) endless += midi::meta(10, 5, std::string(19, static_cast<char>('a' + i % 26)) + " ");
    Loaded rambling("rambling.mid", midi::header(0, 1, 96) + midi::track(endless + midi::endOfTrack()));
    ASSERT_EQ(rambling.lyrics.lines.size(), 4u);
    EXPECT_EQ(rambling.lyrics.lines[0].text.size(), 12u * 20 - 1);
    EXPECT_EQ(rambling.lyrics.lines[3].last, 39u);
}

TEST(SongLyrics, TextIsDecodedForTheWholeSongAsTitlesAre) {
    // Shift-JIS kana, one character a syllable: a single syllable would not
    // tell Japanese from Latin-1, the whole words do.
    const std::string japanese = midi::meta(0, 5, "\x82\xA9") + midi::meta(10, 5, "\x82\xE7") +
                                 midi::meta(10, 5, "\x82\xB7\r") + midi::meta(10, 5, "\x82\xA9") + midi::endOfTrack();
    Loaded kana("kana.mid", midi::header(0, 1, 96) + midi::track(japanese));
    EXPECT_EQ(kana.lyrics.text, "\xE3\x81\x8B\xE3\x82\x89\xE3\x81\x99\n\xE3\x81\x8B");  // からす / か
    EXPECT_EQ(kana.lyrics.syllables[1].end, 6u);

    // Read alone, "\x92t" would be a kanji; in its words it is Windows-1252's ’.
    const std::string latin =
        midi::meta(0, 5, "Caf\xE9 ") + midi::meta(10, 5, "don") + midi::meta(10, 5, "\x92t") + midi::endOfTrack();
    Loaded cafe("cafe.mid", midi::header(0, 1, 96) + midi::track(latin));
    EXPECT_EQ(cafe.lyrics.text, "Caf\xC3\xA9 don\xE2\x80\x99t");
}

}  // namespace
}  // namespace brellin
