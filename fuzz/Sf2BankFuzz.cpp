// Fuzz target for the conversion of a whole bank into a BRF font. The input
// describes one small bank (a sample of at most 512 frames with its header,
// an instrument zone and a preset zone of fuzzed generators, melodic or
// drum, optionally a second layer); the target builds it, converts it and
// checks that the BRF font written loads. Describing the bank rather than
// mutating its bytes keeps every run inside the converter instead of the
// reader (which sf2_reader fuzzes). Each conversion still resamples and
// measures fractions of a second of sound, so this target is slow (about a
// hundred runs a second); sf2_convert fuzzes the per-zone pieces quickly.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Importer.h"
#include "soundfont/SoundFont.h"
#include "soundfont/SoundFontWriter.h"
#include "tests/fontmaker/Sf2Builder.h"

namespace {

// Takes little-endian values from the front of the input; zeros once it runs out.
class Bytes {
public:
    Bytes(const std::uint8_t* input, std::size_t length) : data(input), size(length) {}
    std::uint8_t u8() { return position < size ? data[position++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
    std::size_t left() const { return size - position; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

constexpr std::size_t MAX_FRAMES = 512;

brellin::testing::Sf2ZoneGens generators(Bytes& in, int most) {
    brellin::testing::Sf2ZoneGens zone;
    for (int n = in.u8() % (most + 1); n > 0; --n) {
        auto op = static_cast<std::uint16_t>(in.u8() % brellin::SF2_GENERATOR_COUNT);
        // Sample and instrument indexes are the builder's to set.
        if (op == brellin::SF2_SAMPLE_ID || op == brellin::SF2_INSTRUMENT) continue;
        zone.push_back({op, static_cast<std::int16_t>(in.u16())});
    }
    return zone;
}

brellin::testing::Sf2BuildSample sample(Bytes& in, std::size_t frames) {
    brellin::testing::Sf2BuildSample s;
    s.name = "fuzz";
    // 2 … 16 kHz against the data rate of 4 kHz: the resampling kernel stays short.
    s.sampleRate = 2000 + in.u16() % 14001u;
    s.originalPitch = in.u8();
    s.correction = static_cast<std::int8_t>(in.u8());
    s.loopStart = static_cast<std::uint32_t>(in.u16() % (frames + 2));
    s.loopEnd = static_cast<std::uint32_t>(in.u16() % (frames + 2));
    s.type = (in.u8() & 1) ? 4 : 1;
    s.frames.resize(frames);
    for (auto& v : s.frames) v = static_cast<std::int16_t>(in.u16());
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brellin;
    Bytes in(data, size);
    const std::uint8_t flags = in.u8();
    const bool drum = flags & 1, keepTuning = flags & 2, layered = flags & 4, global = flags & 8;
    testing::Sf2Builder b;
    testing::Sf2BuildInstrument instrument{"fuzz", {}};
    if (global) instrument.zones.push_back(generators(in, 6));
    testing::Sf2ZoneGens zone = generators(in, 10);
    testing::Sf2ZoneGens presetZone = generators(in, 6);
    std::size_t layerFrames = static_cast<std::size_t>(layered ? in.u8() % 64 + 1 : 0);
    b.samples.push_back({});
    if (layered) {
        b.samples.push_back(sample(in, layerFrames));
        testing::Sf2ZoneGens second = generators(in, 4);
        second.push_back({SF2_SAMPLE_ID, 1});
        instrument.zones.push_back(second);
    }
    // The rest of the input is the main sample's header and frames.
    const std::size_t frames = std::min<std::size_t>(MAX_FRAMES, in.left() > 12 ? (in.left() - 12) / 2 : 1);
    b.samples[0] = sample(in, std::max<std::size_t>(frames, 1));
    if (drum) {
        // A looped drum is made 1.5 s long whatever its sample: too slow to fuzz at any rate.
        std::erase_if(zone, [](const testing::Sf2Gen& g) { return g.first == SF2_SAMPLE_MODES; });
    }
    zone.push_back({SF2_SAMPLE_ID, 0});
    instrument.zones.push_back(zone);
    b.instruments.push_back(instrument);
    presetZone.push_back({SF2_INSTRUMENT, 0});
    b.presets.push_back({"fuzz",
                         static_cast<std::uint16_t>(drum ? 0 : flags >> 4),
                         static_cast<std::uint16_t>(drum ? 128 : 0),
                         {presetZone}});
    if (drum) {
        // A bank needs a melodic program: a short click, quick to convert.
        b.samples.push_back({"click", std::vector<std::int16_t>(16, 8000), 22050, 60, 0, 0, 0});
        b.instruments.push_back({"click", {{{SF2_SAMPLE_ID, static_cast<std::int32_t>(b.samples.size() - 1)}}}});
        b.presets.push_back({"click", 0, 0, {{{SF2_INSTRUMENT, 1}}}});
    }

    const std::string file = b.build();
    Sf2File bank;
    if (!bank.parse(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()))
        std::abort();  // the builder's banks parse
    Sf2Importer importer;
    importer.options.dataRate = 4000;
    importer.options.keepTuning = keepTuning;
    // Odd programs are tuned to 440 Hz; even ones to the bank's own A4.
    importer.options.tuneTo440 = !drum && (flags >> 4) % 2 == 1;
    importer.options.maxBytes = 1u << 20;
    SoundFontWriter writer;
    if (!importer.convert(bank, writer)) {
        if (importer.errorText.empty()) std::abort();
        return 0;
    }
    std::vector<std::uint8_t> bytes = writer.bytes();
    SoundFont font;
    if (!font.loadSoundFontFromMemory(bytes.data(), bytes.size())) std::abort();  // the converter wrote a broken font
    return 0;
}
