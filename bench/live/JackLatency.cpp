// jack-latency: key-to-sound delay of a JACK synthesizer (see JackProbe.h).
//
//   jack-latency --midi brellin:midi_in --audio brellin:out_left [--server NAME]
//                [--notes 100] [--spacing 0.25] [--program 0] [--background N] [--flood N] [--list]
//
// Prints one line: notes heard, median delay and spread (max − min) in ms,
// the period, xruns the server reported while the notes played and the
// highest DSP load seen. Exit status 1 when it cannot connect.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/live/JackProbe.h"

int main(int argc, char** argv) {
    brellin::bench::ProbeOptions options;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (!std::strcmp(a, "--midi"))
            options.midiTarget = v, ++i;
        else if (!std::strcmp(a, "--audio"))
            options.audioSource = v, ++i;
        else if (!std::strcmp(a, "--server"))
            options.server = v, ++i;
        else if (!std::strcmp(a, "--notes"))
            options.notes = static_cast<std::uint32_t>(std::atoi(v)), ++i;
        else if (!std::strcmp(a, "--spacing"))
            options.spacingSeconds = std::atof(v), ++i;
        else if (!std::strcmp(a, "--program"))
            options.program = static_cast<std::uint8_t>(std::atoi(v) & 127), ++i;
        else if (!std::strcmp(a, "--background"))
            options.backgroundVoices = static_cast<std::uint32_t>(std::atoi(v)), ++i;
        else if (!std::strcmp(a, "--flood"))
            options.floodNotes = static_cast<std::uint32_t>(std::atoi(v)), ++i;
        else if (!std::strcmp(a, "--list"))
            list = true;
        else {
            std::fprintf(stderr, "jack-latency: unknown option %s\n", a);
            return 2;
        }
    }
    if (options.midiTarget.empty() || options.audioSource.empty() || options.notes == 0) {
        std::fprintf(stderr, "usage: jack-latency --midi PORT --audio PORT [--server NAME] [--notes N]\n");
        return 2;
    }
    const brellin::bench::ProbeResult r = brellin::bench::runProbe(options);
    if (!r.connected) {
        std::fprintf(stderr, "jack-latency: %s\n", r.error.c_str());
        return 1;
    }
    if (list) {
        for (std::size_t k = 0; k < r.delays.size(); ++k)
            std::printf("note %zu offset %u delay %lld\n", k, r.offsets[k], static_cast<long long>(r.delays[k]));
    }
    if (options.floodNotes > 0) std::printf("flood: %u note-ons in one period  ", r.flooded);
    std::printf("heard %u/%zu  median %.3f ms  spread %.3f ms  period %u at %u Hz  xruns %u  dsp max %.1f%%\n",
                r.heard(), r.delays.size(), r.medianMs(), r.spreadMs(), r.period, r.rate, r.xruns,
                static_cast<double>(r.maxDspLoad));
    return 0;
}
