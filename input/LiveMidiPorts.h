// LiveMidiPorts: the live MIDI inputs a program offers, played on one
// Synthesizer: the ALSA sequencer port (where this build has ALSA) and the
// MIDI input of a sound device that has one (JACK's "midi_in"). The window
// player and brellin-synth open them the same way.
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

    // Plays what arrives on `synthesizer` and opens the ports: the sequencer
    // client named `clientName`, and the MIDI input of `device` when it has
    // one. False when no port could be opened; then nothing stays open.
    // `error()` says, in one line, why a port was skipped (also when the
    // other one opened).
    bool open(SynthesizerInterface& synthesizer, const char* clientName, AudioDevice* device = nullptr);
    // Closes the ports (the notes they hold are released) and stops playing.
    void close();
    bool isOpen() const { return live.attached(); }

    // Subscribes to a source, "CLIENT:PORT" as aconnect spells it. False with `error()`.
    bool connectFrom(const std::string& source);
    // Where other programs reach the ports, one line each
    // ("Brellin:Synth input 128:0", "JACK MIDI brellin:midi_in").
    std::string addresses() const;
    const std::string& error() const { return lastError; }

    LiveInput& input() { return live; }

private:
    LiveInput live;
    AudioDevice* midiDevice = nullptr;  // the device playing into `live`, or null
#if BRELLIN_HAVE_ALSA_SEQUENCER
    AlsaSequencerInput sequencer{live};
#endif
    std::string lastError;
};

}  // namespace brellin
