// EngineConfig: everything an engine start builds from, as one value: the
// output format, the voices, the effects, the volume and where the sound
// font is. The player builds it from its Settings (`engineConfigFrom`);
// brellin-render builds it from its options directly.
#pragma once

#include <cstdint>
#include <string>

#include "settings/Settings.h"

namespace brellin {

struct EngineConfig {
    std::uint32_t rate = 22050;  // Hz: 11025 … 48000 (a JACK server decides its own)
    std::uint32_t bits = 8;      // 8 or 16
    std::uint32_t channels = 2;  // 1 or 2
    std::uint32_t voices = 32;   // 4 … 32
    bool reverb = false;
    std::int32_t reverbLevel = 1;  // 1 … 6; kept while the reverb is off
    bool lowPass = false;
    std::int32_t volume = 127;  // 0 … 127
    // Milliseconds of sound the output's ring holds (SoundOutput::setLatency);
    // 0: the ring songs use (512 ms).
    std::uint32_t latency = 0;
    // The folder searched for the sound font (ending in '/'); empty: the
    // program's data folder.
    std::string soundFontFolder;
    std::string soundFontName = "small.brf";
    // Songs play on this MIDI port instead of the built-in synthesizer
    // (engine/MidiOut.h spells it); empty: the built-in synthesizer.
    std::string midiOut;
    bool midiOutGmReset = true;  // a General MIDI reset before each song on that port

    // 11025 Hz, 8 bit, mono, 8 voices: what is tried when a device refuses
    // the configured format.
    void useFallbackFormat();
};

// The configuration the Settings describe (the sound-font folder is left
// to the engine). BRELLIN_MIDI_OUT, when set, names the MIDI port in place
// of the Settings' MidiOut ("builtin": the built-in synthesizer).
EngineConfig engineConfigFrom(const Settings& settings);

}  // namespace brellin
