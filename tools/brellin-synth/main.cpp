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
    if (value) {
        std::fprintf(stderr, "%s: %s: %s\n", programName, message, value);
    } else {
        std::fprintf(stderr, "%s: %s\n", programName, message);
    }
    std::fprintf(stderr, "Try '%s --help'.\n", programName);
    return 2;
}

bool parseNumber(const char* text, long low, long high, long& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    Settings settings;
    settings.loadSettings("Brellin.cfg", nullptr, 0, NO_SCREEN);
    options.rate = static_cast<std::uint32_t>(settings.sampleRateHz());
    options.bits = static_cast<std::uint32_t>(settings.bitsPerSample());
    options.channels = static_cast<std::uint32_t>(settings.channelCount());
    options.voices = static_cast<std::uint32_t>(settings.MaxChannels);
    options.reverb = settings.fReverb ? std::max(1, static_cast<int>(settings.ReverbLevel)) : 0;
    options.lowPass = settings.fLowPassFilter != 0;
    options.volume = settings.Volume;
    options.soundFontName = settings.SoundFontName;
    options.latency = static_cast<std::uint32_t>(settings.Latency);
    std::vector<std::string> sources;
    std::string clientName = "Brellin";
    bool quiet = false;

    // clang-format off
    enum : int { optRate = 1000, optBits, optMono, optStereo, optVoices, optSoundFont, optReverb, optLowPass,
                 optVolume, optVersion, optAudioDevice, optConnect, optName, optLatency };
    static const option longOptions[] = {
        {"rate", required_argument, nullptr, optRate},        {"bits", required_argument, nullptr, optBits},
        {"mono", no_argument, nullptr, optMono},              {"stereo", no_argument, nullptr, optStereo},
        {"voices", required_argument, nullptr, optVoices},    {"soundfont", required_argument, nullptr, optSoundFont},
        {"reverb", required_argument, nullptr, optReverb},    {"lowpass", no_argument, nullptr, optLowPass},
        {"volume", required_argument, nullptr, optVolume},    {"version", no_argument, nullptr, optVersion},
        {"audio-device", required_argument, nullptr, optAudioDevice},
        {"connect", required_argument, nullptr, optConnect},  {"name", required_argument, nullptr, optName},
        {"latency", required_argument, nullptr, optLatency},
        {"quiet", no_argument, nullptr, 'q'},                 {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0}};
    // clang-format on
    opterr = 0;
    int c;
    long value = 0;
    while ((c = getopt_long(argc, argv, ":qh", longOptions, nullptr)) != -1) {
        switch (c) {
            case optRate:
                if (!parseNumber(optarg, 11025, 48000, value))
                    return usageError("--rate must be 11025 … 48000", optarg);
                options.rate = static_cast<std::uint32_t>(value);
                break;
            case optBits:
                if (!parseNumber(optarg, 8, 16, value) || (value != 8 && value != 16))
                    return usageError("--bits must be 8 or 16", optarg);
                options.bits = static_cast<std::uint32_t>(value);
                break;
            case optMono: options.channels = 1; break;
            case optStereo: options.channels = 2; break;
            case optVoices:
                if (!parseNumber(optarg, 4, 32, value)) return usageError("--voices must be 4 … 32", optarg);
                options.voices = static_cast<std::uint32_t>(value);
                break;
            case optSoundFont: options.soundFont = optarg; break;
            case optReverb:
                if (!parseNumber(optarg, 0, 6, value)) return usageError("--reverb must be 0 … 6", optarg);
                options.reverb = static_cast<int>(value);
                break;
            case optLowPass: options.lowPass = true; break;
            case optVolume:
                if (!parseNumber(optarg, 0, 128, value)) return usageError("--volume must be 0 … 128", optarg);
                options.volume = static_cast<int>(value);
                break;
            case optAudioDevice:
                if (!*optarg) return usageError("empty audio device");
                if (parseAudioDevice(optarg).kind == nullptr) return usageError("unknown sound device", optarg);
                options.audioDevice = optarg;
                break;
            case optLatency:
                if (!parseNumber(optarg, 8, 512, value)) return usageError("--latency must be 8 … 512", optarg);
                options.latency = static_cast<std::uint32_t>(value);
                break;
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
