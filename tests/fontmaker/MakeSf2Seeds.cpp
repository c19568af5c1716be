// Writes the seed corpus of the sf2_import fuzz target: small banks that
// reach the reader's and the converter's paths (melodic and drum presets,
// global zones, loops, tuning, envelopes) and a few damaged ones.
//   make-sf2-seeds FOLDER
#include <cstdio>
#include <fstream>
#include <string>

#include "fontmaker/Sf2File.h"
#include "tests/fontmaker/Sf2Builder.h"

using namespace brellin;
using brellin::testing::Sf2Builder;

static void save(const std::string& folder, const char* name, const std::string& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sf2-seeds FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    Sf2Builder b;
    b.samples.push_back({"tone", Sf2Builder::sine(200, 20.0), 22050, 69, 5, 40, 180});
    b.samples.push_back({"hit", Sf2Builder::sine(120, 7.0, 9000), 11025, 60, 0, 0, 0});
    b.instruments.push_back({"lead",
                             {{{SF2_ATTACK_VOL_ENV, -2400}, {SF2_DECAY_VOL_ENV, 0}, {SF2_SUSTAIN_VOL_ENV, 200}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(0, 80)}, {SF2_SAMPLE_MODES, 1},
                               {SF2_MOD_LFO_TO_VOLUME, 40}, {SF2_FINE_TUNE, -20}, {SF2_SAMPLE_ID, 0}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(81, 127)}, {SF2_HOLD_VOL_ENV, -3000},
                               {SF2_SAMPLE_ID, 1}}}});
    b.instruments.push_back({"kit",
                             {{{SF2_KEY_RANGE, Sf2Builder::range(35, 40)}, {SF2_OVERRIDING_ROOT_KEY, 38},
                               {SF2_EXCLUSIVE_CLASS, 2}, {SF2_SAMPLE_ID, 1}},
                              {{SF2_KEY_RANGE, Sf2Builder::range(42, 46)}, {SF2_SAMPLE_MODES, 1},
                               {SF2_DECAY_VOL_ENV, -1200}, {SF2_SUSTAIN_VOL_ENV, 1000}, {SF2_SAMPLE_ID, 0}}}});
    b.presets.push_back({"Lead", 0, 0, {{{SF2_INITIAL_ATTENUATION, 30}}, {{SF2_ATTACK_VOL_ENV, 600}, {SF2_INSTRUMENT, 0}}}});
    b.presets.push_back({"High", 9, 0, {{{SF2_KEY_RANGE, Sf2Builder::range(90, 100)}, {SF2_INSTRUMENT, 0}}}});
    b.presets.push_back({"Kit", 0, 128, {{{SF2_INSTRUMENT, 1}}}});
    b.presets.push_back({"Kit 2", 16, 128, {{{SF2_COARSE_TUNE, 2}, {SF2_INSTRUMENT, 1}}}});
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
    return 0;
}
