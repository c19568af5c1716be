// MidiOutPort: a MIDI port outside the program that plays a song in place of
// the built-in synthesizer: an ALSA sequencer port (a hardware module, a
// soft synth) or a JACK MIDI input.
//
// Time is the output's stream of frames (SoundOutput::streamFrame): a
// message due at frame F leaves when frame F would be heard, so its timing
// is that of the sound the built-in synthesizer would have rendered, not of
// the moment the render thread got to it. Each port maps frames onto its own
// clock (the JACK period, the sequencer queue's real time) at a fixed
// delay.
//
// Threads: `sendAt` on the render thread only (no allocation, lock or system
// call: it queues); `sendNow` and `lost` from any other thread.
#pragma once

#include <cstdint>
#include <string>

namespace brellin {

class MidiOutPort {
public:
    virtual ~MidiOutPort() = default;

    // A whole message (running status resolved; system exclusive from F0 to
    // F7) due at `frame`. Render thread. Dropped, and counted, when the
    // port's queue is full.
    virtual void sendAt(const std::uint8_t* bytes, std::uint32_t length, std::uint64_t frame) noexcept = 0;
    // Any other thread: a message that goes out as soon as it can, but after
    // everything `sendAt` was given before it (so a reset's note-offs never
    // come before the song's last note-ons).
    virtual void sendNow(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // True once the destination (or its server) has gone away; `lostReason` says how.
    virtual bool lost() const = 0;
    virtual std::string lostReason() const = 0;
    // What the port is connected to, for messages ("jack:fluidsynth:midi_00", "FLUID Synth 128:0").
    virtual std::string destination() const = 0;
    // Waits (at most `milliseconds`) until what `sendNow` queued has gone
    // out, so that closing the device next does not cut it off.
    virtual void flush(std::uint32_t milliseconds) { (void)milliseconds; }
    // Messages dropped because the queue was full, since opening.
    virtual std::uint64_t dropped() const { return 0; }
};

}  // namespace brellin
