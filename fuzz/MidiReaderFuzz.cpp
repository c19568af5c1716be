// Loads arbitrary bytes as a MIDI file, walks every track, and plays the song
// through the Sequencer's tick against a synthesizer that checks what it is
// sent. When the reader takes a plain (non-RIFF) file, the slice at which
// playback ends must be the scanned playing time, and a seek must end the
// song exactly when its target lies at or past that time. The song's lyrics,
// read as a karaoke file's, must lie inside the song, and every syllable
// must be reached by playback at the time the extraction gave it on the
// track the words were taken from (a damaged track's reading can run into
// another track's bytes and reach them again later).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/MidiFileInfo.h"
#include "midi/MidiSong.h"
#include "midi/SongLyrics.h"
#include "player/Sequencer.h"

using namespace brellin;

namespace {

class CheckingSynthesizer : public SynthesizerInterface {
public:
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override {
        // Bodies lie inside the song image; channel messages are two or
        // three bytes behind a status; single bytes outside are F0 or F7.
        if (length == 0) std::abort();
        if (bytes >= begin && bytes < end) {
            if (bytes + length > end) std::abort();
        } else if (length == 1) {
            if (bytes[0] != 0xF0 && bytes[0] != 0xF7) std::abort();
        } else if (length == 6) {
            // A seek's General MIDI System On.
            if (bytes[0] != 0xF0 || bytes[1] != 0x7E || bytes[5] != 0xF7) std::abort();
        } else if (length > 3 || bytes[0] < 0x80 || bytes[0] >= 0xF0) {
            std::abort();
        }
        return true;
    }
    bool reset() override { return true; }
    std::uint32_t outputTime() override { return clock; }
    SliceClientHandle addSliceClient(ClockCallback, void*, SliceOrder) override { return 0; }
    void removeSliceClient(SliceClientHandle) override {}
    void setSystemVolume(std::int32_t) override {}
    void setUserVolume(std::int32_t) override {}

    const std::uint8_t* begin = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint32_t clock = 0;
};

// Checks each text event playback reaches against the extracted lyrics.
struct LyricCheck : TextEventListener {
    const MidiSong* song = nullptr;
    const SongLyrics* lyrics = nullptr;
    const std::uint32_t* clock = nullptr;
    bool timed = true;  // false while a seek replays the text before its target
    void notify() override {
        const char* image = reinterpret_cast<const char*>(song->image.get());
        if (text != image + offset || offset + textLength > song->imageSize) {
            std::fprintf(stderr, "text event at %u (%u bytes) outside the song's %u bytes\n", offset, textLength,
                         song->imageSize);
            std::abort();
        }
        const std::int32_t found = lyrics->find(offset);
        // A slice performs what the walk put at the slice's start.
        if (timed && found >= 0 && track == lyrics->track &&
            lyrics->syllables[static_cast<std::size_t>(found)].time + 4 != *clock) {
            std::fprintf(stderr, "syllable %d reached at %u ms, extracted at %u ms\n", found, *clock,
                         lyrics->syllables[static_cast<std::size_t>(found)].time);
            std::abort();
        }
    }
};

void checkLyrics(const MidiSong& song, const SongLyrics& lyrics) {
    std::uint32_t previousOffset = 0, previousTime = 0;
    for (std::size_t i = 0; i < lyrics.syllables.size(); ++i) {
        const LyricSyllable& syllable = lyrics.syllables[i];
        if (syllable.offset >= song.imageSize || syllable.line >= lyrics.lines.size()) std::abort();
        // Several syllables share an offset when their event holds a line end.
        if (i > 0 && (syllable.offset < previousOffset || syllable.time < previousTime)) std::abort();
        if (i > 0 && syllable.offset == previousOffset && syllable.time != previousTime) std::abort();
        if (syllable.end > lyrics.lines[syllable.line].text.size()) std::abort();
        previousOffset = syllable.offset;
        previousTime = syllable.time;
    }
    for (const LyricLine& line : lyrics.lines) {
        if (line.text.empty() || line.first > line.last || line.last >= lyrics.syllables.size()) std::abort();
        if (line.text.size() > 3 * SongLyrics::MAX_LINE_BYTES) std::abort();
    }
    if (lyrics.text.size() > 4 * SongLyrics::MAX_LYRICS_BYTES + 2 * lyrics.lines.size()) std::abort();
}

// The input as a file the reader opens by path, without touching the disk.
const std::string& inputPath(int& fd) {
    static int memory = memfd_create("brellin-midi-fuzz", 0);
    static std::string path = "/proc/self/fd/" + std::to_string(memory);
    fd = memory;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    int fd = -1;
    const std::string& path = inputPath(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

    // Every track walked on its own to its end: each step consumes a byte or ends.
    MidiSong song;
    if (song.load(path.c_str())) {
        MidiImage image = song.view();
        for (std::uint32_t t = 0; t < song.trackCount && t < 64; ++t) {
            TrackState track = song.tracks[t];
            image.rewindTrack(track, static_cast<std::int16_t>(t));
            std::uint64_t steps = 0;
            while (image.readEvent(track).kind != MidiEventKind::TrackEnd) {
                if (++steps > static_cast<std::uint64_t>(song.imageSize) + 4) std::abort();
            }
        }
    }

    // Playback by hand, compared with the scan.
    CheckingSynthesizer synth;
    Sequencer sequencer(&synth);
    if (!sequencer.load(path.c_str())) return 0;
    synth.begin = sequencer.song.image.get();
    synth.end = synth.begin + sequencer.song.imageSize;
    SongLyrics lyrics;
    lyrics.extract(sequencer.song.view(), true);
    checkLyrics(sequencer.song, lyrics);
    LyricCheck lyricCheck;
    lyricCheck.song = &sequencer.song;
    lyricCheck.lyrics = &lyrics;
    lyricCheck.clock = &synth.clock;
    sequencer.textEventListener = &lyricCheck;
    bool riff = size >= 4 && data[0] == 'R' && data[1] == 'I' && data[2] == 'F' && data[3] == 'F';
    bool complete = true;
    std::uint32_t scanned = riff ? 0 : measurePlayingTime(MidiImage{data, static_cast<std::uint32_t>(size)}, &complete);

    sequencer.rewind();
    sequencer.startClock();
    std::uint64_t trackCost = sequencer.song.trackCount + 1;
    std::uint64_t sliceLimit = 40000 / trackCost;
    if (!riff && complete && scanned / 4 + 2 < sliceLimit) sliceLimit = scanned / 4 + 2;
    bool whole = false;  // played to its end within the limit
    for (std::uint64_t slice = 1; slice <= sliceLimit; ++slice) {
        synth.clock += 4;
        sequencer.tick();
        if (!sequencer.playing) {
            if (!riff && complete && slice * 4 != scanned) {
                std::fprintf(stderr, "playback ended at %llu ms, scan says %u ms\n",
                             static_cast<unsigned long long>(slice * 4), scanned);
                std::abort();
            }
            whole = true;
            break;
        }
    }

    // A seek (a target taken from the input, transposed and faster): the
    // replay ends the song where playback ended it, and not before.
    if (!riff && complete && whole && scanned > 0) {
        const std::uint32_t target = (data[size - 1] * scanned / 128 + 4) & ~3u;
        lyricCheck.timed = false;
        sequencer.rewind();
        sequencer.startClock();
        sequencer.setTranspose(data[size / 2] % 25 - 12);
        sequencer.setSpeed(150);
        sequencer.seek(target);
        sequencer.tick();
        if (sequencer.playing == (target >= scanned)) {
            std::fprintf(stderr, "a seek to %u ms %s the song, which ends at %u ms\n", target,
                         sequencer.playing ? "kept playing" : "ended", scanned);
            std::abort();
        }
        if (sequencer.playing && sequencer.position() != target) std::abort();
        for (int slice = 0; slice < 100 && sequencer.playing; ++slice) {
            synth.clock += 4;
            sequencer.tick();
        }
    }
    return 0;
}
