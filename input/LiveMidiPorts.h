// LiveMidiPorts: the live MIDI inputs a program offers, played on one
// Synthesizer: today the ALSA sequencer port (where this build has ALSA).
// The window player and brellin-synth open them the same way.
//
// User-interface thread.
#pragma once

#include <string>

#include "player/LiveInput.h"
#include "synth/SynthesizerInterface.h"

#if BRELLIN_HAVE_ALSA_SEQUENCER
#include "input/AlsaSequencerInput.h"
#endif

namespace brellin {

class LiveMidiPorts {
public:
    LiveMidiPorts() = default;
    ~LiveMidiPorts() { close(); }
    LiveMidiPorts(const LiveMidiPorts&) = delete;
    LiveMidiPorts& operator=(const LiveMidiPorts&) = delete;

    // Plays what arrives on `synthesizer` and opens the ports, the sequencer
    // client named `clientName`. False, with `error()` in one line, when no
    // port could be opened; then nothing stays open.
    bool open(SynthesizerInterface& synthesizer, const char* clientName);
    // Closes the ports (the notes they hold are released) and stops playing.
    void close();
    bool isOpen() const { return live.attached(); }

    // Subscribes to a source, "CLIENT:PORT" as aconnect spells it. False with `error()`.
    bool connectFrom(const std::string& source);
    // Where other programs reach the ports, one line each
    // ("Brellin:Synth input 128:0").
    std::string addresses() const;
    const std::string& error() const { return lastError; }

    LiveInput& input() { return live; }

private:
    LiveInput live;
#if BRELLIN_HAVE_ALSA_SEQUENCER
    AlsaSequencerInput sequencer{live};
#endif
    std::string lastError;
};

}  // namespace brellin
