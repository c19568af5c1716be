#include "synth/MixRoutines.h"

#include <algorithm>

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

// Adds one frame of a pitched voice: `amp` is the frame's amplitude, `pan`
// 0 … 127 (0 puts everything into the second channel).
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

// One frame exactly as the per-frame algorithm describes it: envelope step,
// amplitude, tremolo step, sample, position step. False when the voice ended
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
                default:
                    endVoice(s);
                    return false;
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
    if constexpr (Moving) {
        std::int32_t level = s.level;
        const std::int32_t rate = s.rate;
        const std::int32_t volume = k.volume;
        for (std::uint32_t j = 0; j < count; ++j) {
            level = wrapAdd(level, rate);  // stays between the stage's start and its target
            const std::int32_t amp = wrapAdd(wrapMul(level, volume) >> Format::ampShift, term);
            addPitchedFrame<Width, Channels>(out, sample, position, amp, panComplement);
            out += Channels;
            position += step;
        }
        s.level = level;
    } else {
        const std::int32_t amp = wrapAdd(wrapMul(s.level, k.volume) >> Format::ampShift, term);
        for (std::uint32_t j = 0; j < count; ++j) {
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
        const std::int64_t lfoFrames =
            tremolo ? static_cast<std::int64_t>(INT32_MAX) - s.lfoCounter : -static_cast<std::int64_t>(s.lfoCounter) - 1;
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
        for (std::uint64_t i = 0; i < count; ++i) {
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
