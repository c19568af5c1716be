#include "midi/SongLyrics.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/TextDecoder.h"
#include "midi/SongWalk.h"

namespace brellin {

namespace {

constexpr std::uint8_t TEXT_EVENT = 0x01;
constexpr std::uint8_t LYRIC_EVENT = 0x05;

// A text or lyric event as the walk met it.
struct TextEvent {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t time;
    std::int16_t track;
    std::uint8_t type;
};

struct Collector {
    const std::uint8_t* base;
    std::vector<TextEvent> events;
    std::uint64_t bytes = 0;

    void meta(const MidiEvent& event, const TrackState& track, std::uint32_t time) {
        if (event.metaType != TEXT_EVENT && event.metaType != LYRIC_EVENT) return;
        if (event.length == 0 || bytes >= SongLyrics::MAX_LYRICS_BYTES) return;
        const std::uint32_t length =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(event.length, SongLyrics::MAX_LYRICS_BYTES - bytes));
        bytes += length;
        events.push_back(
            TextEvent{static_cast<std::uint32_t>(event.data - base), length, time, track.index, event.metaType});
    }
};

bool isHeader(const char* text, std::uint32_t length) { return length > 0 && text[0] == '@'; }

// One syllable's bytes, cleaned, and the breaks in front of it.
struct RawSyllable {
    std::string bytes;
    std::uint32_t offset;
    std::uint32_t time;
};

struct RawLine {
    bool paragraph = false;
    std::vector<RawSyllable> syllables;
};

// Splits the chosen events into lines by the karaoke conventions.
class LineBuilder {
public:
    void add(const char* text, std::uint32_t length, std::uint32_t offset, std::uint32_t time) {
        length = static_cast<std::uint32_t>(::strnlen(text, length));
        std::uint32_t i = 0;
        if (length > 0 && text[0] == '\\') {
            breakLine(Break::Backslash);
            i = 1;
        } else if (length > 0 && text[0] == '/') {
            breakLine(Break::Slash);
            i = 1;
        }
        std::string piece;
        for (; i < length; ++i) {
            const char c = text[i];
            if (c == '\r' || c == '\n') {
                flush(piece, offset, time);
                // CR LF is one end of line.
                if (c == '\r' && i + 1 < length && text[i + 1] == '\n') ++i;
                breakLine(Break::LineEnd);
            } else if (piece.size() >= SongLyrics::MAX_LINE_BYTES) {
                // A syllable longer than a line is cut.
            } else if (c == '\t') {
                piece += ' ';
            } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
                piece += c;
            }
        }
        flush(piece, offset, time);
    }

    std::vector<RawLine> lines;

private:
    enum class Break { Slash, Backslash, LineEnd };
    void breakLine(Break kind) {
        if (lines.empty()) return;
        // A "\" is a paragraph; so is an empty line, two line ends in a row.
        // A "/" after a line end repeats the line end.
        if (kind == Break::Backslash || (kind == Break::LineEnd && pendingBreak && lineEndPending))
            pendingParagraph = true;
        lineEndPending = kind == Break::LineEnd;
        pendingBreak = true;
    }
    void flush(std::string& piece, std::uint32_t offset, std::uint32_t time) {
        if (!piece.empty() && !lines.empty() && lineBytes + piece.size() > SongLyrics::MAX_LINE_BYTES)
            pendingBreak = true;
        const bool startsLine = lines.empty() || pendingBreak;
        if (startsLine) piece.erase(0, piece.find_first_not_of(' '));
        if (piece.empty()) return;
        if (startsLine) {
            lines.emplace_back();
            lines.back().paragraph = pendingParagraph && lines.size() > 1;
            pendingBreak = false;
            pendingParagraph = false;
            lineEndPending = false;
            lineBytes = 0;
        }
        lineBytes += piece.size();
        lines.back().syllables.push_back(RawSyllable{piece, offset, time});
        piece.clear();
    }

    bool pendingBreak = false;
    bool pendingParagraph = false;
    bool lineEndPending = false;  // the pending break came from a line end
    std::size_t lineBytes = 0;    // raw bytes of the last line
};

}  // namespace

bool SongLyrics::isKaraokeName(const char* path) {
    if (path == nullptr) return false;
    const std::size_t n = std::strlen(path);
    if (n < 4) return false;
    const char* tail = path + n - 4;
    return tail[0] == '.' && (tail[1] | 0x20) == 'k' && (tail[2] | 0x20) == 'a' && (tail[3] | 0x20) == 'r';
}

void SongLyrics::clear() {
    track = -1;
    syllables.clear();
    lines.clear();
    text.clear();
}

std::int32_t SongLyrics::find(std::uint32_t offset) const {
    // An event whose text holds a line end gives several syllables of one
    // offset: reaching the event reaches the last of them.
    const auto after = std::upper_bound(syllables.begin(), syllables.end(), offset,
                                        [](std::uint32_t value, const LyricSyllable& s) { return value < s.offset; });
    if (after == syllables.begin() || (after - 1)->offset != offset) return -1;
    return static_cast<std::int32_t>(after - syllables.begin() - 1);
}

bool SongLyrics::extract(MidiImage song, bool karaokeFile) {
    clear();
    Collector collector{song.bytes, {}};
    walkSong(song, collector);
    const char* base = reinterpret_cast<const char*>(song.bytes);

    // Which kind of event holds the words, and which track.
    bool anyLyric = false, karaoke = karaokeFile;
    for (const TextEvent& event : collector.events) {
        if (event.type == LYRIC_EVENT && !isHeader(base + event.offset, event.length)) anyLyric = true;
        if (event.type == TEXT_EVENT && event.length >= 2 && base[event.offset] == '@' && base[event.offset + 1] == 'K')
            karaoke = true;
    }
    if (!anyLyric && !karaoke) return false;
    const std::uint8_t kind = anyLyric ? LYRIC_EVENT : TEXT_EVENT;
    std::map<std::int16_t, std::uint32_t> counts;
    for (const TextEvent& event : collector.events) {
        if (event.type == kind && !isHeader(base + event.offset, event.length)) ++counts[event.track];
    }
    std::int16_t chosen = -1;
    std::uint32_t most = 0;
    for (const auto& [candidate, count] : counts) {
        if (count > most) {
            chosen = candidate;
            most = count;
        }
    }
    if (chosen < 0) return false;
    track = chosen;

    LineBuilder builder;
    std::string whole;  // every syllable's bytes, lines separated, for choosing the encoding
    for (const TextEvent& event : collector.events) {
        if (event.type != kind || event.track != chosen || isHeader(base + event.offset, event.length)) continue;
        builder.add(base + event.offset, event.length, event.offset, event.time);
    }
    for (const RawLine& line : builder.lines) {
        for (const RawSyllable& syllable : line.syllables) whole += syllable.bytes;
        whole += '\n';
    }
    std::u32string characters;
    const TextDecoder::Encoding encoding = TextDecoder::decode(whole.data(), whole.size(), characters);

    for (const RawLine& raw : builder.lines) {
        LyricLine line;
        line.paragraph = raw.paragraph;
        line.first = static_cast<std::uint32_t>(syllables.size());
        for (const RawSyllable& piece : raw.syllables) {
            TextDecoder::decodeAs(encoding, piece.bytes.data(), piece.bytes.size(), characters);
            line.text += TextDecoder::toUtf8(characters);
            syllables.push_back(LyricSyllable{piece.offset, piece.time, static_cast<std::uint32_t>(lines.size()),
                                              static_cast<std::uint32_t>(line.text.size())});
        }
        line.last = static_cast<std::uint32_t>(syllables.size() - 1);
        // Trailing spaces go; a syllable's end never lies beyond the text.
        line.text.erase(line.text.find_last_not_of(' ') + 1);
        for (std::uint32_t i = line.first; i <= line.last; ++i)
            syllables[i].end = std::min(syllables[i].end, static_cast<std::uint32_t>(line.text.size()));
        if (!lines.empty()) text += line.paragraph ? "\n\n" : "\n";
        text += line.text;
        lines.push_back(std::move(line));
    }
    return !lines.empty();
}

}  // namespace brellin
