#include "midi/MidiSong.h"

#include <cstring>
#include <new>

#include "common/ByteReader.h"
#include "common/FileObject.h"
#include "common/RiffWalker.h"

namespace brellin {

namespace {

// The smallest song the reader takes: a header chunk up to its division word.
constexpr std::uint32_t MINIMUM_SONG_SIZE = 14;

// A position in the song read through a ByteReader. A walk that runs into
// the end keeps counting the guard bytes it takes (`beyond`), so positions
// past the end come out as the image's guard bytes would give them.
struct SongCursor {
    ByteReader in;
    std::uint64_t beyond = 0;

    SongCursor(const MidiImage& image, std::uint64_t position) : in(image.bytes, image.size) {
        const std::uint64_t inside = position < image.size ? position : image.size;
        in.seek(static_cast<std::size_t>(inside));
        beyond = position - inside;
    }
    std::uint64_t position() const noexcept { return in.position() + beyond; }
    // The next byte, or the guard byte (counted) past the end.
    std::uint8_t next() noexcept {
        if (in.atEnd()) {
            ++beyond;
            return MidiImage::GUARD_BYTE;
        }
        return in.u8();
    }
    // A variable-length quantity of the track grammar: at most four bytes;
    // where the song ends, one guard byte (0xF7) ends the quantity.
    std::uint32_t quantity() noexcept {
        std::uint32_t value = 0;
        for (int count = 0; count < 4; ++count) {
            const bool last = in.atEnd();
            const std::uint8_t b = next();
            value = value << 7 | (b & 0x7Fu);
            if (!(b & 0x80) || last) return value;
        }
        // Four bytes in a row with bit 7 set: an overlong quantity.
        return 0xFFFFFFFFu;
    }
    // Takes up to `length` body bytes; a body ends at the last byte of the song.
    void body(std::uint32_t length, MidiEvent& out) noexcept {
        const std::size_t taken = length < in.remaining() ? length : in.remaining();
        out.data = in.current();
        out.length = static_cast<std::uint32_t>(taken);
        in.skip(taken);
    }
};

}  // namespace

// ---- MidiImage: the grammar --------------------------------------------------

std::uint32_t MidiImage::be32(std::uint64_t position) const noexcept {
    SongCursor cursor(*this, position);
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | cursor.next();
    return value;
}

std::uint16_t MidiImage::be16(std::uint64_t position) const noexcept {
    SongCursor cursor(*this, position);
    const std::uint32_t high = cursor.next();
    return static_cast<std::uint16_t>(high << 8 | cursor.next());
}

VarLen MidiImage::readVarLen(std::uint32_t position) const noexcept {
    SongCursor cursor(*this, position);
    const std::uint32_t value = cursor.quantity();
    return VarLen{value, static_cast<std::uint32_t>(cursor.position())};
}

bool MidiImage::buildTracks(TrackState* tracks, std::uint32_t trackCount) const noexcept {
    // 64-bit so that a chunk length can never wrap the offset back into the image.
    std::uint64_t offset = 8 + static_cast<std::uint64_t>(be32(4));
    for (std::uint32_t i = 0; i < trackCount; ++i) {
        if (offset >= size) return false;
        if (!ByteReader(bytes, size).at(static_cast<std::size_t>(offset)).startsWith("MTrk")) return false;
        TrackState& track = tracks[i];
        // The header starts inside the image, so these fit 32 bits.
        track.start = static_cast<std::uint32_t>(offset + 8 < size ? offset + 8 : size);
        track.position = track.start;
        track.length = be32(offset + 4);
        offset += static_cast<std::uint64_t>(track.length) + 8;
    }
    return true;
}

void MidiImage::rewindTrack(TrackState& track, std::int16_t index) const noexcept {
    track.position = track.start;
    track.active = true;
    VarLen first = readVarLen(track.position);
    track.delta = first.value;
    track.position = first.position;
    track.runningStatus = 0;
    track.index = index;
}

MidiEvent MidiImage::readEvent(TrackState& track) const noexcept {
    MidiEvent event;
    SongCursor cursor(*this, track.position);
    ByteReader& in = cursor.in;
    // A status byte in the last byte of the image (or a cursor already past
    // it) ends the track without being interpreted.
    if (in.remaining() < 2) {
        event.kind = MidiEventKind::TrackEnd;
        return event;
    }
    std::uint8_t status = in.peek();
    if (status < 0x80) {
        status = static_cast<std::uint8_t>(track.runningStatus);
    } else {
        in.skip(1);
        if (status < 0xF0) track.runningStatus = status;
    }
    event.status = status;

    switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
        case 0xC0:
        case 0xD0: {
            std::uint8_t dataCount = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
            if (in.remaining() < dataCount) {
                // The message would take guard bytes as data: not delivered.
                track.position = size;
                event.kind = MidiEventKind::TrackEnd;
                return event;
            }
            event.kind = MidiEventKind::Channel;
            event.bytes[0] = status;
            event.bytes[1] = in.u8();
            if (dataCount == 2) event.bytes[2] = in.u8();
            event.byteCount = static_cast<std::uint8_t>(dataCount + 1);
            break;
        }
        case 0xF0:
            if (status == 0xF0 || status == 0xF7) {
                cursor.body(cursor.quantity(), event);
                event.kind = status == 0xF0 ? MidiEventKind::SystemExclusive : MidiEventKind::Escape;
            } else if (status == 0xFF) {
                event.metaType = cursor.next();
                cursor.body(cursor.quantity(), event);
                if (event.metaType == 0x2F) {
                    track.position = track.start;
                    event.kind = MidiEventKind::TrackEnd;
                    return event;
                }
                event.kind = MidiEventKind::Meta;
            } else {
                event.kind = MidiEventKind::OtherSystem;
                cursor.next();
            }
            break;
        default:
            // A data byte while no running status is known: read as the start of
            // the next delta-time.
            event.kind = MidiEventKind::NoStatus;
            break;
    }

    track.delta = cursor.quantity();
    track.position = static_cast<std::uint32_t>(cursor.position());
    // End-of-Track look-ahead: the delta in front of FF 2F is ignored, so a
    // track ends at the time of its last real event.
    if (in.peek(0) == 0xFF && in.peek(1) == 0x2F) track.delta = 0;
    return event;
}

// ---- MidiSong: loading -------------------------------------------------------

void MidiSong::clear() {
    image.reset();
    tracks.reset();
    imageSize = 0;
    trackCount = 0;
    division = 0;
}

void MidiSong::fail() {
    clear();
    lastError = RESULT_FILE_IO_ERROR;
}

bool MidiSong::readImage(const char* path) {
    clear();
    FileObject file;
    if (!path || !file.open(path, FileAccess::Read)) {
        fail();
        return false;
    }
    std::uint32_t fileSize = file.size();
    if (fileSize == 0xFFFFFFFFu || fileSize < MINIMUM_SONG_SIZE) {
        fail();
        return false;
    }
    std::uint8_t first[4];
    if (!file.read(first, 4)) {
        fail();
        return false;
    }
    std::uint32_t songSize = fileSize;
    if (std::memcmp(first, "RIFF", 4) == 0) {
        std::uint8_t riff[8];  // RIFF length (not used), form type
        if (!file.read(riff, 8) || std::memcmp(riff + 4, "RMID", 4) != 0) {
            fail();
            return false;
        }
        // Foreign chunks are stepped over; no pad byte after odd lengths.
        RiffWalker chunks(12, fileSize, fileSize, false);
        RiffChunk chunk;
        bool found = false;
        while (chunks.more()) {
            std::uint8_t header[RiffWalker::HEADER_SIZE];
            if (!file.read(header, sizeof header) || !chunks.take(ByteReader(header, sizeof header), chunk)) {
                fail();
                return false;
            }
            if (chunk.is("data")) {
                found = true;
                break;
            }
            if (!file.seek(static_cast<std::int32_t>(chunk.size), SeekOrigin::Current)) {
                fail();
                return false;
            }
        }
        const std::uint32_t dataLength = chunk.size;
        // The walk keeps the body inside the file.
        const std::uint64_t remaining = fileSize - chunk.body;
        if (!found || remaining < MINIMUM_SONG_SIZE || dataLength < 4 || !file.read(first, 4)) {
            fail();
            return false;
        }
        songSize = dataLength;
    }
    if (songSize > MAX_SONG_SIZE) {
        fail();
        return false;
    }
    image.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(songSize) + 2]);
    if (!image) {
        fail();
        return false;
    }
    std::memset(image.get(), MidiImage::GUARD_BYTE, static_cast<std::size_t>(songSize) + 2);
    std::memcpy(image.get(), first, 4);
    if (!file.read(image.get() + 4, songSize - 4)) {
        fail();
        return false;
    }
    imageSize = songSize;
    division = view().be16(12);
    return true;
}

bool MidiSong::load(const char* path) {
    if (!readImage(path)) return false;
    bool prepared = false;
    switch (format()) {
        case 0: prepared = prepareFormat0(); break;
        case 1: prepared = prepareFormat1(); break;
        default: break;
    }
    if (!prepared) {
        fail();
        return false;
    }
    return true;
}

bool MidiSong::prepareTracks(std::uint32_t count) {
    tracks.reset(new (std::nothrow) TrackState[count > 0 ? count : 1]());
    trackCount = count;
    if (!tracks || !view().buildTracks(tracks.get(), count)) {
        tracks.reset();
        trackCount = 0;
        return false;
    }
    return true;
}

bool MidiSong::prepareFormat0() { return prepareTracks(1); }

bool MidiSong::prepareFormat1() { return prepareTracks(view().be16(10)); }

}  // namespace brellin
