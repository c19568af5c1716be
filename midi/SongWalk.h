// walkSong: runs a whole song through the Sequencer's timing rules
// (SongClock.h) at full speed, without sending anything, and tells a visitor
// the play-clock moment of every meta event.
//
// The playing-time measure (MidiFileInfo) and the lyrics extraction
// (SongLyrics) are the two walks; both see a song exactly as playback steps
// it: the same track table (format 0 one track, format 1 the header's
// count), the same track step, Set Tempo acted on, tracks ending at their
// End of Track. Stretches of slices in which no event falls due are counted
// arithmetically, so the work depends on the number of events, not on the
// length of the song, and it is bounded by MAX_SCAN_VISITS track visits.
//
// The visitor provides
//   void meta(const MidiEvent& event, const TrackState& track, std::uint32_t time)
// called for every meta event (Set Tempo included) with the play clock, in
// ms, of the slice in which playback performs it (a multiple of 4).
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "midi/MidiSong.h"
#include "midi/SongClock.h"

namespace brellin {

// Track visits one walk may perform (about a quarter of a second of work).
constexpr std::uint64_t MAX_SCAN_VISITS = 1ull << 28;
// The longest time a walk reports: a 0xFFFFFFFF-tick delta from an overlong
// quantity can exceed the 32-bit clock.
constexpr std::uint64_t MAX_PLAYING_TIME = 0xFFFFFFFCu;

namespace songwalk {

// Measures without sending: acts only on Set Tempo and on the end of tracks,
// and shows the visitor every meta event.
template <class Visitor>
struct WalkPlayer {
    MidiImage song;
    std::uint32_t trackCount;
    std::int32_t active;
    Visitor& visitor;
    std::int32_t tempo = START_TEMPO;
    std::uint64_t budget = MAX_SCAN_VISITS;
    std::uint32_t time = 0;

    std::int32_t activeTracks() const noexcept { return active; }
    bool mayContinue() const noexcept { return budget > 0; }
    void spend(std::uint64_t visits) noexcept { budget = visits < budget ? budget - visits : 0; }
    void step(TrackState& track, std::uint64_t) noexcept {
        spend(trackCount);
        MidiEvent event = song.readEvent(track);
        if (event.kind == MidiEventKind::TrackEnd) {
            track.active = false;
            --active;
        } else if (event.kind == MidiEventKind::Meta) {
            if (event.metaType == 0x51) tempo = tempoAfterSetTempo(tempo, event);
            visitor.meta(event, track, time);
        }
    }
};

}  // namespace songwalk

// Walks the song in `song` (header chunk first) to its end and returns its
// playing time (see MidiFileInfo.h for how hostile files are measured).
// `complete` (optional) is false when the walk stopped at its work limit.
template <class Visitor>
std::uint32_t walkSong(MidiImage song, Visitor& visitor, bool* complete = nullptr) {
    if (complete) *complete = true;
    std::uint16_t format = song.be16(8);
    std::uint32_t trackCount = format == 0 ? 1 : format == 1 ? song.be16(10) : 0;
    if (trackCount == 0 || song.size == 0) return 0;
    std::unique_ptr<TrackState[]> tracks(new (std::nothrow) TrackState[trackCount]());
    if (!tracks || !song.buildTracks(tracks.get(), trackCount)) return 0;
    for (std::uint32_t i = 0; i < trackCount; ++i) song.rewindTrack(tracks[i], static_cast<std::int16_t>(i));

    std::uint16_t division = song.be16(12);
    songwalk::WalkPlayer<Visitor> player{song, trackCount, static_cast<std::int32_t>(trackCount), visitor};
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
        player.time = static_cast<std::uint32_t>(time);
        dispatchDue(tracks.get(), trackCount, ticks, player);
        time += SLICE_MILLISECONDS;
    }
    if (complete) *complete = (player.active <= 0 || player.budget > 0) && time <= MAX_PLAYING_TIME;
    return static_cast<std::uint32_t>(time < MAX_PLAYING_TIME ? time : MAX_PLAYING_TIME);
}

}  // namespace brellin
