// The two constant tables of the synthesizer.
//
// noteFrequencies: for MIDI key n = 0 … 127, floor(440 × 128 × 2^((n − 69) / 12)),
// the key's frequency in Hz with 7 fractional bits (key 69: 56320 = 440 × 128).
// The Synthesizer hands these values (possibly bent) to Voice::noteOn.
//
// tremoloSine: 256 entries, floor(−127 × cos(2π × i / 256)) taken exactly
// (entries 64 and 192 are 0): −127 at entry 0, 127 at entry 128. The pitched
// mix routines scale it by the tremolo depth.
#pragma once

#include <cstdint>

namespace brellin {

extern const std::uint32_t noteFrequencies[128];
extern const std::int32_t tremoloSine[256];

}  // namespace brellin
