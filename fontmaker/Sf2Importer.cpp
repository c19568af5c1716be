#include "fontmaker/Sf2Importer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Resampler.h"
#include "soundfont/SoundFontWriter.h"

namespace brellin {

namespace {

constexpr double OUTPUT_RATE = 22050.0;  // records are given for this output rate

// Loudness calibration. A pitched voice at centre pan adds, per stereo
// channel of a 16-bit output, sample8 × level × volume / 2^22; a fixed-step
// voice adds sample8 × g with g = volume × 3/2. FluidSynth, the reference the
// converted fonts are compared with, plays a 16-bit frame y at
// y × 0.2 (its default gain) × 0.7071 (centre pan) × 10^(-att/20), where a
// note of velocity 100 under controller 7 = 100 has att = 8.3 dB from its
// default velocity and volume curves, by the format's description; measured
// on FluidSynth 2.3 such a note is 1.1 dB louder than that. Brellin's volume
// for the note is 18. The references make both give the same output for
// that note, raised by 1.25 dB: Brellin's volume is linear in velocity and
// controller 7 where FluidSynth's curves are 40 log10, so louder notes gain
// less; weighted by note energy, the 31 songs of the openmsx set play
// 1.25 dB quieter than FluidSynth's at the plain reference.
constexpr double REFERENCE_FLUID_SCALE = 0.2 * 0.70710678 * 0.38459 * 1.135 * 1.155;
constexpr double REFERENCE_VOLUME = 18.0;
}  // namespace

const double SF2_LEVEL_REFERENCE = 4194304.0 * REFERENCE_FLUID_SCALE / REFERENCE_VOLUME;
const double SF2_DRUM_GAIN_REFERENCE = REFERENCE_FLUID_SCALE / (REFERENCE_VOLUME * 3 / 2);

namespace {

// Initial attenuation counts 0.4 cB per cB, as on the EMU hardware the
// format comes from and in FluidSynth.
constexpr double ATTENUATION_SCALE = 0.4;
constexpr std::int32_t MAX_LEVEL = 16000000;  // below 2^31 / 127: level × volume fits 32 bits
constexpr std::int32_t MIN_LEVEL = 4096;
constexpr double MIN_AMPLITUDE = 8.0;  // level × reference volume >> 21 of a converted program at least
constexpr std::uint32_t MAX_SAMPLE_LENGTH = 1u << 24;

std::int32_t evenRate(double rate, std::int32_t minimum) {
    if (!(rate > 0.0)) return minimum;
    double r = std::min(rate, 2147483646.0);
    auto v = static_cast<std::int32_t>(std::llround(r)) & ~1;
    return std::max(v, minimum);
}

double dbGain(double db) { return std::pow(10.0, db / 20.0); }

// Where a zone's sample lies in the smpl chunk, with the zone's offsets.
struct ZoneSample {
    std::int64_t start = 0, end = 0, loopStart = 0, loopEnd = 0;
    bool looped = false;
    double sampleRate = 0.0;
    int rootKey = 60;
    double tuneCents = 0.0;  // coarse, fine and the sample's correction
    double scaleTuning = 100.0;
};

bool zoneSample(const Sf2File& bank, const Sf2Region& r, ZoneSample& z, std::string& why) {
    if (r.sampleIndex >= bank.samples.size()) {
        why = "sample index out of range";
        return false;
    }
    const Sf2SampleHeader& sh = bank.samples[r.sampleIndex];
    if (sh.sampleType & 0x8000) {
        why = "ROM sample \"" + sh.name + "\"";
        return false;
    }
    auto coarse = [&](Sf2Generator fine, Sf2Generator big) {
        return static_cast<std::int64_t>(r[fine]) + 32768 * static_cast<std::int64_t>(r[big]);
    };
    z.start = sh.start + coarse(SF2_START_ADDRS_OFFSET, SF2_START_ADDRS_COARSE_OFFSET);
    z.end = sh.end + coarse(SF2_END_ADDRS_OFFSET, SF2_END_ADDRS_COARSE_OFFSET);
    z.loopStart = sh.loopStart + coarse(SF2_STARTLOOP_ADDRS_OFFSET, SF2_STARTLOOP_ADDRS_COARSE_OFFSET);
    z.loopEnd = sh.loopEnd + coarse(SF2_ENDLOOP_ADDRS_OFFSET, SF2_ENDLOOP_ADDRS_COARSE_OFFSET);
    z.start = std::max<std::int64_t>(z.start, 0);
    z.end = std::min<std::int64_t>(z.end, bank.sampleFrameCount());
    if (z.end - z.start < 1) {
        why = "sample \"" + sh.name + "\" lies outside the sample data";
        return false;
    }
    int mode = r[SF2_SAMPLE_MODES] & 3;
    z.looped = (mode == 1 || mode == 3) && z.loopStart >= z.start && z.loopEnd > z.loopStart + 1 &&
               z.loopEnd <= static_cast<std::int64_t>(bank.sampleFrameCount());
    if (sh.sampleRate < 400 || sh.sampleRate > 400000) {
        why = "sample \"" + sh.name + "\" has an unusable sample rate";
        return false;
    }
    z.sampleRate = sh.sampleRate;
    int root = r[SF2_OVERRIDING_ROOT_KEY];
    if (root < 0 || root > 127) root = sh.originalPitch <= 127 ? sh.originalPitch : 60;
    z.rootKey = root;
    z.tuneCents = r[SF2_COARSE_TUNE] * 100.0 + r[SF2_FINE_TUNE] + sh.pitchCorrection;
    z.scaleTuning = r[SF2_SCALE_TUNING];
    return true;
}

Sf2VolumeEnvelope envelopeOf(const Sf2Region& r) {
    Sf2VolumeEnvelope e;
    e.delay = r[SF2_DELAY_VOL_ENV];
    e.attack = r[SF2_ATTACK_VOL_ENV];
    e.hold = r[SF2_HOLD_VOL_ENV];
    e.decay = r[SF2_DECAY_VOL_ENV];
    e.sustain = r[SF2_SUSTAIN_VOL_ENV];
    e.release = r[SF2_RELEASE_VOL_ENV];
    return e;
}

// A zone's attenuation in centibels beyond what the default velocity and
// volume curves give the reference note (which the level references
// include): the initial attenuation, scaled, plus what the zone's own
// modulators add or take away. Like a synthesizer, the total (with the
// default curves' part) stays within 0 … 144 dB.
double attenuationCb(const Sf2Region& r) {
    static const double curves = sf2ModulatedAmount(sf2DefaultModulators(), SF2_INITIAL_ATTENUATION, 60, 100);
    double total =
        std::clamp(r[SF2_INITIAL_ATTENUATION], 0, 1440) * ATTENUATION_SCALE + curves + r.attenuationModulation;
    return std::clamp(total, 0.0, 1440.0) - curves;
}

// Amplitude of a region's layers together, relative to one full-scale
// centred layer: initial attenuations as power sums (a stereo pair panned
// apart sounds 3 dB louder than either side at centre).
double layerGain(const std::vector<Sf2Region>& layers) {
    double power = 0.0;
    for (const Sf2Region& r : layers) {
        double a = dbGain(-attenuationCb(r) / 10.0);
        power += a * a;
    }
    return std::sqrt(power);
}

// How much of a held note's first second a layer carries: its attenuation
// times the mean of its volume envelope.
double heldLoudness(const Sf2Region& r) {
    Sf2VolumeEnvelope e = envelopeOf(r);
    double sum = 0.0;
    for (int i = 0; i < 100; ++i) sum += sf2EnvelopeGain(e, (i + 0.5) / 100.0);
    return dbGain(-attenuationCb(r) / 10.0) * sum / 100.0;
}

// The layer to convert: for a program the one that carries most of the
// held sound (a pad rather than the short chiff layered on it); for a drum,
// whose sound is its attack, the first. Never the right half of a stereo
// pair when its left half is there; the first of equals.
std::size_t chooseLayer(const Sf2File& bank, const std::vector<Sf2Region>& layers, bool held) {
    std::size_t best = 0;
    double bestLoudness = -1.0;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        bool right =
            layers[i].sampleIndex < bank.samples.size() && (bank.samples[layers[i].sampleIndex].sampleType & 2);
        double loudness = (held ? heldLoudness(layers[i]) : 1.0) * (right ? 0.5 : 1.0);
        if (loudness > bestLoudness * 1.0001) {
            bestLoudness = loudness;
            best = i;
        }
    }
    return best;
}

std::vector<std::int8_t> quantize(const std::vector<double>& values, double gain) {
    std::vector<std::int8_t> bytes(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        double v = std::clamp(std::round(values[i] * gain), -128.0, 127.0);
        bytes[i] = static_cast<std::int8_t>(v);
    }
    return bytes;
}

double peakOf(const std::vector<double>& values) {
    double peak = 0.0;
    for (double v : values) peak = std::max(peak, std::fabs(v));
    return peak;
}

// The key at which the sample plays at its own speed.
double naturalKeyOf(const ZoneSample& z) { return z.rootKey - z.tuneCents / 100.0; }

// Mean value (0 … 1) of the modulation envelope over the first quarter
// second of a note (most notes of a song are about that short): linear
// attack, hold, linear decay to the sustain level.
double modulationEnvelopeMean(const Sf2Region& r) {
    const double delay = sf2Seconds(r[SF2_DELAY_MOD_ENV]), attack = sf2Seconds(r[SF2_ATTACK_MOD_ENV]);
    const double hold = sf2Seconds(r[SF2_HOLD_MOD_ENV]), decay = sf2Seconds(r[SF2_DECAY_MOD_ENV]);
    const double sustain = 1.0 - std::clamp(r[SF2_SUSTAIN_MOD_ENV], 0, 1000) / 1000.0;
    double sum = 0.0;
    const int steps = 250;  // 1 ms each
    for (int i = 0; i < steps; ++i) {
        double t = (i + 0.5) / 1000.0 - delay, x;
        if (t < 0)
            x = 0;
        else if (t < attack)
            x = t / attack;
        else if ((t -= attack) < hold)
            x = 1;
        else
            x = std::max(sustain, decay > 0 ? 1.0 - (t - hold) / decay : 0.0);
        sum += x;
    }
    return sum / steps;
}

// The zone's filter cutoff in absolute cents, fixed: the generator plus the
// modulation envelope's sweep at its mean over the start of a note. Both
// hold what the zone's modulators add at velocity 100 (the default
// velocity-to-cutoff one adds nothing above velocity 63).
double filterCutoffCents(const Sf2Region& r) {
    return r[SF2_INITIAL_FILTER_FC] + r[SF2_MOD_ENV_TO_FILTER_FC] * modulationEnvelopeMean(r);
}

// The filter cutoff in the sample's own frequencies for a note that plays
// it `speed` times faster than recorded; 0 when the filter cannot act on
// what is kept at `keptRate` (the stored data's rate in source time).
double sourceCutoffHz(double cutoffCents, double speed, const ZoneSample& z, double keptRate) {
    double hz = 8.176 * std::pow(2.0, std::clamp(cutoffCents, 1500.0, 13500.0) / 1200.0) / speed;
    return hz < 0.45 * std::min(z.sampleRate, keptRate) ? hz : 0.0;
}

// Reads a zone's frames (to the loop end for a looped sample) as floats,
// with the voice's low-pass filter applied for a note that plays the sample
// `speed` times faster than recorded.
bool readFiltered(Sf2File& bank, const ZoneSample& z, double cutoffCents, double resonanceCb, double speed,
                  double keptRate, std::vector<float>& out) {
    std::vector<std::int16_t> frames;
    std::int64_t readEnd = z.looped ? z.loopEnd : z.end;
    if (!bank.readSamples(static_cast<std::uint32_t>(z.start), static_cast<std::uint32_t>(readEnd), frames))
        return false;
    out.assign(frames.begin(), frames.end());
    // A cutoff the kept data cannot show (0) still lowers a resonant pass band.
    double cutoff = sourceCutoffHz(cutoffCents, speed, z, keptRate);
    sf2LowPass(out, z.sampleRate, cutoff, resonanceCb, z.looped, z.loopStart - z.start, z.loopEnd - z.start);
    return true;
}

struct PitchedSample {
    std::vector<std::int8_t> bytes;
    std::uint32_t cycleLength = 1, loopStart = 0, loopEnd = 0;
    double gain = 1.0;  // 8-bit units per 16-bit unit
    double loopErrorCents = 0.0;
    double retunedCents = 0.0;  // the measured pitch against the SF2's tuning
};

// How far the measured pitch may lie from the SF2's tuning and still count
// as the instrument's intended note: a quarter tone. Farther away the sample
// is something else (an effect, a layer an octave off, a bell's partial).
constexpr double RETUNE_LIMIT_CENTS = 50.0;
constexpr double RETUNE_MIN_CLARITY = 0.9;

// How far (cents, sharp positive) the converted data `values`, made for
// `cycleLength` samples per period, sounds from its nominal pitch, measured
// the way a tuner takes a note: an A4 (key 69, the tuning note) held for a
// second under the zone's volume envelope, from 0.15 s to 0.75 s after its
// start, past the attack. Many samples drift in pitch over their first
// fraction of a second, and a decaying note's pitch is heard where it is
// loud. The data is measured as stored, band-limited: high partials that
// the stored data leaves out would pull a measurement of the original.
// NaN when the data has no clear pitch within a quarter tone of it.
double measuredDetune(const std::vector<double>& values, std::uint32_t cycleLength, std::uint32_t loopStart,
                      std::uint32_t loopEnd, const Sf2VolumeEnvelope& envelope) {
    constexpr double FROM_SECONDS = 0.15, SPAN_SECONDS = 0.6;
    const double nominal = cycleLength;
    const double framesPerSecond = cycleLength * 440.0;  // data frames per second of an A4
    std::vector<float> frames(values.begin(), values.end());
    Sf2Signal data{frames.data(), static_cast<std::int64_t>(frames.size()), loopEnd > loopStart, loopStart, loopEnd};
    // The note as played (through the loop) with its envelope, plus the
    // periods the measurement looks past the window's end.
    const double reach = 10.0 * (nominal * 1.05 + 1.0) + 2.0;
    auto length = static_cast<std::size_t>((FROM_SECONDS + SPAN_SECONDS) * framesPerSecond + reach);
    if (!data.looped) length = std::min<std::size_t>(length, frames.size());
    std::vector<float> note(length);
    for (std::size_t i = 0; i < length; ++i) {
        double t = std::min(static_cast<double>(i) / framesPerSecond, FROM_SECONDS + SPAN_SECONDS);
        note[i] = static_cast<float>(data.at(static_cast<std::int64_t>(i)) * sf2EnvelopeGain(envelope, t));
    }
    Sf2Signal signal{note.data(), static_cast<std::int64_t>(note.size()), false, 0, 0};
    // A short one-shot sample: its last three quarters.
    std::int64_t from = std::min<std::int64_t>(std::llround(FROM_SECONDS * framesPerSecond), signal.length / 4);
    double clarity = 0.0;
    double period =
        sf2MeasurePeriod(signal, from, nominal, RETUNE_LIMIT_CENTS + 10.0, SPAN_SECONDS * framesPerSecond, clarity);
    if (!(period > 0.0) || clarity < RETUNE_MIN_CLARITY) return NAN;
    double cents = 1200.0 * std::log2(nominal / period);
    return std::fabs(cents) <= RETUNE_LIMIT_CENTS ? cents : NAN;
}

// How far (cents, sharp positive) the loop of a looped zone sounds from the
// zone's nominal pitch: what a held note settles on. A seamless loop holds a
// whole number k of cycles, so its pitch is k × rate / loop length, whatever
// the period inside the loop measures (a loop cut a fraction of a cycle off
// jumps in phase at each wrap and sounds at k / length, not at its inner
// period). k is the loop length over the period measured across the loop
// when that lies within LOOP_CYCLE_SLACK of a whole number; otherwise, for a
// clearly pitched loop, the measured period is the answer. `frames` is the
// zone's data from its start, `rootFrequency` its nominal pitch in Hz at
// `sampleRate`. NaN when the loop has no clear pitch within a quarter tone
// of the nominal one, or when a note at A4 under `envelope` has faded out
// before it reaches the loop (a held note never sounds it).
constexpr double LOOP_MIN_CLARITY = 0.6;
constexpr double LOOP_CYCLE_SLACK = 0.25;
constexpr double LOOP_AUDIBLE_GAIN = 0.01;  // -40 dB

double loopDetune(const Sf2Signal& frames, double sampleRate, double rootFrequency, const Sf2VolumeEnvelope& envelope) {
    if (!frames.looped || frames.loopEnd - frames.loopStart < 2) return NAN;
    const double nominal = sampleRate / rootFrequency;  // frames per period
    // At A4 the data plays 440 / rootFrequency times faster than recorded.
    // Past its attack and hold the envelope only falls: a loop that begins
    // earlier is heard at the envelope's peak.
    double loopSeconds = static_cast<double>(frames.loopStart) / sampleRate * rootFrequency / 440.0;
    loopSeconds =
        std::max(loopSeconds, sf2Seconds(envelope.delay) + sf2Seconds(envelope.attack) + sf2Seconds(envelope.hold));
    if (sf2EnvelopeGain(envelope, loopSeconds) < LOOP_AUDIBLE_GAIN) return NAN;
    const double length = static_cast<double>(frames.loopEnd - frames.loopStart);
    // The loop played over and over: a window of at least one loop and a
    // third of a second, so every part of it and its wrap count.
    double clarity = 0.0;
    const double measured = sf2MeasurePeriod(frames, frames.loopStart, nominal, RETUNE_LIMIT_CENTS + 10.0,
                                             std::max(length, sampleRate / 3.0), clarity);
    if (!(measured > 0.0) || clarity < LOOP_MIN_CLARITY) return NAN;
    // Whole cycles per loop, or, for a loop shorter than the period (half a
    // cycle looped an octave up), whole loops per period.
    const bool cyclesPerLoop = length >= 0.75 * measured;
    const double ratio = cyclesPerLoop ? length / measured : measured / length;
    const double whole = std::round(ratio);
    double period;
    if (std::fabs(ratio - whole) <= LOOP_CYCLE_SLACK)
        period = cyclesPerLoop ? length / whole : length * whole;
    else if (clarity >= RETUNE_MIN_CLARITY)
        period = measured;
    else
        return NAN;
    const double cents = 1200.0 * std::log2(nominal / period);
    return std::fabs(cents) <= RETUNE_LIMIT_CENTS ? cents : NAN;
}

// The part of a looped zone before its loop is heard as a pitch of its own
// when a note at A4 plays it for ATTACK_MIN_SECONDS past the first 0.15 s.
constexpr double ATTACK_FROM_SECONDS = 0.15;
constexpr double ATTACK_MIN_SECONDS = 0.15;

bool hasLongAttack(const Sf2Signal& frames, double sampleRate, double rootFrequency) {
    const double framesPerSecond = sampleRate * 440.0 / rootFrequency;  // source frames per second at A4
    return frames.looped &&
           static_cast<double>(frames.loopStart) >= (ATTACK_FROM_SECONDS + ATTACK_MIN_SECONDS) * framesPerSecond;
}

// How far (cents) such an attack sounds from the nominal pitch, measured
// from 0.15 s at A4 to the loop start. NaN when it has no clear pitch within
// a quarter tone.
double attackDetune(const Sf2Signal& frames, double sampleRate, double rootFrequency) {
    const double nominal = sampleRate / rootFrequency;
    const double framesPerSecond = sampleRate * 440.0 / rootFrequency;
    const auto from = static_cast<std::int64_t>(ATTACK_FROM_SECONDS * framesPerSecond);
    const double available = static_cast<double>(frames.loopStart - from);
    if (available < ATTACK_MIN_SECONDS * framesPerSecond * 0.5) return NAN;
    // Room for the measurement to look ten periods past its window.
    const double span = std::max(available - 11.0 * (nominal * 1.04 + 1.0), available / 2.0);
    Sf2Signal attack{frames.frames, frames.loopStart, false, 0, 0};
    double clarity = 0.0;
    const double period = sf2MeasurePeriod(attack, from, nominal, RETUNE_LIMIT_CENTS + 10.0, span, clarity);
    if (!(period > 0.0) || clarity < RETUNE_MIN_CLARITY) return NAN;
    const double cents = 1200.0 * std::log2(nominal / period);
    return std::fabs(cents) <= RETUNE_LIMIT_CENTS ? cents : NAN;
}

// A held A4 as a SoundFont synthesizer plays it, 0.3 to 1.5 s after
// note-on at 44100 Hz: what a listener (and a tuner) hears settle.
constexpr int TUNING_KEY = 69;
constexpr double HELD_FROM_SECONDS = 0.3, HELD_TO_SECONDS = 1.5, HELD_RATE = 44100.0;
constexpr std::size_t HELD_FIRST = static_cast<std::size_t>(HELD_FROM_SECONDS * HELD_RATE);
constexpr std::size_t HELD_LENGTH = static_cast<std::size_t>(HELD_TO_SECONDS * HELD_RATE) - HELD_FIRST;

// Adds `gain` times the note zone `z` plays at `key` over that stretch to
// `mix` (HELD_LENGTH values): the sample read at the speed its root key,
// tuning and correction (and, `withScale`, scale tuning) give the key,
// through the loop as stored, with linear interpolation, under `envelope`
// (none: a steady level). Modulation of the pitch is left out. False when
// the sample cannot be read.
bool addHeldNote(Sf2File& bank, const ZoneSample& z, int key, bool withScale, double gain,
                 const Sf2VolumeEnvelope* envelope, std::vector<float>& mix) {
    constexpr std::int64_t MAX_FRAMES = 1 << 22;
    const double scale = withScale ? z.scaleTuning / 100.0 : 1.0;
    const double speed = std::pow(2.0, (scale * (key - z.rootKey) * 100.0 + z.tuneCents) / 1200.0);
    const double step = z.sampleRate * speed / HELD_RATE;  // source frames per output sample
    if (!(step > 0.0) || step > 64.0) return false;
    const double lastFrame = HELD_TO_SECONDS * HELD_RATE * step + 2.0;
    const std::int64_t readEnd =
        z.looped ? z.loopEnd : std::min<std::int64_t>(z.end, z.start + static_cast<std::int64_t>(lastFrame));
    if (readEnd - z.start > MAX_FRAMES || readEnd <= z.start) return false;
    std::vector<std::int16_t> raw;
    if (!bank.readSamples(static_cast<std::uint32_t>(z.start), static_cast<std::uint32_t>(readEnd), raw)) return false;
    std::vector<float> frames(raw.begin(), raw.end());
    const Sf2Signal source{frames.data(), static_cast<std::int64_t>(frames.size()), z.looped, z.loopStart - z.start,
                           z.loopEnd - z.start};
    mix.resize(HELD_LENGTH);
    double level = 1.0;
    for (std::size_t i = 0; i < HELD_LENGTH; ++i) {
        // The envelope's level, taken every millisecond or so.
        if (envelope && i % 32 == 0)
            level = sf2EnvelopeGain(*envelope, static_cast<double>(HELD_FIRST + i) / HELD_RATE);
        const double position = static_cast<double>(HELD_FIRST + i) * step;
        const auto whole = static_cast<std::int64_t>(position);
        const double f = position - static_cast<double>(whole);
        mix[i] += static_cast<float>(gain * level * (source.at(whole) * (1.0 - f) + source.at(whole + 1) * f));
    }
    return true;
}

// The pitch of a held note `mix` at `key`, in cents from equal temperament
// (sf2HeldPeriod). NaN when it has no clear pitch within a quarter tone.
double heldPitchCents(const std::vector<float>& mix, int key) {
    constexpr double MIN_CLARITY = 0.5;
    const double nominal = HELD_RATE / (440.0 * std::pow(2.0, (key - 69) / 12.0));
    const Sf2Signal note{mix.data(), static_cast<std::int64_t>(mix.size()), false, 0, 0};
    double clarity = 0.0;
    const double period = sf2HeldPeriod(note, 0, note.length, nominal, RETUNE_LIMIT_CENTS + 10.0, clarity);
    if (!(period > 0.0) || clarity < MIN_CLARITY) return NAN;
    const double cents = 1200.0 * std::log2(nominal / period);
    return std::fabs(cents) <= RETUNE_LIMIT_CENTS ? cents : NAN;
}

// A converted zone's own A4 (no scale tuning: a BRF program has none), by
// zone, measured once: presets share zones.
using HeldPitchCache =
    std::map<std::tuple<std::uint32_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t, bool, int, long>,
             double>;

double ownHeldPitch(Sf2File& bank, const Sf2Region& r, const ZoneSample& z, HeldPitchCache& cache) {
    auto id = std::make_tuple(r.sampleIndex, z.start, z.end, z.loopStart, z.loopEnd, z.looped, z.rootKey,
                              std::lround(z.tuneCents * 100));
    auto found = cache.find(id);
    if (found == cache.end()) {
        std::vector<float> note;
        double cents =
            addHeldNote(bank, z, TUNING_KEY, false, 1.0, nullptr, note) ? heldPitchCents(note, TUNING_KEY) : NAN;
        found = cache.emplace(id, cents).first;
    }
    return found->second;
}

// How far (cents) the zone `chosen`, converted as the bank tunes it, must be
// moved for the program to play the bank's own A4 as a SoundFont
// synthesizer plays it: the layers of key 69 at velocity 100 (or of `key`,
// which `layers` holds, when the preset has none there) sounding together,
// each at its attenuation under its volume envelope. A BRF record holds one sample for the whole
// keyboard, so where the bank plays A4 from another recording than the
// converted one, that recording's pitch is taken, and where it layers
// several (a detuned pair for chorus, an accordion's reeds) the pitch their
// mix settles on, which is close to their mean. When the mix or the
// converted zone has no clear pitch, only the zones of the converted
// recording are compared, by their tuning: their mean.
double bankPitchShift(Sf2File& bank, std::size_t presetIndex, const Sf2Region& chosen,
                      const std::vector<Sf2Region>& layers, int key, HeldPitchCache& cache) {
    ZoneSample own;
    std::string why;
    if (!zoneSample(bank, chosen, own, why)) return 0.0;
    std::vector<Sf2Region> heard;
    int heardKey = TUNING_KEY;
    if (bank.findRegions(presetIndex, TUNING_KEY, 100, heard) == 0) {
        heard = layers;
        heardKey = key;
    }
    // The bank plays A4 from the converted zone alone: nothing to move.
    if (heard.size() == 1) {
        ZoneSample z;
        if (zoneSample(bank, heard[0], z, why) && heard[0].sampleIndex == chosen.sampleIndex && z.start == own.start &&
            z.end == own.end && z.looped == own.looped && z.loopStart == own.loopStart && z.loopEnd == own.loopEnd &&
            z.rootKey == own.rootKey && z.tuneCents == own.tuneCents && z.scaleTuning == 100.0) {
            return 0.0;
        }
    }
    std::vector<float> mix(HELD_LENGTH, 0.0f);
    bool complete = true;
    double declaredSum = 0.0, declaredWeights = 0.0;
    for (const Sf2Region& r : heard) {
        ZoneSample z;
        if (!zoneSample(bank, r, z, why)) continue;
        const double weight = heldLoudness(r);
        const Sf2VolumeEnvelope envelope = envelopeOf(r);
        complete = addHeldNote(bank, z, heardKey, true, dbGain(-attenuationCb(r) / 10.0), &envelope, mix) && complete;
        if (r.sampleIndex == chosen.sampleIndex) {
            declaredSum += weight * (z.tuneCents + (z.scaleTuning - 100.0) * (heardKey - z.rootKey));
            declaredWeights += weight;
        }
    }
    const double ownCents = ownHeldPitch(bank, chosen, own, cache);
    const double heardCents = complete ? heldPitchCents(mix, heardKey) : NAN;
    double shift = 0.0;
    if (std::isfinite(ownCents) && std::isfinite(heardCents)) {
        shift = heardCents - ownCents;
    } else if (declaredWeights > 0.0) {
        shift = declaredSum / declaredWeights - own.tuneCents;
    }
    // Under a hundredth of a cent is the same pitch: the data stays as the
    // bank tunes it. More than a quarter tone is another note, not a tuning.
    return std::fabs(shift) >= 0.01 && std::fabs(shift) <= RETUNE_LIMIT_CENTS ? shift : 0.0;
}

// Resamples a zone's sample so that one period at its root pitch is
// `cycleLength` whole samples at about `rate` Hz (more for a sample that
// `key` plays below its root) and the loop is a whole
// number of samples; normalizes the peak to 127.
bool convertPitched(Sf2File& bank, const ZoneSample& z, const Sf2VolumeEnvelope* retuneEnvelope, double shiftCents,
                    double filterCutoffCents, double filterResonance, double rate, int key, PitchedSample& out,
                    std::string& why) {
    double rootFrequency = 440.0 * std::pow(2.0, (z.rootKey - 69) / 12.0 - z.tuneCents / 1200.0);
    // Below 4 Hz (far under key 0) or above the data rate the tuning is not
    // an instrument's.
    if (!(rootFrequency >= 4.0) || rootFrequency > rate) {
        why = "root pitch out of range";
        return false;
    }
    // `rate` fills the output band when the sample plays at its own speed.
    // A sample whose root lies above the key it is chosen for plays slower
    // there, so it is kept at a proportionally higher rate (up to its own),
    // or its upper partials would be missing at that key.
    double naturalKey = naturalKeyOf(z);
    double keptRate = std::clamp(rate * std::pow(2.0, (naturalKey - key) / 12.0), rate, std::max(rate, z.sampleRate));
    std::int64_t readEnd = z.looped ? z.loopEnd : z.end;
    // Longest stored sample: about 10 minutes at 22050 Hz (checked again
    // with the exact ratio below).
    auto tooLong = [&](double ratio) {
        return static_cast<double>(readEnd - z.start) * ratio > double(MAX_SAMPLE_LENGTH);
    };
    if (tooLong(keptRate / z.sampleRate * 0.99)) {
        why = "sample too long";
        return false;
    }
    std::vector<float> frames;
    if (!readFiltered(bank, z, filterCutoffCents, filterResonance, std::pow(2.0, (key - naturalKey) / 12.0), keptRate,
                      frames)) {
        why = bank.errorText;
        return false;
    }
    Sf2Signal signal{frames.data(), static_cast<std::int64_t>(frames.size()), z.looped, z.loopStart - z.start,
                     z.loopEnd - z.start};
    std::vector<double> values;
    // The data for a root pitch of `rootHz`, the part before a loop for
    // `attackHz` (0: the same): false when it would be too long.
    auto resampleFor = [&](double rootHz, double attackHz = 0.0) {
        values.clear();
        out.cycleLength = sf2SnapCycleLength(rootHz, keptRate);
        // Output samples per source frame: the data rate is cycleLength × root frequency.
        double ratio = out.cycleLength * rootHz / z.sampleRate;
        if (tooLong(ratio)) return false;
        if (z.looped) {
            double attackFrames = static_cast<double>(z.loopStart - z.start);
            std::uint32_t attack = 0;
            if (attackFrames > 0) {
                const double attackRatio = attackHz > 0.0 ? out.cycleLength * attackHz / z.sampleRate : ratio;
                if (tooLong(attackRatio)) return false;
                attack = static_cast<std::uint32_t>(std::max(1.0, std::round(attackFrames * attackRatio)));
                // The step is adjusted so that sample `attack` falls exactly on the loop start.
                sf2Resample(signal, 0.0, attackFrames / attack, attack, values);
            }
            double loopFrames = static_cast<double>(z.loopEnd - z.loopStart);
            Sf2LoopSnap snap = sf2SnapLoop(loopFrames * ratio);
            std::vector<double> loop;
            sf2Resample(signal, attackFrames, loopFrames * snap.repeats / snap.samples, snap.samples, loop);
            // The loop must reach past one cycle (the loader caps cycleLength at
            // loopEnd); whole copies keep the wrap seamless.
            std::uint32_t copies = 1;
            while (attack + copies * snap.samples < out.cycleLength) ++copies;
            for (std::uint32_t c = 0; c < copies; ++c) values.insert(values.end(), loop.begin(), loop.end());
            out.loopStart = attack;
            out.loopEnd = attack + copies * snap.samples;
            out.loopErrorCents = snap.errorCents;
        } else {
            double total = std::max(1.0, std::round(static_cast<double>(z.end - z.start) * ratio));
            sf2Resample(signal, 0.0, 1.0 / ratio, static_cast<std::uint32_t>(total), values);
            while (values.size() < out.cycleLength) values.push_back(0.0);
            out.loopStart = out.loopEnd = static_cast<std::uint32_t>(values.size());
        }
        return true;
    };
    // `shiftCents` moves the whole zone, attack and loop alike: the data is
    // made for the root pitch that plays that much higher.
    const double shiftedRoot = rootFrequency * std::exp2(-shiftCents / 1200.0);
    if (shiftCents != 0.0 && shiftedRoot <= rate && resampleFor(shiftedRoot)) {
        out.retunedCents = shiftCents;
    } else if (!resampleFor(rootFrequency)) {
        why = "sample too long";
        return false;
    }
    if (retuneEnvelope) {
        // A looped sample is tuned by its loop, where a held note settles
        // (its k cycles then come out exactly k × cycleLength samples long,
        // so the stored loop needs no rounding), and an attack long enough
        // to be heard before the loop by its own pitch, else by the stretch
        // a tuner takes, else not at all; a short attack follows its loop.
        // When the loop has no clear pitch, the whole is tuned by the
        // tuner's stretch.
        const double window = measuredDetune(values, out.cycleLength, out.loopStart, out.loopEnd, *retuneEnvelope);
        double cents = loopDetune(signal, z.sampleRate, rootFrequency, *retuneEnvelope);
        double attackCents = NAN;
        if (!std::isfinite(cents)) {
            cents = window;
        } else if (hasLongAttack(signal, z.sampleRate, rootFrequency)) {
            attackCents = attackDetune(signal, z.sampleRate, rootFrequency);
            if (!std::isfinite(attackCents)) attackCents = window;
            // Without a clear pitch it stays as the bank tunes it.
            if (!std::isfinite(attackCents)) attackCents = 0.0;
        }
        double measured = rootFrequency * std::pow(2.0, cents / 1200.0);
        double attackHz = std::isfinite(attackCents) ? rootFrequency * std::pow(2.0, attackCents / 1200.0) : 0.0;
        // The data is made again for the pitch it really has (or, should
        // that be too long, once more as the bank tunes it).
        if (std::isfinite(cents) && measured <= rate) {
            if (resampleFor(measured, attackHz)) {
                out.retunedCents = cents;
            } else if (!resampleFor(rootFrequency)) {
                why = "sample too long";
                return false;
            }
        }
    }
    double peak = peakOf(values);
    out.gain = peak > 0.0 ? 127.0 / peak : 1.0 / 256.0;
    out.bytes = quantize(values, out.gain);
    return true;
}

std::int32_t lfoShiftFor(std::int32_t cents) {
    double hz = 8.176 * std::pow(2.0, std::clamp(cents, -16000, 4500) / 1200.0);
    double s = std::round(std::log2(hz * 256.0));
    return static_cast<std::int32_t>(std::clamp(s, 0.0, 12.0));
}

// Tremolo from the modulation LFO's volume depth; the mod wheel's tremolo
// speed and delay follow the vibrato LFO, which the wheel drives in SF2.
void convertLfo(const Sf2Region& r, std::int32_t peak, InstrumentRecord& rec) {
    std::int32_t volumeDepth = std::abs(r[SF2_MOD_LFO_TO_VOLUME]);
    bool tremolo = volumeDepth > 0;
    std::int32_t freq = tremolo ? r[SF2_FREQ_MOD_LFO] : r[SF2_FREQ_VIB_LFO];
    std::int32_t delay = tremolo ? r[SF2_DELAY_MOD_LFO] : r[SF2_DELAY_VIB_LFO];
    rec.lfoRateShift = lfoShiftFor(freq);
    rec.lfoDelay = static_cast<std::int32_t>(std::min(sf2Seconds(delay) * OUTPUT_RATE, 2.0e6));
    rec.lfoDepth = 0;
    if (tremolo) {
        // The tremolo term is table × depth >> 24 added to the amplitude
        // level × volume >> 21, table ±127: at the reference volume a depth
        // of fraction × peak × volume × 8 / 127 swings the level by `fraction`.
        double fraction = 1.0 - dbGain(-std::min(volumeDepth, 960) / 10.0);
        double depth = fraction * peak * REFERENCE_VOLUME * 8.0 / 127.0;
        rec.lfoDepth = static_cast<std::int32_t>(std::min(depth, double(0x1F0000)));
    }
    // The depth grows to its target in about 0.4 s (the mod wheel's full
    // depth 0x3F0000 in as long).
    std::int32_t target = rec.lfoDepth > 0 ? rec.lfoDepth : 0x3F0000;
    rec.lfoDepthStep = std::max(1, static_cast<std::int32_t>(target / 8820));
}

}  // namespace

double sf2Seconds(std::int32_t timecents) {
    if (timecents <= -12000) return 0.0;
    return std::pow(2.0, std::min(timecents, 8000) / 1200.0);
}

void sf2ConvertEnvelope(const Sf2VolumeEnvelope& e, std::int32_t peak, InstrumentRecord& rec) {
    const double fs = OUTPUT_RATE;
    peak = std::max(peak, 64);
    const double p = peak;
    double attackSamples = std::max(1.0, (sf2Seconds(e.attack) + sf2Seconds(e.delay)) * fs);
    rec.attackRate = evenRate(p / attackSamples, 4);
    rec.attackLevel = peak;

    // Decay: the SF2 level falls 96 dB per decay time; the sustain is
    // `sustain` cB below the peak, met after decay × sustain / 1000.
    const double decaySeconds = sf2Seconds(e.decay);
    const std::int32_t sustainCb = std::clamp(e.sustain, 0, 1440);
    const double sustainDb = 0.096 * sustainCb;
    const bool decaysOut = sustainCb >= 1000 || sustainDb >= 60.0;
    auto timeTo = [&](double db) { return decaySeconds * db / 96.0; };
    auto levelAt = [&](double db) { return p * dbGain(-db); };

    struct Stage {
        std::int32_t rate = 0, level = 0;
    };
    std::vector<Stage> stages;  // decay stages 1 to 3 in order
    double holdSamples = sf2Seconds(e.hold) * fs;
    double start = p;
    if (holdSamples >= 32.0) {
        // Hold: the slowest fall the envelope allows (rates are even).
        double end = std::max(p / 2, p - 2.0 * holdSamples);
        stages.push_back({2, static_cast<std::int32_t>(end)});
        start = end;
    }
    std::vector<double> knees;  // decibels below the peak at the end of each segment
    if (decaysOut) {
        if (stages.empty())
            knees = {10.0, 30.0, 60.0};
        else
            knees = {20.0, 60.0};
    } else if (sustainDb > 0.05) {
        if (stages.empty())
            knees = {sustainDb / 3.0, sustainDb};
        else
            knees = {sustainDb};
    }
    double fromDb = 0.0, fromLevel = start;
    for (std::size_t i = 0; i < knees.size(); ++i) {
        double db = knees[i];
        bool last = decaysOut && i + 1 == knees.size();
        double to = last ? 0.0 : levelAt(db);
        double samples = std::max(1.0, (timeTo(db) - timeTo(fromDb)) * fs);
        stages.push_back({evenRate((fromLevel - to) / samples, 2), static_cast<std::int32_t>(to)});
        fromDb = db;
        fromLevel = to;
    }
    // A stage with rate 0 holds the level until note-off; decay stage 3
    // always ends at level 0.
    while (stages.size() < 3) stages.push_back({0, static_cast<std::int32_t>(fromLevel)});
    rec.decay1Rate = stages[0].rate;
    rec.decay1Level = stages[0].level;
    rec.decay2Rate = stages[1].rate;
    rec.decay2Level = stages[1].level;
    rec.decay3Rate = stages[2].rate;

    // Release: a straight fall from the peak in the time the SF2 release
    // (96 dB per release time) takes to fall 20 dB.
    double releaseSamples = std::max(1.0, sf2Seconds(e.release) * 20.0 / 96.0 * fs);
    rec.releaseRate = evenRate(p / releaseSamples, 4);
}

double sf2EnvelopeGain(const Sf2VolumeEnvelope& e, double t) {
    double delay = sf2Seconds(e.delay);
    if (t < delay) return 0.0;
    t -= delay;
    double attack = sf2Seconds(e.attack);
    if (t < attack) return t / attack;
    t -= attack;
    double hold = sf2Seconds(e.hold);
    if (t < hold) return 1.0;
    t -= hold;
    std::int32_t sustainCb = std::clamp(e.sustain, 0, 1440);
    double sustainDb = sustainCb >= 1000 ? 200.0 : 0.096 * sustainCb;
    double decay = sf2Seconds(e.decay);
    double db = decay > 0.0 ? 96.0 * t / decay : 1e9;
    db = std::min(db, sustainDb);
    return db >= 96.0 ? 0.0 : dbGain(-db);
}

double sf2DrumGain(const Sf2VolumeEnvelope& e, double t) {
    if (t < SF2_DRUM_NOTE_SECONDS) return sf2EnvelopeGain(e, t);
    double release = sf2Seconds(e.release);
    if (release <= 0.0) return 0.0;
    double db = 96.0 * (t - SF2_DRUM_NOTE_SECONDS) / release;
    return db >= 96.0 ? 0.0 : sf2EnvelopeGain(e, SF2_DRUM_NOTE_SECONDS) * dbGain(-db);
}

bool Sf2Importer::fail(ResultCode code, const std::string& text) {
    lastError = code;
    errorText = text;
    return false;
}

bool Sf2Importer::convert(Sf2File& bank, SoundFontWriter& writer) {
    std::uint32_t rate = std::clamp<std::uint32_t>(options.dataRate, 4000, 96000);
    for (;;) {
        if (!convertAtRate(bank, writer, rate)) return false;
        if (options.maxBytes == 0) return true;
        std::uint64_t total = 9232 + 72 * std::uint64_t{writer.drumRegions.size()} +
                              512 * std::uint64_t{writer.drumKitMaps.size() / 128} + summary.sampleBytes +
                              4 * std::uint64_t{writer.samples.size()} + (writer.drumKitMaps.size() > 128 ? 512 : 0);
        if (total <= options.maxBytes) return true;
        if (rate <= 8000) {
            return fail(RESULT_OUT_OF_MEMORY, "the converted font does not fit the size limit even at 8000 Hz (" +
                                                  std::to_string(total) + " bytes)");
        }
        // Too large: store the samples at a lower rate and try again.
        std::uint32_t lower = std::max<std::uint32_t>(8000, static_cast<std::uint32_t>(rate * 0.8));
        summary.notes.push_back(std::to_string(total) + " bytes at " + std::to_string(rate) +
                                " Hz exceed the size limit; converting again at " + std::to_string(lower) + " Hz");
        rate = lower;
    }
}

bool Sf2Importer::convertAtRate(Sf2File& bank, SoundFontWriter& writer, std::uint32_t rate) {
    std::vector<std::string> earlierNotes = std::move(summary.notes);
    summary = Sf2ImportSummary();
    summary.notes = std::move(earlierNotes);
    summary.dataRate = rate;
    writer.samples.clear();
    writer.drumRegions.clear();
    std::memset(writer.programs, 0, sizeof writer.programs);
    std::memset(writer.programKits, 0, sizeof writer.programKits);
    writer.drumKitMaps.assign(128, 0);

    // ---- Programs of bank 0 ----
    bool have[128] = {};
    std::vector<Sf2Region> layers;
    HeldPitchCache heldPitches;
    for (int program = 0; program < 128; ++program) {
        if (options.progress) options.progress("programs", program + 1, 128);
        summary.borrowedFrom[program] = -1;
        const int foundPreset = bank.findPreset(0, program);
        if (foundPreset < 0) continue;
        const std::size_t presetIndex = static_cast<std::size_t>(foundPreset);
        int key = 60;
        if (bank.findRegions(presetIndex, key, 100, layers) == 0) {
            int low, high;
            if (bank.presetKeyRange(presetIndex, low, high)) key = (low + high) / 2;
            if (bank.findRegions(presetIndex, key, 100, layers) == 0) {
                for (int velocity : {127, 64, 1})
                    if (bank.findRegions(presetIndex, key, velocity, layers) > 0) break;
            }
        }
        if (layers.empty()) {
            summary.notes.push_back("program " + std::to_string(program) + " (" + bank.presets[presetIndex].name +
                                    "): no zone sounds; borrowing another program");
            continue;
        }
        const Sf2Region& region = layers[chooseLayer(bank, layers, true)];
        const Sf2VolumeEnvelope envelope = envelopeOf(region);
        const bool toBankPitch = !options.keepTuning && !options.tuneTo440;
        const double shift =
            toBankPitch ? bankPitchShift(bank, static_cast<std::size_t>(presetIndex), region, layers, key, heldPitches)
                        : 0.0;
        if (bank.lastError == RESULT_FILE_IO_ERROR) return fail(RESULT_FILE_IO_ERROR, bank.errorText);
        ZoneSample z;
        std::string why;
        PitchedSample sample;
        const bool measure = options.tuneTo440 && !options.keepTuning;
        if (!zoneSample(bank, region, z, why) ||
            !convertPitched(bank, z, measure ? &envelope : nullptr, shift, filterCutoffCents(region),
                            region[SF2_INITIAL_FILTER_Q], rate, key, sample, why)) {
            if (bank.lastError == RESULT_FILE_IO_ERROR) return fail(RESULT_FILE_IO_ERROR, bank.errorText);
            summary.notes.push_back("program " + std::to_string(program) + ": " + why + "; borrowing another program");
            continue;
        }
        if (std::fabs(sample.retunedCents) >= 0.5) {
            char text[96];
            if (measure) {
                std::snprintf(text, sizeof text,
                              "program %d: sample measured %+.1f cents from the bank's tuning; retuned", program,
                              sample.retunedCents);
            } else {
                std::snprintf(text, sizeof text,
                              "program %d: moved %+.1f cents to the bank's A4 (its layers' or key 69's pitch)", program,
                              sample.retunedCents);
            }
            summary.notes.push_back(text);
        }
        if (sample.retunedCents != 0.0) ++summary.programsRetuned;
        InstrumentRecord& rec = writer.programs[program];
        // The 8-bit data is `gain` times the 16-bit frames: the level divides it out.
        double level = SF2_LEVEL_REFERENCE * layerGain(layers) / sample.gain;
        // The voice's amplitude is level × volume >> 21, a small integer: a
        // quiet instrument would round to silence. Below MIN_AMPLITUDE at
        // the reference volume, the sample is scaled down instead.
        double minimumLevel = MIN_AMPLITUDE * 2097152.0 / REFERENCE_VOLUME;
        if (level < minimumLevel) {
            double scale = level / minimumLevel;
            for (auto& byte : sample.bytes) byte = static_cast<std::int8_t>(std::lround(byte * scale));
            level = minimumLevel;
        }
        // The shift floors the amplitude: half a step at the reference volume evens that out.
        level += 1048576.0 / REFERENCE_VOLUME;
        auto peak = static_cast<std::int32_t>(std::clamp(level, double(MIN_LEVEL), double(MAX_LEVEL)));
        if (level > MAX_LEVEL) {
            summary.notes.push_back("program " + std::to_string(program) + ": level capped (" +
                                    std::to_string(20 * std::log10(level / MAX_LEVEL)) + " dB quieter than the SF2)");
        }
        sf2ConvertEnvelope(envelope, peak, rec);
        convertLfo(region, peak, rec);
        rec.fixedStep = 0;
        rec.cycleLength = sample.cycleLength;
        rec.loopStart = sample.loopStart;
        rec.loopEnd = sample.loopEnd;
        rec.groupId = program;
        summary.sampleBytes += sample.bytes.size();
        rec.sample = static_cast<std::int32_t>(writer.addSample(std::move(sample.bytes)));
        have[program] = true;
        summary.borrowedFrom[program] = program;
        ++summary.programsConverted;
    }
    if (summary.programsConverted == 0)
        return fail(RESULT_UNSUPPORTED_DATA, "the bank has no playable preset in bank 0");
    // Missing programs: the nearest program of the same General MIDI family
    // (eight programs each), the lower one first at equal distance; else 0;
    // else the first program that exists.
    int firstHave = 0;
    while (!have[firstHave]) ++firstHave;
    for (int program = 0; program < 128; ++program) {
        if (have[program]) continue;
        int family = program & ~7, from = -1;
        for (int distance = 1; distance < 8 && from < 0; ++distance) {
            for (int candidate : {program - distance, program + distance}) {
                if (candidate >= family && candidate < family + 8 && have[candidate]) {
                    from = candidate;
                    break;
                }
            }
        }
        if (from < 0) from = have[0] ? 0 : firstHave;
        writer.programs[program] = writer.programs[from];
        writer.programs[program].groupId = program;
        summary.borrowedFrom[program] = from;
        ++summary.programsBorrowed;
        summary.notes.push_back("program " + std::to_string(program) + " uses program " + std::to_string(from));
    }

    // ---- Drum kits: the presets of bank 128 ----
    std::vector<int> kitPresets;
    for (int program = 0; program < 128; ++program) {
        int index = bank.findPreset(128, program);
        if (index >= 0) kitPresets.push_back(index);
    }
    // Region 0 is silent: keys without a zone map to it.
    {
        InstrumentRecord silent{};
        silent.fixedStep = 1;
        silent.lfoDepth = silent.lfoDepthStep = 0x10000;
        silent.groupId = 128;
        silent.sample = static_cast<std::int32_t>(writer.addSample(std::vector<std::int8_t>{0}));
        summary.sampleBytes += 1;
        writer.drumRegions.push_back(silent);
    }
    const std::size_t kitCount = std::max<std::size_t>(1, kitPresets.size());
    writer.drumKitMaps.assign(kitCount * 128, 0);
    using DataKey = std::tuple<std::uint32_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t, bool,
                               std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                               std::int32_t, std::int32_t, std::int32_t>;
    std::map<DataKey, std::pair<std::uint32_t, std::uint32_t>> dataIndex;  // → sample, length
    std::map<std::tuple<std::uint32_t, std::int32_t, std::int32_t>, std::uint32_t> regionIndex;
    for (std::size_t kit = 0; kit < kitPresets.size(); ++kit) {
        if (options.progress) options.progress("drum kits", static_cast<int>(kit + 1), static_cast<int>(kitCount));
        const std::size_t presetIndex = static_cast<std::size_t>(kitPresets[kit]);
        for (int key = 0; key < 128; ++key) {
            if (bank.findRegions(presetIndex, key, 100, layers) == 0) continue;
            const Sf2Region& region = layers[chooseLayer(bank, layers, false)];
            ZoneSample z;
            std::string why;
            if (!zoneSample(bank, region, z, why)) {
                summary.notes.push_back("drum kit " + std::to_string(bank.presets[presetIndex].program) + " key " +
                                        std::to_string(key) + ": " + why);
                continue;
            }
            // Speed of the sample at this key, as a ratio to its recorded speed.
            double pitch = std::pow(2.0, ((key - z.rootKey) * z.scaleTuning + z.tuneCents) / 1200.0);
            Sf2VolumeEnvelope env = envelopeOf(region);
            auto atten = static_cast<std::int32_t>(std::lround(layerGain(layers) * 1000));
            // The filter acts in the sample's own frequencies, which depend on the pitch.
            double cutoff = sourceCutoffHz(filterCutoffCents(region), pitch, z, rate);
            auto filterKey = static_cast<std::int32_t>(std::lround(cutoff));
            DataKey dataKey{region.sampleIndex,
                            z.start,
                            z.end,
                            z.looped ? z.loopStart : 0,
                            z.looped ? z.loopEnd : 0,
                            z.looped,
                            atten,
                            env.delay,
                            env.attack,
                            env.hold,
                            env.decay,
                            env.sustain,
                            env.release,
                            filterKey,
                            region[SF2_INITIAL_FILTER_Q]};
            auto found = dataIndex.find(dataKey);
            if (found == dataIndex.end()) {
                std::vector<float> frames;
                if (!readFiltered(bank, z, filterCutoffCents(region), region[SF2_INITIAL_FILTER_Q], pitch, rate,
                                  frames)) {
                    return fail(RESULT_FILE_IO_ERROR, bank.errorText);
                }
                Sf2Signal signal{frames.data(), static_cast<std::int64_t>(frames.size()), z.looped,
                                 z.loopStart - z.start, z.loopEnd - z.start};
                // A drum plays to its end, whatever the note-off: the envelope
                // of a note held DRUM_NOTE_SECONDS, release included, is baked
                // into the data, which ends when it is 60 dB down (a looped
                // sample that still sounds is cut after 1.5 s with a 50 ms fade).
                double seconds = z.looped ? 1.5 : static_cast<double>(z.end - z.start) / z.sampleRate;
                if (seconds * rate > double(MAX_SAMPLE_LENGTH)) {
                    summary.notes.push_back("drum sample \"" + bank.samples[region.sampleIndex].name + "\" too long");
                    continue;
                }
                for (double t = 0.0; t < seconds; t += 0.005) {
                    if (t > sf2Seconds(env.delay) + sf2Seconds(env.attack) + sf2Seconds(env.hold) &&
                        sf2DrumGain(env, t) < 0.001) {
                        seconds = t;
                        break;
                    }
                }
                std::uint32_t count = static_cast<std::uint32_t>(std::max(1.0, std::round(seconds * rate)));
                std::vector<double> values;
                sf2Resample(signal, 0.0, z.sampleRate / rate, count, values);
                const double fade = 0.05 * rate;
                for (std::uint32_t i = 0; i < count; ++i) {
                    double g = sf2DrumGain(env, i / static_cast<double>(rate));
                    if (z.looped && count - i < fade) g *= (count - i) / fade;
                    values[i] *= g;
                }
                double peak = peakOf(values);
                double gain = SF2_DRUM_GAIN_REFERENCE * layerGain(layers);
                if (peak * gain > 127.0) {
                    summary.notes.push_back("drum sample \"" + bank.samples[region.sampleIndex].name +
                                            "\" limited by " + std::to_string(20 * std::log10(peak * gain / 127.0)) +
                                            " dB");
                    gain = 127.0 / peak;
                }
                std::vector<std::int8_t> bytes = quantize(values, gain);
                while (bytes.size() > 1 && bytes.back() == 0) bytes.pop_back();
                auto length = static_cast<std::uint32_t>(bytes.size());
                summary.sampleBytes += length;
                std::uint32_t index = writer.addSample(std::move(bytes));
                found = dataIndex.emplace(dataKey, std::make_pair(index, length)).first;
            }
            // Fixed step: source samples per output sample at 22050 Hz, 16.16.
            double step = pitch * rate / OUTPUT_RATE * 65536.0;
            auto step16 = static_cast<std::int32_t>(std::clamp(std::round(step), 1.0, 2147483647.0));
            std::int32_t exclusive = std::clamp(region[SF2_EXCLUSIVE_CLASS], 0, 65535);
            // Regions of one exclusive class in one kit share a group, so they
            // cut each other (open and closed hi-hat); others have their own.
            std::int32_t group = exclusive != 0 ? 0x10000 + static_cast<std::int32_t>(kit) * 0x10000 + exclusive : 0;
            auto regionKey = std::make_tuple(found->second.first, step16, group);
            auto existing = regionIndex.find(regionKey);
            std::uint32_t index;
            if (existing != regionIndex.end()) {
                index = existing->second;
            } else {
                if (writer.drumRegions.size() >= 32767) {
                    return fail(RESULT_UNSUPPORTED_DATA, "more drum regions than a BRF font can hold");
                }
                InstrumentRecord rec{};
                rec.fixedStep = 1;
                rec.lfoDepth = step16;      // step after note-off
                rec.lfoDepthStep = step16;  // step while the key is held
                rec.cycleLength = found->second.second;
                rec.loopEnd = found->second.second;
                rec.loopStart = found->second.second;
                rec.sample = static_cast<std::int32_t>(found->second.first);
                index = static_cast<std::uint32_t>(writer.drumRegions.size());
                rec.groupId = group != 0 ? group : 128 + static_cast<std::int32_t>(index);
                writer.drumRegions.push_back(rec);
                regionIndex.emplace(regionKey, index);
            }
            writer.drumKitMaps[kit * 128 + static_cast<std::size_t>(key)] = index;
        }
    }
    summary.kits = static_cast<int>(kitCount);
    summary.drumRegions = static_cast<int>(writer.drumRegions.size());
    if (kitPresets.empty()) {
        summary.notes.push_back("the bank has no drum kit (bank 128): drum notes are silent");
    } else if (bank.presets[static_cast<std::size_t>(kitPresets[0])].program != 0) {
        summary.notes.push_back("no drum kit at program 0: kit 0 is program " +
                                std::to_string(bank.presets[static_cast<std::size_t>(kitPresets[0])].program));
    }
    // A drum channel's program picks the kit of the highest kit program not
    // above it (program 1 plays the standard kit 0, 26 the kit at 25).
    for (int program = 0; program < 128; ++program) {
        std::uint32_t kit = 0;
        for (std::size_t k = 0; k < kitPresets.size(); ++k) {
            if (bank.presets[static_cast<std::size_t>(kitPresets[k])].program <= program)
                kit = static_cast<std::uint32_t>(k);
        }
        writer.programKits[program] = kit;
    }
    return true;
}

}  // namespace brellin
