// SoundFontWriter: composes a BRF sound font file from records and samples.
//
// Used by brf-tool (the built-in General MIDI font, conversion from other
// formats) and by the tests to craft files. Records are given as they are
// stored in a file: `sample` is a sample index. Nothing is sanitized or
// checked here, so broken files can be written on purpose; `SoundFont` is
// the judge of what a file means.
#pragma once

#include <cstdint>
#include <vector>

#include "common/ResultCode.h"
#include "soundfont/InstrumentRecord.h"

namespace brellin {

class SoundFontWriter {
public:
    SoundFontWriter();

    // Appends a sample and returns its index.
    std::uint32_t addSample(std::vector<std::int8_t> bytes);

    // The whole file. The size field is 9224 + 72 × N + 512 × K + L (so that
    // a "BRF1" file with one kit has size = file length − 8); the program kit
    // table follows the sample block only when there is more than one kit.
    std::vector<std::uint8_t> bytes() const;
    // Writes bytes() to a file; false with `lastError` from the file otherwise,
    // or RESULT_UNSUPPORTED_DATA when the counts do not fit the format.
    bool save(const char* path);
    // True when N and K fit their signed 16-bit fields and the kit maps hold K × 128 entries.
    bool countsFit() const;

    bool brf0 = false;               // write 64-byte "BRF0" records
    InstrumentRecord programs[128];  // all zero at construction
    std::vector<InstrumentRecord> drumRegions;
    std::vector<std::uint32_t> drumKitMaps = std::vector<std::uint32_t>(128, 0);  // K × 128
    std::uint32_t programKits[128];  // written when K > 1; all 0 at construction
    std::vector<std::vector<std::int8_t>> samples;

    ResultCode lastError = RESULT_OK;
};

}  // namespace brellin
