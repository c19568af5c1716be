// The all-instruments and all-percussion song and its level measurement,
// shared by DrumBalanceTest and bench/soundfont's drum_balance tool (which
// renders the same song with FluidSynth's General MIDI fonts).
//
// The song, at 120 beats a minute (960 ticks a second):
//   - melodic part, channel 1: each program 0 … 127 in turn gets a 1-second
//     slot: program change, key 60 at velocity 100 held for 0.5 s;
//   - a 4-second gap;
//   - percussion part, channel 10: each key 27 … 87 in turn gets a 1-second
//     slot: struck at velocity 100, held 0.9 s (held, so that a font whose
//     drums stop at note-off plays them as long as ours play anyway);
//   - 3 seconds for the last tails.
// Every note gets a slot of the same length, so the ratio of the two parts'
// RMS levels is the ratio of a drum stroke's energy to a melodic note's,
// averaged over the General MIDI set. Both parts' tails stay inside their own
// part (the gap outlasts the longest melodic release).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace brellin::testing {

struct BalanceSong {
    static constexpr int FIRST_DRUM_KEY = 27, LAST_DRUM_KEY = 87;
    static constexpr int DRUM_KEYS = LAST_DRUM_KEY - FIRST_DRUM_KEY + 1;
    static constexpr double MELODIC_START = 0, DRUM_START = 128 + 4, END = DRUM_START + DRUM_KEYS + 3;  // seconds
    static constexpr int VELOCITY = 100;

    static std::string midiFile() {
        constexpr std::uint32_t second = 960;
        std::string body;
        auto varLen = [&](std::uint32_t value) {
            std::string out(1, static_cast<char>(value & 0x7F));
            while (value >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
            body += out;
        };
        auto event = [&](std::uint32_t delta, std::initializer_list<int> bytes) {
            varLen(delta);
            for (int b : bytes) body.push_back(static_cast<char>(b));
        };
        event(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20});  // 500000 µs a beat
        std::uint32_t pending = 0;                    // ticks since the last event
        for (int program = 0; program < 128; ++program) {
            event(pending, {0xC0, program});
            event(0, {0x90, 60, VELOCITY});
            event(second * 9 / 10, {0x80, 60, 0});
            pending = second / 10;
        }
        pending += 4 * second;
        for (int key = FIRST_DRUM_KEY; key <= LAST_DRUM_KEY; ++key) {
            event(pending, {0x99, key, VELOCITY});
            event(second * 9 / 10, {0x89, key, 0});
            pending = second / 10;
        }
        // A note-off for a key that is not down marks the end: the player ends a
        // song at its last channel event, and the tails need the 3 seconds.
        event(pending + 3 * second, {0x80, 0, 0});
        event(0, {0xFF, 0x2F, 0});
        auto be = [](std::uint32_t v, int n) {
            std::string out;
            for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
            return out;
        };
        return "MThd" + be(6, 4) + be(0, 2) + be(1, 2) + be(480, 2) + "MTrk" +
               be(static_cast<std::uint32_t>(body.size()), 4) + body;
    }
};

// The samples of a 16-bit PCM WAV file, channels interleaved; empty when the
// bytes are not one.
struct WavSamples {
    std::uint32_t rate = 0, channels = 0;
    std::vector<std::int16_t> samples;
    // Seconds of the render per second of the song's nominal time: a player
    // whose clock runs a little off places the slots a little off.
    double clock = 1;

    static WavSamples parse(const std::string& file) {
        WavSamples wav;
        auto u32 = [&](std::size_t i) {
            return i + 4 <= file.size() ? static_cast<std::uint32_t>(
                                              static_cast<std::uint32_t>(static_cast<std::uint8_t>(file[i]) |
                                                                         static_cast<std::uint8_t>(file[i + 1]) << 8 |
                                                                         static_cast<std::uint8_t>(file[i + 2]) << 16) |
                                              static_cast<std::uint32_t>(static_cast<std::uint8_t>(file[i + 3])) << 24)
                                        : 0u;
        };
        if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WAVE") != 0) return wav;
        std::uint32_t bits = 0;
        for (std::size_t chunk = 12; chunk + 8 <= file.size();) {
            const std::size_t size = u32(chunk + 4), body = chunk + 8;
            const std::size_t end =
                size > file.size() - body ? file.size() : body + size;  // streamed sizes: to the end
            if (file.compare(chunk, 4, "fmt ") == 0 && size >= 16) {
                wav.channels = u32(body + 2) & 0xFFFF;
                wav.rate = u32(body + 4);
                bits = u32(body + 14) & 0xFFFF;
            } else if (file.compare(chunk, 4, "data") == 0 && bits == 16 && wav.channels > 0) {
                for (std::size_t i = body; i + 2 <= end; i += 2)
                    wav.samples.push_back(static_cast<std::int16_t>(u32(i) & 0xFFFF));
                return wav;
            }
            chunk = end + (size & 1);
        }
        wav.samples.clear();
        return wav;
    }

    std::size_t frames() const { return channels ? samples.size() / channels : 0; }

    // RMS over all channels of the frames in [from, to) seconds, in units of full scale.
    double rms(double from, double to) const {
        const std::size_t a = index(from), b = index(to);
        double sum = 0;
        for (std::size_t i = a; i < b; ++i) sum += double(samples[i]) * samples[i];
        return b > a ? std::sqrt(sum / double(b - a)) / 32768 : 0;
    }
    // Largest magnitude in [from, to) seconds, in units of full scale.
    double peak(double from, double to) const {
        int largest = 0;
        for (std::size_t i = index(from), end = index(to); i < end; ++i)
            largest = std::max(largest, std::abs(int{samples[i]}));
        return largest / 32768.0;
    }

private:
    std::size_t index(double seconds) const {
        const double at = seconds * clock * rate;
        const std::size_t frame = at > 0 ? static_cast<std::size_t>(at) : 0;
        return std::min(frame, frames()) * channels;
    }
};

// Drums-to-melodic balance of a render of BalanceSong: how far the percussion
// part's RMS level sits under the melodic part's, in dB. The parts meet in
// the middle of the gap, so that a clock a second off still parts them
// cleanly; the melodic part is measured over 130 s for its 128 slots, the
// percussion part over 66 s for its 61 slots (a 0.3 dB bias common to every
// render, which the comparison cancels).
inline double drumsUnderMelodicDb(const WavSamples& wav) {
    constexpr double middle = BalanceSong::DRUM_START - 2;
    const double melodic = wav.rms(BalanceSong::MELODIC_START, middle);
    const double drums = wav.rms(middle, BalanceSong::END);
    return 20 * std::log10(melodic / drums);
}

}  // namespace brellin::testing
