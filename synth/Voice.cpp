#include "synth/Voice.h"

#include <algorithm>

#include "output/SoundOutput.h"
#include "synth/MixRoutines.h"

namespace brellin {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Doubling and halving of record values are shifts, not multiplication and
// division: halving rounds an odd negative value down, and doubling wraps
// like the machine's, so a rescaled record is the same on every compiler.
inline std::int32_t twice(std::int32_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 1);
}
inline std::int32_t half(std::int32_t value) { return value >> 1; }

inline std::int32_t clampDepth(std::int64_t value, std::int32_t limit) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, limit));
}

}  // namespace

Voice::Voice() = default;

Voice::~Voice() { detach(); }

bool Voice::attach(SoundOutput& destination) {
    // Everything the render thread may look at once the voice is listed is set first.
    active.store(false, relaxed);
    position = 0;
    record.cycleLength = 0;
    sample = nullptr;
    volume.store(127, relaxed);
    outputChannels = destination.channels;
    mix.store(chooseMixRoutine(destination.bitsPerSample, destination.channels, false), std::memory_order_release);
    if (!destination.attachSource(this, 1)) {
        lastError = RESULT_UNSUPPORTED_FORMAT;
        return false;
    }
    output = &destination;
    channels = 1;
    lfoClock = sampleRate != 0 ? (1u << 24) / sampleRate : 0;
    return true;
}

void Voice::configure(std::uint32_t outputRate, std::uint32_t width, std::uint32_t outputChannelCount) {
    active.store(false, relaxed);
    position = 0;
    record.cycleLength = 0;
    sample = nullptr;
    volume.store(127, relaxed);
    sampleRate = outputRate;
    bits = width;
    channels = 1;
    outputChannels = outputChannelCount;
    pan.store(64, relaxed);
    lfoClock = outputRate != 0 ? (1u << 24) / outputRate : 0;
    mix.store(chooseMixRoutine(width, outputChannelCount, false), std::memory_order_release);
}

void Voice::detach() {
    silence();
    if (output != nullptr) {
        output->detachSource(this);
        output = nullptr;
    }
}

void Voice::rescale() {
    InstrumentRecord& r = record;
    if (sampleRate == 11025) {
        if (r.fixedStep != 0) {
            r.lfoDepth = twice(r.lfoDepth);
            r.lfoDepthStep = twice(r.lfoDepthStep);
        } else {
            r.attackRate = twice(r.attackRate);
            r.decay1Rate = twice(r.decay1Rate);
            r.decay2Rate = twice(r.decay2Rate);
            r.decay3Rate = twice(r.decay3Rate);
            r.releaseRate = twice(r.releaseRate);
            r.lfoDepthStep = twice(r.lfoDepthStep);
            r.lfoDelay = half(r.lfoDelay);
        }
    } else if (sampleRate == 44100) {
        if (r.fixedStep != 0) {
            r.lfoDepth = half(r.lfoDepth);
            r.lfoDepthStep = half(r.lfoDepthStep);
        } else {
            r.attackRate = half(r.attackRate);
            r.decay1Rate = half(r.decay1Rate);
            r.decay2Rate = half(r.decay2Rate);
            r.decay3Rate = half(r.decay3Rate);
            r.releaseRate = half(r.releaseRate);
            r.lfoDepthStep = half(r.lfoDepthStep);
            r.lfoDelay = twice(r.lfoDelay);
        }
    } else if (sampleRate != 22050 && sampleRate != 0) {
        // Any other rate (48000 Hz for JACK): per-frame steps shrink and
        // lengths in frames grow by rate / 22050, the records' own rate.
        const std::int64_t outputRate = sampleRate;
        const auto perFrame = [outputRate](std::int32_t value) {
            return static_cast<std::int32_t>(static_cast<std::int64_t>(value) * 22050 / outputRate);
        };
        const auto frames = [outputRate](std::int32_t value) {
            return static_cast<std::int32_t>(
                std::clamp<std::int64_t>(static_cast<std::int64_t>(value) * outputRate / 22050, INT32_MIN, INT32_MAX));
        };
        if (r.fixedStep != 0) {
            r.lfoDepth = perFrame(r.lfoDepth);
            r.lfoDepthStep = perFrame(r.lfoDepthStep);
        } else {
            r.attackRate = perFrame(r.attackRate);
            r.decay1Rate = perFrame(r.decay1Rate);
            r.decay2Rate = perFrame(r.decay2Rate);
            r.decay3Rate = perFrame(r.decay3Rate);
            r.releaseRate = perFrame(r.releaseRate);
            r.lfoDepthStep = perFrame(r.lfoDepthStep);
            r.lfoDelay = frames(r.lfoDelay);
        }
    }
}

void Voice::chooseMix(bool fixedStep) {
    mix.store(chooseMixRoutine(bits, outputChannels, fixedStep), std::memory_order_release);
}

void Voice::setInstrument(const InstrumentRecord& source, const std::int8_t* sampleBlock) {
    // A concurrent pitched mix call sees the stop request (or `active` false)
    // and skips the voice while the record is replaced.
    stop();
    const bool wasActive = active.load(relaxed);
    active.store(false, relaxed);
    record = source;
    rescale();
    // Drum region records are used as stored; only the tremolo speed, used as
    // a shift amount, is kept to what a shift can do.
    record.lfoRateShift = std::clamp(record.lfoRateShift, 0, 24);
    sample = sampleBlock != nullptr ? sampleBlock + record.sample : nullptr;
    chooseMix(record.fixedStep != 0);
    active.store(wasActive, relaxed);
    resume();
}

void Voice::computeStep(std::uint32_t frequency) {
    // cycleLength × Hz / sampleRate source samples per output sample, in
    // 32.32: frequency is Hz × 2^7, so × 2^25 makes the 32 fractional bits.
    // The unsigned 64-bit product wraps for absurd cycle lengths.
    const std::uint64_t product = static_cast<std::uint64_t>(record.cycleLength) * frequency * (1ull << 25);
    step = sampleRate != 0 ? product / sampleRate : 0;
}

bool Voice::noteOn(std::uint32_t frequency) {
    silence();
    if (frequency == 0) return false;
    if (volume.load(relaxed) == 0) return true;
    // Without a sample, or with an empty pitched one, there is nothing to play.
    if (sample == nullptr) return true;
    position = 0;
    if (record.fixedStep != 0) {
        stage = record.lfoDepthStep;  // the key-held step, 16.16
    } else {
        computeStep(frequency);
        level = 0;
        stage = STAGE_ATTACK;
        rate.store(record.attackRate, relaxed);
        target.store(record.attackLevel, relaxed);
        lfoCounter = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(record.lfoDelay));
        depth = 0;
        depthTarget = clampDepth(static_cast<std::int64_t>(record.lfoDepth) + modOffset, NOTE_ON_DEPTH_LIMIT);
    }
    keyDown.store(true, relaxed);
    active.store(true, relaxed);
    return true;
}

bool Voice::setPitch(std::uint32_t frequency) {
    if (frequency == 0) return false;
    if (record.fixedStep == 0) computeStep(frequency);
    return true;
}

void Voice::noteOff() {
    keyDown.store(false, relaxed);
    if (record.fixedStep != 0) {
        stage = record.lfoDepth;  // the step after note-off, 16.16
    } else {
        stage = STAGE_RELEASE;
        target.store(0, relaxed);
        rate.store(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(record.releaseRate)), relaxed);
    }
}

void Voice::silence() {
    active.store(false, relaxed);
    keyDown.store(false, relaxed);
    target.store(0, relaxed);
    rate.store(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(record.releaseRate)), relaxed);
}

void Voice::setVolume(std::int32_t value) {
    volume.store(static_cast<std::uint32_t>(value) > 127 ? 127 : value, relaxed);
}

void Voice::setPan(std::int32_t value) { pan.store(value, relaxed); }

void Voice::setModulation(std::int32_t value) {
    modOffset = std::clamp(value >> 2, 0, 63) << 16;
    depthTarget = clampDepth(static_cast<std::int64_t>(record.lfoDepth) + modOffset, MODULATION_DEPTH_LIMIT);
}

void Voice::clearModulation() {
    modOffset = 0;
    depthTarget = clampDepth(record.lfoDepth, MODULATION_DEPTH_LIMIT);
}

void Voice::setHold(bool flag) {
    hold.store(flag, relaxed);
    if (flag) {
        if (stage > 0) rate.store(0, relaxed);
        return;
    }
    std::int32_t restored;
    switch (stage) {
        case STAGE_DECAY1: restored = record.decay1Rate; break;
        case STAGE_DECAY2: restored = record.decay2Rate; break;
        case STAGE_DECAY3: restored = record.decay3Rate; break;
        default: restored = record.releaseRate; break;
    }
    rate.store(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(restored)), relaxed);
}

}  // namespace brellin
