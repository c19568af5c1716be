// A plain per-frame implementation of the voice mixing, one step after
// another with 64-bit arithmetic reduced to 32 bits where the machine would
// wrap. The real routines work over stretches of
// frames; the tests compare the two bit for bit.
#pragma once

#include <cstdint>

#include "synth/SynthTables.h"
#include "synth/Voice.h"

namespace brellin::test {

inline std::int32_t wrap32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// Arithmetic shift right of a 32-bit value.
inline std::int32_t sar(std::int32_t value, int amount) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(value) >> amount);
}

inline void referenceEnd(Voice& v) {
    v.stage = 0;
    v.rate = 0;
    v.target = INT32_MIN;
    v.active = false;
}

// One pitched slice, per frame.
inline void referencePitched(Voice& v, std::int32_t* acc, std::uint32_t frames, unsigned width, unsigned channels) {
    if (v.stopRequest) v.active = false;
    if (!v.active) return;
    const InstrumentRecord& r = v.record;
    const int ampShift = width == 8 ? 23 : (channels == 1 ? 22 : 21);
    const int tremoloShift = ampShift + 3;
    const int lfoRateShift = r.lfoRateShift < 0 ? 0 : (r.lfoRateShift > 24 ? 24 : r.lfoRateShift);
    const std::int32_t pan = v.pan;
    const std::int32_t volume = v.volume;
    for (std::uint32_t i = 0; i < frames; ++i) {
        // Envelope step.
        if (v.rate != 0) {
            v.level = wrap32(static_cast<std::int64_t>(v.level) + v.rate);
            const std::int32_t difference = wrap32(static_cast<std::int64_t>(v.level) - v.target);
            const bool differencePositive = difference >= 0;
            const bool ratePositive = v.rate > 0;
            if (differencePositive == ratePositive) {
                v.level = v.target.load();
                if (v.stage == 0) {
                    v.stage = 1;
                    v.rate = wrap32(-static_cast<std::int64_t>(r.decay1Rate));
                    v.target = r.decay1Level;
                    if (v.hold) v.rate = 0;
                } else if (v.stage == 1) {
                    v.stage = 2;
                    v.rate = wrap32(-static_cast<std::int64_t>(r.decay2Rate));
                    v.target = r.decay2Level;
                } else if (v.stage == 2) {
                    v.stage = 3;
                    v.rate = wrap32(-static_cast<std::int64_t>(r.decay3Rate));
                    v.target = 0;
                } else {
                    referenceEnd(v);
                    return;
                }
            }
        }
        std::int32_t amp = sar(wrap32(static_cast<std::int64_t>(v.level) * volume), ampShift);
        // Tremolo step.
        v.lfoCounter = wrap32(static_cast<std::int64_t>(v.lfoCounter) + 1);
        if (v.lfoCounter >= 0) {
            if (v.depth < v.depthTarget) v.depth = wrap32(static_cast<std::int64_t>(v.depth) + r.lfoDepthStep);
            const std::uint32_t product = static_cast<std::uint32_t>(
                (static_cast<std::uint64_t>(v.lfoClock) * static_cast<std::uint32_t>(v.lfoCounter)) & 0xFFFFFFFFu);
            const std::uint32_t index = (product >> (24 - lfoRateShift)) & 0xFF;
            amp = wrap32(static_cast<std::int64_t>(amp) +
                         sar(wrap32(static_cast<std::int64_t>(tremoloSine[index]) * v.depth), tremoloShift));
        }
        // Sample and accumulation.
        const std::uint32_t p = static_cast<std::uint32_t>(v.position >> 32);
        if (width == 16 && channels == 2) {
            const std::int64_t s0 = v.sample[p];
            const std::int64_t s1 = v.sample[static_cast<std::uint64_t>(p) + 1];
            const std::int64_t f = static_cast<std::int64_t>((v.position & 0xFFFFFFFFu) >> 16);
            const std::int32_t x = static_cast<std::int32_t>(((s1 - s0) * f + s0 * 65536) >> 10);
            const std::int32_t product = wrap32(static_cast<std::int64_t>(x) * amp);
            const std::int32_t c =
                sar(wrap32(static_cast<std::int64_t>(product) * (128 - static_cast<std::int64_t>(pan))), 7);
            acc[2 * i] =
                wrap32(static_cast<std::int64_t>(acc[2 * i]) + sar(wrap32(static_cast<std::int64_t>(product) - c), 6));
            acc[2 * i + 1] = wrap32(static_cast<std::int64_t>(acc[2 * i + 1]) + sar(c, 6));
        } else {
            const std::int64_t s = v.sample[p];
            if (width == 8 && channels == 1) {
                acc[i] = wrap32(acc[i] + static_cast<std::int64_t>(sar(wrap32(s * amp), 7)));
            } else if (width == 8) {
                const std::int32_t product = sar(wrap32(s * amp), 6);
                const std::int32_t c =
                    sar(wrap32(static_cast<std::int64_t>(product) * (128 - static_cast<std::int64_t>(pan))), 7);
                acc[2 * i] =
                    wrap32(static_cast<std::int64_t>(acc[2 * i]) + wrap32(static_cast<std::int64_t>(product) - c));
                acc[2 * i + 1] = wrap32(static_cast<std::int64_t>(acc[2 * i + 1]) + c);
            } else {
                acc[i] = wrap32(static_cast<std::int64_t>(acc[i]) + wrap32(s * amp));
            }
        }
        // Position step.
        v.position += v.step;
        std::uint32_t integer = static_cast<std::uint32_t>(v.position >> 32);
        if (integer >= r.loopEnd) {
            if (r.loopEnd > r.loopStart) {
                integer = integer - r.loopEnd + r.loopStart;
                if (integer >= r.loopEnd) integer = r.loopStart + (integer - r.loopStart) % (r.loopEnd - r.loopStart);
                v.position = (static_cast<std::uint64_t>(integer) << 32) | (v.position & 0xFFFFFFFFu);
            } else {
                referenceEnd(v);
                return;
            }
        }
    }
}

// One fixed-step slice, per frame.
inline void referenceFixedStep(Voice& v, std::int32_t* acc, std::uint32_t frames, unsigned width, unsigned channels) {
    std::int32_t g = v.volume + (v.volume >> 1);
    if (g > 127) g = 127;
    const std::uint64_t increment = static_cast<std::uint64_t>(static_cast<std::int64_t>(v.stage) * 65536);
    const std::int64_t pan = v.pan;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::uint32_t p = static_cast<std::uint32_t>(v.position >> 32);
        if (p >= v.record.cycleLength) {
            v.active = false;
            return;
        }
        const std::int64_t s = v.sample[p];
        if (width == 8) {
            const std::int32_t value = sar(static_cast<std::int32_t>(s * g), 7);
            if (channels == 1) {
                acc[i] = wrap32(static_cast<std::int64_t>(acc[i]) + value);
            } else {
                const std::int32_t c = sar(wrap32(value * (128 - pan)), 7);
                acc[2 * i] = wrap32(static_cast<std::int64_t>(acc[2 * i]) + value - c);
                acc[2 * i + 1] = wrap32(static_cast<std::int64_t>(acc[2 * i + 1]) + c);
            }
        } else {
            const std::int32_t value = static_cast<std::int32_t>(2 * s * g);
            if (channels == 1) {
                acc[i] = wrap32(static_cast<std::int64_t>(acc[i]) + value);
            } else {
                const std::int32_t c = sar(wrap32(value * (128 - pan)), 7);
                acc[2 * i] =
                    wrap32(static_cast<std::int64_t>(acc[2 * i]) + wrap32(static_cast<std::int64_t>(value) - c));
                acc[2 * i + 1] = wrap32(static_cast<std::int64_t>(acc[2 * i + 1]) + c);
            }
        }
        v.position += increment;
    }
}

inline void referenceMix(Voice& v, std::int32_t* acc, std::uint32_t frames, unsigned width, unsigned channels) {
    if (v.record.fixedStep != 0) {
        referenceFixedStep(v, acc, frames, width, channels);
    } else {
        referencePitched(v, acc, frames, width, channels);
    }
}

}  // namespace brellin::test
