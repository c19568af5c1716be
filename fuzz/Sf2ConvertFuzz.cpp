// Fuzz target for the pieces that convert one zone: the volume envelope into
// the record's stages, the envelope gains baked into drums, band-limited
// resampling over a looped or one-shot signal, the voice's low-pass filter
// and the loop and cycle snapping. Sizes are kept small (at most 256 source
// frames and 64 output values) so that each run takes well under a
// millisecond; sf2_bank runs whole conversions.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fontmaker/Sf2Importer.h"
#include "fontmaker/Sf2Resampler.h"
#include "soundfont/InstrumentRecord.h"

namespace {

// Takes little-endian values from the front of the input; zeros once it runs out.
class Bytes {
public:
    Bytes(const std::uint8_t* input, std::size_t length) : data(input), size(length) {}
    std::uint8_t u8() { return position < size ? data[position++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
    std::int16_t s16() { return static_cast<std::int16_t>(u16()); }
    std::size_t left() const { return size - position; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

void require(bool condition) {
    if (!condition) std::abort();
}

bool evenAtLeast(std::int32_t rate, std::int32_t minimum) { return rate >= minimum && rate % 2 == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brellin;
    Bytes in(data, size);

    // The envelope: rates even (the loader clears bit 0), attack and release
    // at least 4, levels within the peak; gains within 0 … 1.
    Sf2VolumeEnvelope envelope;
    envelope.delay = in.s16();
    envelope.attack = in.s16();
    envelope.hold = in.s16();
    envelope.decay = in.s16();
    envelope.sustain = in.s16();
    envelope.release = in.s16();
    const std::int32_t peak = 1 + in.u16() * 245;  // up to the converter's largest level
    InstrumentRecord record{};
    sf2ConvertEnvelope(envelope, peak, record);
    require(evenAtLeast(record.attackRate, 4) && evenAtLeast(record.releaseRate, 4));
    require(evenAtLeast(record.decay1Rate, 0) && evenAtLeast(record.decay2Rate, 0) &&
            evenAtLeast(record.decay3Rate, 0));
    const std::int32_t top = std::max(peak, 64);
    for (std::int32_t level : {record.attackLevel, record.decay1Level, record.decay2Level})
        require(level >= 0 && level <= top);
    for (double t : {0.0, 0.004, 0.05, 0.2, 1.0, 30.0}) {
        const double held = sf2EnvelopeGain(envelope, t), drum = sf2DrumGain(envelope, t);
        require(held >= 0.0 && held <= 1.0 && drum >= 0.0 && drum <= 1.0);
    }

    // The signal: up to 256 frames, maybe looped.
    const std::uint8_t flags = in.u8();
    // The kernel reaches 16 / cutoff frames each side: with steps up to 4
    // and 64 values a run evaluates at most 16 000 taps.
    const double step = (1 + in.u16() % 4096) / 1024.0;  // 1/1024 … 4 source frames per value
    const double first = in.s16() / 64.0;
    const std::uint32_t count = 1 + in.u8() % 64;
    const std::uint16_t loopA = in.u16(), loopB = in.u16();
    const double sampleRate = 400 + in.u16() * 6.0;
    const double cutoffHz = in.u16() * 0.5;
    const double resonance = in.u16() % 961;
    const double snapLength = 1.0 + in.u16() * 0.37 + in.u8() / 256.0;
    std::vector<float> frames(std::min<std::size_t>(in.left() / 2, 256));
    for (auto& v : frames) v = in.s16();
    const auto length = static_cast<std::int64_t>(frames.size());
    Sf2Signal signal{frames.data(), length, false, 0, 0};
    if ((flags & 1) && length >= 2) {
        signal.loopStart = loopA % (length - 1);
        signal.loopEnd = signal.loopStart + 1 + loopB % (length - signal.loopStart);
        signal.looped = signal.loopEnd > signal.loopStart;
    }

    // The voice filter keeps every frame a number and a seamless loop's frames in place.
    std::vector<float> filtered = frames;
    sf2LowPass(filtered, sampleRate, cutoffHz, resonance, signal.looped, signal.loopStart, signal.loopEnd);
    require(filtered.size() == frames.size());
    for (float v : filtered) require(std::isfinite(v));

    std::vector<double> out;
    Sf2Signal source = signal;
    if (flags & 2) source.frames = filtered.data();
    sf2Resample(source, first, step, count, out);
    require(out.size() == count);
    double bound = 0.0;
    for (float v : frames) bound = std::max(bound, static_cast<double>(std::fabs(v)));
    for (double v : out) require(std::isfinite(v));
    // Without the filter the kernel only overshoots by its ringing.
    if (!(flags & 2)) {
        for (double v : out) require(std::fabs(v) <= bound * 8.0 + 1.0);
    }

    const Sf2LoopSnap snap = sf2SnapLoop(snapLength);
    require(snap.repeats >= 1 && snap.samples >= 1 && std::isfinite(snap.errorCents));
    require(std::fabs(snap.errorCents) < 1200.0);
    require(sf2SnapCycleLength(sampleRate / 7.0, sampleRate) >= 1);
    require(sf2SnapCycleLength(snapLength, 4000.0 + flags * 300.0) >= 1);
    return 0;
}
