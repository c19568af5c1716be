// SequencerDecoder: turns ALSA sequencer events into the MIDI messages a
// LiveInput plays.
//
// Note, controller, program, pressure and pitch-bend events become their
// channel messages (always with their status byte, never running status).
// System exclusive data may come in several events (a long dump from a
// keyboard's MIDI port arrives in pieces); the decoder joins them from F0 to
// F7 and hands over the whole message, or drops it whole when it grows past
// the LiveInput's limit. A subscription that ends (the source went away, or
// was disconnected) releases the notes the input holds, so none hangs.
// Everything else (clock, start/stop, port announcements) is passed over.
//
// Needs no sequencer: the decoding runs on events a test builds itself.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>
#include <vector>

#include "player/LiveInput.h"

namespace brellin {

class SequencerDecoder {
public:
    explicit SequencerDecoder(LiveInput& input);
    ~SequencerDecoder();
    SequencerDecoder(const SequencerDecoder&) = delete;
    SequencerDecoder& operator=(const SequencerDecoder&) = delete;

    // Hands what `event` carries to the input.
    void decode(const snd_seq_event_t& event);

    // System exclusive messages dropped for their size, since construction.
    std::uint64_t oversized() const { return oversizedCount; }

private:
    void systemExclusive(const std::uint8_t* bytes, std::uint32_t length);

    LiveInput& input;
    snd_midi_event_t* parser = nullptr;
    std::vector<std::uint8_t> pending;  // a system exclusive message being joined
    bool discarding = false;            // the pending message grew too long: skip to its F7
    std::uint64_t oversizedCount = 0;
};

}  // namespace brellin
