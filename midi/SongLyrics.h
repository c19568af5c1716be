// SongLyrics: the words of a song, line by line, with the play-clock moment
// at which playback reaches each syllable.
//
// Where the words come from:
//   - lyric events (meta 0x05), when the song has any;
//   - otherwise, in a karaoke file (a ".kar" name, or a text event that
//     starts with "@K", the Soft Karaoke mark), its text events (meta 0x01).
// Of the events of that kind, one track's are taken: the track holding the
// most of them (the first such track on a tie), so a track-0 comment or a
// second singer's part does not break into the lines.
//
// The karaoke conventions, in both kinds of events: a text that starts with
// "@" is a header ("@KMIDI KARAOKE FILE", "@T" title lines, "@L" language),
// not a word; a leading "\" starts a new paragraph and a leading "/" a new
// line; a carriage return or line feed in the text ends the line there (the
// way lyric events usually mark line ends), two in a row a paragraph. A zero
// byte ends an event's text; tabs become spaces, other control bytes are
// dropped. Lines lose their leading and trailing spaces, and a line longer
// than MAX_LINE_BYTES is broken before the syllable that would pass it.
//
// Text is decoded as titles are (TextDecoder): the encoding is chosen once,
// from the whole lyrics, and every syllable is decoded in it.
//
// `extract` runs on the user-interface thread when a song is loaded; it walks
// the song with the playing-time rules (SongWalk.h), so its times are those
// of playback and its work is bounded like the information scan's. The
// lyrics are cut after MAX_LYRICS_BYTES bytes of text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiSong.h"

namespace brellin {

struct LyricSyllable {
    std::uint32_t offset = 0;  // where its event's text starts, in bytes from the song's first byte
    std::uint32_t time = 0;    // play clock (ms) of the slice in which playback performs the event
    std::uint32_t line = 0;    // index of its line
    std::uint32_t end = 0;     // bytes of the line's text up to the end of this syllable
};

struct LyricLine {
    std::string text;         // UTF-8, without leading or trailing spaces
    bool paragraph = false;   // the line starts a new paragraph
    std::uint32_t first = 0;  // index of its first syllable
    std::uint32_t last = 0;   // index of its last syllable
};

class SongLyrics {
public:
    // Raw text bytes taken at most; a song with more is cut there.
    static constexpr std::uint32_t MAX_LYRICS_BYTES = 1u << 16;
    // A line that would grow beyond this many bytes goes on in a new line
    // at its next syllable (a title is cut at 255 characters).
    static constexpr std::uint32_t MAX_LINE_BYTES = 256;

    // Replaces the contents by the lyrics of `song` (header chunk first).
    // `karaokeFile`: the file's name says it is a karaoke file (".kar"), so
    // its text events are its words. False when the song has no lyrics.
    bool extract(MidiImage song, bool karaokeFile);
    void clear();
    bool empty() const { return lines.empty(); }

    // The syllable whose event text starts at `offset` (the last, when the
    // event's text holds a line end and so gave several); -1 when none does.
    std::int32_t find(std::uint32_t offset) const;

    // Whether `path` names a karaoke file: it ends in ".kar", in any case.
    static bool isKaraokeName(const char* path);

    // The track the words were taken from (-1: none). In a damaged file
    // another track's reading can run into the same bytes; playback
    // reaches them at the syllables' times on this track.
    std::int16_t track = -1;
    std::vector<LyricSyllable> syllables;  // in the order playback reaches them (and by offset)
    std::vector<LyricLine> lines;
    // The whole lyrics as UTF-8: lines separated by "\n", an empty line
    // before each paragraph after the first line.
    std::string text;
};

}  // namespace brellin
