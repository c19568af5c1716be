#include "engine/MidiOut.h"

#include <cstdlib>

#if BRELLIN_HAVE_ALSA_SEQUENCER
#include "input/AlsaSequencerOutput.h"
#endif
#if BRELLIN_HAVE_JACK
#include "output/devices/JackDevice.h"
#endif

namespace brellin {

bool jackMidiOutPort(const std::string& spelling, std::string& port) {
    if (spelling.rfind("jack:", 0) != 0) return false;
    port = spelling.substr(5);
    return true;
}

std::string midiOutFromEnvironment(const std::string& configured) {
    const char* variable = std::getenv(MIDI_OUT_VARIABLE);
    std::string chosen = variable != nullptr ? variable : configured;
    return chosen == "builtin" ? std::string() : chosen;
}

std::vector<MidiOutChoice> midiOutChoices() {
    std::vector<MidiOutChoice> choices;
#if BRELLIN_HAVE_ALSA_SEQUENCER
    for (const std::string& port : AlsaSequencerOutput::listPorts()) {
        // "NAME CLIENT:PORT": the address is the last word.
        const std::size_t space = port.rfind(' ');
        const std::string address = space == std::string::npos ? port : port.substr(space + 1);
        const std::string name = space == std::string::npos ? port : port.substr(0, space);
        choices.push_back({address, address + " (" + name + ")"});
    }
#endif
#if BRELLIN_HAVE_JACK
    for (const std::string& port : jackMidiInputPorts()) {
        if (port.rfind("brellin", 0) == 0) continue;  // our own input
        choices.push_back({"jack:" + port, "jack:" + port});
    }
#endif
    return choices;
}

std::string midiOutChoiceText() {
    std::string text;
    for (const MidiOutChoice& choice : midiOutChoices()) text += (text.empty() ? "" : ", ") + choice.label;
    return text.empty() ? "none" : text;
}

}  // namespace brellin
