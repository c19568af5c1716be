// Fuzz target for the SoundFont reader: any bytes (SF2, or SF3 with Ogg
// Vorbis samples) either fail to parse with a message, or parse into
// headers whose every sample reads (or fails with a message) and whose
// presets' zones resolve, without a read outside the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fontmaker/Sf2File.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::Sf2File bank;
    // Decoding is the costly part: short samples keep each run fast.
    bank.maxDecodedFrames = 1u << 15;
    if (!bank.parse(data, size)) {
        if (bank.errorText.empty()) std::abort();  // every failure says why
        return 0;
    }
    std::vector<std::int16_t> frames;
    const std::size_t sampleCount = std::min<std::size_t>(bank.samples.size(), 64);
    for (std::size_t i = 0; i < sampleCount; ++i) {
        const brellin::Sf2SampleHeader& h = bank.samples[i];
        const std::uint32_t end = std::min<std::uint32_t>(h.end, h.start + (1u << 15));
        if (bank.readSamples(h.start, end, frames)) {
            if (frames.size() != end - h.start) std::abort();
        } else if (bank.errorText.empty()) {
            std::abort();
        }
        if (bank.compressed() && h.end > bank.sampleFrameCount()) std::abort();  // the layout holds every sample
    }
    std::vector<brellin::Sf2Region> regions;
    const std::size_t presetCount = std::min<std::size_t>(bank.presets.size(), 16);
    for (std::size_t p = 0; p < presetCount; ++p) {
        for (int key : {0, 60, 127}) {
            bank.findRegions(p, key, 100, regions);
            for (const brellin::Sf2Region& r : regions) {
                if (r.sampleIndex >= bank.samples.size() || r.keyLow > key || r.keyHigh < key) std::abort();
            }
        }
        int low, high;
        if (bank.presetKeyRange(p, low, high) && (low < 0 || high > 127 || low > high)) std::abort();
    }
    return 0;
}
