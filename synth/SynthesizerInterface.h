// The seven operations through which the Sequencer and engine start-up drive
// the Synthesizer (a relay may stand in front of it).
#pragma once

#include <cstdint>

#include "output/SliceClients.h"

namespace brellin {

class SynthesizerInterface {
public:
    virtual ~SynthesizerInterface() = default;

    // Feeds the bytes one by one to the MIDI parser; always true.
    virtual bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) = 0;
    // The quiet reset; always true.
    virtual bool reset() = 0;
    // The SoundOutput's play clock in milliseconds (4 per rendered slice).
    virtual std::uint32_t outputTime() = 0;
    // A routine the render thread calls before every slice, in the order of
    // its rank; 0 when it cannot be added (no output, or its list is full).
    virtual SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) = 0;
    // Takes it out again (also from the routine itself); 0 is ignored.
    virtual void removeSliceClient(SliceClientHandle handle) = 0;
    // Master volume from the MIDI data, clamped to 0 … 128.
    virtual void setSystemVolume(std::int32_t value) = 0;
    // The player's volume setting, clamped to 0 … 128.
    virtual void setUserVolume(std::int32_t value) = 0;
    // Render thread, before the messages of one song event: how far into
    // the current slice the event falls, in microseconds of play clock
    // (0 … 4000). The synthesizer plays every event of a slice at its start
    // and ignores it; a MIDI port outside sends the event at that moment.
    virtual void setEventTime(std::uint32_t microseconds) noexcept { (void)microseconds; }
};

}  // namespace brellin
