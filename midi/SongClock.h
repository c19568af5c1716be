// SongClock: the timing rules by which a song advances on the play clock.
//
// The Sequencer's tick (render thread, once per 4-ms slice) and the
// information scan (any thread, at full speed) both run a song through these
// rules, so the scan's playing time is the play-clock moment at which real
// playback ends. Everything here is pure arithmetic on the caller's data:
// no allocation, no lock, no system call.
//
// A slice converts the elapsed play clock into MIDI ticks (metrical or SMPTE
// division, the remainder carried from slice to slice so that no tick is
// lost), then `dispatchDue` performs every event that has fallen due:
// smallest delta first, ties to the lowest track, in file order within a
// track. An event due exactly at the slice's last tick is performed in this
// slice.
#pragma once

#include <cstdint>

#include "midi/MidiSong.h"

namespace brellin {

// 59863946: quarter notes per 60000 ms of play clock for a Set Tempo of one
// microsecond per quarter note. The play clock counts 4 ms for a slice that
// lasts 44/11025 s (3.99093 ms), so 60,000,000 × 3.99093 / 4 makes a tempo
// event play in real time to within the truncation of the tempo.
constexpr std::int32_t TEMPO_CONSTANT = 59863946;
// The tempo every song starts with (beats per 60000 ms of play clock; not corrected).
constexpr std::int32_t START_TEMPO = 120;
// Play-clock milliseconds per slice.
constexpr std::uint32_t SLICE_MILLISECONDS = 4;
// A slice visits at most this many track entries (each performed event costs
// one visit per track). Real songs stay far below; a hostile file with many
// thousands of tracks and events all due at once keeps the rest for the next
// slice instead of holding the render thread.
constexpr std::uint64_t MAX_TRACK_VISITS_PER_SLICE = 1u << 21;

// How fast ticks advance: ticks = (remainder + perMillisecond × elapsed) / modulus.
struct TickRate {
    std::uint64_t perMillisecond;  // metrical: tempo × division; SMPTE: frames per second × ticks per frame
    std::uint32_t modulus;         // metrical: 60000; SMPTE: 1000
};

// Metrical division (bit 15 clear): ticks per quarter note. SMPTE (bit 15
// set): the high byte is the negated frames per second as a signed 8-bit
// value (24, 25, 29, 30), the low byte the ticks per frame.
inline TickRate tickRate(std::int32_t tempo, std::uint16_t division) noexcept {
    if (division & 0x8000) {
        std::int32_t framesPerSecond = -static_cast<std::int32_t>(static_cast<std::int8_t>(division >> 8));
        return TickRate{static_cast<std::uint64_t>(framesPerSecond) * (division & 0xFF), 1000};
    }
    std::uint64_t beats = tempo > 0 ? static_cast<std::uint64_t>(tempo) : 0;
    return TickRate{beats * division, 60000};
}

// Ticks due for `elapsed` ms of play clock; carries the remainder.
inline std::uint64_t ticksFor(std::uint32_t elapsed, TickRate rate, std::uint32_t& remainder) noexcept {
    unsigned __int128 x = static_cast<unsigned __int128>(rate.perMillisecond) * elapsed + remainder;
    remainder = static_cast<std::uint32_t>(x % rate.modulus);
    return static_cast<std::uint64_t>(x / rate.modulus);
}

// The tempo after a Set Tempo meta event: 59863946 / microseconds per
// quarter note (the first three payload bytes, big-endian). A value of 0, or
// a payload shorter than three bytes, leaves the tempo as it was: the song
// keeps playing at its current tempo.
inline std::int32_t tempoAfterSetTempo(std::int32_t tempo, const MidiEvent& event) noexcept {
    if (event.length < 3) return tempo;
    std::int32_t microseconds = event.data[0] << 16 | event.data[1] << 8 | event.data[2];
    if (microseconds == 0) return tempo;
    return TEMPO_CONSTANT / microseconds;
}

// The smallest delta among active tracks; ties go to the lowest track, and
// the search ends at the first delta of 0. Null when no track is active.
inline TrackState* nextDueTrack(TrackState* tracks, std::uint32_t trackCount) noexcept {
    TrackState* next = nullptr;
    for (std::uint32_t i = 0; i < trackCount; ++i) {
        TrackState& track = tracks[i];
        if (!track.active) continue;
        if (!next || track.delta < next->delta) {
            next = &track;
            if (track.delta == 0) break;
        }
    }
    return next;
}

inline void subtractFromActive(TrackState* tracks, std::uint32_t trackCount, std::uint32_t ticks) noexcept {
    if (ticks == 0) return;
    for (std::uint32_t i = 0; i < trackCount; ++i) {
        if (tracks[i].active) tracks[i].delta -= ticks;
    }
}

// Performs every event due within `ticks`. The player provides:
//   std::int32_t activeTracks()   tracks not yet ended
//   bool mayContinue()            false stops the slice here (the Sequencer
//                                 takes and releases its lock in it)
//   void step(TrackState&, std::uint64_t at)
//                                 one track step with whatever it does with
//                                 the event, including ending the track; `at`
//                                 is the event's tick counted from the slice's
//                                 start
template <class Player>
void dispatchDue(TrackState* tracks, std::uint32_t trackCount, std::uint64_t ticks, Player& player) noexcept {
    std::uint64_t consumed = 0;
    std::uint64_t visits = 0;
    for (;;) {
        if (player.activeTracks() <= 0) return;
        if (!player.mayContinue()) return;
        TrackState* next = nextDueTrack(tracks, trackCount);
        if (!next) return;
        std::uint64_t left = ticks - consumed;
        if (next->delta > left) {
            subtractFromActive(tracks, trackCount, static_cast<std::uint32_t>(left));
            return;
        }
        std::uint32_t delta = next->delta;
        subtractFromActive(tracks, trackCount, delta);
        consumed += delta;
        player.step(*next, consumed);
        visits += trackCount;
        if (visits >= MAX_TRACK_VISITS_PER_SLICE) return;
    }
}

}  // namespace brellin
