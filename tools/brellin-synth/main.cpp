// brellin-synth: Brellin as the desktop's General MIDI synthesizer, without
// a window. It opens the sound device and the live inputs, prints where
// other programs can reach it, and plays what they send until SIGTERM or
// SIGINT (Ctrl+C).
//
// Exit status: 0 after a signal, 1 when the engine cannot start, no live
// input could be opened or the sound server went away, 2 for a usage error.
#include <getopt.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BrellinVersion.h"
#include "engine/EngineOptions.h"
#include "engine/RenderSession.h"
#include "input/LiveMidiPorts.h"
#include "output/devices/AudioDevices.h"
#include "settings/Settings.h"

using namespace brellin;

namespace {

constexpr const char* programName = "brellin-synth";

void usage(FILE* out) {
    std::fputs(
        "Usage: brellin-synth [OPTIONS]\n"
        "Plays the MIDI that other programs and keyboards send to it, until SIGTERM or\n"
        "Ctrl+C. It offers the ALSA sequencer port \"Brellin:Synth input\"; connect a source\n"
        "with --connect or aconnect. With --audio-device jack it plays into the JACK\n"
        "server and offers the JACK MIDI input brellin:midi_in as well. The engine is\n"
        "built from Brellin.cfg beside the program; the options override it (and are\n"
        "not written back).\n"
        "\n"
        "      --connect CLIENT:PORT  subscribe to a source at start (as aconnect spells\n"
        "                        it: \"20:0\", \"USB Keyboard:0\"); may be given more than once\n"
        "      --name NAME       the sequencer client's name (default Brellin)\n"
        "      --rate HZ         sample rate, 11025 … 48000 (default 22050; JACK: the server's)\n"
        "      --bits 8|16       sample width (default 8)\n"
        "      --mono, --stereo  channels (default stereo)\n"
        "      --voices 4..32    voices (default 32)\n"
        "      --soundfont PATH  BRF sound font (default: small.brf beside the program)\n"
        "      --reverb 0..6     reverb level, 0 = off (default 0)\n"
        "      --lowpass         low-pass filter\n"
        "      --volume 0..128   volume (default 128)\n"
        "      --latency MS      sound the ALSA or null device holds ahead, 8 … 512 ms\n"
        "                        (default: Latency in Brellin.cfg, else 32)\n"
        "      --audio-device DEVICE  the device to play on, spelled as below\n"
        "                        (default: $BRELLIN_AUDIO_DEVICE, else ALSA \"default\")\n"
        "  -q, --quiet           print nothing but errors\n"
        "  -h, --help            this text\n"
        "      --version         the version\n",
        out);
    std::fprintf(out, "\nSound devices (--audio-device, $BRELLIN_AUDIO_DEVICE):\n%s", audioDeviceHelp().c_str());
}

int usageError(const char* message, const char* value = nullptr) {
    return reportUsageError(programName, message, value);
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    Settings settings;
    settings.loadSettings("Brellin.cfg", nullptr, 0, NO_SCREEN);
    engineOptionsFromSettings(settings, options);
    std::vector<std::string> sources;
    std::string clientName = "Brellin";
    bool quiet = false;

    enum : int { optVersion = 1000, optConnect, optName };
    std::vector<option> longOptions = engineLongOptions();
    longOptions.insert(longOptions.end(), {{"version", no_argument, nullptr, optVersion},
                                           {"connect", required_argument, nullptr, optConnect},
                                           {"name", required_argument, nullptr, optName},
                                           {"quiet", no_argument, nullptr, 'q'},
                                           {"help", no_argument, nullptr, 'h'},
                                           {nullptr, 0, nullptr, 0}});
    opterr = 0;
    int c;
    std::string refusal;
    while ((c = getopt_long(argc, argv, ":qh", longOptions.data(), nullptr)) != -1) {
        const OptionUse use = applyEngineOption(c, optarg, options, refusal);
        if (use == OptionUse::Refused) return usageError(refusal.c_str(), *optarg ? optarg : nullptr);
        if (use == OptionUse::Taken) continue;
        switch (c) {
            case optConnect: sources.emplace_back(optarg); break;
            case optName:
                if (!*optarg) return usageError("empty --name");
                clientName = optarg;
                break;
            case 'q': quiet = true; break;
            case 'h': usage(stdout); return 0;
            case optVersion: std::printf("%s %s\n", programName, BRELLIN_VERSION); return 0;
            case ':': return usageError("option needs a value", argv[optind - 1]);
            default: return usageError("unknown option", argv[optind - 1]);
        }
    }
    if (optind < argc) return usageError("takes no files (brellin-render plays files)", argv[optind]);

    // The signals that end it are taken by sigwait below; blocked before any
    // thread starts, so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    RenderSession session(options);
    std::string error;
    if (!session.start(error)) {
        // brellin-render's hint about rendering into a file does not apply here.
        const std::size_t hint = error.find("\nUse -o ");
        if (hint != std::string::npos) error.erase(hint);
        std::fprintf(stderr, "%s: %s\n", programName, error.c_str());
        return 1;
    }
    AudioDevice* device = session.outputDevice();
    LiveMidiPorts ports;
    if (!ports.open(session.liveSynthesizer(), clientName.c_str(), device)) {
        std::fprintf(stderr, "%s: %s\n%s: no live MIDI input could be opened\n", programName, ports.error().c_str(),
                     programName);
        session.finish(error);
        return 1;
    }
    // A port that was skipped while another opened (no sequencer, but JACK).
    if (!ports.error().empty()) std::fprintf(stderr, "%s: %s\n", programName, ports.error().c_str());
    if (!quiet) {
        std::fputs(ports.addresses().c_str(), stdout);
        const std::string jackPorts = device != nullptr ? device->portNames() : std::string();
        if (!jackPorts.empty()) std::printf("JACK ports %s at %u Hz\n", jackPorts.c_str(), session.outputRate());
    }
    std::fflush(stdout);
    for (const std::string& source : sources)
        if (!ports.connectFrom(source)) std::fprintf(stderr, "%s: %s\n", programName, ports.error().c_str());

    // Waits for a signal, looking every 200 ms whether the sound server is still there.
    bool lost = false;
    const timespec pause{0, 200'000'000};
    while (sigtimedwait(&stopSignals, nullptr, &pause) < 0) {
        if (device != nullptr && device->lost.load(std::memory_order_acquire)) {
            std::fprintf(stderr, "%s: %s\n", programName, device->lostReason());
            lost = true;
            break;
        }
    }
    const LiveInput& input = ports.input();
    const std::uint32_t underruns = device != nullptr ? device->underruns.load() : 0;
    ports.close();
    if (!session.finish(error)) std::fprintf(stderr, "%s: %s\n", programName, error.c_str());
    if (!quiet && input.refused() + input.dropped() > 0)
        std::fprintf(stderr, "%s: %llu malformed messages refused, %llu dropped for want of room\n", programName,
                     static_cast<unsigned long long>(input.refused()),
                     static_cast<unsigned long long>(input.dropped()));
    if (!quiet && underruns > 0) {
        if (device != nullptr && std::string(device->name()) == "jack")
            std::fprintf(stderr, "%s: the JACK server reported %u xruns while it ran\n", programName, underruns);
        else
            std::fprintf(stderr, "%s: the sound device ran dry %u times (raise --latency)\n", programName, underruns);
    }
    return lost ? 1 : 0;
}
