#include "midi/MidiFileInfo.h"

#include <cstring>
#include <new>

#include "common/FileObject.h"
#include "midi/SongClock.h"

namespace brellin {

namespace {

constexpr std::uint64_t MAX_PLAYING_TIME = 0xFFFFFFFCu;

bool startsWith(const std::uint8_t* bytes, std::uint32_t size, std::uint64_t at, const char* id) {
    return at + 4 <= size && std::memcmp(bytes + at, id, 4) == 0;
}

std::uint32_t littleEndian32(const MidiImage& file, std::uint64_t at) {
    return static_cast<std::uint32_t>(file.at(at)) | static_cast<std::uint32_t>(file.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(file.at(at + 2)) << 16 | static_cast<std::uint32_t>(file.at(at + 3)) << 24;
}

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
    void step(TrackState& track) noexcept {
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
    MidiImage file{bytes, size};

    // The first track chunk: the header chunk and any other chunk are
    // stepped over by their lengths. A RIFF file's song is taken to begin at
    // offset 20, right after "RIFF", its length, "RMID", "data" and the data
    // length, without walking its chunks.
    bool riff = startsWith(bytes, size, 0, "RIFF");
    std::uint64_t songStart = riff ? 20 : 0;
    std::uint64_t pos = songStart;
    while (pos < size) {
        if (startsWith(bytes, size, pos, "MTrk")) break;
        pos += 8 + static_cast<std::uint64_t>(file.be32(pos + 4));
    }
    pos += 8;
    if (pos >= size) return;

    // Title and copyright from the meta events at the start of the first
    // track; the first of each wins, the first other event ends the search.
    bool haveTitle = false, haveCopyright = false;
    while ((!haveTitle || !haveCopyright) && pos < size) {
        pos = file.readVarLen(static_cast<std::uint32_t>(pos)).position;
        if (file.at(pos) != 0xFF) break;
        std::uint8_t type = file.at(pos + 1);
        VarLen length = file.readVarLen(static_cast<std::uint32_t>(pos + 2));
        std::uint64_t start = length.position < size ? length.position : size;
        std::uint32_t taken = static_cast<std::uint32_t>(length.value < size - start ? length.value : size - start);
        const char* text = reinterpret_cast<const char*>(bytes + start);
        if (type == 0x02 && !haveCopyright) {
            info.copyright = text;
            info.copyrightLength = taken;
            haveCopyright = true;
        } else if (type == 0x03 && !haveTitle) {
            info.title = text;
            info.titleLength = taken;
            haveTitle = true;
        }
        pos = start + taken;
    }

    // The song the playback reader would take: for RIFF, the "data" chunk
    // when it is the first chunk (bounded by its length, as playback is),
    // otherwise everything after offset 20.
    std::uint32_t songSize = size;
    if (riff) {
        songSize = size > 20 ? size - 20 : 0;
        if (startsWith(bytes, size, 12, "data")) {
            std::uint32_t dataLength = littleEndian32(file, 16);
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
