#include "synth/MixRoutines.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "synth/SynthTables.h"
#include "synth/Voice.h"

namespace brellin {

namespace {

// Signed 32-bit arithmetic that wraps like the machine does: extreme record
// values may overflow a product or a sum, which must not be undefined.
inline std::int32_t wrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapNeg(std::int32_t a) { return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a)); }

constexpr std::uint32_t UNLIMITED = 0xFFFFFFFFu;

// Shifts of the pitched family. The envelope level times the volume (at most
// 2^31) is scaled to an amplitude by `ampShift`; the tremolo term
// (sine × depth) by `tremoloShift`. The sample times amp lands on the
// accumulator's scale: 8-bit mono (s × amp) >> 7, 16-bit mono s × amp,
// 16-bit stereo the interpolated sample × 64 times amp, >> 6.
template <unsigned Width, unsigned Channels>
struct PitchedFormat {
    static constexpr int ampShift = Width == 8 ? 23 : (Channels == 1 ? 22 : 21);
    static constexpr int tremoloShift = ampShift + 3;
};

// Adds one frame of a pitched voice: `amp` is the frame's amplitude,
// `panComplement` 128 − pan (pan 0 puts everything into the second channel).
template <unsigned Width, unsigned Channels>
inline void addPitchedFrame(std::int32_t* out, const std::int8_t* sample, std::uint64_t position, std::int32_t amp,
                            std::int32_t panComplement) {
    const std::uint32_t p = static_cast<std::uint32_t>(position >> 32);
    if constexpr (Width == 16 && Channels == 2) {
        const std::int32_t s0 = sample[p];
        const std::int32_t s1 = sample[static_cast<std::size_t>(p) + 1];
        // 16 bits of the fraction; x is the interpolated sample times 64.
        const std::int32_t f = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) >> 16);
        const std::int32_t x = ((s1 - s0) * f + s0 * 65536) >> 10;
        const std::int32_t v = wrapMul(x, amp);
        const std::int32_t c = wrapMul(v, panComplement) >> 7;
        out[0] = wrapAdd(out[0], wrapSub(v, c) >> 6);
        out[1] = wrapAdd(out[1], c >> 6);
    } else {
        const std::int32_t s = sample[p];
        if constexpr (Width == 8 && Channels == 1) {
            out[0] = wrapAdd(out[0], wrapMul(s, amp) >> 7);
        } else if constexpr (Width == 8) {
            const std::int32_t v = wrapMul(s, amp) >> 6;
            const std::int32_t c = wrapMul(v, panComplement) >> 7;
            out[0] = wrapAdd(out[0], wrapSub(v, c));
            out[1] = wrapAdd(out[1], c);
        } else {
            out[0] = wrapAdd(out[0], wrapMul(s, amp));
        }
    }
}

// The working state of a pitched voice during one slice, held in registers
// and written back at the end.
struct PitchedState {
    std::int32_t level;
    std::int32_t rate;
    std::int32_t target;
    std::int32_t stage;
    std::int32_t lfoCounter;
    std::int32_t depth;
    std::uint64_t position;
};

// What a slice reads but never changes.
struct PitchedConstants {
    const InstrumentRecord* record;
    const std::int8_t* sample;
    std::int32_t volume;
    std::int32_t panComplement;  // 128 − pan
    bool hold;
    std::uint64_t step;
    std::uint32_t lfoClock;
    int lfoShift;  // 24 − lfoRateShift, 0 … 24
    std::int32_t depthTarget;
};

// Ends the voice the way both the envelope and a loop-less sample end it.
inline void endVoice(PitchedState& s) {
    s.stage = Voice::STAGE_ATTACK;
    s.rate = 0;
    s.target = Voice::TARGET_ENDED;
}

// One frame, in the plain order every routine must match bit for bit:
// envelope step, amplitude, tremolo step, sample, position step. False when the voice ended
// (in the envelope step before the frame was mixed, or in the position step after).
template <unsigned Width, unsigned Channels>
inline bool mixPitchedFrame(PitchedState& s, const PitchedConstants& k, std::int32_t* out) {
    using Format = PitchedFormat<Width, Channels>;
    const InstrumentRecord& r = *k.record;
    if (s.rate != 0) {
        s.level = wrapAdd(s.level, s.rate);
        // A stage ends when level − target has the sign of rate (0 counting as positive).
        if ((wrapSub(s.level, s.target) ^ s.rate) >= 0) {
            s.level = s.target;
            switch (s.stage) {
                case Voice::STAGE_ATTACK:
                    s.stage = Voice::STAGE_DECAY1;
                    s.rate = k.hold ? 0 : wrapNeg(r.decay1Rate);
                    s.target = r.decay1Level;
                    break;
                case Voice::STAGE_DECAY1:
                    s.stage = Voice::STAGE_DECAY2;
                    s.rate = wrapNeg(r.decay2Rate);
                    s.target = r.decay2Level;
                    break;
                case Voice::STAGE_DECAY2:
                    s.stage = Voice::STAGE_DECAY3;
                    s.rate = wrapNeg(r.decay3Rate);
                    s.target = 0;
                    break;
                default: endVoice(s); return false;
            }
        }
    }
    std::int32_t amp = wrapMul(s.level, k.volume) >> Format::ampShift;
    s.lfoCounter = wrapAdd(s.lfoCounter, 1);
    if (s.lfoCounter >= 0) {
        if (s.depth < k.depthTarget) s.depth = wrapAdd(s.depth, r.lfoDepthStep);
        const std::uint32_t index = ((k.lfoClock * static_cast<std::uint32_t>(s.lfoCounter)) >> k.lfoShift) & 0xFF;
        amp = wrapAdd(amp, wrapMul(tremoloSine[index], s.depth) >> Format::tremoloShift);
    }
    addPitchedFrame<Width, Channels>(out, k.sample, s.position, amp, k.panComplement);
    s.position += k.step;
    std::uint32_t p = static_cast<std::uint32_t>(s.position >> 32);
    if (p >= r.loopEnd) {
        if (r.loopEnd <= r.loopStart) {
            endVoice(s);
            return false;
        }
        p = p - r.loopEnd + r.loopStart;
        // A step longer than the loop would leave the position past loopEnd
        // after one wrap; fold it into the loop so no read leaves the sample.
        if (p >= r.loopEnd) p = r.loopStart + (p - r.loopStart) % (r.loopEnd - r.loopStart);
        s.position = (static_cast<std::uint64_t>(p) << 32) | (s.position & 0xFFFFFFFFu);
    }
    return true;
}

// Frames whose envelope step cannot end the current stage.
inline std::uint32_t framesBeforeStageEnd(const PitchedState& s) {
    if (s.rate == 0) return UNLIMITED;
    const std::int64_t difference = static_cast<std::int64_t>(s.level) - s.target;
    // Outside 32 bits the wrapped comparison decides: leave it to the per-frame step.
    if (difference < INT32_MIN || difference > INT32_MAX) return 0;
    std::int64_t frames;
    if (s.rate > 0) {
        frames = difference >= 0 ? 0 : (-difference - 1) / s.rate;
    } else {
        frames = difference < 0 ? 0 : difference / -static_cast<std::int64_t>(s.rate);
    }
    return static_cast<std::uint32_t>(std::min<std::int64_t>(frames, UNLIMITED));
}

// Frames whose position step cannot reach loopEnd.
inline std::uint32_t framesBeforeLoopEnd(const PitchedState& s, const PitchedConstants& k) {
    if (k.step == 0) return UNLIMITED;
    const std::uint64_t end = static_cast<std::uint64_t>(k.record->loopEnd) << 32;
    if (s.position >= end) return 0;
    const std::uint64_t frames = (end - s.position - 1) / k.step;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, UNLIMITED));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define BRELLIN_MIX_AVX2 1

// Whether the processor has AVX2, asked once at start-up, and whether the
// routines use it (tests switch it off to check the plain path).
const bool cpuHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
std::atomic<bool> useAvx2{cpuHasAvx2};

// The sample byte at the position's integer part, or for the interpolating
// routine that byte and the next (little-endian in the low 16 bits); then
// the position advances by one step.
template <bool Pair>
inline std::int32_t fetchSample(const std::int8_t* sample, std::uint64_t& position, std::uint64_t step) {
    const std::size_t p = static_cast<std::size_t>(position >> 32);
    position += step;
    if constexpr (Pair) {
        std::uint16_t pair;
        std::memcpy(&pair, sample + p, sizeof pair);
        return pair;
    } else {
        return sample[p];
    }
}

// Eight frames at a time of a run (`count` a multiple of 8) with AVX2: the
// same 32-bit wrapping products and arithmetic shifts as addPitchedFrame,
// lane by lane. The sample bytes are fetched with scalar loads (two bytes
// for the interpolating routine), so nothing is read that the per-frame
// routine does not read. `scaled` is level × volume before the first frame
// and advances by `scaledStep` per frame (0 for a held level).
template <unsigned Width, unsigned Channels>
__attribute__((target("avx2"))) void mixRunAvx2(std::int32_t* out, const std::int8_t* sample, std::uint64_t& position,
                                                std::uint64_t step, std::int32_t scaled, std::int32_t scaledStep,
                                                std::int32_t term, std::int32_t panComplement, std::uint32_t count) {
    using Format = PitchedFormat<Width, Channels>;
    constexpr bool interpolate = Width == 16 && Channels == 2;
    const __m256i lane = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8);
    __m256i scaledV =
        _mm256_add_epi32(_mm256_set1_epi32(scaled), _mm256_mullo_epi32(lane, _mm256_set1_epi32(scaledStep)));
    const __m256i scaledAdvance = _mm256_set1_epi32(wrapMul(scaledStep, 8));
    const __m256i termV = _mm256_set1_epi32(term);
    const __m256i panV = _mm256_set1_epi32(panComplement);
    // Low words of the eight positions, for the interpolation fraction.
    const std::uint32_t stepLow = static_cast<std::uint32_t>(step);
    __m256i lowV = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(position))),
                                    _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                                       _mm256_set1_epi32(static_cast<std::int32_t>(stepLow))));
    const __m256i lowAdvance = _mm256_set1_epi32(static_cast<std::int32_t>(stepLow * 8u));
    std::uint64_t q = position;
    for (std::uint32_t j = 0; j < count; j += 8) {
        // Built in registers: a round trip through memory would stall the
        // vector load on the eight scalar stores.
        __m128i a = _mm_cvtsi32_si128(fetchSample<interpolate>(sample, q, step));
        a = _mm_insert_epi32(a, fetchSample<interpolate>(sample, q, step), 1);
        a = _mm_insert_epi32(a, fetchSample<interpolate>(sample, q, step), 2);
        a = _mm_insert_epi32(a, fetchSample<interpolate>(sample, q, step), 3);
        __m128i b = _mm_cvtsi32_si128(fetchSample<interpolate>(sample, q, step));
        b = _mm_insert_epi32(b, fetchSample<interpolate>(sample, q, step), 1);
        b = _mm_insert_epi32(b, fetchSample<interpolate>(sample, q, step), 2);
        b = _mm_insert_epi32(b, fetchSample<interpolate>(sample, q, step), 3);
        const __m256i words = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
        const __m256i amp = _mm256_add_epi32(_mm256_srai_epi32(scaledV, Format::ampShift), termV);
        scaledV = _mm256_add_epi32(scaledV, scaledAdvance);
        std::int32_t* frame = out + static_cast<std::size_t>(j) * Channels;
        if constexpr (interpolate) {
            const __m256i s0 = _mm256_srai_epi32(_mm256_slli_epi32(words, 24), 24);
            const __m256i s1 = _mm256_srai_epi32(_mm256_slli_epi32(words, 16), 24);
            const __m256i f = _mm256_srli_epi32(lowV, 16);
            lowV = _mm256_add_epi32(lowV, lowAdvance);
            const __m256i x = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(s1, s0), f), _mm256_slli_epi32(s0, 16)), 10);
            const __m256i v = _mm256_mullo_epi32(x, amp);
            const __m256i c = _mm256_srai_epi32(_mm256_mullo_epi32(v, panV), 7);
            const __m256i first = _mm256_srai_epi32(_mm256_sub_epi32(v, c), 6);
            const __m256i second = _mm256_srai_epi32(c, 6);
            const __m256i low = _mm256_unpacklo_epi32(first, second);   // frames 0 1 | 4 5
            const __m256i high = _mm256_unpackhi_epi32(first, second);  // frames 2 3 | 6 7
            __m256i* target = reinterpret_cast<__m256i*>(frame);
            _mm256_storeu_si256(
                target, _mm256_add_epi32(_mm256_loadu_si256(target), _mm256_permute2x128_si256(low, high, 0x20)));
            _mm256_storeu_si256(target + 1, _mm256_add_epi32(_mm256_loadu_si256(target + 1),
                                                             _mm256_permute2x128_si256(low, high, 0x31)));
        } else if constexpr (Channels == 2) {
            const __m256i v = _mm256_srai_epi32(_mm256_mullo_epi32(words, amp), 6);
            const __m256i c = _mm256_srai_epi32(_mm256_mullo_epi32(v, panV), 7);
            const __m256i first = _mm256_sub_epi32(v, c);
            const __m256i low = _mm256_unpacklo_epi32(first, c);
            const __m256i high = _mm256_unpackhi_epi32(first, c);
            __m256i* target = reinterpret_cast<__m256i*>(frame);
            _mm256_storeu_si256(
                target, _mm256_add_epi32(_mm256_loadu_si256(target), _mm256_permute2x128_si256(low, high, 0x20)));
            _mm256_storeu_si256(target + 1, _mm256_add_epi32(_mm256_loadu_si256(target + 1),
                                                             _mm256_permute2x128_si256(low, high, 0x31)));
        } else {
            __m256i add = _mm256_mullo_epi32(words, amp);
            if constexpr (Width == 8) add = _mm256_srai_epi32(add, 7);
            __m256i* target = reinterpret_cast<__m256i*>(frame);
            _mm256_storeu_si256(target, _mm256_add_epi32(_mm256_loadu_si256(target), add));
        }
    }
    position = q;
}

// Eight frames at a time of a fixed-step voice with gain `g` (`count` a multiple of 8).
template <unsigned Width, unsigned Channels>
__attribute__((target("avx2"))) void mixFixedAvx2(std::int32_t* out, const std::int8_t* sample, std::uint64_t& position,
                                                  std::uint64_t increment, std::int32_t g, std::int32_t panComplement,
                                                  std::uint32_t count) {
    const __m256i gain = _mm256_set1_epi32(Width == 8 ? g : 2 * g);
    const __m256i panV = _mm256_set1_epi32(panComplement);
    std::uint64_t q = position;
    for (std::uint32_t j = 0; j < count; j += 8) {
        __m128i a = _mm_cvtsi32_si128(fetchSample<false>(sample, q, increment));
        a = _mm_insert_epi32(a, fetchSample<false>(sample, q, increment), 1);
        a = _mm_insert_epi32(a, fetchSample<false>(sample, q, increment), 2);
        a = _mm_insert_epi32(a, fetchSample<false>(sample, q, increment), 3);
        __m128i b = _mm_cvtsi32_si128(fetchSample<false>(sample, q, increment));
        b = _mm_insert_epi32(b, fetchSample<false>(sample, q, increment), 1);
        b = _mm_insert_epi32(b, fetchSample<false>(sample, q, increment), 2);
        b = _mm_insert_epi32(b, fetchSample<false>(sample, q, increment), 3);
        const __m256i s = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
        __m256i v = _mm256_mullo_epi32(s, gain);
        if constexpr (Width == 8) v = _mm256_srai_epi32(v, 7);
        __m256i* target = reinterpret_cast<__m256i*>(out + static_cast<std::size_t>(j) * Channels);
        if constexpr (Channels == 2) {
            const __m256i c = _mm256_srai_epi32(_mm256_mullo_epi32(v, panV), 7);
            const __m256i first = _mm256_sub_epi32(v, c);
            const __m256i low = _mm256_unpacklo_epi32(first, c);
            const __m256i high = _mm256_unpackhi_epi32(first, c);
            _mm256_storeu_si256(
                target, _mm256_add_epi32(_mm256_loadu_si256(target), _mm256_permute2x128_si256(low, high, 0x20)));
            _mm256_storeu_si256(target + 1, _mm256_add_epi32(_mm256_loadu_si256(target + 1),
                                                             _mm256_permute2x128_si256(low, high, 0x31)));
        } else {
            _mm256_storeu_si256(target, _mm256_add_epi32(_mm256_loadu_si256(target), v));
        }
    }
    position = q;
}
#endif

// Frames with a constant tremolo term `term` (0 when the tremolo is off):
// the amplitude only follows the envelope, and is constant when `Moving` is
// false (rate 0).
template <unsigned Width, unsigned Channels, bool Moving>
inline void mixRun(PitchedState& s, const PitchedConstants& k, std::int32_t* out, std::uint32_t count,
                   std::int32_t term) {
    using Format = PitchedFormat<Width, Channels>;
    std::uint64_t position = s.position;
    const std::uint64_t step = k.step;
    const std::int8_t* sample = k.sample;
    const std::int32_t panComplement = k.panComplement;
    // level × volume advances by rate × volume per frame: in 32-bit wrapping
    // arithmetic the product distributes over the sum, so an addition
    // replaces the per-frame multiplication exactly.
    std::int32_t scaled = wrapMul(s.level, k.volume);
    const std::int32_t scaledStep = Moving ? wrapMul(s.rate, k.volume) : 0;
    std::uint32_t j = 0;
#ifdef BRELLIN_MIX_AVX2
    if (count >= 8 && useAvx2.load(std::memory_order_relaxed)) {
        const std::uint32_t wide = count & ~7u;
        mixRunAvx2<Width, Channels>(out, sample, position, step, scaled, scaledStep, term, panComplement, wide);
        scaled = wrapAdd(scaled, wrapMul(scaledStep, static_cast<std::int32_t>(wide)));
        out += static_cast<std::size_t>(wide) * Channels;
        j = wide;
    }
#endif
    if constexpr (Moving) {
        for (; j < count; ++j) {
            scaled = wrapAdd(scaled, scaledStep);
            const std::int32_t amp = wrapAdd(scaled >> Format::ampShift, term);
            addPitchedFrame<Width, Channels>(out, sample, position, amp, panComplement);
            out += Channels;
            position += step;
        }
        // The level stays between the stage's start and its target.
        s.level = wrapAdd(s.level, wrapMul(s.rate, static_cast<std::int32_t>(count)));
    } else {
        const std::int32_t amp = wrapAdd(scaled >> Format::ampShift, term);
        for (; j < count; ++j) {
            addPitchedFrame<Width, Channels>(out, sample, position, amp, panComplement);
            out += Channels;
            position += step;
        }
    }
    s.position = position;
}

template <unsigned Width, unsigned Channels>
inline void mixRun(PitchedState& s, const PitchedConstants& k, std::int32_t* out, std::uint32_t count,
                   std::int32_t term) {
    if (s.rate != 0) {
        mixRun<Width, Channels, true>(s, k, out, count, term);
    } else {
        mixRun<Width, Channels, false>(s, k, out, count, term);
    }
}

// Frames while the tremolo depth still grows: everything per frame.
template <unsigned Width, unsigned Channels>
inline void mixGrowingDepth(PitchedState& s, const PitchedConstants& k, std::int32_t* out, std::uint32_t count) {
    using Format = PitchedFormat<Width, Channels>;
    std::int32_t level = s.level;
    const std::int32_t rate = s.rate;
    std::uint64_t position = s.position;
    std::int32_t counter = s.lfoCounter;
    std::int32_t depth = s.depth;
    const std::int32_t depthStep = k.record->lfoDepthStep;
    for (std::uint32_t j = 0; j < count; ++j) {
        level = wrapAdd(level, rate);
        std::int32_t amp = wrapMul(level, k.volume) >> Format::ampShift;
        ++counter;
        if (depth < k.depthTarget) depth = wrapAdd(depth, depthStep);
        const std::uint32_t index = ((k.lfoClock * static_cast<std::uint32_t>(counter)) >> k.lfoShift) & 0xFF;
        amp = wrapAdd(amp, wrapMul(tremoloSine[index], depth) >> Format::tremoloShift);
        addPitchedFrame<Width, Channels>(out, k.sample, position, amp, k.panComplement);
        out += Channels;
        position += k.step;
    }
    s.level = level;
    s.position = position;
    s.lfoCounter = counter;
    s.depth = depth;
}

// `count` frames in which no stage ends, the position stays below loopEnd and
// the tremolo counter keeps its sign (and does not overflow). They are cut
// into runs over which the tremolo term is constant: once the depth has
// reached its target, the term changes only when the sine table index does,
// every 2^(24 − lfoRateShift) / lfoClock frames.
template <unsigned Width, unsigned Channels>
inline void mixPitchedStretch(PitchedState& s, const PitchedConstants& k, std::int32_t* out, std::uint32_t count,
                              bool tremolo) {
    using Format = PitchedFormat<Width, Channels>;
    if (!tremolo) {
        mixRun<Width, Channels>(s, k, out, count, 0);
        s.lfoCounter += static_cast<std::int32_t>(count);
        return;
    }
    std::uint32_t done = 0;
    if (s.depth < k.depthTarget) {
        // Frames that begin below the target; per frame throughout if the
        // step cannot reach it without wrapping.
        std::uint32_t growing = count;
        const std::int32_t depthStep = k.record->lfoDepthStep;
        if (depthStep > 0) {
            const std::int64_t frames =
                (static_cast<std::int64_t>(k.depthTarget) - s.depth + depthStep - 1) / depthStep;
            if (static_cast<std::int64_t>(s.depth) + frames * depthStep <= INT32_MAX) {
                growing = static_cast<std::uint32_t>(std::min<std::int64_t>(frames, count));
            }
        }
        mixGrowingDepth<Width, Channels>(s, k, out, growing);
        done = growing;
    }
    if (done < count && s.depth == 0) {
        // No depth, no term: nothing to cut the stretch for.
        mixRun<Width, Channels>(s, k, out + static_cast<std::size_t>(done) * Channels, count - done, 0);
        s.lfoCounter += static_cast<std::int32_t>(count - done);
        done = count;
    }
    while (done < count) {
        // The first frame of the run uses counter + 1.
        const std::uint32_t product = k.lfoClock * static_cast<std::uint32_t>(s.lfoCounter + 1);
        const std::uint32_t index = (product >> k.lfoShift) & 0xFF;
        std::uint32_t run = count - done;
        if (k.lfoClock != 0) {
            const std::uint64_t boundary = (static_cast<std::uint64_t>(product >> k.lfoShift) + 1) << k.lfoShift;
            run = static_cast<std::uint32_t>(std::min<std::uint64_t>(run, (boundary - product - 1) / k.lfoClock + 1));
        }
        const std::int32_t term = wrapMul(tremoloSine[index], s.depth) >> Format::tremoloShift;
        mixRun<Width, Channels>(s, k, out + static_cast<std::size_t>(done) * Channels, run, term);
        s.lfoCounter += static_cast<std::int32_t>(run);
        done += run;
    }
}

template <unsigned Width, unsigned Channels>
void mixPitched(Voice& voice, std::int32_t* accumulator, std::uint32_t frames) noexcept {
    if (voice.stopRequest.load(std::memory_order_acquire)) voice.active.store(false, std::memory_order_relaxed);
    if (!voice.active.load(std::memory_order_relaxed)) return;

    PitchedConstants k;
    k.record = &voice.record;
    k.sample = voice.sample;
    k.volume = voice.volume.load(std::memory_order_relaxed);
    k.panComplement = wrapSub(128, voice.pan.load(std::memory_order_relaxed));
    k.hold = voice.hold.load(std::memory_order_relaxed);
    k.step = voice.step;
    k.lfoClock = voice.lfoClock;
    k.lfoShift = 24 - std::clamp(voice.record.lfoRateShift, 0, 24);
    k.depthTarget = voice.depthTarget;

    PitchedState s;
    s.level = voice.level;
    s.rate = voice.rate.load(std::memory_order_relaxed);
    s.target = voice.target.load(std::memory_order_relaxed);
    s.stage = voice.stage;
    s.lfoCounter = voice.lfoCounter;
    s.depth = voice.depth;
    s.position = voice.position;

    bool ended = false;
    std::uint32_t done = 0;
    while (done < frames) {
        std::uint32_t count = std::min(frames - done, framesBeforeStageEnd(s));
        count = std::min(count, framesBeforeLoopEnd(s, k));
        const bool tremolo = s.lfoCounter >= 0;
        // While the counter is negative: frames after which it is still negative;
        // afterwards: frames before it would overflow.
        const std::int64_t lfoFrames = tremolo ? static_cast<std::int64_t>(INT32_MAX) - s.lfoCounter
                                               : -static_cast<std::int64_t>(s.lfoCounter) - 1;
        count = static_cast<std::uint32_t>(std::min<std::int64_t>(count, lfoFrames));
        std::int32_t* out = accumulator + static_cast<std::size_t>(done) * Channels;
        if (count == 0) {
            if (!mixPitchedFrame<Width, Channels>(s, k, out)) {
                ended = true;
                break;
            }
            ++done;
        } else {
            mixPitchedStretch<Width, Channels>(s, k, out, count, tremolo);
            done += count;
        }
    }

    voice.level = s.level;
    voice.rate.store(s.rate, std::memory_order_relaxed);
    voice.target.store(s.target, std::memory_order_relaxed);
    voice.stage = s.stage;
    voice.lfoCounter = s.lfoCounter;
    voice.depth = s.depth;
    voice.position = s.position;
    if (ended) voice.active.store(false, std::memory_order_relaxed);
}

// Adds one frame of a fixed-step voice with gain g (0 … 127).
template <unsigned Width, unsigned Channels>
inline void addFixedFrame(std::int32_t* out, std::int32_t s, std::int32_t g, std::int32_t panComplement) {
    if constexpr (Width == 8) {
        const std::int32_t v = (s * g) >> 7;
        if constexpr (Channels == 1) {
            out[0] = wrapAdd(out[0], v);
        } else {
            const std::int32_t c = wrapMul(v, panComplement) >> 7;
            out[0] = wrapAdd(out[0], wrapSub(v, c));
            out[1] = wrapAdd(out[1], c);
        }
    } else {
        const std::int32_t v = (2 * s) * g;
        if constexpr (Channels == 1) {
            out[0] = wrapAdd(out[0], v);
        } else {
            const std::int32_t c = wrapMul(v, panComplement) >> 7;
            out[0] = wrapAdd(out[0], wrapSub(v, c));
            out[1] = wrapAdd(out[1], c);
        }
    }
}

template <unsigned Width, unsigned Channels>
void mixFixedStep(Voice& voice, std::int32_t* accumulator, std::uint32_t frames) noexcept {
    const std::int32_t volume = voice.volume.load(std::memory_order_relaxed);
    const std::int32_t g = std::min(volume + (volume >> 1), 127);
    const std::int32_t panComplement = wrapSub(128, voice.pan.load(std::memory_order_relaxed));
    // The 16.16 step widened to the 32.32 position; a negative step runs backwards.
    const std::uint64_t increment = static_cast<std::uint64_t>(static_cast<std::int64_t>(voice.stage) * 65536);
    const std::uint32_t end = voice.record.cycleLength;
    const std::int8_t* sample = voice.sample;
    std::uint64_t position = voice.position;

    std::int32_t* out = accumulator;
    std::uint32_t done = 0;
    while (done < frames) {
        if (static_cast<std::uint32_t>(position >> 32) >= end) {
            voice.active.store(false, std::memory_order_relaxed);
            break;
        }
        // Frames that certainly read below the end position.
        std::uint64_t count = frames - done;
        if (voice.stage > 0) {
            const std::uint64_t left = (static_cast<std::uint64_t>(end) << 32) - position;
            count = std::min(count, (left - 1) / increment + 1);
        } else if (voice.stage < 0) {
            // Backwards: once the position wraps below 0 it lies past any end.
            count = std::min(count, position / (0 - increment) + 1);
        }
        std::uint64_t i = 0;
#ifdef BRELLIN_MIX_AVX2
        if (count >= 8 && useAvx2.load(std::memory_order_relaxed)) {
            const std::uint32_t wide = static_cast<std::uint32_t>(count) & ~7u;
            mixFixedAvx2<Width, Channels>(out, sample, position, increment, g, panComplement, wide);
            out += static_cast<std::size_t>(wide) * Channels;
            i = wide;
        }
#endif
        for (; i < count; ++i) {
            addFixedFrame<Width, Channels>(out, sample[position >> 32], g, panComplement);
            out += Channels;
            position += increment;
        }
        done += static_cast<std::uint32_t>(count);
    }
    voice.position = position;
}

}  // namespace

template <unsigned Width, unsigned Channels, bool FixedStep>
void mixVoice(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept {
    Voice& voice = *static_cast<Voice*>(source);
    if constexpr (FixedStep) {
        mixFixedStep<Width, Channels>(voice, accumulator, frames);
    } else {
        mixPitched<Width, Channels>(voice, accumulator, frames);
    }
}

template void mixVoice<8, 1, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<8, 2, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<16, 1, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<16, 2, false>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<8, 1, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<8, 2, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<16, 1, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;
template void mixVoice<16, 2, true>(SoundSource*, std::int32_t*, std::uint32_t) noexcept;

bool setWideMixing(bool enabled) noexcept {
#ifdef BRELLIN_MIX_AVX2
    useAvx2.store(enabled && cpuHasAvx2, std::memory_order_relaxed);
    return enabled && cpuHasAvx2;
#else
    (void)enabled;
    return false;
#endif
}

MixRoutine chooseMixRoutine(std::uint32_t width, std::uint32_t outputChannels, bool fixedStep) noexcept {
    const bool stereo = outputChannels == 2;
    if (width == 8) {
        if (fixedStep) return stereo ? &mixVoice<8, 2, true> : &mixVoice<8, 1, true>;
        return stereo ? &mixVoice<8, 2, false> : &mixVoice<8, 1, false>;
    }
    if (fixedStep) return stereo ? &mixVoice<16, 2, true> : &mixVoice<16, 1, true>;
    return stereo ? &mixVoice<16, 2, false> : &mixVoice<16, 1, false>;
}

}  // namespace brellin
