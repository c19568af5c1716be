#include "midi/MidiFileInfo.h"

#include <new>

#include "common/ByteReader.h"
#include "common/FileObject.h"
#include "midi/SongClock.h"

namespace brellin {

namespace {

constexpr std::uint64_t MAX_PLAYING_TIME = 0xFFFFFFFCu;

// Measures without sending: acts only on Set Tempo and on the end of tracks.
struct ScanPlayer {
    MidiImage song;
    std::uint32_t trackCount;
    std::int32_t active;
    std::int32_t tempo = START_TEMPO;
    std::uint64_t budget = MAX_SCAN_VISITS;

    std::int32_t activeTracks() const noexcept { return active; }
    bool mayContinue() const noexcept { return budget > 0; }
    void spend(std::uint64_t visits) noexcept { budget = visits < budget ? budget - visits : 0; }
    void step(TrackState& track, std::uint64_t) noexcept {
        spend(trackCount);
        MidiEvent event = song.readEvent(track);
        if (event.kind == MidiEventKind::TrackEnd) {
            track.active = false;
            --active;
        } else if (event.kind == MidiEventKind::Meta && event.metaType == 0x51) {
            tempo = tempoAfterSetTempo(tempo, event);
        }
    }
};

}  // namespace

std::uint32_t measurePlayingTime(MidiImage song, bool* complete) {
    if (complete) *complete = true;
    std::uint16_t format = song.be16(8);
    std::uint32_t trackCount = format == 0 ? 1 : format == 1 ? song.be16(10) : 0;
    if (trackCount == 0 || song.size == 0) return 0;
    std::unique_ptr<TrackState[]> tracks(new (std::nothrow) TrackState[trackCount]());
    if (!tracks || !song.buildTracks(tracks.get(), trackCount)) return 0;
    for (std::uint32_t i = 0; i < trackCount; ++i) song.rewindTrack(tracks[i], static_cast<std::int16_t>(i));

    std::uint16_t division = song.be16(12);
    ScanPlayer player{song, trackCount, static_cast<std::int32_t>(trackCount)};
    std::uint32_t remainder = 0;
    std::uint64_t time = 0;
    while (player.active > 0 && player.budget > 0 && time <= MAX_PLAYING_TIME) {
        TickRate rate = tickRate(player.tempo, division);
        std::uint64_t perSlice = rate.perMillisecond * SLICE_MILLISECONDS;
        const TrackState* next = nextDueTrack(tracks.get(), trackCount);
        player.spend(trackCount);
        if (!next) break;
        if (next->delta > 0) {
            // The clock can never reach another event: playback waits here
            // until it is stopped; the song's time is what has been played.
            if (perSlice == 0) break;
            // Slices before the one in which the next event falls due send
            // nothing: count them at once. The event is due in slice n, the
            // first with remainder + n × perSlice ≥ delta × modulus.
            std::uint64_t need = static_cast<std::uint64_t>(next->delta) * rate.modulus - remainder;
            std::uint64_t slices = (need + perSlice - 1) / perSlice;
            if (slices > 1) {
                std::uint64_t skipped = slices - 1;
                std::uint64_t total = remainder + skipped * perSlice;
                // Fewer than `delta` ticks by the choice of `slices`.
                subtractFromActive(tracks.get(), trackCount, static_cast<std::uint32_t>(total / rate.modulus));
                player.spend(trackCount);
                remainder = static_cast<std::uint32_t>(total % rate.modulus);
                time += skipped * SLICE_MILLISECONDS;
                if (time > MAX_PLAYING_TIME) break;
            }
        }
        std::uint64_t ticks = ticksFor(SLICE_MILLISECONDS, rate, remainder);
        dispatchDue(tracks.get(), trackCount, ticks, player);
        time += SLICE_MILLISECONDS;
    }
    if (complete) *complete = (player.active <= 0 || player.budget > 0) && time <= MAX_PLAYING_TIME;
    return static_cast<std::uint32_t>(time < MAX_PLAYING_TIME ? time : MAX_PLAYING_TIME);
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
