// The built-in General MIDI sound font ("small.brf"): 128 melodic programs
// and one drum kit for keys 27 to 87 (General MIDI's 35 to 81 and the GS
// extensions around them), every waveform synthesized here
// (additive, FM, plucked-string and filtered-noise models; no recorded
// material). brf-tool's `synth` command writes it; the build runs that
// command so that every build folder holds a working default font.
//
// The result is deterministic: the same bytes on every build and machine.
// Waveforms use only IEEE basic arithmetic (+ − × / and floor, this file is
// compiled without floating-point contraction), this file's own sine and
// exponential series instead of the C library's, and a fixed-seed LCG for
// noise.
//
// Pitch: every pitched record's waveform repeats exactly every
// `cycleLength` samples at its nominal pitch, so the Voice's step
// (cycleLength × frequency / output rate) plays key 69 at 440 Hz at every
// output rate. Loops hold at least two periods, so even the fastest step
// (key 127, 11025 Hz) stays below the loop length.
//
// Levels: program samples peak near full 8-bit scale and attack levels sit
// near 7.5 × 10^6, so that a note at velocity 100 on a channel at volume 100
// (voice volume 18) peaks near −18 dBFS in 16-bit output. Drum samples peak
// near 50 (a stroke near −22 dBFS): a drum's energy sits as far under a
// melodic note's as in the common General MIDI fonts, about 8.6 dB over
// every program and every key at one velocity.
#pragma once

#include "soundfont/SoundFontWriter.h"

namespace brellin {

// Fills `writer` (a fresh one) with the General MIDI font, "BRF1", one kit.
void buildGeneralMidiFont(SoundFontWriter& writer);

// General MIDI program names, 0 … 127 ("Acoustic Grand Piano" …), and drum
// names for keys 27 … 87 (nullptr for other keys).
const char* generalMidiProgramName(int program);
const char* generalMidiDrumName(int key);

}  // namespace brellin
