// The eight voice mixing routines: pitched and fixed-step records, each for
// 8-bit mono, 8-bit stereo, 16-bit mono and 16-bit stereo output.
//
// One template generates all eight; a voice gets its routine once, when it is
// attached and whenever it receives a record (Voice::attach, setInstrument),
// and the render thread calls it through SoundSource::mix once per slice.
// A routine advances the voice by `frames` output frames and adds its signal
// into the slice's 32-bit accumulator (two values per frame in stereo, first
// channel first), on the scale of the output width: ±128 full scale for
// 8-bit, ±32768 for 16-bit. Routines only add; nothing clips here.
//
// Pitched routines step the envelope, the tremolo and the position for every
// frame; only the 16-bit stereo routine interpolates between sample bytes
// (reading the guard byte after the last position). Fixed-step routines play
// the sample at a 16.16 step with a fixed gain until the position reaches the
// record's end position, whether or not the voice was silenced.
//
// All routines are noexcept, allocate nothing and take no lock. They work
// over stretches of frames in which no envelope stage, loop or tremolo delay
// can end, and within them over runs with a constant tremolo term (eight
// frames at a time with AVX2 where the processor has it); the result is bit
// for bit that of the plain per-frame algorithm.
#pragma once

#include <cstdint>

#include "output/SoundSource.h"

namespace brellin {

template <unsigned Width, unsigned Channels, bool FixedStep>
void mixVoice(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept;

extern template void mixVoice<8, 1, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<8, 2, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<16, 1, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<16, 2, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<8, 1, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<8, 2, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<16, 1, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
extern template void mixVoice<16, 2, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;

// Where the processor has AVX2, runs of frames with a constant tremolo term
// are mixed eight frames at a time, with exactly the same result. Switches
// that off (or on again, where available); returns whether it is now used.
// For tests and benchmarks.
bool setWideMixing(bool enabled) noexcept;

// The routine for an output of `width` bits (8, anything else counts as 16)
// and `outputChannels` channels (2 is stereo, anything else mono).
MixRoutine chooseMixRoutine(std::uint32_t width, std::uint32_t outputChannels, bool fixedStep) noexcept;

}  // namespace brellin
