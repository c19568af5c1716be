// Sf2Resampler: band-limited resampling of SF2 sample frames for the BRF
// converter, plus the two snapping rules that keep pitch and loops exact.
//
// The kernel is a Kaiser-windowed sinc (16 zero crossings each side, read
// from a table with linear interpolation), scaled to the lower of the two
// Nyquist frequencies, so a downsampled sample does not alias. Everything is
// plain double arithmetic in a fixed order: the same input gives the same
// bytes on every run. Used by the converter on its own thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace brellin {

// The source signal: frames on the 16-bit scale, optionally with a loop
// [loopStart, loopEnd) that repeats forever, so reads past the loop wrap into
// it. Frames before 0 and, without a loop, past the end read as silence.
struct Sf2Signal {
    const float* frames = nullptr;
    std::int64_t length = 0;
    bool looped = false;
    std::int64_t loopStart = 0;
    std::int64_t loopEnd = 0;

    double at(std::int64_t index) const {
        if (index < 0) return 0.0;
        if (looped && index >= loopEnd) index = loopStart + (index - loopStart) % (loopEnd - loopStart);
        return index < length ? frames[index] : 0.0;
    }
};

// Value of the band-limited signal at a fractional source position.
// `cutoff` is the pass band as a fraction of the source Nyquist frequency
// (1 keeps everything; 0.5 for halving the rate).
double sf2Interpolate(const Sf2Signal& signal, double position, double cutoff);

// `count` output values at source positions first, first + step, ...
// The cutoff follows the step (1 / step when the step exceeds 1).
void sf2Resample(const Sf2Signal& signal, double first, double step, std::uint32_t count, std::vector<double>& out);

// The SF2 voice filter, fixed at one pitch and velocity: a two-pole
// resonant low-pass (`cutoffHz` in the source's own frequencies, `resonanceCb`
// the generator's centibels of resonance above the pass band, whose height
// is half taken back as the format asks). Filters `frames` in place at
// `sampleRate`; with a loop the loop part is filtered until it repeats in
// steady state, so the wrap stays seamless. When the cutoff is 0 or lies
// above 0.45 of the sample rate only the pass band's lowering applies (none
// without resonance).
void sf2LowPass(std::vector<float>& frames, double sampleRate, double cutoffHz, double resonanceCb, bool looped,
                std::int64_t loopStart, std::int64_t loopEnd);

// Samples per period at `frequency` Hz when the data is stored at about
// `rate` Hz: the nearest whole number, at least 1. The data is then resampled
// to exactly cycleLength × frequency Hz, so the period is exact.
std::uint32_t sf2SnapCycleLength(double frequency, double rate);

// A loop `length` output samples long (not a whole number) is stored as
// `repeats` copies of the source loop in `samples` whole samples, the
// fewest repeats that keep the loop's pitch within `toleranceCents`
// (the closest found when none does, up to a limit of repeats and length).
struct Sf2LoopSnap {
    std::uint32_t repeats = 1;
    std::uint32_t samples = 1;
    double errorCents = 0.0;  // pitch error of the stored loop, signed
};
Sf2LoopSnap sf2SnapLoop(double length, double toleranceCents = 1.0);

// The period the signal actually repeats with, in source frames, looked for
// within `rangeCents` of `nominal` (the period its tuning declares): the
// normalized autocorrelation's best lag near `nominal` over a window of
// about `span` frames from frame `from` on (at least six periods; a looped
// signal is read through its loop), refined over several periods with
// parabolic interpolation. `clarity` is the correlation at the refined lag
// (1 for a perfectly periodic signal). Returns 0, clarity 0, when the
// signal is too short, silent, or its best lag lies at the edge of the
// range (its pitch is elsewhere).
double sf2MeasurePeriod(const Sf2Signal& signal, std::int64_t from, double nominal, double rangeCents, double span,
                        double& clarity);

// The period a held note repeats with over the stretch [from, from +
// length) of `signal` (read through its loop), as a listener hears its
// pitch settle: the normalized autocorrelation's best lag within
// `rangeCents` of `nominal`, then the peak near 16 periods and again near
// 64, as far as half the stretch still overlaps at that lag, each refined
// with parabolic interpolation. Over that many periods the measurement
// follows what repeats (a loop as stored, a vibrato's mean) rather than one
// cycle's shape. `clarity` is the correlation at one period. 0, clarity 0,
// when the stretch is shorter than four periods, silent, or its best lag
// lies at the edge of the range.
double sf2HeldPeriod(const Sf2Signal& signal, std::int64_t from, std::int64_t length, double nominal, double rangeCents,
                     double& clarity);

}  // namespace brellin
