// MidiOut: how users name the MIDI port a song plays on instead of the
// built-in synthesizer, and the ports there are to choose from.
//
//   jack:CLIENT:PORT   a JACK MIDI input ("jack:fluidsynth:midi_00"); the
//                      songs then run on the JACK server's clock
//   anything else      an ALSA sequencer port by address or name ("128:0",
//                      "FLUID Synth", "FLUID Synth:0"); the paced null
//                      device is then the clock
//
// Empty, or "builtin", is the built-in synthesizer. brellin-render takes it
// from --midi-out, both programs from BRELLIN_MIDI_OUT, the window from
// the settings' MidiOut.
#pragma once

#include <string>
#include <vector>

namespace brellin {

inline constexpr const char* MIDI_OUT_VARIABLE = "BRELLIN_MIDI_OUT";

// `spelling` names a JACK port; `port` gets "CLIENT:PORT".
bool jackMidiOutPort(const std::string& spelling, std::string& port);
// BRELLIN_MIDI_OUT when it is set, else `configured`; "builtin" turns into "".
std::string midiOutFromEnvironment(const std::string& configured);

struct MidiOutChoice {
    std::string spelling;  // as --midi-out and the settings take it
    std::string label;     // as a list shows it
};
// The ports a song can be sent to now: the ALSA sequencer's (where there is
// one) and the JACK server's MIDI inputs (where one runs).
std::vector<MidiOutChoice> midiOutChoices();
// The same as one line for a message: "128:0 (FLUID Synth), jack:fluidsynth:midi_00"; "none" when empty.
std::string midiOutChoiceText();

}  // namespace brellin
