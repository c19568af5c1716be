// Loads arbitrary bytes as a BRF sound font. When the load succeeds, every
// sample byte that a mix routine could read for any record is touched
// (positions 0 … loopEnd of pitched records, the last one being the guard
// byte; 0 … cycleLength − 1 of fixed-step records; drum regions through every
// program's kit), and then every program and every drum region is played for
// a few frames through the synthesizer's own Voice at the extreme keys and
// the fastest step (key 127 at 11025 Hz). AddressSanitizer reports any read
// outside the blocks.
#include <cstddef>
#include <cstdint>

#include "soundfont/SoundFont.h"
#include "synth/SynthTables.h"
#include "synth/Voice.h"

namespace {

volatile int sink;

void touch(const brellin::SoundFont& font, const brellin::InstrumentRecord& record) {
    const std::int8_t* sample = font.sampleData(record);
    std::uint32_t end = record.fixedStep != 0 ? record.cycleLength : record.loopEnd + 1;
    int sum = 0;
    for (std::uint32_t i = 0; i < end; ++i) sum += sample[i];
    // A record that ends at once is still read at positions 0 and 1 first.
    sum += sample[0] + sample[1];
    sink = sum;
}

void play(brellin::Voice& voice, const brellin::SoundFont& font, const brellin::InstrumentRecord& record) {
    std::int32_t accumulator[2 * 64];
    for (int key : {0, 60, 127}) {
        voice.setInstrument(record, font.sampleBlock.get());
        voice.setVolume(127);
        voice.noteOn(brellin::noteFrequencies[key]);
        voice.mix.load()(&voice, accumulator, 64);
        voice.noteOff();
        voice.mix.load()(&voice, accumulator, 64);
        voice.silence();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::SoundFont font;
    brellin::SoundFontDiagnostics diagnostics;
    if (!font.loadSoundFontFromMemory(data, size, &diagnostics)) return 0;
    for (const brellin::InstrumentRecord& record : font.programs) touch(font, record);
    for (std::uint32_t program = 0; program < brellin::SoundFont::PROGRAM_COUNT; ++program)
        for (std::uint32_t key = 0; key < brellin::SoundFont::KEY_COUNT; ++key)
            touch(font, font.drumRegion(program, key));
    for (std::uint32_t n = 0; n < font.sampleCount; ++n) sink = static_cast<int>(font.sampleLength(n));

    brellin::Voice voice;
    voice.configure(11025, 16, 2);
    for (const brellin::InstrumentRecord& record : font.programs) play(voice, font, record);
    for (std::int32_t j = 0; j <= font.drumRegionCount; ++j)
        play(voice, font, font.drumRegions[static_cast<std::size_t>(j)]);
    return 0;
}
