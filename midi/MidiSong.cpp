#include "midi/MidiSong.h"

#include <cstring>
#include <new>

#include "common/FileObject.h"

namespace brellin {

namespace {

// The smallest song the reader takes: a header chunk up to its division word.
constexpr std::uint32_t MINIMUM_SONG_SIZE = 14;

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

// ---- MidiImage: the grammar --------------------------------------------------

std::uint32_t MidiImage::be32(std::uint64_t position) const noexcept {
    return static_cast<std::uint32_t>(at(position)) << 24 | static_cast<std::uint32_t>(at(position + 1)) << 16 |
           static_cast<std::uint32_t>(at(position + 2)) << 8 | at(position + 3);
}

std::uint16_t MidiImage::be16(std::uint64_t position) const noexcept {
    return static_cast<std::uint16_t>(at(position) << 8 | at(position + 1));
}

VarLen MidiImage::readVarLen(std::uint32_t position) const noexcept {
    std::uint32_t value = 0;
    std::uint64_t p = position;
    for (int count = 0; count < 4; ++count) {
        std::uint8_t b = at(p);
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80) || p >= size) return VarLen{value, static_cast<std::uint32_t>(p + 1)};
        ++p;
    }
    // Four bytes in a row with bit 7 set: an overlong quantity.
    return VarLen{0xFFFFFFFFu, static_cast<std::uint32_t>(p)};
}

bool MidiImage::buildTracks(TrackState* tracks, std::uint32_t trackCount) const noexcept {
    // 64-bit so that a chunk length can never wrap the offset back into the image.
    std::uint64_t offset = 8 + static_cast<std::uint64_t>(be32(4));
    for (std::uint32_t i = 0; i < trackCount; ++i) {
        if (offset >= size) return false;
        if (at(offset) != 'M' || at(offset + 1) != 'T' || at(offset + 2) != 'r' || at(offset + 3) != 'k') return false;
        TrackState& track = tracks[i];
        // The header is inside the image, so these fit 32 bits.
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
    std::uint64_t position = track.position;
    // A status byte in the last byte of the image (or a cursor already past
    // it) ends the track without being interpreted.
    if (position + 1 >= size) {
        event.kind = MidiEventKind::TrackEnd;
        return event;
    }
    std::uint8_t b = bytes[position++];
    std::uint8_t status = b;
    if (b < 0x80) {
        status = static_cast<std::uint8_t>(track.runningStatus);
        --position;
    } else if (b < 0xF0) {
        track.runningStatus = b;
    }
    event.status = status;

    // Whatever a length says, a body ends at the last byte of the image.
    auto cutBody = [this](std::uint64_t start, std::uint32_t length, MidiEvent& out) {
        std::uint64_t available = start < size ? size - start : 0;
        std::uint32_t taken = length < available ? length : static_cast<std::uint32_t>(available);
        out.data = bytes + (start < size ? start : size);
        out.length = taken;
        return start + taken;
    };

    switch (status & 0xF0) {
    case 0x80: case 0x90: case 0xA0: case 0xB0: case 0xE0:
    case 0xC0: case 0xD0: {
        std::uint8_t dataCount = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
        if (position + dataCount > size) {
            // The message would take guard bytes as data: not delivered.
            track.position = size;
            event.kind = MidiEventKind::TrackEnd;
            return event;
        }
        event.kind = MidiEventKind::Channel;
        event.bytes[0] = status;
        event.bytes[1] = bytes[position];
        if (dataCount == 2) event.bytes[2] = bytes[position + 1];
        event.byteCount = static_cast<std::uint8_t>(dataCount + 1);
        position += dataCount;
        break;
    }
    case 0xF0:
        if (status == 0xF0 || status == 0xF7) {
            VarLen length = readVarLen(static_cast<std::uint32_t>(position));
            position = cutBody(length.position, length.value, event);
            event.kind = status == 0xF0 ? MidiEventKind::SystemExclusive : MidiEventKind::Escape;
        } else if (status == 0xFF) {
            event.metaType = at(position);
            VarLen length = readVarLen(static_cast<std::uint32_t>(position + 1));
            position = cutBody(length.position, length.value, event);
            if (event.metaType == 0x2F) {
                track.position = track.start;
                event.kind = MidiEventKind::TrackEnd;
                return event;
            }
            event.kind = MidiEventKind::Meta;
        } else {
            event.kind = MidiEventKind::OtherSystem;
            position += 1;
        }
        break;
    default:
        // A data byte while no running status is known: read as the start of
        // the next delta-time.
        event.kind = MidiEventKind::NoStatus;
        break;
    }

    // Positions stay within the song and its two guard bytes.
    if (position > static_cast<std::uint64_t>(size) + 2) position = static_cast<std::uint64_t>(size) + 2;
    VarLen delta = readVarLen(static_cast<std::uint32_t>(position));
    track.delta = delta.value;
    track.position = delta.position;
    // End-of-Track look-ahead: the delta in front of FF 2F is ignored, so a
    // track ends at the time of its last real event.
    if (at(track.position) == 0xFF && at(static_cast<std::uint64_t>(track.position) + 1) == 0x2F) track.delta = 0;
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
        std::uint32_t remaining = fileSize - 12;
        bool found = false;
        std::uint32_t dataLength = 0;
        while (remaining >= 8) {
            std::uint8_t chunk[8];
            if (!file.read(chunk, 8)) {
                fail();
                return false;
            }
            remaining -= 8;
            std::uint32_t length = littleEndian32(chunk + 4);
            if (std::memcmp(chunk, "data", 4) == 0) {
                found = true;
                dataLength = length;
                break;
            }
            // Foreign chunks are stepped over; no pad byte after odd lengths.
            if (length > remaining || !file.seek(static_cast<std::int32_t>(length), SeekOrigin::Current)) {
                fail();
                return false;
            }
            remaining -= length;
        }
        if (!found || remaining < MINIMUM_SONG_SIZE || dataLength > remaining || dataLength < 4 ||
            !file.read(first, 4)) {
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
