#include "fontmaker/Sf2Resampler.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace brellin {

namespace {

constexpr int ZERO_CROSSINGS = 16;   // kernel half-width in zero crossings of the sinc
constexpr int TABLE_STEPS = 512;     // table points per zero crossing
constexpr double KAISER_BETA = 9.0;  // about 90 dB stop-band rejection
constexpr double PI = 3.14159265358979323846;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// h(u) = sinc(u) × Kaiser(u / ZERO_CROSSINGS) for u = i / TABLE_STEPS, one
// extra point so that interpolation at the edge stays inside.
const std::array<double, ZERO_CROSSINGS * TABLE_STEPS + 2>& kernel() {
    static const auto table = [] {
        std::array<double, ZERO_CROSSINGS * TABLE_STEPS + 2> t{};
        const double norm = besselI0(KAISER_BETA);
        for (std::size_t i = 0; i < t.size(); ++i) {
            double u = static_cast<double>(i) / TABLE_STEPS;
            if (u >= ZERO_CROSSINGS) {
                t[i] = 0.0;
                continue;
            }
            double r = u / ZERO_CROSSINGS;
            double window = besselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / norm;
            double sinc = u == 0.0 ? 1.0 : std::sin(PI * u) / (PI * u);
            t[i] = sinc * window;
        }
        return t;
    }();
    return table;
}

double kernelAt(double u) {
    u = std::fabs(u) * TABLE_STEPS;
    std::size_t i = static_cast<std::size_t>(u);
    if (i >= static_cast<std::size_t>(ZERO_CROSSINGS * TABLE_STEPS)) return 0.0;
    double f = u - static_cast<double>(i);
    const auto& t = kernel();
    return t[i] + (t[i + 1] - t[i]) * f;
}

}  // namespace

double sf2Interpolate(const Sf2Signal& signal, double position, double cutoff) {
    cutoff = std::clamp(cutoff, 1e-3, 1.0);
    const double reach = ZERO_CROSSINGS / cutoff;
    std::int64_t first = static_cast<std::int64_t>(std::ceil(position - reach));
    std::int64_t last = static_cast<std::int64_t>(std::floor(position + reach));
    double sum = 0.0, weights = 0.0;
    for (std::int64_t k = first; k <= last; ++k) {
        double w = kernelAt((position - static_cast<double>(k)) * cutoff);
        sum += w * signal.at(k);
        weights += w;
    }
    // The weights are normalized so that a constant signal passes unchanged
    // whatever the table interpolation error.
    return weights != 0.0 ? sum / weights : 0.0;
}

void sf2Resample(const Sf2Signal& signal, double first, double step, std::uint32_t count, std::vector<double>& out) {
    // 0.95 keeps the kernel's transition band below the new Nyquist frequency.
    double cutoff = step > 1.0 ? 0.95 / step : 1.0;
    out.reserve(out.size() + count);
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(sf2Interpolate(signal, first + step * i, cutoff));
}

void sf2LowPass(std::vector<float>& frames, double sampleRate, double cutoffHz, double resonanceCb, bool looped,
                std::int64_t loopStart, std::int64_t loopEnd) {
    if (frames.empty()) return;
    // Q: the resonance in dB, less 3.01 dB so that 0 cB is the flat
    // (Butterworth) response; the pass band is lowered by half the peak.
    double qDb = std::clamp(resonanceCb, 0.0, 960.0) / 10.0 - 3.01;
    double q = std::pow(10.0, qDb / 20.0);
    double gain = std::sqrt(0.70710678 / std::max(q, 0.70710678));
    if (!(cutoffHz > 0.0) || !(sampleRate > 0.0) || cutoffHz >= 0.45 * sampleRate) {
        // The peak lies above what the data holds, the lowered pass band
        // does not: a synthesizer's filter near the top of the band still
        // takes the gain back.
        if (gain < 0.9999)  // 0 cB: flat, left as it is
            for (float& v : frames) v = static_cast<float>(v * gain);
        return;
    }
    cutoffHz = std::max(cutoffHz, 5.0);
    double w0 = 2.0 * PI * cutoffHz / sampleRate;
    double alpha = std::sin(w0) / (2.0 * q);
    double c = std::cos(w0);
    double a0 = 1.0 + alpha;
    double b0 = (1.0 - c) / 2.0 / a0 * gain, b1 = (1.0 - c) / a0 * gain, b2 = b0;
    double a1 = -2.0 * c / a0, a2 = (1.0 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    auto run = [&](double x) {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        return y;
    };
    const std::int64_t n = static_cast<std::int64_t>(frames.size());
    looped = looped && loopStart >= 0 && loopStart < loopEnd && loopEnd <= n;
    const std::vector<float> input = frames;
    const std::int64_t straight = looped ? loopEnd : n;
    for (std::int64_t i = 0; i < straight; ++i)
        frames[static_cast<std::size_t>(i)] = static_cast<float>(run(input[static_cast<std::size_t>(i)]));
    if (!looped) return;
    // Further passes over the loop until the filter's state has settled; the
    // last pass is what the loop holds.
    const std::int64_t length = loopEnd - loopStart;
    const std::int64_t passes = std::clamp<std::int64_t>((32768 + length - 1) / length, 2, 256);
    for (std::int64_t pass = 0; pass < passes; ++pass) {
        for (std::int64_t i = loopStart; i < loopEnd; ++i) {
            double y = run(input[static_cast<std::size_t>(i)]);
            if (pass == passes - 1) frames[static_cast<std::size_t>(i)] = static_cast<float>(y);
        }
    }
}

std::uint32_t sf2SnapCycleLength(double frequency, double rate) {
    if (!(frequency > 0.0) || !(rate > 0.0)) return 1;
    double n = std::round(rate / frequency);
    if (n < 1.0) return 1;
    if (n > 1e6) return 1000000;
    return static_cast<std::uint32_t>(n);
}

Sf2LoopSnap sf2SnapLoop(double length, double toleranceCents) {
    Sf2LoopSnap best;
    if (!(length > 0.0)) return best;
    double bestError = 1e9;
    // Short loops (a single cycle of a waveform) may need several copies to
    // land on a whole number; the stored loop stays below 8192 samples.
    for (std::uint32_t m = 1; m <= 64; ++m) {
        double exact = length * m;
        if (m > 1 && exact > 8192.0) break;
        double whole = std::max(1.0, std::round(exact));
        // A loop stored as `whole` samples plays `exact` samples' worth of the
        // waveform: its pitch is exact / whole times the intended one.
        double cents = 1200.0 * std::log2(exact / whole);
        if (std::fabs(cents) < bestError) {
            bestError = std::fabs(cents);
            best.repeats = m;
            best.samples = static_cast<std::uint32_t>(whole);
            best.errorCents = cents;
        }
        if (bestError <= toleranceCents) break;
    }
    return best;
}

}  // namespace brellin

namespace brellin {

namespace {

// Normalized correlation of the window [from, from + length) with itself
// `lag` frames later.
double windowCorrelation(const std::vector<double>& x, std::size_t from, std::size_t length, std::size_t lag) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::size_t i = from; i < from + length; ++i) {
        xy += x[i] * x[i + lag];
        xx += x[i] * x[i];
        yy += x[i + lag] * x[i + lag];
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

}  // namespace

double sf2MeasurePeriod(const Sf2Signal& signal, std::int64_t from, double nominal, double rangeCents, double span,
                        double& clarity) {
    clarity = 0.0;
    constexpr double MAX_PERIOD = 8192.0;
    constexpr double MAX_WINDOW = 32768.0;
    constexpr int PERIODS = 10;  // the refinement's lag, in periods
    if (!(nominal >= 4.0) || nominal > MAX_PERIOD || from < 0) return 0.0;
    const double spread = std::pow(2.0, std::clamp(rangeCents, 1.0, 600.0) / 1200.0);
    const auto lo = static_cast<std::size_t>(std::floor(nominal / spread));
    const auto hi = static_cast<std::size_t>(std::ceil(nominal * spread));
    // The window: `span` frames, but at least six periods.
    auto window = static_cast<std::size_t>(std::clamp(std::max(span, 6.0 * nominal), 256.0, MAX_WINDOW));
    // The refinement compares the window with itself `periods` periods later.
    int periods = PERIODS;
    auto framesFor = [&](int n) { return window + static_cast<std::size_t>(n) * (hi + 1) + 2; };
    const std::int64_t available = signal.looped ? std::int64_t(framesFor(periods)) : signal.length - from;
    if (available < std::int64_t(framesFor(1))) {
        // A short one-shot signal: a shorter window, if it still holds three periods.
        std::int64_t shorter = available - std::int64_t(hi + 3);
        if (static_cast<double>(shorter) < 3.0 * nominal) return 0.0;
        window = static_cast<std::size_t>(shorter);
    }
    while (periods > 1 && std::int64_t(framesFor(periods)) > available) --periods;
    std::vector<double> x(framesFor(periods));
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = signal.at(from + static_cast<std::int64_t>(i));

    // The first estimate compares two periods on (one when the signal is
    // too short): a sound with a sub-octave (an organ's 16-foot stop)
    // repeats only every second period of its pitch.
    const std::size_t coarse = periods >= 2 ? 2 : 1;
    std::size_t best = coarse * lo;
    double bestR = -2.0;
    for (std::size_t lag = coarse * lo; lag <= coarse * hi; ++lag) {
        double r = windowCorrelation(x, 0, window, lag);
        if (r > bestR) bestR = r, best = lag;
    }
    if (best == coarse * lo || best == coarse * hi || bestR <= 0.0) return 0.0;
    auto refine = [&](std::size_t lag, double r1) {
        double r0 = windowCorrelation(x, 0, window, lag - 1), r2 = windowCorrelation(x, 0, window, lag + 1);
        double denom = r0 - 2.0 * r1 + r2;
        return denom < 0.0 ? std::clamp(0.5 * (r0 - r2) / denom, -0.5, 0.5) : 0.0;
    };
    const double approx = (static_cast<double>(best) + refine(best, bestR)) / static_cast<double>(coarse);
    // Over `periods` periods a lag of one frame is 1/periods of a frame of the period.
    const auto center = static_cast<std::size_t>(std::llround(approx * periods));
    const auto reach = static_cast<std::size_t>(periods);
    std::size_t bestLag = center;
    bestR = -2.0;
    for (std::size_t lag = center - reach; lag <= center + reach; ++lag) {
        double r = windowCorrelation(x, 0, window, lag);
        if (r > bestR) bestR = r, bestLag = lag;
    }
    if (bestR <= 0.0) return 0.0;
    clarity = bestR;
    return (static_cast<double>(bestLag) + refine(bestLag, bestR)) / periods;
}

double sf2HeldPeriod(const Sf2Signal& signal, std::int64_t from, std::int64_t length, double nominal, double rangeCents,
                     double& clarity) {
    clarity = 0.0;
    constexpr double MAX_PERIOD = 8192.0;
    constexpr std::int64_t MAX_LENGTH = 1 << 20;
    if (!(nominal >= 4.0) || nominal > MAX_PERIOD || from < 0 || length > MAX_LENGTH) return 0.0;
    const double spread = std::pow(2.0, std::clamp(rangeCents, 1.0, 600.0) / 1200.0);
    const auto lo = static_cast<std::size_t>(std::floor(nominal / spread));
    const auto hi = static_cast<std::size_t>(std::ceil(nominal * spread));
    if (length < std::int64_t(4 * hi + 2)) return 0.0;
    std::vector<double> x(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = signal.at(from + static_cast<std::int64_t>(i));
    // Both sides of every product lie inside the stretch.
    auto correlation = [&](std::size_t lag) { return windowCorrelation(x, 0, x.size() - lag, lag); };
    auto best = [&](std::size_t low, std::size_t high, double& r) {
        std::size_t at = low;
        r = -2.0;
        for (std::size_t lag = low; lag <= high; ++lag) {
            double c = correlation(lag);
            if (c > r) r = c, at = lag;
        }
        double r0 = correlation(at - 1), r2 = correlation(at + 1);
        double denom = r0 - 2.0 * r + r2;
        return static_cast<double>(at) + (denom < 0.0 ? std::clamp(0.5 * (r0 - r2) / denom, -0.5, 0.5) : 0.0);
    };
    double r = 0.0;
    double period = best(lo, hi, r);
    if (period <= static_cast<double>(lo) + 0.5 || period >= static_cast<double>(hi) - 0.5 || r <= 0.0) return 0.0;
    clarity = r;
    for (int periods : {16, 64}) {
        // Half the stretch at least stays compared at the longest lag.
        if (periods * period * 2.0 > static_cast<double>(length)) break;
        // The period is known to better than a frame (then 1/16 frame): the
        // peak lies within ±periods / 2 (then ±8) of the estimate.
        const double estimate = periods * period, reach = periods == 16 ? 10.0 : 8.0;
        period =
            best(static_cast<std::size_t>(estimate - reach), static_cast<std::size_t>(estimate + reach), r) / periods;
    }
    return period;
}

}  // namespace brellin
