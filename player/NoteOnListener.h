// NoteOnListener: told of every note-on event (velocity 0 included) just
// before it is sent to the Synthesizer. Called on the render thread: only
// record the values (the display's level meter reads them).
#pragma once

#include <cstdint>

namespace brellin {

class NoteOnListener {
public:
    virtual ~NoteOnListener() = default;
    virtual void notify() = 0;

    std::int32_t channel = 0;  // status & 0x0F
    std::int32_t note = 0;     // first data byte & 0x7F
    std::int32_t level = 0;    // (velocity & 0x7F) × the Sequencer's volume >> 7
};

}  // namespace brellin
