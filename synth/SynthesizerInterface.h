// The six operations through which the Sequencer and engine start-up drive
// the Synthesizer (a relay may stand in front of it).
#pragma once

#include <cstdint>

#include "output/ClockCallback.h"

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
    // Installs the routine the render thread calls before every slice and
    // hands out the previous pair where an out-parameter is given.
    virtual void setClockCallback(ClockCallback callback, void* argument, ClockCallback* oldCallback,
                                  void** oldArgument) = 0;
    // Master volume from the MIDI data, clamped to 0 … 128.
    virtual void setSystemVolume(std::int32_t value) = 0;
    // The player's volume setting, clamped to 0 … 128.
    virtual void setUserVolume(std::int32_t value) = 0;
};

}  // namespace brellin
