// Writes the seed corpora of the SoundFont fuzz targets:
//  - FOLDER/sf2_reader: small banks that reach the reader's paths (melodic
//    and drum presets, global zones, loops, SF3 with Ogg Vorbis samples and
//    without pad bytes) and a few damaged ones;
//  - FOLDER/sf2_bank: bank descriptions in sf2_bank's input layout
//    (melodic, drum, layered, retuned or not);
//  - FOLDER/sf2_convert: envelopes and signals in sf2_convert's layout.
//   make-sf2-seeds FOLDER    (FOLDER is fuzz/corpus)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fontmaker/Sf2File.h"
#include "tests/fontmaker/OggEncode.h"
#include "tests/fontmaker/Sf2Builder.h"

using namespace brellin;
using brellin::testing::Sf2Builder;

static void save(const std::string& folder, const char* name, const std::string& bytes) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

static void readerSeeds(const std::string& folder) {
    Sf2Builder b;
    b.samples.push_back({"tone", Sf2Builder::sine(200, 20.0), 22050, 69, 5, 40, 180});
    b.samples.push_back({"hit", Sf2Builder::sine(120, 7.0, 9000), 11025, 60, 0, 0, 0});
    b.instruments.push_back(
        {"lead",
         {{{SF2_ATTACK_VOL_ENV, -2400}, {SF2_DECAY_VOL_ENV, 0}, {SF2_SUSTAIN_VOL_ENV, 200}},
          {{SF2_KEY_RANGE, Sf2Builder::range(0, 80)},
           {SF2_SAMPLE_MODES, 1},
           {SF2_MOD_LFO_TO_VOLUME, 40},
           {SF2_FINE_TUNE, -20},
           {SF2_SAMPLE_ID, 0}},
          {{SF2_KEY_RANGE, Sf2Builder::range(81, 127)}, {SF2_HOLD_VOL_ENV, -3000}, {SF2_SAMPLE_ID, 1}}}});
    b.instruments.push_back({"kit",
                             {{{SF2_KEY_RANGE, Sf2Builder::range(35, 40)},
                               {SF2_OVERRIDING_ROOT_KEY, 38},
                               {SF2_EXCLUSIVE_CLASS, 2},
                               {SF2_SAMPLE_ID, 1}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(42, 46)},
                               {SF2_SAMPLE_MODES, 1},
                               {SF2_DECAY_VOL_ENV, -1200},
                               {SF2_SUSTAIN_VOL_ENV, 1000},
                               {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back(
        {"Lead", 0, 0, {{{SF2_INITIAL_ATTENUATION, 30}}, {{SF2_ATTACK_VOL_ENV, 600}, {SF2_INSTRUMENT, 0}}}});
    b.presets.push_back({"High", 9, 0, {{{SF2_KEY_RANGE, Sf2Builder::range(90, 100)}, {SF2_INSTRUMENT, 0}}}});
    b.presets.push_back({"Kit", 0, 128, {{{SF2_INSTRUMENT, 1}}}});
    b.presets.push_back({"Kit 2", 16, 128, {{{SF2_COARSE_TUNE, 2}, {SF2_INSTRUMENT, 1}}}});
    // Modulators: velocity to the filter and the default velocity curve
    // replaced in the instrument, key to attenuation added in the preset.
    b.instruments[0].modulators = {
        {{0x0502, SF2_INITIAL_ATTENUATION, 0, 0, 0}, {0x0002, SF2_MOD_ENV_TO_FILTER_FC, 5000, 0, 0}},
        {{0x0203, SF2_INITIAL_FILTER_FC, -1200, 0x0D02, 2}}};
    b.presets[0].modulators = {{{0x0502, SF2_INITIAL_ATTENUATION, 700, 0, 0}},
                               {{0x0003, SF2_INITIAL_ATTENUATION, 200, 0x0081, 0}}};
    std::string good = b.build();
    save(folder, "bank.sf2", good);
    save(folder, "truncated.sf2", good.substr(0, good.size() - 60));

    Sf2Builder plain;
    plain.samples.push_back({"saw", Sf2Builder::sine(100, 10.0), 44100, 60, 0, 0, 0});
    plain.instruments.push_back({"one", {{{SF2_SAMPLE_ID, 0}}}});
    plain.presets.push_back({"One", 5, 0, {{{SF2_INSTRUMENT, 0}}}});
    save(folder, "one-shot.sf2", plain.build());

    std::string broken = good;
    std::size_t ibag = broken.find("ibag");
    if (ibag != std::string::npos) broken[ibag + 8] = 0x7F;  // first zone's generators point far away
    save(folder, "bad-index.sf2", broken);

    // The same bank as SF3: both samples Ogg Vorbis, written without pad bytes.
    Sf2Builder sf3 = b;
    sf3.versionMajor = 3;
    sf3.versionMinor = 1;
    sf3.padOddChunks = false;
    for (auto& s : sf3.samples) s.ogg = testing::encodeOggVorbis(s.frames, s.sampleRate, 0.0f);
    if ((sf3.samples[0].ogg.size() + sf3.samples[1].ogg.size()) % 2 == 0) sf3.smplTail = std::string(1, '\0');
    std::string compressed = sf3.build();
    save(folder, "bank.sf3", compressed);
    Sf2Builder mixed = sf3;
    mixed.samples[1].ogg.clear();  // one plain 16-bit sample among compressed ones
    save(folder, "mixed.sf3", mixed.build());
    Sf2Builder cut = sf3;
    cut.samples[0].ogg.resize(cut.samples[0].ogg.size() * 2 / 3);
    save(folder, "cut-ogg.sf3", cut.build());
    Sf2Builder future = sf3;
    future.versionMajor = 4;
    save(folder, "version-4.sf3", future.build());
}

// sf2_bank's input: flags, generators, then the sample header and frames.
struct BankSeed {
    std::string bytes;
    void u8(int v) { bytes.push_back(static_cast<char>(v)); }
    void u16(int v) { u8(v & 0xFF), u8((v >> 8) & 0xFF); }
    void gens(std::initializer_list<std::pair<int, int>> list) {
        u8(static_cast<int>(list.size()));
        for (auto [op, amount] : list) u8(op), u16(amount);
    }
    void sample(int rate, int pitch, int correction, int loopStart, int loopEnd,
                const std::vector<std::int16_t>& frames) {
        u16(rate - 2000), u8(pitch), u8(correction), u16(loopStart), u16(loopEnd), u8(0);
        for (std::int16_t v : frames) u16(v);
    }
};

static void bankSeeds(const std::string& folder) {
    const auto tone = Sf2Builder::sine(400, 40.0);  // 40 frames a period: 275.6 Hz at 11025 Hz
    BankSeed looped;
    looped.u8(0);
    looped.gens({{SF2_SAMPLE_MODES, 1}, {SF2_ATTACK_VOL_ENV, -2400}, {SF2_SUSTAIN_VOL_ENV, 200}});
    looped.gens({{SF2_INITIAL_ATTENUATION, 30}});
    looped.sample(11025, 61, 0, 80, 400, tone);  // key 61 is 277.2 Hz: 10 cents flat
    save(folder, "looped", looped.bytes);

    BankSeed kept = looped;
    kept.bytes[0] = 2;  // the bank's tuning kept
    save(folder, "kept-tuning", kept.bytes);

    BankSeed drum;
    drum.u8(1 | 8);
    drum.gens({{SF2_DECAY_VOL_ENV, -1200}, {SF2_INITIAL_FILTER_FC, 6000}});
    drum.gens({{SF2_KEY_RANGE, Sf2Builder::range(35, 40)}, {SF2_OVERRIDING_ROOT_KEY, 38}, {SF2_EXCLUSIVE_CLASS, 2}});
    drum.gens({{SF2_COARSE_TUNE, 2}});
    drum.sample(11025, 60, 0, 0, 0, Sf2Builder::sine(300, 9.0, 9000));
    save(folder, "drum", drum.bytes);

    BankSeed layers;
    layers.u8(4 | 0x30);
    layers.gens({{SF2_SAMPLE_MODES, 1}, {SF2_PAN, -500}, {SF2_MOD_LFO_TO_VOLUME, 40}, {SF2_FINE_TUNE, -20}});
    layers.gens({});
    layers.u8(40);  // the second layer: 41 frames
    layers.sample(16000, 91, 10, 0, 0, Sf2Builder::sine(41, 10.0));
    layers.gens({{SF2_PAN, 500}});
    layers.sample(16000, 51, 0, 100, 500, Sf2Builder::sine(500, 100.0));
    save(folder, "layers", layers.bytes);
}

// sf2_convert's input: an envelope and its peak, flags, resampling and
// filter values, then up to 256 frames.
static std::string convertSeed(std::initializer_list<int> envelope, int peakStep, int flags, int step, int first,
                               int count, int loopA, int loopB, int rate, int cutoff, int resonance,
                               const std::vector<std::int16_t>& frames) {
    BankSeed s;
    for (int v : envelope) s.u16(v);
    s.u16(peakStep), s.u8(flags), s.u16(step), s.u16(first), s.u8(count), s.u16(loopA), s.u16(loopB);
    s.u16(rate), s.u16(cutoff), s.u16(resonance), s.u16(1000), s.u8(77);
    for (std::int16_t v : frames) s.u16(v);
    return s.bytes;
}

static void convertSeeds(const std::string& folder) {
    // A piano-like envelope over a looped sine, downsampled by 2.5 and filtered.
    save(folder, "looped-filtered",
         convertSeed({-12000, -3000, -12000, 2400, 300, -1200}, 20000, 3, 2560, 0, 63, 40, 160, (22050 - 400) / 6, 3000,
                     100, Sf2Builder::sine(200, 20.0)));
    // An organ: no decay, full sustain, upsampled one-shot.
    save(folder, "one-shot",
         convertSeed({0, -12000, 0, -12000, 0, 0}, 100, 0, 300, static_cast<std::uint16_t>(-640), 60, 0, 0,
                     (44100 - 400) / 6, 0, 0, Sf2Builder::sine(256, 37.0, 20000)));
    // A drum with a long hold and a resonant filter at the loop's edge.
    save(folder, "resonant",
         convertSeed({1200, -8000, 1000, -600, 1000, 2000}, 65535, 1, 4095, 3200, 40, 250, 5, (11025 - 400) / 6, 5000,
                     960, Sf2Builder::sine(255, 3.0, 32000)));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sf2-seeds FOLDER\n");
        return 2;
    }
    readerSeeds(std::string(argv[1]) + "/sf2_reader");
    bankSeeds(std::string(argv[1]) + "/sf2_bank");
    convertSeeds(std::string(argv[1]) + "/sf2_convert");
    return 0;
}
