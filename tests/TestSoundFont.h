// A small valid BRF sound font for tests that start an engine: one looped
// 64-sample cycle behind every program, so any note sounds at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundfont/SoundFontWriter.h"

namespace brellin::testing {

inline bool writeTestSoundFont(const std::string& path) {
    SoundFontWriter writer;
    std::vector<std::int8_t> wave(256);
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<std::int8_t>((i % 64) * 4 - 128);
    const std::uint32_t sample = writer.addSample(wave);
    for (auto& program : writer.programs) {
        program = InstrumentRecord{};
        program.attackRate = 1 << 16;
        program.attackLevel = 1 << 22;
        program.decay3Rate = 1;
        program.releaseRate = 1 << 12;
        program.cycleLength = 64;
        program.loopEnd = 256;
        program.sample = static_cast<std::int32_t>(sample);
    }
    return writer.save(path.c_str());
}

}  // namespace brellin::testing
