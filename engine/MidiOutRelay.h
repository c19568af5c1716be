// MidiOutRelay: stands between the Sequencer and a MIDI port outside the
// program, so that a song plays on another synthesizer while the program's
// own render loop stays its clock.
//
// The clock and the slice clients are the SoundOutput's, through the
// Synthesizer (which then plays nothing). Each of the song's messages is
// sent to the port at its moment: the frame at which the current slice began
// plus the event's time into the slice (`setEventTime`), so the port hears
// the song within a fraction of a millisecond of the clock, not only at the
// start of its 4-ms slice. System exclusive messages, which the Sequencer
// sends in pieces, are joined first.
//
// Nothing hangs: `reset` (the Sequencer's, at every start, stop and end of a
// song) sends a note-off for every note still held, then Sustain off, All
// Notes Off and Reset All Controllers on the 16 channels, and, unless turned
// off, the General MIDI reset (F0 7E 7F 09 01 F7) so every song starts on
// a synthesizer in the same state.
//
// The volume: the port's channels get Channel Volume (controller 7) scaled
// by the user's volume: each value the song sends is sent as value × volume
// / 127, and a change of the user's volume sends every channel its scaled
// value at once (100, the General MIDI default, for channels the song has
// not set).
//
// Threads: `sendMidi` and `setEventTime` on the render thread (the
// Sequencer's tick); `reset` and `setUserVolume` on the others.
#pragma once

#include <atomic>
#include <cstdint>

#include "output/MidiEventQueue.h"
#include "output/MidiOutPort.h"
#include "output/SoundOutput.h"
#include "synth/SynthesizerInterface.h"

namespace brellin {

class MidiOutRelay : public SynthesizerInterface {
public:
    // `clock`: what keeps the play clock and the slice clients (the Synthesizer).
    MidiOutRelay(SoundOutput& output, SynthesizerInterface& clock, MidiOutPort& port, bool generalMidiReset);

    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override;
    bool reset() override;
    std::uint32_t outputTime() override { return clock.outputTime(); }
    SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) override {
        return clock.addSliceClient(call, argument, order);
    }
    void removeSliceClient(SliceClientHandle handle) override { clock.removeSliceClient(handle); }
    // The song's master volume goes to the port as the song sends it.
    void setSystemVolume(std::int32_t) override {}
    void setUserVolume(std::int32_t value) override;
    void setEventTime(std::uint32_t microseconds) noexcept override { eventTime = microseconds; }

    MidiOutPort& port() { return destination; }

private:
    void sendTimed(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    std::uint8_t scaledVolume(std::uint8_t value) const noexcept;

    SoundOutput& output;
    SynthesizerInterface& clock;
    MidiOutPort& destination;
    const bool gmReset;
    std::uint32_t eventTime = 0;  // render thread

    // A system exclusive message being joined (render thread).
    std::uint8_t sysex[MidiEventQueue::MAX_MESSAGE];
    std::uint32_t sysexLength = 0;
    bool sysexOpen = false;
    bool sysexTooLong = false;

    std::atomic<std::int32_t> userVolume{127};
    std::atomic<std::uint8_t> songVolume[16];     // the song's last Channel Volume per channel
    std::atomic<std::uint64_t> heldNotes[16][2];  // bit n: note n sounds (render thread sets)
};

}  // namespace brellin
