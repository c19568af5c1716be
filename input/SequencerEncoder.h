// SequencerEncoder: turns one whole MIDI message into an ALSA sequencer
// event, the reverse of the SequencerDecoder: a song's channel messages and
// its system exclusive messages, as the Sequencer sends them (always with
// their status byte).
//
// Needs no sequencer: it only fills in the event.
#pragma once

#include <alsa/asoundlib.h>

#include <cstdint>

namespace brellin {

// Fills `event`'s type and data for the message (`bytes` stay referenced by a
// system exclusive event: keep them until it is sent). Source, destination
// and time are left to the caller. False for a message the sequencer has no
// event for here (a real-time or common system message, a short message).
bool encodeSequencerEvent(const std::uint8_t* bytes, std::uint32_t length, snd_seq_event_t& event) noexcept;

}  // namespace brellin
