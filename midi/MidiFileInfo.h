// scanMidiFile: measures a MIDI file without playing it — its size, the
// first copyright and title texts of its first track, and its playing time.
//
// Starting a song (for the display's clock), the play-list dialog's title
// line and the File Information dialog use it. It runs on whatever thread
// calls it and touches no shared state.
//
// The playing time is found by running the Sequencer's timing rules
// (SongClock.h) over the whole song with the same track step as playback, so
// it is the play-clock moment, in whole 4-ms slices, at which playback of the
// same file ends. Stretches of slices in which no event falls due are
// counted arithmetically rather than stepped one by one, so the time needed
// depends on the number of events, not on the length of the song. Hostile
// files stay bounded:
//   - the scan performs at most `MAX_SCAN_VISITS` track visits (about a
//     quarter of a second of work); a file that needs more is reported with
//     the time reached so far;
//   - a song whose clock can no longer advance (a division of 0, SMPTE with
//     0 ticks per frame) is reported with the time of the last slice that
//     sent an event; playback of such a song waits until it is stopped;
//   - the time saturates at 0xFFFFFFFC ms (a 0xFFFFFFFF-tick delta from an
//     overlong quantity can exceed the 32-bit clock);
//   - a Set Tempo of 0 leaves the tempo unchanged, as in playback.
#pragma once

#include <cstdint>
#include <memory>

#include "midi/MidiSong.h"
#include "midi/SongWalk.h"

namespace brellin {

struct MidiFileInfo {
    // The whole file plus four zero bytes; `title` and `copyright` point into it.
    std::unique_ptr<std::uint8_t[]> image;
    // "Not enough memory." or "Cannot read file."; empty when the file cannot be opened.
    const char* errorText = "";
    // Bytes in the file; left as the caller set it when the file cannot be opened.
    std::uint32_t fileSize = 0;
    // Payload of the first copyright meta event (0x02); "" and 0 when there is none. Not zero-terminated.
    const char* copyright = "";
    std::uint32_t copyrightLength = 0;
    // Payload of the first sequence or track name meta event (0x03); "" and 0 when there is none.
    const char* title = "";
    std::uint32_t titleLength = 0;
    // Milliseconds of play clock, a multiple of 4; left as the caller set it
    // when the file has no track chunk.
    std::uint32_t playingTime = 0;
    // False when the scan stopped at its work limit (playingTime is then the time reached).
    bool complete = true;
};

// False only when the file cannot be opened (errorText ""), its size cannot
// be determined or it cannot be read ("Cannot read file."), or the memory
// cannot be obtained ("Not enough memory.").
bool scanMidiFile(const char* path, MidiFileInfo& info);

// The scan of title, copyright and playing time on file bytes already in
// memory (`bytes`, `size`). The texts point into `bytes`.
void scanMidiBytes(const std::uint8_t* bytes, std::uint32_t size, MidiFileInfo& info);

// The playing time of the song in `song` (header chunk first), with the
// scan's track table: format 0 one track, format 1 the header's count, any
// other format — or a missing track chunk — no tracks and a time of 0.
std::uint32_t measurePlayingTime(MidiImage song, bool* complete = nullptr);

}  // namespace brellin
