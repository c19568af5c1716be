// MidiSong: one Standard MIDI File (or the song inside a RIFF "RMID" file)
// held in memory, with a cursor per track, and the event grammar by which a
// track is walked.
//
// The Sequencer owns the MidiSong it plays: it loads it on the user-interface
// thread and steps its tracks on the render thread. The information scan
// walks the bytes of its own copy through the same grammar (MidiImage below),
// so both measure a song the same way.
//
// Bounded reading: every read goes through a ByteReader over the song bytes,
// so a walk cannot leave them by construction. Past the end the grammar reads
// the guard byte 0xF7, as the two guard bytes the image is allocated with (and
// filled with 0xF7) would give it. How events that point past the song are
// cut short:
//   - a channel message whose data bytes would run past the song is not
//     delivered; the track ends there;
//   - a system-exclusive body, escape or meta payload whose declared length
//     runs past the song is cut at the song's last byte, and the track ends
//     at its next step;
//   - a variable-length quantity that runs into the end reads guard bytes
//     (0xF7), exactly as the guard bytes of the image would give it.
#pragma once

#include <cstdint>
#include <memory>

#include "common/ResultCode.h"

namespace brellin {

// One track's cursor. `start`, `position` and `length` are set when the track
// table is built; `runningStatus`, `active`, `index` and the first `delta`
// each time play begins.
struct TrackState {
    std::uint32_t start = 0;          // first byte after the chunk's 8-byte header
    std::uint32_t position = 0;       // next byte to read
    std::uint32_t length = 0;         // chunk length as declared; recorded, never used to bound reading
    std::uint32_t runningStatus = 0;  // last channel status (0x80 … 0xEF) read on this track; 0 when none
    bool active = false;              // the track has not ended
    std::int16_t index = 0;           // 0 for the first track chunk
    std::uint32_t delta = 0;          // ticks until the track's next event
};

// A variable-length quantity and the position after it.
struct VarLen {
    std::uint32_t value;
    std::uint32_t position;
};

enum class MidiEventKind : std::uint8_t {
    Channel,          // `bytes[0 … byteCount-1]`: status and one or two data bytes
    SystemExclusive,  // status 0xF0; `data`/`length` is the body (cut at the image end)
    Escape,           // status 0xF7; skipped, never sent
    Meta,             // status 0xFF; `metaType`, `data`/`length` is the payload
    OtherSystem,      // 0xF1 … 0xFE except 0xF7: one data byte skipped
    NoStatus,         // a data byte while no running status is known: nothing consumed
    TrackEnd,         // End of Track, the last byte of the image, or a message cut by the image end
};

// One event read by the track step. `data` points into the image.
struct MidiEvent {
    MidiEventKind kind = MidiEventKind::NoStatus;
    std::uint8_t status = 0;
    std::uint8_t metaType = 0;
    std::uint8_t byteCount = 0;  // Channel: 2 or 3
    std::uint8_t bytes[3] = {0, 0, 0};
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};

// A read-only view of song bytes: the image of a MidiSong, or the part of a
// file the information scan measures. Positions at or past `size` read as
// the guard byte 0xF7.
struct MidiImage {
    static constexpr std::uint8_t guardByte = 0xF7;

    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;

    // Big-endian values; bytes past the end read as the guard byte.
    std::uint32_t be32(std::uint64_t position) const noexcept;
    std::uint16_t be16(std::uint64_t position) const noexcept;

    // Decodes one variable-length quantity starting at `position`, bounded by
    // `size`: at most four bytes; four bytes in a row with bit 7 set give
    // 0xFFFFFFFF with the position just past them.
    VarLen readVarLen(std::uint32_t position) const noexcept;

    // Builds the track table for `trackCount` tracks, the first chunk at
    // 8 + the header length. False when a chunk starts at or past the end or
    // is not "MTrk". `tracks` must hold `trackCount` entries.
    bool buildTracks(TrackState* tracks, std::uint32_t trackCount) const noexcept;

    // Rewinds a track for play: position = start, active, first delta read,
    // no running status. (No End-of-Track look-ahead here.)
    void rewindTrack(TrackState& track, std::int16_t index) const noexcept;

    // The track step: reads one event at the track's position and, unless
    // the track ended, the delta-time after it with the End-of-Track
    // look-ahead (a delta in front of FF 2F counts 0). At End of Track the
    // position returns to `start`. `active` is left to the caller.
    MidiEvent readEvent(TrackState& track) const noexcept;
};

class MidiSong {
public:
    // Largest song the reader takes (bytes); larger files are refused, which
    // also keeps every position plus a 32-bit length free of wrap-around.
    static constexpr std::uint32_t maxSongSize = 0x7FFFFFF0u;

    MidiSong() = default;
    MidiSong(const MidiSong&) = delete;
    MidiSong& operator=(const MidiSong&) = delete;

    // Reads the song bytes of a Standard MIDI File or RIFF "RMID" file into
    // a fresh image (two 0xF7 guard bytes) and takes the division. Does not
    // build the track table; `format()` tells which prepare to call.
    // On failure: empty song, lastError = RESULT_FILE_IO_ERROR.
    bool readImage(const char* path);
    // readImage, then exactly one of the prepare operations by the format word.
    bool load(const char* path);

    // Track tables: format 0 plays only the first track chunk whatever the
    // header says; format 1 plays the header's count; format 2 is refused.
    bool prepareFormat0();
    bool prepareFormat1();
    bool prepareFormat2();

    // Frees the image and the track table.
    void clear();
    // Marks a failed load: empty song, lastError = RESULT_FILE_IO_ERROR.
    void fail();

    bool empty() const { return !image; }
    std::uint16_t format() const { return view().be16(8); }
    MidiImage view() const { return MidiImage{image.get(), imageSize}; }

    std::unique_ptr<std::uint8_t[]> image;  // imageSize song bytes + two guard bytes of 0xF7
    std::uint32_t imageSize = 0;
    std::uint16_t division = 0;  // header's time-division word
    std::uint32_t trackCount = 0;
    std::unique_ptr<TrackState[]> tracks;
    ResultCode lastError = RESULT_OK;

private:
    bool prepareTracks(std::uint32_t count);
};

}  // namespace brellin
