// Loads arbitrary bytes as a BRF sound font. When the load succeeds, every
// sample byte that a mix routine could read for any record is touched:
// positions 0 … loopEnd (the last one being the guard byte) of pitched
// records, 0 … cycleLength − 1 of fixed-step records, and every drum region
// reachable through the kit maps. AddressSanitizer reports any read outside
// the blocks.
#include <cstddef>
#include <cstdint>

#include "soundfont/SoundFont.h"

namespace {

volatile int sink;

void touch(const brellin::SoundFont& font, const brellin::InstrumentRecord& record) {
    const std::int8_t* sample = font.sampleData(record);
    std::uint32_t end = record.fixedStep != 0 ? record.cycleLength : record.loopEnd + 1;
    int sum = 0;
    for (std::uint32_t i = 0; i < end; ++i) sum += sample[i];
    // The interpolating routine also reads one byte after a position at loopEnd − 1 … and
    // a record with loopEnd 0 is read at position 0 and 1 before it ends.
    sum += sample[0] + sample[1];
    sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::SoundFont font;
    brellin::SoundFontDiagnostics diagnostics;
    if (!font.loadSoundFontFromMemory(data, size, &diagnostics)) return 0;
    for (const brellin::InstrumentRecord& record : font.programs) touch(font, record);
    for (std::uint32_t program = 0; program < brellin::SoundFont::PROGRAM_COUNT; ++program)
        for (std::uint32_t key = 0; key < brellin::SoundFont::KEY_COUNT; ++key) touch(font, font.drumRegion(program, key));
    for (std::uint32_t n = 0; n < font.sampleCount; ++n) sink = static_cast<int>(font.sampleLength(n));
    return 0;
}
