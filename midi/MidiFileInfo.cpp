#include "midi/MidiFileInfo.h"

#include <new>

#include "common/ByteReader.h"
#include "common/FileObject.h"
#include "midi/SongWalk.h"

namespace brellin {

namespace {

// The playing time needs no meta event but Set Tempo, which the walk acts on itself.
struct NoVisitor {
    void meta(const MidiEvent&, const TrackState&, std::uint32_t) noexcept {}
};

}  // namespace

std::uint32_t measurePlayingTime(MidiImage song, bool* complete) {
    NoVisitor visitor;
    return walkSong(song, visitor, complete);
}

void scanMidiBytes(const std::uint8_t* bytes, std::uint32_t size, MidiFileInfo& info) {
    info.title = "";
    info.titleLength = 0;
    info.copyright = "";
    info.copyrightLength = 0;
    info.complete = true;
    const ByteReader file(bytes, size);

    // The first track chunk: the header chunk and any other chunk are
    // stepped over by their lengths. A RIFF file's song is taken to begin at
    // offset 20, right after "RIFF", its length, "RMID", "data" and the data
    // length, without walking its chunks.
    const bool riff = file.startsWith("RIFF");
    const std::uint32_t songStart = riff ? 20 : 0;
    ByteReader in = file.at(songStart);
    while (!in.atEnd() && !in.startsWith("MTrk")) {
        in.skip(4);
        in.skip(in.u32be());
    }
    // The first event needs a byte after the track header.
    if (!in.skip(8) || in.atEnd()) return;

    // Title and copyright from the meta events at the start of the first
    // track; the first of each wins, the first other event ends the search.
    bool haveTitle = false, haveCopyright = false;
    while ((!haveTitle || !haveCopyright) && !in.atEnd()) {
        in.varLen();  // delta-time
        if (in.peek() != 0xFF) break;
        in.skip(1);
        const std::uint8_t type = in.u8();
        const std::uint32_t length = in.varLen();
        // A text whose length runs past the file ends at its last byte.
        const std::uint32_t taken = static_cast<std::uint32_t>(length < in.remaining() ? length : in.remaining());
        const char* text = reinterpret_cast<const char*>(in.current());
        in.skip(taken);
        if (type == 0x02 && !haveCopyright) {
            info.copyright = text;
            info.copyrightLength = taken;
            haveCopyright = true;
        } else if (type == 0x03 && !haveTitle) {
            info.title = text;
            info.titleLength = taken;
            haveTitle = true;
        }
    }

    // The song the playback reader would take: for RIFF, the "data" chunk
    // when it is the first chunk (bounded by its length, as playback is),
    // otherwise everything after offset 20.
    std::uint32_t songSize = size;
    if (riff) {
        songSize = size > 20 ? size - 20 : 0;
        ByteReader first = file.at(12);
        if (first.startsWith("data")) {
            first.skip(4);
            const std::uint32_t dataLength = first.u32le();
            if (dataLength < songSize) songSize = dataLength;
        }
    }
    bool complete = true;
    info.playingTime = measurePlayingTime(MidiImage{bytes + songStart, songSize}, &complete);
    info.complete = complete;
}

bool scanMidiFile(const char* path, MidiFileInfo& info) {
    info.errorText = "";
    info.title = "";
    info.titleLength = 0;
    info.copyright = "";
    info.copyrightLength = 0;
    info.image.reset();
    FileObject file;
    if (!path || !file.open(path, FileAccess::Read)) return false;
    std::uint32_t size = file.size();
    // An undeterminable size is a file that cannot be read; never a size
    // that wraps around when the guard bytes are added.
    if (size == 0xFFFFFFFFu) {
        info.errorText = "Cannot read file.";
        return false;
    }
    info.fileSize = size;
    if (size > MidiSong::MAX_SONG_SIZE) {
        info.errorText = "Not enough memory.";
        return false;
    }
    info.image.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size) + 4]());
    if (!info.image) {
        info.errorText = "Not enough memory.";
        return false;
    }
    if (size > 0 && !file.read(info.image.get(), size)) {
        info.image.reset();
        info.errorText = "Cannot read file.";
        return false;
    }
    scanMidiBytes(info.image.get(), size, info);
    return true;
}

}  // namespace brellin
