// Helpers shared by the synthesizer tests: records, voices prepared for an
// output format without a SoundOutput, and small sound fonts written with
// SoundFontWriter.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"
#include "synth/Voice.h"

namespace brellin::test {

// A pitched record that rises at once to `level` and holds it (decay 1 rate 0),
// looping the whole sample.
inline InstrumentRecord holdingRecord(std::int32_t level, std::uint32_t sampleLength) {
    InstrumentRecord r{};
    r.attackRate = level > 0 ? level : 4;
    r.attackLevel = level;
    r.decay1Rate = 0;
    r.decay1Level = level;
    r.releaseRate = 4;
    r.lfoRateShift = 0;
    r.cycleLength = sampleLength;
    r.loopStart = 0;
    r.loopEnd = sampleLength;
    return r;
}

// A voice with a record installed, as attach would leave it for the format.
inline void prepareVoice(Voice& voice, std::uint32_t rate, std::uint32_t width, std::uint32_t channels,
                         const InstrumentRecord& record, const std::int8_t* sampleBlock) {
    voice.configure(rate, width, channels);
    voice.setInstrument(record, sampleBlock);
}

// Mixes `frames` frames one at a time, returning the accumulator (mono or stereo).
inline std::vector<std::int32_t> mixFrames(Voice& voice, std::uint32_t frames) {
    const std::uint32_t channels = voice.outputChannels == 2 ? 2 : 1;
    std::vector<std::int32_t> acc(static_cast<std::size_t>(frames) * channels, 0);
    MixRoutine routine = voice.mix.load();
    routine(&voice, acc.data(), frames);
    return acc;
}

// One period of a sine, `length` samples, amplitude `amplitude` (≤ 127).
inline std::vector<std::int8_t> sineCycle(std::uint32_t length, double amplitude) {
    std::vector<std::int8_t> bytes(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::int8_t>(std::lround(amplitude * std::sin(2 * M_PI * i / length)));
    }
    return bytes;
}

// Deterministic noise (a drum hit) decaying over `length` samples.
inline std::vector<std::int8_t> noiseBurst(std::uint32_t length, std::uint32_t seed) {
    std::vector<std::int8_t> bytes(length);
    std::uint32_t state = seed;
    for (std::uint32_t i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        const double envelope = 1.0 - static_cast<double>(i) / length;
        bytes[i] = static_cast<std::int8_t>(static_cast<std::int32_t>((state >> 24) & 0xFF) - 128);
        bytes[i] = static_cast<std::int8_t>(std::lround(bytes[i] * envelope));
    }
    return bytes;
}

// A small General-MIDI-like font: every program is a looping sine of 64
// samples per period (4 periods stored), and the drum kit maps keys 35 … 81
// to noise hits in two regions sharing group 200 (keys 42 and 46: closed and
// open hi-hat) and one group each otherwise.
inline SoundFontWriter smallTestFont() {
    SoundFontWriter writer;
    std::vector<std::int8_t> sine;
    for (int period = 0; period < 4; ++period) {
        const auto cycle = sineCycle(64, 100);
        sine.insert(sine.end(), cycle.begin(), cycle.end());
    }
    const std::uint32_t sineIndex = writer.addSample(sine);
    for (std::uint32_t k = 0; k < 128; ++k) {
        InstrumentRecord r{};
        r.attackRate = 400000;
        r.attackLevel = 8000000;
        r.decay1Rate = 200;
        r.decay1Level = 6000000;
        r.decay2Rate = 0;
        r.decay2Level = 0;
        r.decay3Rate = 0;
        r.releaseRate = 40000;
        r.lfoDelay = 2000;
        r.lfoDepth = 0x40000;
        r.lfoDepthStep = 64;
        r.lfoRateShift = 10;
        r.fixedStep = 0;
        r.cycleLength = 64;
        r.loopEnd = 256;
        r.sample = static_cast<std::int32_t>(sineIndex);
        r.loopStart = 0;
        r.groupId = static_cast<std::int32_t>(k);
        writer.programs[k] = r;
    }
    const std::uint32_t kick = writer.addSample(noiseBurst(3000, 1));
    const std::uint32_t snare = writer.addSample(noiseBurst(2500, 2));
    const std::uint32_t hat = writer.addSample(noiseBurst(800, 3));
    auto drum = [](std::uint32_t sample, std::uint32_t length, std::int32_t groupId) {
        InstrumentRecord r{};
        r.fixedStep = 1;
        r.lfoDepth = 0x10000;      // step after note-off: 1.0
        r.lfoDepthStep = 0x10000;  // step while held: 1.0
        r.cycleLength = length;
        r.loopEnd = length;
        r.sample = static_cast<std::int32_t>(sample);
        r.groupId = groupId;
        return r;
    };
    writer.drumRegions.push_back(drum(kick, 3000, 128));   // region 0: kick
    writer.drumRegions.push_back(drum(snare, 2500, 129));  // region 1: snare
    writer.drumRegions.push_back(drum(hat, 800, 200));     // region 2: closed hi-hat
    writer.drumRegions.push_back(drum(hat, 800, 200));     // region 3: open hi-hat, same group
    for (std::uint32_t key = 0; key < 128; ++key) writer.drumKitMaps[key] = 0;
    writer.drumKitMaps[35] = 0;
    writer.drumKitMaps[36] = 0;
    writer.drumKitMaps[38] = 1;
    writer.drumKitMaps[40] = 1;
    writer.drumKitMaps[42] = 2;
    writer.drumKitMaps[46] = 3;
    return writer;
}

inline bool loadFont(SoundFont& font, const SoundFontWriter& writer) {
    const std::vector<std::uint8_t> bytes = writer.bytes();
    return font.loadSoundFontFromMemory(bytes.data(), bytes.size());
}

}  // namespace brellin::test
