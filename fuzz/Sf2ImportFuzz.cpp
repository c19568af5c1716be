// Fuzz target for the SoundFont 2 reader and converter: any bytes either
// fail with a message or convert to a BRF font that the BRF loader accepts.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Importer.h"
#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    brellin::Sf2File bank;
    if (!bank.parse(data, size)) {
        if (bank.errorText.empty()) std::abort();  // every failure says why
        return 0;
    }
    brellin::Sf2Importer importer;
    // A small data rate and size limit keep each run short.
    importer.options.dataRate = 8000;
    importer.options.maxBytes = 4u << 20;
    brellin::SoundFontWriter writer;
    if (!importer.convert(bank, writer)) {
        if (importer.errorText.empty()) std::abort();
        return 0;
    }
    std::vector<std::uint8_t> bytes = writer.bytes();
    brellin::SoundFont font;
    if (!font.loadSoundFontFromMemory(bytes.data(), bytes.size())) std::abort();  // the converter wrote a broken font
    return 0;
}
