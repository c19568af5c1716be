// Renders single notes of a loaded SoundFont through the synthesizer's own
// Voice (offline, without an output) and measures them: the shared tool of
// the font tests and the font measurements in bench/soundfont.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "soundfont/SoundFont.h"
#include "synth/SynthTables.h"
#include "synth/Voice.h"

namespace brellin::testing {

// Voice volume of a note at `velocity` on a channel at controller-7 value
// `channelVolume` with the player's volume and the system volume at 128:
// (masterGain × gain × velocity) >> 14 with gain = (volume × 127) >> 9.
inline std::int32_t voiceVolume(std::int32_t velocity = 100, std::int32_t channelVolume = 100) {
    const std::int32_t gain = (channelVolume * 127) >> 9;
    return (128 * gain * velocity) >> 14;
}

// The first output channel of `frames` frames of one note of `key`, held for
// `holdFrames` frames, then released. Output rate `rate`, 16-bit, `channels` 1 or 2.
inline std::vector<std::int32_t> renderNote(const SoundFont& font, const InstrumentRecord& record, std::uint32_t rate,
                                            std::uint32_t channels, int key, std::int32_t volume, std::uint32_t frames,
                                            std::uint32_t holdFrames) {
    Voice voice;
    voice.configure(rate, 16, channels);
    voice.setInstrument(record, font.sampleBlock.get());
    voice.setVolume(volume);
    voice.noteOn(noteFrequencies[key]);
    std::vector<std::int32_t> out;
    out.reserve(frames);
    const std::uint32_t slice = rate / 250;  // 4 ms slices, as the render loop uses
    std::vector<std::int32_t> accumulator(slice * channels);
    for (std::uint32_t done = 0; done < frames; done += slice) {
        if (done >= holdFrames && voice.isKeyDown()) voice.noteOff();
        std::fill(accumulator.begin(), accumulator.end(), 0);
        voice.mix.load()(&voice, accumulator.data(), slice);
        for (std::uint32_t i = 0; i < slice && done + i < frames; ++i) out.push_back(accumulator[i * channels]);
    }
    return out;
}

// A stretch of a rendered signal under a Hann window, ready for measuring.
struct Windowed {
    Windowed(const std::vector<std::int32_t>& x, std::size_t from, std::size_t count, double sampleRate)
        : rate(sampleRate) {
        values.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(count));
            values[i] = (from + i < x.size() ? x[from + i] : 0) * w;
        }
    }
    // Magnitude of the component at `hz` (a single DFT term, phasor by rotation).
    double magnitudeAt(double hz) const {
        const double w = 2 * M_PI * hz / rate;
        const double cw = std::cos(w), sw = std::sin(w);
        double c = 1, s = 0, re = 0, im = 0;
        for (double v : values) {
            re += v * c;
            im -= v * s;
            const double nc = c * cw - s * sw;
            s = s * cw + c * sw;
            c = nc;
        }
        return std::sqrt(re * re + im * im);
    }
    std::vector<double> values;
    double rate;
};

inline double cents(double hz, double reference) { return 1200 * std::log2(hz / reference); }

// The frequency of the strongest component within ±`range` cents of
// `nominal`: a 4-cent scan, then a golden-section search to 0.01 cent.
inline double measureFrequency(const Windowed& x, double nominal, double range = 32) {
    double best = nominal, bestMagnitude = -1;
    for (double c = -range; c <= range; c += 4) {
        double hz = nominal * std::exp2(c / 1200);
        double m = x.magnitudeAt(hz);
        if (m > bestMagnitude) bestMagnitude = m, best = hz;
    }
    const double g = (std::sqrt(5.0) - 1) / 2;
    double lo = best * std::exp2(-4.0 / 1200), hi = best * std::exp2(4.0 / 1200);
    double a = hi - g * (hi - lo), b = lo + g * (hi - lo);
    double ma = x.magnitudeAt(a), mb = x.magnitudeAt(b);
    for (int i = 0; i < 24; ++i) {
        if (ma > mb) {
            hi = b, b = a, mb = ma;
            a = hi - g * (hi - lo), ma = x.magnitudeAt(a);
        } else {
            lo = a, a = b, ma = mb;
            b = lo + g * (hi - lo), mb = x.magnitudeAt(b);
        }
    }
    return (lo + hi) / 2;
}

}  // namespace brellin::testing
