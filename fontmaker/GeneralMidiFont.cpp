#include "fontmaker/GeneralMidiFont.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace brellin {

namespace {

// ---------------------------------------------------------------- arithmetic

constexpr double PI = 3.14159265358979323846;
constexpr double RATE = 22050.0;  // records and drum samples are made for 22050 Hz output

// Sine by range reduction and a Taylor series: only + − × / and floor, so the
// same bits on every compiler and C library.
double dsin(double x) {
    double turns = std::floor(x / (2 * PI) + 0.5);
    x -= turns * 2 * PI;
    if (x > PI / 2) x = PI - x;
    if (x < -PI / 2) x = -PI - x;
    double x2 = x * x, term = x, sum = x;
    for (int n = 1; n <= 9; ++n) {
        term *= -x2 / ((2.0 * n) * (2.0 * n + 1));
        sum += term;
    }
    return sum;
}

// e^x by halving the argument below 1/2, a Taylor series and squaring back.
double dexp(double x) {
    int halvings = 0;
    while (x > 0.5 || x < -0.5) {
        x *= 0.5;
        ++halvings;
    }
    double term = 1, sum = 1;
    for (int n = 1; n <= 14; ++n) {
        term *= x / n;
        sum += term;
    }
    while (halvings-- > 0) sum *= sum;
    return sum;
}

// Natural logarithm for x > 0: ln x = 2 atanh((x − 1) / (x + 1)), after
// taking out powers of two.
double dlog(double x) {
    constexpr double LN2 = 0.69314718055994530942;
    int twos = 0;
    while (x > 1.5) {
        x *= 0.5;
        ++twos;
    }
    while (x < 0.75) {
        x *= 2;
        --twos;
    }
    double z = (x - 1) / (x + 1), z2 = z * z, term = z, sum = 0;
    for (int n = 1; n <= 41; n += 2) {
        sum += term / n;
        term *= z2;
    }
    return 2 * sum + twos * LN2;
}

double decayAt(double t, double seconds) { return dexp(-t / seconds); }

// Noise: a fixed-seed linear congruential generator, values in [−1, 1).
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state(seed) {}
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::int32_t>(state) / 2147483648.0;
    }
    std::uint32_t nextInt(std::uint32_t bound) {
        next();
        return (state >> 8) % bound;
    }

private:
    std::uint32_t state;
};

// One-pole filters on a running signal.
struct LowPass {
    double coefficient, y = 0;  // coefficient 0: no filtering … 0.99: very dark
    double operator()(double x) { return y += (1 - coefficient) * (x - y); }
};
struct HighPass {
    double coefficient, lastX = 0, y = 0;  // coefficient near 1 keeps more high end
    double operator()(double x) {
        y = coefficient * (y + x - lastX);
        lastX = x;
        return y;
    }
};
// Two-pole resonator (band-pass) at `hz` with bandwidth set by `r` (0.9 … 0.999).
struct Resonator {
    Resonator(double hz, double r) : a1(2 * r * dsin(2 * PI * hz / RATE + PI / 2)), a2(-r * r), gain(1 - r) {}
    double a1, a2, gain, y1 = 0, y2 = 0;
    double operator()(double x) {
        double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

std::vector<std::int8_t> quantize(const std::vector<double>& x, double peakValue) {
    double peak = 1e-12;
    for (double v : x) peak = std::fmax(peak, std::fabs(v));
    std::vector<std::int8_t> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double v = std::floor(x[i] * peakValue / peak + 0.5);
        out[i] = static_cast<std::int8_t>(v > 127 ? 127 : v < -127 ? -127 : v);
    }
    return out;
}

std::int32_t even(double value) {
    std::int32_t v = static_cast<std::int32_t>(std::floor(value + 0.5));
    v &= ~1;
    return v < 4 ? 4 : v;
}

// ------------------------------------------------------------------ programs

enum class Model { Additive, Fm, Pluck, Noise };

struct Partial {
    double ratio;   // frequency relative to the nominal pitch
    double amp;     // amplitude in the loop
    double attack;  // amplitude at the very start of the sample (fades to `amp` by the loop start)
};

struct Envelope {  // times in seconds; a decay time of 0 holds the level until note-off
    double attack, decay1, level1, decay2, level2, decay3, release;
};

// Envelope shapes by family.
constexpr Envelope HELD{0.01, 0, 1, 0, 1, 0, 0.08};
constexpr Envelope PIANO{0.003, 0.12, 0.55, 2.5, 0.2, 5.0, 0.25};
constexpr Envelope EPIANO{0.003, 0.2, 0.6, 3.0, 0.2, 5.0, 0.3};
constexpr Envelope PLUCK{0.003, 0.08, 0.6, 1.5, 0.15, 3.0, 0.15};
constexpr Envelope LONGPLUCK{0.003, 0.1, 0.65, 3.0, 0.2, 5.0, 0.4};
constexpr Envelope SHORTPLUCK{0.002, 0.04, 0.35, 0.35, 0.05, 0.4, 0.06};
constexpr Envelope MALLET{0.002, 0.05, 0.4, 0.6, 0.08, 0.8, 0.2};
constexpr Envelope BELL{0.002, 0.1, 0.6, 3.0, 0.2, 6.0, 1.0};
constexpr Envelope BOWED{0.1, 0.3, 0.85, 0, 0.85, 0, 0.3};
constexpr Envelope SLOWBOWED{0.35, 0.4, 0.85, 0, 0.85, 0, 0.5};
constexpr Envelope PAD{0.6, 1.0, 0.8, 0, 0.8, 0, 1.0};
constexpr Envelope BRASS{0.03, 0.15, 0.8, 0, 0.8, 0, 0.12};
constexpr Envelope REED{0.04, 0.1, 0.9, 0, 0.9, 0, 0.1};
constexpr Envelope LEAD{0.008, 0.1, 0.85, 0, 0.85, 0, 0.1};
constexpr Envelope HIT{0.003, 0.1, 0.3, 0.4, 0.05, 0.5, 0.2};
constexpr Envelope DRUMLIKE{0.002, 0.05, 0.3, 0.4, 0.03, 0.4, 0.1};
constexpr Envelope SWELL{1.5, 0.05, 0.5, 0.6, 0.05, 0.6, 0.3};

struct Recipe {
    Model model = Model::Additive;
    int period = 64;        // samples per cycle of the nominal pitch: the record's cycleLength
    int loopCycles = 2;     // cycles of the nominal pitch in the loop
    int attackCycles = 16;  // cycles before the loop
    std::vector<Partial> partials;
    double chorus = 0;         // amplitude of two copies detuned by ±1 cycle per loop
    double noise = 0;          // attack noise burst amplitude (Noise model: attack boost)
    double noiseColor = 0.5;   // low-pass coefficient of the noise
    double noiseLength = 0.4;  // part of the attack the burst lasts
    double drive = 0;          // soft clipping gain, 0: none
    double carrier = 1, modulator = 1, index = 1, attackIndex = 1;  // FM
    double damping = 0.996, brightness = 0.3;                       // Pluck
    Envelope envelope = HELD;
    double loudness = 1;
    // Tremolo depth as a fraction of the amplitude of a note at velocity 100.
    // The tremolo term does not follow the note's volume, so quiet notes get
    // relatively more of it: depths stay at 0.15 or below.
    double tremolo = 0;
    int tremoloShift = 10;  // 2^s / 256 Hz
    double tremoloDelay = 0.25;
    int shareWith = -1;  // use the sample of this earlier program
};

std::vector<Partial> harmonics(int count, double exponent, double attackBoost = 0) {
    std::vector<Partial> list;
    for (int h = 1; h <= count; ++h) {
        double amp = dexp(-exponent * dlog(static_cast<double>(h)));
        list.push_back({static_cast<double>(h), amp, amp * (1 + attackBoost * (h - 1))});
    }
    return list;
}

std::vector<Partial> oddHarmonics(int count, double exponent, double evenLevel, double attackBoost = 0) {
    std::vector<Partial> list = harmonics(count, exponent, attackBoost);
    for (Partial& p : list) {
        if (static_cast<int>(p.ratio) % 2 == 0) {
            p.amp *= evenLevel;
            p.attack *= evenLevel;
        }
    }
    return list;
}

// Raises the harmonics around `centre` (a harmonic number): a fixed formant.
std::vector<Partial> formant(std::vector<Partial> list, double centre, double width, double gain) {
    for (Partial& p : list) {
        double d = (p.ratio - centre) / width;
        double g = 1 + gain * dexp(-d * d);
        p.amp *= g;
        p.attack *= g;
    }
    return list;
}

// Makes the attack of the partials softer (brass, bowed strings open up).
std::vector<Partial> softAttack(std::vector<Partial> list, double amount) {
    for (Partial& p : list) p.attack = p.amp / (1 + amount * (p.ratio - 1));
    return list;
}

Recipe additive(std::vector<Partial> partials, Envelope envelope, double loudness = 1) {
    Recipe r;
    r.partials = std::move(partials);
    r.envelope = envelope;
    r.loudness = loudness;
    return r;
}

Recipe inharmonic(std::vector<Partial> partials, Envelope envelope, double loudness = 1) {
    Recipe r = additive(std::move(partials), envelope, loudness);
    r.loopCycles = 16;  // partials land on 1/16 of the nominal frequency
    r.attackCycles = 32;
    return r;
}

Recipe ensemble(std::vector<Partial> partials, Envelope envelope, double chorus, double loudness = 1) {
    Recipe r = additive(std::move(partials), envelope, loudness);
    r.period = 64;
    r.loopCycles = 128;  // ±1 cycle per loop: ±13.5 cents
    r.attackCycles = 8;
    r.chorus = chorus;
    return r;
}

Recipe fm(double carrier, double modulator, double index, double attackIndex, Envelope envelope, double loudness = 1) {
    Recipe r;
    r.model = Model::Fm;
    r.carrier = carrier;
    r.modulator = modulator;
    r.index = index;
    r.attackIndex = attackIndex;
    r.envelope = envelope;
    r.loudness = loudness;
    r.attackCycles = 24;
    if (carrier != std::floor(carrier) || modulator != std::floor(modulator)) r.loopCycles = 4;
    return r;
}

Recipe pluck(double damping, double brightness, Envelope envelope, double loudness = 1.3) {
    Recipe r;
    r.model = Model::Pluck;
    r.damping = damping;
    r.brightness = brightness;
    r.envelope = envelope;
    r.loudness = loudness;
    r.attackCycles = 40;
    return r;
}

Recipe noiseLoop(double color, Envelope envelope, double attackBoost, double loudness = 0.8) {
    Recipe r;
    r.model = Model::Noise;
    r.noiseColor = color;
    r.noise = attackBoost;
    r.envelope = envelope;
    r.loudness = loudness;
    r.loopCycles = 64;  // 4096 samples of noise
    r.attackCycles = 16;
    return r;
}

Recipe& withNoise(Recipe& r, double amount, double color, double length = 0.4) {
    r.noise = amount;
    r.noiseColor = color;
    r.noiseLength = length;
    return r;
}

Recipe& withTremolo(Recipe& r, double depth, int shift, double delay = 0.25) {
    r.tremolo = depth;
    r.tremoloShift = shift;
    r.tremoloDelay = delay;
    return r;
}

Recipe recipeFor(int program) {
    Recipe r;
    // clang-format off
    switch (program) {
    // Pianos
    case 0: r = additive(harmonics(16, 1.3, 0.6), PIANO); withNoise(r, 0.25, 0.3, 0.15); break;
    case 1: r = additive(harmonics(20, 1.0, 0.8), PIANO); withNoise(r, 0.3, 0.1, 0.15); break;
    case 2: r = additive(harmonics(14, 1.5, 1.0), PIANO); withNoise(r, 0.15, 0.4, 0.1); break;
    case 3: r = ensemble(harmonics(14, 1.2, 0.5), PIANO, 0.7); withNoise(r, 0.2, 0.3, 0.1); break;
    case 4: r = fm(1, 1, 0.4, 2.5, EPIANO); break;
    case 5: r = fm(1, 1, 1.0, 3.0, EPIANO); withNoise(r, 0.1, 0.0, 0.05); break;
    case 6: r = additive(harmonics(24, 0.8, 0.5), {0.002, 0.05, 0.5, 1.5, 0.1, 2.0, 0.08}); withNoise(r, 0.2, 0.0, 0.1); break;
    case 7: {
        std::vector<Partial> list;
        for (int h = 1; h <= 24; ++h) {  // a quarter-width pulse: every fourth harmonic missing
            double amp = std::fabs(dsin(PI * h / 4)) / h;
            list.push_back({static_cast<double>(h), amp, amp * 1.5});
        }
        r = additive(list, PLUCK);
        break;
    }
    // Chromatic percussion
    case 8: r = inharmonic({{1, 1, 1}, {2, 0.15, 0.3}, {4, 0.05, 0.3}, {7, 0, 0.2}}, MALLET); r.envelope.decay2 = 1.2; break;
    case 9: r = inharmonic({{1, 1, 1}, {2.75, 0.4, 0.8}, {5.125, 0.25, 0.6}, {8.5, 0, 0.3}}, BELL, 0.9); r.envelope.decay2 = 1.5; break;
    case 10: r = inharmonic({{1, 1, 1}, {2, 0.2, 0.3}, {4.8125, 0.2, 0.5}}, MALLET); r.envelope.decay2 = 1.5; break;
    case 11: r = inharmonic({{1, 1, 1}, {4, 0.2, 0.5}, {10, 0, 0.2}}, BELL); withTremolo(r, 0.15, 10, 0.0); break;
    case 12: r = inharmonic({{1, 1, 1}, {4, 0.08, 0.5}, {10, 0, 0.3}}, MALLET); break;
    case 13: r = inharmonic({{1, 1, 1}, {3, 0.35, 0.7}, {6, 0.15, 0.5}}, MALLET); r.envelope.decay2 = 0.4; break;
    case 14: r = inharmonic({{1, 1, 1}, {2, 0.5, 0.6}, {3, 0.4, 0.5}, {4.25, 0.3, 0.5}, {5.375, 0.2, 0.4}, {6.75, 0.1, 0.3}}, BELL, 0.9); break;
    case 15: r = pluck(0.997, 0.1, LONGPLUCK); break;
    // Organs
    case 16: r = additive({{1, 1, 1}, {2, 0.8, 0.8}, {3, 0.6, 0.6}, {4, 0.5, 0.5}, {6, 0.3, 0.3}, {8, 0.3, 0.3}}, HELD, 0.8); withNoise(r, 0.3, 0.0, 0.05); break;
    case 17: r = additive({{1, 1, 1}, {2, 0.7, 0.7}, {3, 0.3, 1.6}, {4, 0.4, 0.4}, {8, 0.2, 0.2}}, HELD, 0.8); withNoise(r, 0.2, 0.0, 0.05); break;
    case 18: r = additive(harmonics(10, 0.7), HELD, 0.75); r.drive = 1.5; withTremolo(r, 0.08, 11, 0.0); break;
    case 19: r = ensemble({{1, 1, 1}, {2, 0.7, 0.7}, {3, 0.4, 0.4}, {4, 0.5, 0.5}, {5, 0.2, 0.2}, {6, 0.3, 0.3}, {8, 0.3, 0.3}, {10, 0.15, 0.15}, {12, 0.15, 0.15}}, {0.08, 0, 1, 0, 1, 0, 0.3}, 0.3, 0.8); break;
    case 20: r = additive(oddHarmonics(16, 0.9, 0.4), {0.05, 0, 1, 0, 1, 0, 0.1}, 0.8); break;
    case 21: r = ensemble(harmonics(24, 0.7), {0.03, 0, 1, 0, 1, 0, 0.1}, 0.8, 0.75); break;
    case 22: r = additive(harmonics(14, 0.9), REED, 0.85); withTremolo(r, 0.05, 11); break;
    case 23: r = ensemble(harmonics(15, 0.8), {0.03, 0, 1, 0, 1, 0, 0.1}, 0.35, 0.75); break;
    // Guitars
    case 24: r = pluck(0.995, 0.6, PLUCK); break;
    case 25: r = pluck(0.997, 0.2, LONGPLUCK); break;
    case 26: r = pluck(0.995, 0.7, PLUCK); break;
    case 27: r = pluck(0.996, 0.4, PLUCK); break;
    case 28: r = pluck(0.98, 0.6, SHORTPLUCK); break;
    case 29: r = ensemble(harmonics(24, 0.9), {0.005, 0.3, 0.7, 4.0, 0.3, 4.0, 0.15}, 0.3, 0.85); r.drive = 2.5; break;
    case 30: r = ensemble(oddHarmonics(24, 0.8, 0.6), {0.005, 0.3, 0.75, 4.0, 0.3, 4.0, 0.15}, 0.3, 0.8); r.drive = 5; break;
    case 31: r = additive({{1, 1, 1}, {2, 0.2, 0.5}, {3, 0.1, 0.3}}, BELL); break;
    // Basses
    case 32: r = additive(harmonics(10, 1.5, 0.6), LONGPLUCK, 1.1); withNoise(r, 0.2, 0.7, 0.1); break;
    case 33: r = additive(harmonics(12, 1.2, 0.6), LONGPLUCK, 1.05); break;
    case 34: r = additive(harmonics(16, 1.0, 1.0), PLUCK, 1.0); withNoise(r, 0.25, 0.2, 0.05); break;
    case 35: r = additive(harmonics(10, 1.6), {0.015, 0.2, 0.8, 3.0, 0.3, 5.0, 0.15}, 1.1); break;
    case 36: r = additive(harmonics(20, 1.1, 2.0), PLUCK, 1.0); withNoise(r, 0.3, 0.1, 0.05); break;
    case 37: r = additive(harmonics(24, 0.9, 2.5), PLUCK, 0.95); withNoise(r, 0.3, 0.0, 0.05); break;
    case 38: r = additive(formant(harmonics(24, 1.0), 4, 1.5, 1.5), {0.003, 0.15, 0.6, 2.0, 0.4, 0, 0.08}, 0.9); break;
    case 39: r = fm(1, 1, 1.2, 4.0, {0.003, 0.2, 0.7, 2.0, 0.4, 0, 0.08}, 0.95); break;
    // Strings
    case 40: r = additive(formant(softAttack(harmonics(16, 1.0), 0.3), 4, 2, 1.0), BOWED, 0.85); withTremolo(r, 0.06, 10, 0.3); break;
    case 41: r = additive(formant(softAttack(harmonics(16, 1.1), 0.3), 3, 2, 1.0), BOWED, 0.85); withTremolo(r, 0.06, 10, 0.3); break;
    case 42: r = additive(formant(softAttack(harmonics(16, 1.2), 0.3), 2.5, 1.5, 1.0), BOWED, 0.9); withTremolo(r, 0.05, 10, 0.3); break;
    case 43: r = additive(softAttack(harmonics(14, 1.4), 0.3), BOWED, 0.95); break;
    case 44: r = ensemble(harmonics(24, 1.1), BOWED, 0.6, 0.8); withTremolo(r, 0.15, 12, 0.0); break;
    case 45: r = pluck(0.985, 0.5, SHORTPLUCK, 1.4); break;
    case 46: r = pluck(0.997, 0.6, LONGPLUCK, 1.2); break;
    case 47: r = inharmonic({{1, 1, 1}, {1.5, 0.5, 0.6}, {2, 0.3, 0.4}, {2.4375, 0.2, 0.3}}, DRUMLIKE, 1.2); withNoise(r, 0.4, 0.8, 0.3); r.envelope.decay2 = 1.5; break;
    // Ensembles
    case 48: r = ensemble(softAttack(harmonics(24, 1.1), 0.2), BOWED, 0.8, 0.8); break;
    case 49: r = recipeFor(48); r.shareWith = 48; r.envelope = SLOWBOWED; break;
    case 50: r = ensemble(harmonics(24, 1.0), {0.08, 0.5, 0.8, 0, 0.8, 0, 0.4}, 0.8, 0.9); break;
    case 51: r = recipeFor(50); r.shareWith = 50; r.envelope = PAD; break;
    case 52: r = ensemble(formant(harmonics(15, 1.2), 3, 1.5, 2.0), {0.15, 0.5, 0.85, 0, 0.85, 0, 0.4}, 0.8, 0.8); withTremolo(r, 0.04, 10, 0.4); break;
    case 53: r = ensemble({{1, 1, 1}, {2, 0.3, 0.3}, {3, 0.1, 0.1}, {4, 0.03, 0.03}}, {0.15, 0.5, 0.85, 0, 0.85, 0, 0.4}, 0.8, 0.85); break;
    case 54: r = ensemble({{1, 1, 1}, {2, 0.5, 0.5}, {3, 0.3, 0.3}, {4, 0.2, 0.2}, {5, 0.1, 0.1}}, PAD, 0.8, 0.8); r.envelope.attack = 0.2; break;
    case 55: r = ensemble(harmonics(24, 0.8), HIT, 0.9, 1.1); withNoise(r, 0.5, 0.2, 0.6); break;
    // Brass
    case 56: r = additive(softAttack(harmonics(18, 0.75), 0.4), BRASS, 0.85); break;
    case 57: r = additive(softAttack(harmonics(16, 0.95), 0.4), BRASS, 0.9); break;
    case 58: r = additive(softAttack(harmonics(12, 1.5), 0.3), BRASS, 1.0); break;
    case 59: r = additive(formant(harmonics(20, 1.0), 8, 2, 4.0), BRASS, 0.8); break;
    case 60: r = additive(softAttack(harmonics(12, 1.6), 0.3), {0.05, 0.2, 0.85, 0, 0.85, 0, 0.2}, 0.95); break;
    case 61: r = ensemble(softAttack(harmonics(24, 0.85), 0.4), BRASS, 0.6, 1.0); break;
    case 62: r = ensemble(harmonics(24, 0.9, 0.3), {0.01, 0.3, 0.7, 0, 0.7, 0, 0.15}, 0.7, 1.2); break;
    case 63: r = ensemble(softAttack(harmonics(24, 1.1), 0.5), {0.06, 0.3, 0.8, 0, 0.8, 0, 0.2}, 0.7, 0.95); break;
    // Reeds
    case 64: r = additive(formant(harmonics(16, 0.9), 2, 1, 1.0), REED, 0.85); withTremolo(r, 0.04, 10, 0.4); break;
    case 65: r = additive(formant(harmonics(16, 0.9), 3, 1.5, 1.0), REED, 0.85); withNoise(r, 0.15, 0.3, 0.3); withTremolo(r, 0.04, 10, 0.4); break;
    case 66: r = additive(formant(harmonics(16, 1.1), 2.5, 1.5, 1.0), REED, 0.9); withNoise(r, 0.15, 0.5, 0.3); break;
    case 67: r = additive(formant(harmonics(16, 1.3), 2, 1.5, 1.0), REED, 0.95); withNoise(r, 0.15, 0.6, 0.3); break;
    case 68: r = additive(formant(harmonics(16, 0.8), 3.5, 1.2, 3.0), REED, 0.8); break;
    case 69: r = additive(formant(harmonics(16, 1.0), 2.5, 1.2, 2.5), REED, 0.85); break;
    case 70: r = additive(formant(harmonics(16, 1.1), 3, 1.5, 2.5), REED, 0.9); break;
    case 71: r = additive(oddHarmonics(15, 1.0, 0.05), REED, 0.85); break;
    // Pipes
    case 72: r = additive({{1, 1, 1}, {2, 0.1, 0.2}, {3, 0.05, 0.1}}, REED, 1.2); withNoise(r, 0.3, 0.2, 0.5); break;
    case 73: r = additive({{1, 1, 1}, {2, 0.25, 0.3}, {3, 0.1, 0.1}}, REED, 0.9); withNoise(r, 0.3, 0.4, 0.5); withTremolo(r, 0.05, 10, 0.5); break;
    case 74: r = additive({{1, 1, 1}, {2, 0.1, 0.1}, {3, 0.2, 0.2}}, REED, 0.9); withNoise(r, 0.2, 0.4, 0.3); break;
    case 75: r = additive({{1, 1, 1}, {2, 0.1, 0.1}}, REED, 1.3); withNoise(r, 0.6, 0.3, 0.4); break;
    case 76: r = additive({{1, 1, 1}, {2, 0.05, 0.05}}, REED, 1.4); withNoise(r, 0.5, 0.7, 0.8); break;
    case 77: r = additive({{1, 1, 1}, {2, 0.2, 0.2}, {3, 0.05, 0.05}}, REED, 0.9); withNoise(r, 0.6, 0.5, 0.6); withTremolo(r, 0.06, 10, 0.3); break;
    case 78: r = additive({{1, 1, 1}, {2, 0.03, 0.03}}, REED, 0.85); break;
    case 79: r = additive({{1, 1, 1}, {3, 0.05, 0.05}}, REED, 0.9); withNoise(r, 0.15, 0.5, 0.3); break;
    // Synth leads
    case 80: r = additive(oddHarmonics(31, 1.0, 0.0), LEAD, 0.7); break;
    case 81: r = additive(harmonics(31, 1.0), LEAD, 0.75); break;
    case 82: r = additive({{1, 1, 1}, {2, 0.4, 0.4}, {3, 0.2, 0.2}}, LEAD, 0.85); withNoise(r, 0.2, 0.3, 0.5); break;
    case 83: r = additive(oddHarmonics(15, 2.0, 0.0), LEAD, 1.3); withNoise(r, 0.5, 0.0, 0.3); break;
    case 84: r = additive(harmonics(24, 0.9), LEAD, 0.7); r.drive = 4; break;
    case 85: r = ensemble(formant(harmonics(15, 1.0), 3, 1.5, 2.0), LEAD, 0.5, 0.8); break;
    case 86: {
        std::vector<Partial> list = harmonics(12, 1.0);
        for (int h = 1; h <= 8; ++h) list.push_back({1.5 * h, 0.6 / h, 0.6 / h});
        r = additive(list, LEAD, 0.7);
        break;
    }
    case 87: {
        std::vector<Partial> list = harmonics(24, 1.0);
        for (Partial& p : list) p.amp = p.attack = p.amp * (static_cast<int>(p.ratio) % 2 ? 1.4 : 0.6);
        r = additive(list, LEAD, 0.75);
        r.drive = 1.5;
        break;
    }
    // Synth pads
    case 88: r = ensemble({{1, 1, 1.5}, {2, 0.4, 0.8}, {3, 0.2, 0.6}, {5, 0.05, 0.4}}, PAD, 0.6, 0.9); break;
    case 89: r = ensemble(harmonics(14, 1.5), PAD, 0.8, 0.85); break;
    case 90: r = ensemble(harmonics(24, 1.0), {0.05, 0.5, 0.7, 0, 0.7, 0, 0.3}, 0.8, 0.75); break;
    case 91: r = ensemble(formant(harmonics(15, 1.3), 3, 1.5, 2.0), PAD, 0.9, 0.85); break;
    case 92: r = ensemble(softAttack(harmonics(14, 1.3), 0.5), {0.4, 0.6, 0.8, 0, 0.8, 0, 0.6}, 0.7, 0.85); break;
    case 93: r = ensemble({{1, 1, 1}, {2.5, 0.5, 0.5}, {3.75, 0.3, 0.3}, {5.125, 0.2, 0.2}}, PAD, 0.7, 0.85); break;
    case 94: r = ensemble({{1, 1, 1}, {2, 0.4, 0.4}, {3, 0.3, 0.3}, {4, 0.2, 0.2}}, PAD, 0.9, 0.85); withTremolo(r, 0.06, 9, 0.5); break;
    case 95: r = ensemble(harmonics(24, 0.9), PAD, 0.8, 0.75); withTremolo(r, 0.12, 8, 0.3); break;
    // Synth effects
    case 96: r = inharmonic({{1, 1, 1}, {2.75, 0.3, 0.8}, {4.5, 0.2, 0.6}}, BELL, 0.9); withNoise(r, 0.3, 0.0, 0.5); break;
    case 97: r = ensemble(harmonics(12, 1.6), PAD, 0.9, 0.9); break;
    case 98: r = inharmonic({{1, 1, 1}, {2.75, 0.5, 0.9}, {5.375, 0.3, 0.7}, {8.875, 0.1, 0.5}}, BELL, 0.85); break;
    case 99: r = ensemble(harmonics(15, 1.2, 1.5), {0.005, 0.3, 0.6, 3.0, 0.4, 0, 0.6}, 0.7, 0.9); break;
    case 100: r = ensemble(harmonics(24, 0.7), PAD, 0.7, 0.7); r.envelope.attack = 0.1; break;
    case 101: r = fm(1, 3, 1.5, 0.5, PAD, 0.85); withTremolo(r, 0.15, 9, 0.5); break;
    case 102: r = ensemble({{1, 1, 1}, {2, 0.5, 0.5}, {3, 0.3, 0.3}}, PAD, 0.6, 0.85); withTremolo(r, 0.15, 9, 0.3); break;
    case 103: r = fm(1, 3.5, 1.0, 3.0, {0.05, 0.5, 0.7, 0, 0.7, 0, 0.5}, 0.85); withTremolo(r, 0.1, 11, 0.2); break;
    // Ethnic
    case 104: r = pluck(0.998, 0.0, LONGPLUCK, 1.2); r.drive = 1.2; break;
    case 105: r = pluck(0.99, 0.05, PLUCK, 1.3); break;
    case 106: r = pluck(0.99, 0.1, SHORTPLUCK, 1.3); break;
    case 107: r = pluck(0.995, 0.3, LONGPLUCK, 1.3); break;
    case 108: r = inharmonic({{1, 1, 1}, {5.375, 0.05, 0.6}, {11, 0, 0.2}}, MALLET, 1.0); r.envelope.decay2 = 1.0; break;
    case 109: r = additive(formant(harmonics(24, 0.6), 5, 2, 1.5), HELD, 0.7); break;
    case 110: r = additive(formant(harmonics(18, 0.9), 4, 2, 1.5), BOWED, 0.85); r.envelope.attack = 0.04; break;
    case 111: r = additive(formant(harmonics(20, 0.7), 4, 1.5, 3.0), REED, 0.75); break;
    // Percussive
    case 112: r = inharmonic({{1, 1, 1}, {2.75, 0.6, 0.9}, {5.4375, 0.4, 0.7}, {8.9375, 0.2, 0.5}}, BELL, 0.85); r.envelope.decay2 = 1.5; break;
    case 113: r = inharmonic({{1, 1, 1}, {2.375, 0.5, 0.8}}, MALLET, 0.9); break;
    case 114: r = inharmonic({{1, 1, 1}, {2, 0.4, 0.3}, {3, 0.3, 0.3}, {4.125, 0.2, 0.2}}, {0.01, 0.1, 0.6, 1.5, 0.15, 2.0, 0.3}, 0.9); break;
    case 115: r = inharmonic({{1, 1, 1}, {2.5, 0.3, 0.8}}, {0.002, 0.03, 0.2, 0.1, 0.02, 0.1, 0.05}, 1.0); break;
    case 116: r = inharmonic({{1, 1, 1}, {1.5625, 0.5, 0.7}, {2.3125, 0.3, 0.5}}, DRUMLIKE, 1.3); withNoise(r, 0.6, 0.8, 0.5); break;
    case 117: r = inharmonic({{1, 1, 1}, {1.5, 0.4, 0.5}, {2, 0.2, 0.3}}, DRUMLIKE, 1.2); withNoise(r, 0.4, 0.6, 0.4); break;
    case 118: r = additive({{1, 1, 1}, {2, 0.1, 0.3}}, DRUMLIKE, 1.2); withNoise(r, 0.2, 0.5, 0.2); break;
    case 119: r = noiseLoop(0.2, SWELL, 0, 0.7); break;
    // Sound effects
    case 120: r = pluck(0.97, 0.0, SHORTPLUCK, 1.0); withNoise(r, 0.6, 0.0, 0.4); break;
    case 121: r = noiseLoop(0.6, REED, 0, 0.8); break;
    case 122: r = noiseLoop(0.85, {1.0, 0, 1, 0, 1, 0, 1.5}, 0, 0.9); withTremolo(r, 0.15, 6, 0.5); break;
    case 123: r = fm(1, 2, 0.3, 2.0, {0.02, 0.1, 0.6, 0.3, 0.2, 0.3, 0.05}, 0.75); withTremolo(r, 0.15, 12, 0.0); break;
    case 124: r = additive(oddHarmonics(9, 1.2, 0.3), LEAD, 0.75); withTremolo(r, 0.15, 12, 0.0); break;
    case 125: r = noiseLoop(0.9, {0.3, 0, 1, 0, 1, 0, 0.5}, 0, 0.95); withTremolo(r, 0.15, 11, 0.0); break;
    case 126: r = noiseLoop(0.3, {0.5, 0, 1, 0, 1, 0, 0.8}, 0, 0.75); withTremolo(r, 0.1, 12, 0.0); break;
    case 127: r = noiseLoop(0.4, {0.002, 0.05, 0.2, 0.4, 0.02, 0.3, 0.1}, 6.0, 1.2); break;
    default: break;
    }
    // clang-format on
    return r;
}

// The sample of a pitched program: an attack part of attackCycles periods and
// a loop of loopCycles periods, exactly periodic, so that the loop wraps
// from its end to its start without a step.
struct ProgramSample {
    std::vector<double> data;
    std::uint32_t loopStart, loopEnd;
};

double attackWeight(std::size_t t, std::size_t attack) {
    if (t >= attack) return 0;
    double x = 1 - static_cast<double>(t) / static_cast<double>(attack);
    return x * x;
}

void addNoiseBurst(std::vector<double>& x, const Recipe& r, std::size_t attack, Noise& noise) {
    if (r.noise <= 0) return;
    std::size_t length = static_cast<std::size_t>(static_cast<double>(attack) * r.noiseLength);
    LowPass lp{r.noiseColor};
    double peak = 0;
    for (double v : x) peak = std::fmax(peak, std::fabs(v));
    for (std::size_t t = 0; t < length; ++t) {
        double w = 1 - static_cast<double>(t) / static_cast<double>(length);
        x[t] += r.noise * peak * w * w * w * lp(noise.next()) * (r.noiseColor > 0.5 ? 3 : 1.5);
    }
}

void softClip(std::vector<double>& x, double drive) {
    if (drive <= 0) return;
    double peak = 1e-12;
    for (double v : x) peak = std::fmax(peak, std::fabs(v));
    for (double& v : x) {
        double y = v / peak * drive;
        v = y / (1 + std::fabs(y));
    }
}

ProgramSample makeProgramSample(const Recipe& r, std::uint32_t seed) {
    Noise noise(seed);
    const std::size_t period = static_cast<std::size_t>(r.period);
    const std::size_t loop = period * static_cast<std::size_t>(r.loopCycles);
    const std::size_t attack = period * static_cast<std::size_t>(r.attackCycles);
    ProgramSample s;
    s.data.assign(attack + loop, 0.0);
    s.loopStart = static_cast<std::uint32_t>(attack);
    s.loopEnd = static_cast<std::uint32_t>(attack + loop);

    // One sine period over the loop length: partials land on whole cycles per loop.
    std::vector<double> sine(loop);
    for (std::size_t i = 0; i < loop; ++i) sine[i] = dsin(2 * PI * static_cast<double>(i) / static_cast<double>(loop));
    auto at = [&](std::size_t cycles, std::size_t t, std::size_t phase) { return sine[(cycles * t + phase) % loop]; };
    auto cyclesOf = [&](double ratio, int loopCycles) {
        return static_cast<std::size_t>(std::floor(ratio * loopCycles + 0.5));
    };

    switch (r.model) {
        case Model::Additive: {
            for (const Partial& p : r.partials) {
                const int copies = r.chorus > 0 ? 3 : 1;
                for (int c = 0; c < copies; ++c) {
                    int loopCycles = r.loopCycles + (c == 0 ? 0 : c == 1 ? -1 : 1);
                    std::size_t k = cyclesOf(p.ratio, loopCycles);
                    if (k == 0 || 2 * k >= loop) continue;
                    double gain = c == 0 ? 1 : r.chorus;
                    std::size_t phase = noise.nextInt(static_cast<std::uint32_t>(loop));
                    for (std::size_t t = 0; t < s.data.size(); ++t) {
                        double a = p.amp + (p.attack - p.amp) * attackWeight(t, attack);
                        s.data[t] += gain * a * at(k, t, phase);
                    }
                }
            }
            break;
        }
        case Model::Fm: {
            std::size_t kc = cyclesOf(r.carrier, r.loopCycles), km = cyclesOf(r.modulator, r.loopCycles);
            for (std::size_t t = 0; t < s.data.size(); ++t) {
                double index = r.index + (r.attackIndex - r.index) * attackWeight(t, attack);
                double phase = 2 * PI * static_cast<double>((kc * t) % loop) / static_cast<double>(loop);
                s.data[t] = dsin(phase + index * at(km, t, 0));
            }
            break;
        }
        case Model::Pluck: {
            // Karplus-Strong with a symmetric three-tap average, which delays
            // nothing: the string repeats exactly every `period` samples.
            std::vector<double>& y = s.data;
            LowPass colour{r.brightness};
            double mean = 0;
            for (std::size_t i = 0; i < period; ++i) mean += (y[i] = colour(noise.next()));
            mean /= static_cast<double>(period);
            for (std::size_t i = 0; i < period; ++i) y[i] -= mean;
            for (std::size_t n = period; n < attack; ++n) {
                double before = n >= period + 1 ? y[n - period - 1] : 0;
                y[n] = r.damping * (0.25 * y[n - period + 1] + 0.5 * y[n - period] + 0.25 * before);
            }
            // The loop repeats the average of the last two periods; the last
            // period of the attack fades into it.
            std::vector<double> cycle(period);
            double cycleMean = 0;
            for (std::size_t i = 0; i < period; ++i) {
                cycle[i] = 0.5 * (y[attack - 2 * period + i] + y[attack - period + i]);
                cycleMean += cycle[i];
            }
            cycleMean /= static_cast<double>(period);
            for (double& v : cycle) v -= cycleMean;
            for (std::size_t i = 0; i < period; ++i) {
                double w = static_cast<double>(i) / static_cast<double>(period);
                y[attack - period + i] = y[attack - period + i] * (1 - w) + cycle[i] * w;
            }
            for (std::size_t t = attack; t < y.size(); ++t) y[t] = cycle[(t - attack) % period];
            break;
        }
        case Model::Noise: {
            // Filtered noise; the loop's last samples are cross-faded with the
            // noise that follows it, so its end runs on into its start.
            const std::size_t fade = loop / 4;
            std::vector<double> n(attack + loop + fade);
            LowPass lp{r.noiseColor};
            for (double& v : n) v = lp(noise.next());
            for (std::size_t t = 0; t < attack + loop; ++t) s.data[t] = n[t];
            for (std::size_t i = 0; i < fade; ++i) {
                double w = static_cast<double>(i) / static_cast<double>(fade);
                // position loopStart + i holds a blend that equals the sample after loopEnd at i = 0
                s.data[attack + i] = n[attack + loop + i] * (1 - w) + n[attack + i] * w;
            }
            for (std::size_t t = 0; t < attack; ++t) s.data[t] *= 1 + r.noise * attackWeight(t, attack);
            break;
        }
    }
    softClip(s.data, r.drive);
    if (r.model != Model::Noise) addNoiseBurst(s.data, r, attack, noise);
    return s;
}

// Level reached by the attack, for a loudness factor of 1 (see the header).
constexpr double FULL_LEVEL = 7.5e6;

InstrumentRecord makeProgramRecord(const Recipe& r, std::uint32_t sampleIndex, const ProgramSample& s, int program) {
    InstrumentRecord record{};
    const Envelope& e = r.envelope;
    const double level = FULL_LEVEL * r.loudness;
    auto rate = [](double amount, double seconds) { return even(amount / (seconds * RATE)); };
    record.attackRate = rate(level, e.attack);
    record.attackLevel = static_cast<std::int32_t>(level);
    record.decay1Rate = e.decay1 > 0 ? rate(level * (1 - e.level1), e.decay1) : 0;
    record.decay1Level = static_cast<std::int32_t>(level * e.level1);
    record.decay2Rate = e.decay2 > 0 ? rate(level * (e.level1 - e.level2), e.decay2) : 0;
    record.decay2Level = static_cast<std::int32_t>(level * e.level2);
    record.decay3Rate = e.decay3 > 0 ? rate(level * e.level2, e.decay3) : 0;
    record.releaseRate = rate(level, e.release);
    // The tremolo term is (sine × depth) >> 24 against an amplitude of
    // (level × volume) >> 21, volume 18 at velocity 100.
    double depth = r.tremolo * (level * 18 / 2097152.0) * 16777216.0 / 127;
    if (depth > 0x1F0000) depth = 0x1F0000;
    record.lfoDelay = static_cast<std::int32_t>(r.tremoloDelay * RATE);
    record.lfoDepth = static_cast<std::int32_t>(depth);
    record.lfoDepthStep = r.tremolo > 0 ? static_cast<std::int32_t>(depth / (0.3 * RATE)) + 1 : 0;
    record.lfoRateShift = r.tremoloShift;
    record.fixedStep = 0;
    record.cycleLength = static_cast<std::uint32_t>(r.period);
    record.loopStart = s.loopStart;
    record.loopEnd = s.loopEnd;
    record.sample = static_cast<std::int32_t>(sampleIndex);
    record.groupId = program;
    return record;
}

// --------------------------------------------------------------------- drums

std::vector<double> seconds(double length) { return std::vector<double>(static_cast<std::size_t>(length * RATE), 0.0); }

double timeOf(std::size_t i) { return static_cast<double>(i) / RATE; }

// A drum body: a sine falling from `from` to `to` Hz with time constant `sweep`.
void addSweep(std::vector<double>& x, double from, double to, double sweep, double decay, double amp) {
    double phase = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        double t = timeOf(i);
        double f = to + (from - to) * decayAt(t, sweep);
        phase += 2 * PI * f / RATE;
        x[i] += amp * dsin(phase) * decayAt(t, decay);
    }
}

void addTone(std::vector<double>& x, double hz, double decay, double amp, double attack = 0.0005) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        double t = timeOf(i);
        double rise = t < attack ? t / attack : 1;
        x[i] += amp * rise * dsin(2 * PI * hz * t) * decayAt(t, decay);
    }
}

// Noise through a high-pass and an optional resonator, with an exponential decay.
void addNoise(std::vector<double>& x, Noise& noise, double highPass, double resonance, double r, double decay,
              double amp, double attack = 0.0005) {
    HighPass hp{highPass};
    Resonator res(resonance > 0 ? resonance : 1000, r);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double t = timeOf(i);
        double v = hp(noise.next());
        if (resonance > 0) v = res(v) * 8;
        double rise = t < attack ? t / attack : 1;
        x[i] += amp * rise * v * decayAt(t, decay);
    }
}

// Six detuned square waves through a high-pass: the metallic core of hats and cymbals.
void addMetal(std::vector<double>& x, double scale, double highPass, double decay, double amp) {
    static const double ratios[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    HighPass hp1{highPass}, hp2{highPass};
    for (std::size_t i = 0; i < x.size(); ++i) {
        double t = timeOf(i), v = 0;
        for (double f : ratios) v += dsin(2 * PI * f * scale * t) >= 0 ? 1 : -1;
        x[i] += amp * hp2(hp1(v / 6)) * decayAt(t, decay);
    }
}

void fadeOut(std::vector<double>& x, double length) {
    std::size_t n = static_cast<std::size_t>(length * RATE);
    if (n > x.size()) n = x.size();
    for (std::size_t i = 0; i < n; ++i) x[x.size() - n + i] *= 1 - static_cast<double>(i + 1) / static_cast<double>(n);
}

// Adds `part` into `x` from `start` seconds on, as far as `x` reaches.
void mixAt(std::vector<double>& x, const std::vector<double>& part, double start) {
    const std::size_t offset = static_cast<std::size_t>(start * RATE);
    for (std::size_t i = 0; i < part.size() && offset + i < x.size(); ++i) x[offset + i] += part[i];
}

struct Drum {
    int key;
    int sample;    // index into the drum sample list
    double speed;  // playback step relative to 22050 Hz
    int group;     // 0: own group; otherwise keys sharing a number cut each other
};

}  // namespace

void buildGeneralMidiFont(SoundFontWriter& writer) {
    // Programs.
    std::uint32_t programSample[128] = {};
    for (int program = 0; program < 128; ++program) {
        Recipe recipe = recipeFor(program);
        ProgramSample sample;
        std::uint32_t index;
        if (recipe.shareWith >= 0) {
            index = programSample[recipe.shareWith];
            sample.loopStart = writer.programs[recipe.shareWith].loopStart;
            sample.loopEnd = writer.programs[recipe.shareWith].loopEnd;
        } else {
            sample = makeProgramSample(recipe, 0x9E3779B9u * static_cast<std::uint32_t>(program + 1));
            index = writer.addSample(quantize(sample.data, 120));
        }
        programSample[program] = index;
        writer.programs[program] = makeProgramRecord(recipe, index, sample, program);
    }

    // Drum samples, made at 22050 Hz.
    Noise noise(0x5EED1234u);
    std::vector<std::vector<double>> drums;
    auto add = [&](std::vector<double> x) {
        fadeOut(x, 0.01);
        drums.push_back(std::move(x));
        return static_cast<int>(drums.size() - 1);
    };
    std::vector<double> x;

    // clang-format off
    x = seconds(0.4); addSweep(x, 160, 48, 0.03, 0.14, 1); addNoise(x, noise, 0.3, 0, 0, 0.004, 0.4);
    const int kick = add(x);
    x = seconds(0.06); addTone(x, 1700, 0.01, 0.6); addTone(x, 820, 0.015, 0.5); addNoise(x, noise, 0.6, 0, 0, 0.006, 0.6);
    const int sideStick = add(x);
    x = seconds(0.3); addTone(x, 185, 0.05, 0.6); addTone(x, 330, 0.035, 0.35); addNoise(x, noise, 0.7, 0, 0, 0.07, 0.9);
    const int snare = add(x);
    x = seconds(0.28); addTone(x, 230, 0.03, 0.4); addNoise(x, noise, 0.8, 0, 0, 0.05, 1.0);
    const int electricSnare = add(x);
    x = seconds(0.25);
    for (int burst = 0; burst < 4; ++burst) {
        std::vector<double> b = seconds(0.25 - 0.011 * burst);
        addNoise(b, noise, 0.5, 1100, 0.97, burst < 3 ? 0.004 : 0.06, 1.0);
        for (std::size_t i = 0; i < b.size(); ++i) x[i + static_cast<std::size_t>(0.011 * burst * RATE)] += b[i];
    }
    const int clap = add(x);
    x = seconds(0.55); addSweep(x, 150, 105, 0.06, 0.2, 1); addNoise(x, noise, 0.3, 0, 0, 0.015, 0.25);
    const int tom = add(x);
    x = seconds(0.1); addMetal(x, 1.0, 0.4, 0.02, 1); addNoise(x, noise, 0.2, 0, 0, 0.015, 0.3);
    const int closedHat = add(x);
    x = seconds(0.14); addMetal(x, 1.0, 0.4, 0.035, 1); addNoise(x, noise, 0.2, 0, 0, 0.03, 0.25);
    const int pedalHat = add(x);
    x = seconds(0.55); addMetal(x, 1.0, 0.4, 0.2, 1); addNoise(x, noise, 0.2, 0, 0, 0.2, 0.3);
    const int openHat = add(x);
    x = seconds(1.3); addMetal(x, 1.3, 0.5, 0.45, 0.8); addNoise(x, noise, 0.4, 0, 0, 0.4, 0.6, 0.003);
    const int crash = add(x);
    x = seconds(1.1); addMetal(x, 0.9, 0.6, 0.5, 0.5); addTone(x, 2480, 0.4, 0.12); addTone(x, 3310, 0.35, 0.1); addNoise(x, noise, 0.3, 0, 0, 0.3, 0.25);
    const int ride = add(x);
    x = seconds(0.8); addTone(x, 2480, 0.35, 0.5); addTone(x, 3740, 0.25, 0.35); addTone(x, 5230, 0.2, 0.2); addMetal(x, 1.1, 0.6, 0.2, 0.2);
    const int rideBell = add(x);
    x = seconds(0.8); addMetal(x, 0.8, 0.7, 0.3, 0.8); addNoise(x, noise, 0.6, 0, 0, 0.25, 0.6);
    const int chinese = add(x);
    x = seconds(0.5); addMetal(x, 1.5, 0.4, 0.15, 0.8); addNoise(x, noise, 0.2, 0, 0, 0.15, 0.6);
    const int splash = add(x);
    x = seconds(0.28); addMetal(x, 2.2, 0.3, 0.07, 0.6); addNoise(x, noise, 0.1, 0, 0, 0.07, 0.6, 0.004);
    const int tambourine = add(x);
    x = seconds(0.3); addTone(x, 562, 0.07, 0.7); addTone(x, 845, 0.06, 0.5); addTone(x, 1690, 0.03, 0.2);
    const int cowbell = add(x);
    x = seconds(0.75);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double t = timeOf(i), rattle = 0.5 + 0.5 * dsin(2 * PI * 32 * t);
        x[i] = noise.next() * rattle * rattle * decayAt(t, 0.25);
    }
    { HighPass hp{0.4}; Resonator res(3200, 0.95); for (double& v : x) v = res(hp(v)); }
    const int vibraslap = add(x);
    x = seconds(0.35); addSweep(x, 260, 220, 0.02, 0.1, 1); addTone(x, 380, 0.05, 0.25); addNoise(x, noise, 0.4, 0, 0, 0.008, 0.3);
    const int handDrum = add(x);
    x = seconds(0.4); addTone(x, 420, 0.12, 0.7); addTone(x, 640, 0.1, 0.4); addNoise(x, noise, 0.5, 0, 0, 0.02, 0.4);
    const int timbale = add(x);
    x = seconds(0.3); addTone(x, 880, 0.1, 0.8); addTone(x, 2150, 0.06, 0.4);
    const int agogo = add(x);
    x = seconds(0.15); addNoise(x, noise, 0.05, 0, 0, 0.04, 1.0, 0.006);
    const int cabasa = add(x);
    x = seconds(0.08); addNoise(x, noise, 0.05, 0, 0, 0.02, 1.0, 0.003);
    const int maracas = add(x);
    x = seconds(0.14);
    for (std::size_t i = 0; i < x.size(); ++i) { double t = timeOf(i); x[i] = dsin(2 * PI * 2350 * t + 3 * dsin(2 * PI * 28 * t)); }
    const int shortWhistle = add(x);
    x = seconds(0.45);
    for (std::size_t i = 0; i < x.size(); ++i) { double t = timeOf(i); x[i] = dsin(2 * PI * 2100 * t + 3 * dsin(2 * PI * 28 * t)); }
    const int longWhistle = add(x);
    auto guiro = [&](double length, double rate) {
        std::vector<double> g = seconds(length);
        Resonator res(2600, 0.96);
        for (std::size_t i = 0; i < g.size(); ++i) {
            double t = timeOf(i), phase = t * rate - std::floor(t * rate);
            g[i] = res(noise.next() * decayAt(phase, 0.004) * 6);
        }
        return g;
    };
    const int shortGuiro = add(guiro(0.12, 45));
    const int longGuiro = add(guiro(0.4, 40));
    x = seconds(0.08); addTone(x, 2480, 0.02, 1);
    const int claves = add(x);
    x = seconds(0.1); addTone(x, 1050, 0.025, 0.8); addTone(x, 1720, 0.015, 0.3);
    const int woodBlock = add(x);
    auto cuica = [&](double length, double from, double to) {
        std::vector<double> c = seconds(length);
        double phase = 0;
        for (std::size_t i = 0; i < c.size(); ++i) {
            double t = timeOf(i), f = from + (to - from) * t / length;
            phase += 2 * PI * f / RATE;
            c[i] = (dsin(phase) + 0.3 * dsin(2 * phase)) * (t < 0.01 ? t / 0.01 : 1) * decayAt(t, length * 0.6);
        }
        return c;
    };
    const int muteCuica = add(cuica(0.12, 620, 560));
    const int openCuica = add(cuica(0.35, 330, 620));
    x = seconds(0.12); addTone(x, 1250 * 3, 0.03, 0.6); addTone(x, 1250 * 5.3, 0.02, 0.4); addTone(x, 1250 * 7.1, 0.015, 0.2);
    const int muteTriangle = add(x);
    x = seconds(1.0); addTone(x, 1250 * 3, 0.5, 0.6); addTone(x, 1250 * 5.3, 0.35, 0.4); addTone(x, 1250 * 7.1, 0.25, 0.2);
    const int openTriangle = add(x);

    // The GS extensions below key 35 and above key 81.
    x = seconds(0.08); addSweep(x, 1500, 170, 0.01, 0.025, 1);
    const int highQ = add(x);
    x = seconds(0.25); addNoise(x, noise, 0.3, 3300, 0.85, 0.06, 1.0); addTone(x, 340, 0.015, 0.3); addNoise(x, noise, 0.5, 0, 0, 0.01, 0.5);
    const int slap = add(x);
    // A turntable scratch: a buzzy tone and its grit, the record speeding up
    // (push) or slowing down (pull) under the hand.
    auto scratch = [&](double length, double from, double to) {
        std::vector<double> c = seconds(length);
        LowPass grit{0.2};
        double phase = 0;
        for (std::size_t i = 0; i < c.size(); ++i) {
            double t = timeOf(i), u = t / length, f = from + (to - from) * u * u * (3 - 2 * u);
            phase += 2 * PI * f / RATE;
            double hump = dsin(PI * u);
            c[i] = (dsin(phase) + 0.5 * dsin(2 * phase) + 0.33 * dsin(3 * phase) + 0.6 * grit(noise.next())) * hump * hump;
        }
        return c;
    };
    const int scratchPush = add(scratch(0.16, 200, 950));
    const int scratchPull = add(scratch(0.19, 900, 180));
    x = seconds(0.08); addTone(x, 3130, 0.012, 0.4); addTone(x, 5390, 0.009, 0.6); addTone(x, 7270, 0.006, 0.5); addNoise(x, noise, 0.1, 0, 0, 0.003, 0.6);
    const int sticks = add(x);
    x = seconds(0.03);
    for (std::size_t i = 0; i < x.size(); ++i) { double t = timeOf(i); x[i] = (dsin(2 * PI * 1200 * t) >= 0 ? 1 : -1) * decayAt(t, 0.005); }
    const int squareClick = add(x);
    x = seconds(0.05); addTone(x, 5600, 0.006, 0.7); addTone(x, 3050, 0.009, 0.35); addTone(x, 7900, 0.004, 0.3); addNoise(x, noise, 0.1, 0, 0, 0.002, 0.4);
    const int metronomeClick = add(x);
    x = seconds(0.8); addTone(x, 4980, 0.16, 0.7); addTone(x, 4980 * 1.51, 0.09, 0.25); addTone(x, 2490, 0.05, 0.1); addNoise(x, noise, 0.1, 0, 0, 0.003, 0.3);
    const int metronomeBell = add(x);
    x = seconds(0.2);
    for (int grain = 0; grain < 2; ++grain) {  // the beads hit the shell going and coming back
        std::vector<double> g = seconds(0.2 - 0.045 * grain);
        addNoise(g, noise, 0.05, 0, 0, 0.03, grain == 0 ? 1.0 : 0.55, 0.012);
        mixAt(x, g, 0.045 * grain);
    }
    { HighPass hp{0.3}; for (double& v : x) v = hp(v); }
    const int shaker = add(x);
    // Jingles: small bells, each struck a little after the others.
    x = seconds(0.6);
    for (int bell = 0; bell < 9; ++bell) {
        std::vector<double> b = seconds(0.6 - 0.007 * bell);
        double hz = 3900 + static_cast<double>(noise.nextInt(3400));
        addTone(b, hz, 0.1 + 0.015 * (bell % 4), 0.5); addTone(b, hz * 1.48, 0.06, 0.25);
        mixAt(x, b, 0.007 * bell);
    }
    addNoise(x, noise, 0.2, 0, 0, 0.02, 0.4);
    const int jingleBell = add(x);
    // Bell tree: a stick run down a stack of bells, high to low.
    x = seconds(1.4);
    for (int bell = 0; bell < 12; ++bell) {
        const double start = 0.055 * bell, hz = 8600 * dexp(-0.085 * bell);
        std::vector<double> b = seconds(1.4 - start);
        addTone(b, hz, 0.35, 0.45 + 0.03 * bell); addTone(b, hz * 1.51, 0.15, 0.15);
        mixAt(x, b, start);
    }
    const int bellTree = add(x);
    x = seconds(0.1);
    for (int clack = 0; clack < 2; ++clack) {
        std::vector<double> c = seconds(0.1 - 0.022 * clack);
        addNoise(c, noise, 0.1, 5200, 0.8, 0.008, 1.0); addTone(c, 3350, 0.01, 0.3); addTone(c, 6100, 0.006, 0.4);
        if (clack) for (double& v : c) v *= 0.7;
        mixAt(x, c, 0.022 * clack);
    }
    const int castanets = add(x);
    x = seconds(0.3); addSweep(x, 120, 82, 0.03, 0.08, 1); addTone(x, 430, 0.02, 0.45); addNoise(x, noise, 0.4, 0, 0, 0.012, 0.35);
    const int muteSurdo = add(x);
    x = seconds(1.1); addSweep(x, 105, 70, 0.05, 0.3, 1); addTone(x, 360, 0.03, 0.3); addNoise(x, noise, 0.4, 0, 0, 0.01, 0.3);
    const int openSurdo = add(x);
    // clang-format on

    // The fixed-step routines have no envelope: a drum's level is its
    // sample's, added as (2 × sample) × volume × 1.5. Samples peak at
    // DRUM_PEAK (the kick a little higher), which puts a stroke's energy
    // about as far under a melodic note's as the common General MIDI fonts
    // put it, averaged over the kit and the programs.
    constexpr double DRUM_PEAK = 50, KICK_PEAK = 57;
    std::uint32_t firstDrumSample = 0;
    for (std::size_t i = 0; i < drums.size(); ++i) {
        std::uint32_t index =
            writer.addSample(quantize(drums[i], i == static_cast<std::size_t>(kick) ? KICK_PEAK : DRUM_PEAK));
        if (i == 0) firstDrumSample = index;
    }

    enum { OWN = 0, HATS = 1, WHISTLES, GUIROS, CUICAS, TRIANGLES, SURDOS };
    // clang-format off
    const Drum kit[] = {
        {27, highQ, 1.0, OWN},          {28, slap, 1.0, OWN},         {29, scratchPush, 1.0, OWN},
        {30, scratchPull, 1.0, OWN},    {31, sticks, 1.0, OWN},       {32, squareClick, 1.0, OWN},
        {33, metronomeClick, 1.0, OWN}, {34, metronomeBell, 1.0, OWN},
        {35, kick, 0.85, OWN},          {36, kick, 1.0, OWN},         {37, sideStick, 1.0, OWN},
        {38, snare, 1.0, OWN},          {39, clap, 1.0, OWN},         {40, electricSnare, 1.0, OWN},
        {41, tom, 0.71, OWN},           {42, closedHat, 1.0, HATS},   {43, tom, 0.8, OWN},
        {44, pedalHat, 1.0, HATS},      {45, tom, 0.9, OWN},          {46, openHat, 1.0, HATS},
        {47, tom, 1.0, OWN},            {48, tom, 1.12, OWN},         {49, crash, 1.0, OWN},
        {50, tom, 1.26, OWN},           {51, ride, 1.0, OWN},         {52, chinese, 1.0, OWN},
        {53, rideBell, 1.0, OWN},       {54, tambourine, 1.0, OWN},   {55, splash, 1.0, OWN},
        {56, cowbell, 1.0, OWN},        {57, crash, 1.12, OWN},       {58, vibraslap, 1.0, OWN},
        {59, ride, 1.12, OWN},          {60, handDrum, 1.6, OWN},     {61, handDrum, 1.3, OWN},
        {62, handDrum, 1.12, OWN},      {63, handDrum, 1.0, OWN},     {64, handDrum, 0.8, OWN},
        {65, timbale, 1.0, OWN},        {66, timbale, 0.8, OWN},      {67, agogo, 1.0, OWN},
        {68, agogo, 0.75, OWN},         {69, cabasa, 1.0, OWN},       {70, maracas, 1.0, OWN},
        {71, shortWhistle, 1.0, WHISTLES}, {72, longWhistle, 1.0, WHISTLES}, {73, shortGuiro, 1.0, GUIROS},
        {74, longGuiro, 1.0, GUIROS},   {75, claves, 1.0, OWN},       {76, woodBlock, 1.2, OWN},
        {77, woodBlock, 1.0, OWN},      {78, muteCuica, 1.0, CUICAS}, {79, openCuica, 1.0, CUICAS},
        {80, muteTriangle, 1.0, TRIANGLES}, {81, openTriangle, 1.0, TRIANGLES}, {82, shaker, 1.0, OWN},
        {83, jingleBell, 1.0, OWN},     {84, bellTree, 1.0, OWN},     {85, castanets, 1.0, OWN},
        {86, muteSurdo, 1.0, SURDOS},   {87, openSurdo, 1.0, SURDOS},
    };
    // clang-format on
    int groupRegion[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    for (const Drum& drum : kit) {
        InstrumentRecord record{};
        const std::uint32_t index = firstDrumSample + static_cast<std::uint32_t>(drum.sample);
        const std::uint32_t length = static_cast<std::uint32_t>(writer.samples[index].size());
        const std::int32_t step = static_cast<std::int32_t>(std::floor(65536 * drum.speed + 0.5));
        const std::int32_t region = static_cast<std::int32_t>(writer.drumRegions.size());
        record.fixedStep = 1;
        record.lfoDepthStep = step;  // while the key is held
        record.lfoDepth = step;      // after note-off: a drum plays on to its end
        record.cycleLength = length;
        record.loopEnd = length;
        record.sample = static_cast<std::int32_t>(index);
        if (drum.group != OWN && groupRegion[drum.group] < 0) groupRegion[drum.group] = region;
        record.groupId = 128 + (drum.group == OWN ? region : groupRegion[drum.group]);
        writer.drumRegions.push_back(record);
        writer.drumKitMaps[static_cast<std::size_t>(drum.key)] = static_cast<std::uint32_t>(region);
    }
    // Keys outside 27 … 87 play a silent region (end position 0).
    InstrumentRecord silent{};
    silent.fixedStep = 1;
    silent.lfoDepth = silent.lfoDepthStep = 65536;
    silent.sample = static_cast<std::int32_t>(firstDrumSample);
    silent.groupId = 128 + static_cast<std::int32_t>(writer.drumRegions.size());
    const std::uint32_t silentRegion = static_cast<std::uint32_t>(writer.drumRegions.size());
    writer.drumRegions.push_back(silent);
    for (int key = 0; key < 128; ++key)
        if (key < 27 || key > 87) writer.drumKitMaps[static_cast<std::size_t>(key)] = silentRegion;
}

const char* generalMidiProgramName(int program) {
    // clang-format off
    static const char* const names[128] = {
        "Acoustic Grand Piano", "Bright Acoustic Piano", "Electric Grand Piano", "Honky-tonk Piano",
        "Electric Piano 1", "Electric Piano 2", "Harpsichord", "Clavinet",
        "Celesta", "Glockenspiel", "Music Box", "Vibraphone", "Marimba", "Xylophone", "Tubular Bells", "Dulcimer",
        "Drawbar Organ", "Percussive Organ", "Rock Organ", "Church Organ", "Reed Organ", "Accordion", "Harmonica",
        "Tango Accordion",
        "Acoustic Guitar (nylon)", "Acoustic Guitar (steel)", "Electric Guitar (jazz)", "Electric Guitar (clean)",
        "Electric Guitar (muted)", "Overdriven Guitar", "Distortion Guitar", "Guitar Harmonics",
        "Acoustic Bass", "Electric Bass (finger)", "Electric Bass (pick)", "Fretless Bass", "Slap Bass 1",
        "Slap Bass 2", "Synth Bass 1", "Synth Bass 2",
        "Violin", "Viola", "Cello", "Contrabass", "Tremolo Strings", "Pizzicato Strings", "Orchestral Harp",
        "Timpani",
        "String Ensemble 1", "String Ensemble 2", "Synth Strings 1", "Synth Strings 2", "Choir Aahs", "Voice Oohs",
        "Synth Voice", "Orchestra Hit",
        "Trumpet", "Trombone", "Tuba", "Muted Trumpet", "French Horn", "Brass Section", "Synth Brass 1",
        "Synth Brass 2",
        "Soprano Sax", "Alto Sax", "Tenor Sax", "Baritone Sax", "Oboe", "English Horn", "Bassoon", "Clarinet",
        "Piccolo", "Flute", "Recorder", "Pan Flute", "Blown Bottle", "Shakuhachi", "Whistle", "Ocarina",
        "Lead 1 (square)", "Lead 2 (sawtooth)", "Lead 3 (calliope)", "Lead 4 (chiff)", "Lead 5 (charang)",
        "Lead 6 (voice)", "Lead 7 (fifths)", "Lead 8 (bass + lead)",
        "Pad 1 (new age)", "Pad 2 (warm)", "Pad 3 (polysynth)", "Pad 4 (choir)", "Pad 5 (bowed)",
        "Pad 6 (metallic)", "Pad 7 (halo)", "Pad 8 (sweep)",
        "FX 1 (rain)", "FX 2 (soundtrack)", "FX 3 (crystal)", "FX 4 (atmosphere)", "FX 5 (brightness)",
        "FX 6 (goblins)", "FX 7 (echoes)", "FX 8 (sci-fi)",
        "Sitar", "Banjo", "Shamisen", "Koto", "Kalimba", "Bagpipe", "Fiddle", "Shanai",
        "Tinkle Bell", "Agogo", "Steel Drums", "Woodblock", "Taiko Drum", "Melodic Tom", "Synth Drum",
        "Reverse Cymbal",
        "Guitar Fret Noise", "Breath Noise", "Seashore", "Bird Tweet", "Telephone Ring", "Helicopter", "Applause",
        "Gunshot",
    };
    // clang-format on
    return program >= 0 && program < 128 ? names[program] : "";
}

const char* generalMidiDrumName(int key) {
    // clang-format off
    static const char* const names[61] = {
        "High Q", "Slap", "Scratch Push", "Scratch Pull", "Sticks", "Square Click", "Metronome Click",
        "Metronome Bell", "Acoustic Bass Drum", "Bass Drum 1", "Side Stick", "Acoustic Snare", "Hand Clap", "Electric Snare",
        "Low Floor Tom", "Closed Hi-Hat", "High Floor Tom", "Pedal Hi-Hat", "Low Tom", "Open Hi-Hat",
        "Low-Mid Tom", "Hi-Mid Tom", "Crash Cymbal 1", "High Tom", "Ride Cymbal 1", "Chinese Cymbal", "Ride Bell",
        "Tambourine", "Splash Cymbal", "Cowbell", "Crash Cymbal 2", "Vibraslap", "Ride Cymbal 2", "Hi Bongo",
        "Low Bongo", "Mute Hi Conga", "Open Hi Conga", "Low Conga", "High Timbale", "Low Timbale", "High Agogo",
        "Low Agogo", "Cabasa", "Maracas", "Short Whistle", "Long Whistle", "Short Guiro", "Long Guiro", "Claves",
        "Hi Wood Block", "Low Wood Block", "Mute Cuica", "Open Cuica", "Mute Triangle", "Open Triangle",
        "Shaker", "Jingle Bell", "Bell Tree", "Castanets", "Mute Surdo", "Open Surdo",
    };
    // clang-format on
    return key >= 27 && key <= 87 ? names[key - 27] : nullptr;
}

}  // namespace brellin
