#include "input/LiveMidiPorts.h"

namespace brellin {

bool LiveMidiPorts::open(SynthesizerInterface& synthesizer, const char* clientName, AudioDevice* device) {
    close();
    lastError.clear();
    if (!live.attach(synthesizer)) {
        lastError = "the live MIDI input cannot be attached to the engine";
        return false;
    }
    if (device != nullptr && device->setMidiReceiver(&live)) midiDevice = device;
#if BRELLIN_HAVE_ALSA_SEQUENCER
    const bool sequencerOpen = sequencer.open(clientName);
    if (!sequencerOpen) lastError = sequencer.error();
#else
    (void)clientName;
    const bool sequencerOpen = false;
    lastError = "this build has no ALSA sequencer support: the MIDI input port is not offered";
#endif
    if (sequencerOpen || midiDevice != nullptr) return true;
    live.detach();
    return false;
}

void LiveMidiPorts::close() {
#if BRELLIN_HAVE_ALSA_SEQUENCER
    sequencer.close();
#endif
    if (midiDevice != nullptr) midiDevice->setMidiReceiver(nullptr);
    midiDevice = nullptr;
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
    std::string lines;
#if BRELLIN_HAVE_ALSA_SEQUENCER
    if (sequencer.isOpen()) lines += sequencer.address() + "\n";
#endif
    if (midiDevice != nullptr) {
        // The device's ports, the MIDI input last.
        const std::string ports = midiDevice->portNames();
        const std::size_t last = ports.rfind(' ');
        if (!ports.empty()) lines += "JACK MIDI " + ports.substr(last == std::string::npos ? 0 : last + 1) + "\n";
    }
    return lines;
}

}  // namespace brellin
