// Writes the all-instruments and all-percussion song of DrumBalanceTest and
// measures renders of it (ours or another synthesizer's), for
// bench/soundfont/drum-balance.sh:
//   drum_balance song FILE.mid      write the song
//   drum_balance measure FILE.wav [SECONDS]
//       print the drums-under-melodic level (dB) and each percussion key's
//       slot level; SECONDS: the song's length on the player's clock, when
//       that differs from its nominal length (brellin-render --info says it)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "BalanceSong.h"

using namespace brellin::testing;

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "song") == 0) {
        const std::string song = BalanceSong::midiFile();
        std::ofstream out(argv[2], std::ios::binary);
        out.write(song.data(), static_cast<std::streamsize>(song.size()));
        return out ? 0 : 1;
    }
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "measure") == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        WavSamples wav = WavSamples::parse(std::string(std::istreambuf_iterator<char>(in), {}));
        if (argc == 4) wav.clock = std::atof(argv[3]) / BalanceSong::END;
        if (wav.frames() == 0) {
            std::fprintf(stderr, "%s: not a 16-bit PCM WAV file\n", argv[2]);
            return 1;
        }
        std::printf("drums under melodic: %.2f dB\n", drumsUnderMelodicDb(wav));
        for (int key = BalanceSong::FIRST_DRUM_KEY; key <= BalanceSong::LAST_DRUM_KEY; ++key) {
            const double from = BalanceSong::DRUM_START + (key - BalanceSong::FIRST_DRUM_KEY);
            std::printf("key %2d  rms %6.1f dBFS  peak %6.1f dBFS\n", key,
                        20 * std::log10(wav.rms(from, from + 1) + 1e-9),
                        20 * std::log10(wav.peak(from, from + 1) + 1e-9));
        }
        return 0;
    }
    std::fprintf(stderr, "usage: drum_balance song FILE.mid | measure FILE.wav [SECONDS]\n");
    return 2;
}
