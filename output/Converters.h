// The twelve conversion routines: accumulator slice → 8- or 16-bit PCM,
// with the reverb and the low-pass filter on the way.
//
// The render thread calls the selected routine once per slice, after every
// source has added its samples into the 32-bit accumulator (one value per
// output sample, first channel first in stereo, on the scale of the output
// width: ±128 for 8-bit, ±32768 for 16-bit). The routine clips and writes
// `count` samples and returns the position after them. 8-bit output is
// unsigned (silence 128), 16-bit output signed little-endian.
//
// All routines come from one template over width, reverb, filter and
// channel count, instantiated twelve times and picked once by
// `selectConverter`; no per-sample test of format or flags remains.
#pragma once

#include <atomic>
#include <cstdint>

namespace brellin {

// Effect state shared by the routines (held by the SoundOutput). Only the
// render thread runs the routines; `reverbLevel` may be changed by another
// thread at any time and is read once per slice.
struct ConversionState {
    static constexpr std::uint32_t REVERB_LINE_LENGTH = 8192;
    static constexpr std::uint32_t FILTER_HISTORY_LENGTH = 16;

    // Delay line of the reverb; interleaved in stereo, so each channel feeds back into itself.
    std::int32_t reverbLine[REVERB_LINE_LENGTH] = {};
    // Ring of the most recent accumulator values the filter has seen.
    std::int32_t filterHistory[FILTER_HISTORY_LENGTH] = {};
    std::uint32_t reverbIndex = 0;  // read and write position in reverbLine
    std::uint32_t filterIndex = 0;  // ring position of the next value, 0 … 15
    // The last position of the delay line in use, its length − 1:
    // channels × (rate × 512 / 11025) − 1, that is 511, 1023 or 2047 mono and
    // 1023, 2047 or 4095 stereo at the classic rates, 4457 stereo at
    // 48000 Hz (always 46.4 ms).
    std::uint32_t reverbLast = 511;
    // Feedback of the reverb in eighths, 1 … 6.
    std::atomic<std::int32_t> reverbLevel{4};
};

// Writes `count` samples for the `count` accumulator values and returns the
// position after them. A count of 0 or less writes nothing and returns `out`.
// The routines work in groups of 4 (8-bit) or 2 (16-bit) values stored as one
// little-endian word; a count that is not a multiple of that finishes the
// remaining values one by one (every count the SoundOutput uses is a multiple of 4).
using ConverterRoutine = std::uint8_t* (*)(ConversionState& state, std::uint8_t* out, const std::int32_t* accumulator,
                                           std::int32_t count) noexcept;

// The selection table: width (8, any other value 16), reverb, filter,
// channel count (1 mono, 2 stereo; only the filter variants differ).
ConverterRoutine selectConverter(std::uint32_t bitsPerSample, bool reverbOn, bool lowPassOn,
                                 std::uint32_t channels) noexcept;

// All twelve routines in table order, for tests and benchmarks.
struct ConverterEntry {
    const char* name;  // "plain8", "filterStereoReverb16", …
    std::uint32_t bitsPerSample;
    bool reverb;
    bool filter;
    std::uint32_t channels;  // 0 when mono and stereo share the routine
    ConverterRoutine routine;
};
const ConverterEntry* converterTable(int* count) noexcept;

}  // namespace brellin
