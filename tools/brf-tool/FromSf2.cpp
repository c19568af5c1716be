// brf-tool from-sf2 IN.sf2 OUT.brf [--rate 22050] [--max-size MB]
//
// Converts a General MIDI SoundFont 2 bank (or an SF3 one, with Ogg Vorbis
// samples) into a BRF sound font. Exit
// status: 0 written, 1 the output cannot be written, 2 bad arguments or an
// SF2 file that cannot be converted (the message says why).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fontmaker/Sf2File.h"
#include "fontmaker/Sf2Importer.h"
#include "soundfont/SoundFontWriter.h"

namespace brellin::brftool {

namespace {

void printUsage() {
    std::fprintf(stderr,
                 "usage: brf-tool from-sf2 IN.sf2 OUT.brf [--rate HZ] [--max-size MB] [--keep-tuning | --tune-to-440]\n"
                 "                         [--verbose]\n"
                 "  IN.sf2          a SoundFont 2 bank, or an SF3 bank (Ogg Vorbis samples)\n"
                 "  --rate HZ       rate the sample data is stored at (default 22050)\n"
                 "  --max-size MB   largest BRF file; samples are stored at a lower rate to fit\n"
                 "  --keep-tuning   keep the converted sample's own tuning (by default each program\n"
                 "                  plays at the bank's A4, its layers' mean pitch there)\n"
                 "  --tune-to-440   measure each program and tune it to A = 440 Hz when within a\n"
                 "                  quarter tone\n"
                 "  --verbose       list borrowed and retuned programs and other notes\n");
}

bool parseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

// The arguments after "from-sf2".
int fromSf2Command(int argc, char** argv) {
    const char* input = nullptr;
    const char* output = nullptr;
    Sf2ImportOptions options;
    bool verbose = false;
    for (int i = 0; i < argc; ++i) {
        double value = 0;
        if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            if (!parseNumber(argv[++i], 4000, 96000, value)) {
                std::fprintf(stderr, "brf-tool from-sf2: --rate must be 4000 to 96000\n");
                return 2;
            }
            options.dataRate = static_cast<std::uint32_t>(value);
        } else if (std::strcmp(argv[i], "--max-size") == 0 && i + 1 < argc) {
            if (!parseNumber(argv[++i], 0.01, 4000, value)) {
                std::fprintf(stderr, "brf-tool from-sf2: --max-size must be 0.01 to 4000 (MB)\n");
                return 2;
            }
            options.maxBytes = static_cast<std::uint64_t>(value * 1048576.0);
        } else if (std::strcmp(argv[i], "--keep-tuning") == 0) {
            options.keepTuning = true;
        } else if (std::strcmp(argv[i], "--tune-to-440") == 0) {
            options.tuneTo440 = true;
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "brf-tool from-sf2: unknown option %s\n", argv[i]);
            printUsage();
            return 2;
        } else if (!input) {
            input = argv[i];
        } else if (!output) {
            output = argv[i];
        } else {
            printUsage();
            return 2;
        }
    }
    if (!input || !output) {
        printUsage();
        return 2;
    }

    const auto started = std::chrono::steady_clock::now();
    const bool terminal = isatty(STDERR_FILENO) != 0;
    Sf2File bank;
    if (!bank.open(input)) {
        std::fprintf(stderr, "brf-tool from-sf2: %s: %s\n", input, bank.errorText.c_str());
        return 2;
    }
    Sf2Importer importer;
    importer.options = options;
    if (terminal) {
        importer.options.progress = [](const char* stage, int done, int total) {
            std::fprintf(stderr, "\rconverting %-9s %3d/%-3d", stage, done, total);
            std::fflush(stderr);
        };
    }
    SoundFontWriter writer;
    bool converted = importer.convert(bank, writer);
    if (terminal) std::fprintf(stderr, "\r%40s\r", "");
    if (!converted) {
        std::fprintf(stderr, "brf-tool from-sf2: %s: %s\n", input, importer.errorText.c_str());
        return 2;
    }
    if (!writer.save(output)) {
        std::fprintf(stderr, "brf-tool from-sf2: cannot write %s (%s)\n", output, resultCodeMeaning(writer.lastError));
        return 1;
    }
    const Sf2ImportSummary& s = importer.summary;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (verbose) {
        for (const std::string& note : s.notes) std::printf("  %s\n", note.c_str());
    }
    std::printf(
        "%s: %d programs from presets, %d borrowed, %d retuned; %d drum kit%s, %d drum regions; "
        "%.2f MB of samples at %u Hz (%.1f s)\n",
        output, s.programsConverted, s.programsBorrowed, s.programsRetuned, s.kits, s.kits == 1 ? "" : "s",
        s.drumRegions, static_cast<double>(s.sampleBytes) / 1048576.0, s.dataRate, seconds);
    return 0;
}

}  // namespace brellin::brftool
