// soundfont_report [FILE.brf]: measures a sound font through the
// synthesizer's Voice. For every program: the fundamental of key 60 (261.63 Hz)
// at 22050 Hz output, its error in cents, and the peak level of the note at
// velocity 100 on a channel at volume 100 (16-bit mono output). For every
// drum key: the peak level. Then a dense chord: 24 notes of different
// programs at once, and how much of it clips.
#include <cmath>
#include <cstdio>

#include "FontRender.h"
#include "fontmaker/GeneralMidiFont.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

double dbfs(std::int32_t peak) { return peak > 0 ? 20 * std::log10(peak / 32768.0) : -999; }

std::int32_t peakOf(const std::vector<std::int32_t>& x) {
    std::int32_t peak = 0;
    for (std::int32_t v : x) peak = std::max(peak, std::abs(v));
    return peak;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : BRELLIN_BINARY_DIR "/small.brf";
    SoundFont font;
    if (!font.loadSoundFont(path)) {
        std::fprintf(stderr, "%s does not load: %s\n", path, resultCodeName(font.lastError));
        return 2;
    }
    const double nominal = noteFrequencies[60] / 128.0;
    const std::int32_t volume = voiceVolume();
    double worst = 0;
    int worstProgram = -1;
    std::printf("program name                      key-60 Hz   cents   peak dBFS\n");
    for (int k = 0; k < 128; ++k) {
        std::vector<std::int32_t> x = renderNote(font, font.programs[k], 22050, 2, 60, 100, 32768 + 256, UINT32_MAX);
        Windowed w(x, 256, 32768, 22050);
        double hz = measureFrequency(w, nominal);
        double error = cents(hz, nominal);
        std::vector<std::int32_t> level =
            renderNote(font, font.programs[k], 22050, 1, 60, volume, 22050 * 3, 22050 * 2);
        bool noise = k == 119 || (k >= 121 && k != 123 && k != 124);
        std::printf("%3d     %-24s %10.3f %7.3f %8.1f%s\n", k, generalMidiProgramName(k), hz, error,
                    dbfs(peakOf(level)), noise ? "   (noise: no pitch)" : "");
        if (!noise && std::fabs(error) > std::fabs(worst)) worst = error, worstProgram = k;
    }
    std::printf("largest pitch error of the pitched programs at key 60: %.4f cents (program %d)\n", worst,
                worstProgram);
    for (std::uint32_t rate : {11025u, 22050u, 44100u}) {
        const std::uint32_t frames = rate == 44100 ? 65536 : 32768;
        double largest = 0;
        int where = -1;
        for (int k = 0; k < 128; ++k) {
            if (k == 119 || (k >= 121 && k != 123 && k != 124)) continue;
            std::vector<std::int32_t> x =
                renderNote(font, font.programs[k], rate, 2, 69, 100, frames + 256, UINT32_MAX);
            double error = cents(measureFrequency(Windowed(x, 256, frames, rate), 440.0), 440.0);
            if (std::fabs(error) > std::fabs(largest)) largest = error, where = k;
        }
        std::printf("key 69 at %5u Hz: largest error %.4f cents (program %d)\n", rate, largest, where);
    }
    for (int key = 27; key <= 87; ++key) {
        std::vector<std::int32_t> x =
            renderNote(font, font.drumRegion(0, static_cast<std::uint32_t>(key)), 22050, 1, key, volume, 22050, 2205);
        std::printf("drum %2d %-24s peak %6.1f dBFS\n", key, generalMidiDrumName(key), dbfs(peakOf(x)));
    }
    // A dense moment: 24 notes of 24 programs (chords over four octaves) at velocity 100.
    std::vector<std::int64_t> sum(22050 * 2, 0);
    for (int n = 0; n < 24; ++n) {
        int program = (n * 37) % 128, key = 40 + (n * 7) % 40;
        std::vector<std::int32_t> x = renderNote(font, font.programs[program], 22050, 1, key, volume, 22050 * 2, 22050);
        for (std::size_t i = 0; i < x.size(); ++i) sum[i] += x[i];
    }
    std::int64_t peak = 0, clipped = 0;
    for (std::int64_t v : sum) {
        peak = std::max<std::int64_t>(peak, v < 0 ? -v : v);
        if (v > 32767 || v < -32768) ++clipped;
    }
    std::printf("24 notes at once: peak %.1f dBFS, %.2f %% of samples clip\n",
                20 * std::log10(static_cast<double>(peak) / 32768.0),
                100.0 * static_cast<double>(clipped) / static_cast<double>(sum.size()));
    return 0;
}
