#include "input/LiveMidiPorts.h"

namespace brellin {

bool LiveMidiPorts::open(SynthesizerInterface& synthesizer, const char* clientName) {
    close();
    lastError.clear();
    if (!live.attach(synthesizer)) {
        lastError = "the live MIDI input cannot be attached to the engine";
        return false;
    }
#if BRELLIN_HAVE_ALSA_SEQUENCER
    if (sequencer.open(clientName)) return true;
    lastError = sequencer.error();
#else
    (void)clientName;
    lastError = "this build has no ALSA sequencer support: the MIDI input port is not offered";
#endif
    live.detach();
    return false;
}

void LiveMidiPorts::close() {
#if BRELLIN_HAVE_ALSA_SEQUENCER
    sequencer.close();
#endif
    live.detach();
}

bool LiveMidiPorts::connectFrom(const std::string& source) {
#if BRELLIN_HAVE_ALSA_SEQUENCER
    if (sequencer.connectFrom(source)) return true;
    lastError = sequencer.error();
#else
    lastError = "cannot connect " + source + ": this build has no ALSA sequencer support";
#endif
    return false;
}

std::string LiveMidiPorts::addresses() const {
#if BRELLIN_HAVE_ALSA_SEQUENCER
    if (sequencer.isOpen()) return sequencer.address() + "\n";
#endif
    return {};
}

}  // namespace brellin
