// brellin-render: plays MIDI files from a terminal, in real time on the sound
// device or offline into a sound file (WAV, FLAC, Ogg Vorbis, Opus, MP3; one
// file for all songs, or one file per song in a folder), with the player's engine.
//
// Exit status: 0 every file played; 1 some file could not be played (the
// others still play); 2 usage error; 3 the engine cannot start.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BrellinVersion.h"
#include "common/TextDecoder.h"
#include "engine/EngineOptions.h"
#include "engine/MidiOut.h"
#include "engine/RenderBatch.h"
#include "engine/RenderSession.h"
#include "midi/MidiFileInfo.h"
#include "output/devices/AudioDevices.h"
#include "output/files/SoundFileWriter.h"
#include "settings/Settings.h"
#include "ui/model/CommandLineList.h"

using namespace brellin;

namespace {

constexpr const char* programName = "brellin-render";
constexpr const char* unsupportedData = "Unsupported data.";

void usage(FILE* out) {
    std::fputs(
        "Usage: brellin-render [OPTIONS] FILE...\n"
        "       brellin-render --output-dir DIR [--jobs N] [--format TYPE] [OPTIONS] FILE...\n"
        "Plays MIDI files (.mid, .midi, .rmi) and .brl play lists (their entries in order).\n"
        "The engine is built from Brellin.cfg beside the program; the options override it\n"
        "(and are not written back). The defaults below are those without Brellin.cfg.\n"
        "\n"
        "  -o, --output PATH     render into a file (several songs: one after another), its\n"
        "                        type by its extension: .wav (or none), .flac, .ogg, .opus, .mp3;\n"
        "                        \"-\" writes WAV to standard output. Without -o, play on the\n"
        "                        sound device in real time\n"
        "      --output-dir DIR  render each song into its own file in DIR, named after it\n"
        "      --jobs N          with --output-dir: songs rendered at once (default: the cores)\n"
        "      --format TYPE     with --output-dir: wav (default), flac, ogg, opus or mp3\n"
        "      --rate HZ         sample rate, 11025 … 48000 (default 22050; JACK: the server's)\n"
        "      --bits 8|16       sample width (default 8)\n"
        "      --mono, --stereo  channels (default stereo)\n"
        "      --voices 4..32    voices (default 32)\n"
        "      --soundfont PATH  BRF sound font (default: small.brf beside the program)\n"
        "      --reverb 0..6     reverb level, 0 = off (default 0)\n"
        "      --lowpass         low-pass filter\n"
        "      --volume 0..128   volume (default 128)\n"
        "      --info            print File, Title, Copyright, Size and Length of each FILE, no sound\n"
        "      --seed N          seed of the random generators (controller 10 value 0, --random)\n"
        "      --max-length MINUTES  with -o: cut a song after this long (default 60, 0 = never)\n"
        "      --start TIME      begin each song at TIME (seconds, or m:ss; a fraction of a\n"
        "                        second after a point): the song sounds there as if played\n"
        "                        from its beginning (programs, controllers, tempo replayed)\n"
        "      --end TIME        end each song at TIME of the song (default: its end)\n"
        "      --audio-device DEVICE  without -o: the device to play on, spelled as below\n"
        "                        (default: $BRELLIN_AUDIO_DEVICE, else ALSA \"default\")\n"
        "      --latency MS      without -o: sound the device holds ahead, 8 … 512 ms (default 512)\n"
        "      --midi-out PORT   play in real time on another synthesizer instead of the built-in\n"
        "                        one: an ALSA sequencer port (\"128:0\", \"FLUID Synth\") or a JACK\n"
        "                        MIDI input (\"jack:CLIENT:PORT\"); default $BRELLIN_MIDI_OUT\n"
        "      --no-gm-reset     with --midi-out: no General MIDI reset before each song\n"
        "      --random          play as many songs as the list holds, each picked at random\n"
        "      --save-list OUT.brl  write the FILEs (play lists expanded) as a .brl play list, no sound\n"
        "  -q, --quiet           no progress display\n"
        "  -h, --help            this text\n"
        "      --version         the version\n",
        out);
    std::fprintf(out,
                 "\nFile types this build writes: %s. WAV is our own writer, the others go through\n"
                 "libsndfile; FLAC holds exactly the WAV's samples. Opus is stored at 12000, 24000 or\n"
                 "48000 Hz (for 11025, 22050, 44100, 48000), the rates Opus takes.\n",
                 writableSoundFileTypes().c_str());
    std::fprintf(out, "\nSound devices (--audio-device, $BRELLIN_AUDIO_DEVICE):\n%s", audioDeviceHelp().c_str());
}

int usageError(const char* message, const char* value = nullptr) {
    return reportUsageError(programName, message, value);
}

// Minutes and seconds, as the progress display shows a length.
std::string clockText(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", ms / 60000, (ms / 1000) % 60);
    return text;
}

// A time of a song: seconds ("90", "12.5") or minutes and seconds ("1:30",
// "1:30.25"), at most 71582 minutes; in ms.
bool parseTime(const char* text, std::uint32_t& ms) {
    std::uint64_t minutes = 0, seconds = 0, fraction = 0, scale = 1000;
    const char* p = text;
    auto digits = [&p](std::uint64_t& value) {
        const char* first = p;
        while (*p >= '0' && *p <= '9' && p - first < 10) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        return p > first;
    };
    if (!digits(seconds)) return false;
    if (*p == ':') {
        ++p;
        minutes = seconds;
        seconds = 0;
        const char* first = p;
        if (!digits(seconds) || p - first != 2 || seconds > 59) return false;
    }
    if (*p == '.') {
        ++p;
        const char* first = p;
        while (*p >= '0' && *p <= '9') {
            if (p - first < 3) {
                scale /= 10;
                fraction += static_cast<std::uint64_t>(*p - '0') * scale;
            }
            ++p;
        }
        if (p == first) return false;
    }
    if (*p != '\0') return false;
    const std::uint64_t total = (minutes * 60 + seconds) * 1000 + fraction;
    if (total > 71582ull * 60000) return false;
    ms = static_cast<std::uint32_t>(total);
    return true;
}

struct Entry {
    std::string path;
    bool readable = true;  // false: a play list that could not be read
};

std::string utf8Text(const char* bytes, std::uint32_t length) {
    std::u32string decoded;
    TextDecoder::decode(bytes, length, decoded);
    std::string out;
    for (char32_t c : decoded) {
        if (c < 0x20 && c != '\t') c = ' ';  // one line per key
        TextDecoder::appendUtf8(c, out);
    }
    return out;
}

int printInfo(const std::vector<Entry>& entries) {
    int status = 0;
    bool first = true;
    for (const Entry& entry : entries) {
        MidiFileInfo info;
        if (!entry.readable || !scanMidiFile(entry.path.c_str(), info)) {
            const char* reason = entry.readable && *info.errorText ? info.errorText : "Cannot open file.";
            std::fprintf(stderr, "%s: %s: %s\n", programName, entry.path.c_str(), reason);
            status = 1;
            continue;
        }
        if (!first) std::printf("\n");
        first = false;
        std::printf("File: %s\n", entry.path.c_str());
        std::printf("Title: %s\n", utf8Text(info.title, info.titleLength).c_str());
        std::printf("Copyright: %s\n", utf8Text(info.copyright, info.copyrightLength).c_str());
        std::printf("Size: %u bytes\n", info.fileSize);
        std::printf("Length: %u:%02u (%u ms)\n", info.playingTime / 60000, (info.playingTime / 1000) % 60,
                    info.playingTime);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    // The player's settings beside the program; the options below override them.
    Settings settings;
    settings.loadSettings("Brellin.cfg", nullptr, 0, NO_SCREEN);
    engineOptionsFromSettings(settings, options);
    // Songs play on the full ring unless --latency asks for less.
    options.latency = 0;
    bool info = false, quiet = false, random = false;
    std::string saveList, outputDir, formatName, midiOut;
    long jobs = 0;
    enum : int {
        optInfo = 1000,
        optSeed,
        optVersion,
        optRandom,
        optSaveList,
        optMaxLength,
        optOutputDir,
        optJobs,
        optFormat,
        optMidiOut,
        optNoGmReset,
        optStart,
        optEnd
    };
    std::vector<option> longOptions = engineLongOptions();
    // clang-format off
    longOptions.insert(longOptions.end(), {
        {"output", required_argument, nullptr, 'o'},     {"info", no_argument, nullptr, optInfo},
        {"seed", required_argument, nullptr, optSeed},   {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},             {"version", no_argument, nullptr, optVersion},
        {"random", no_argument, nullptr, optRandom},     {"save-list", required_argument, nullptr, optSaveList},
        {"max-length", required_argument, nullptr, optMaxLength},
        {"output-dir", required_argument, nullptr, optOutputDir},
        {"jobs", required_argument, nullptr, optJobs},   {"format", required_argument, nullptr, optFormat},
        {"midi-out", required_argument, nullptr, optMidiOut},
        {"no-gm-reset", no_argument, nullptr, optNoGmReset},
        {"start", required_argument, nullptr, optStart}, {"end", required_argument, nullptr, optEnd},
        {nullptr, 0, nullptr, 0}});
    // clang-format on
    opterr = 0;
    int c;
    long value = 0;
    std::string refusal;
    while ((c = getopt_long(argc, argv, ":o:qh", longOptions.data(), nullptr)) != -1) {
        const OptionUse use = applyEngineOption(c, optarg, options, refusal);
        if (use == OptionUse::Refused) return usageError(refusal.c_str(), *optarg ? optarg : nullptr);
        if (use == OptionUse::Taken) continue;
        switch (c) {
            case 'o':
                if (!*optarg) return usageError("empty output path");
                options.outputPath = optarg;
                break;
            case optInfo: info = true; break;
            case optSeed:
                if (!parseNumber(optarg, 0, 4294967295L, value))
                    return usageError("--seed must be a number 0 … 4294967295", optarg);
                options.seed = static_cast<std::uint32_t>(value);
                break;
            case optMaxLength:
                if (!parseNumber(optarg, 0, 71582, value))
                    return usageError("--max-length must be 0 … 71582 minutes", optarg);
                options.maxLengthMinutes = static_cast<std::uint32_t>(value);
                break;
            case optOutputDir:
                if (!*optarg) return usageError("empty output folder");
                outputDir = optarg;
                break;
            case optJobs:
                if (!parseNumber(optarg, 1, 256, value)) return usageError("--jobs must be 1 … 256", optarg);
                jobs = value;
                break;
            case optFormat: formatName = optarg; break;
            case optMidiOut:
                if (!*optarg) return usageError("empty MIDI port");
                midiOut = optarg;
                break;
            case optNoGmReset: options.midiOutGmReset = false; break;
            case optStart:
                if (!parseTime(optarg, options.startMs))
                    return usageError("--start must be a time of the song: seconds or m:ss", optarg);
                break;
            case optEnd:
                if (!parseTime(optarg, options.endMs) || options.endMs == 0)
                    return usageError("--end must be a time of the song after 0: seconds or m:ss", optarg);
                break;
            case optRandom: random = true; break;
            case optSaveList:
                if (!*optarg) return usageError("empty play-list path");
                saveList = optarg;
                break;
            case 'q': quiet = true; break;
            case 'h': usage(stdout); return 0;
            case optVersion: std::printf("brellin-render " BRELLIN_VERSION "\n"); return 0;
            case ':': return usageError("option needs a value", argv[optind - 1]);
            default: return usageError("unknown option", argv[optind - 1]);
        }
    }
    if (optind >= argc) return usageError("no FILE given");
    // A port given on the command line is checked against -o; the
    // environment's only applies where the songs play in real time.
    if (!midiOut.empty() && (!options.outputPath.empty() || !outputDir.empty()))
        return usageError("--midi-out plays in real time; it does not go with -o or --output-dir");
    if (midiOut.empty() && options.outputPath.empty() && outputDir.empty()) midiOut = midiOutFromEnvironment("");
    options.midiOut = midiOut;
    if (options.endMs != 0 && options.endMs <= options.startMs) return usageError("--end must come after --start");
    SoundFileType outputType = SoundFileType::Wav;
    if (!outputDir.empty()) {
        if (!options.outputPath.empty()) return usageError("-o and --output-dir exclude each other");
        if (random) return usageError("--random does not go with --output-dir");
        if (!formatName.empty() && !soundFileTypeFromName(formatName, &outputType))
            return usageError("--format must be wav, flac, ogg, opus or mp3", formatName.c_str());
    } else {
        if (jobs != 0) return usageError("--jobs goes with --output-dir");
        if (!formatName.empty())
            return usageError("--format goes with --output-dir (-o takes the type from its extension)");
        if (options.outputPath == "-") {
            if (isatty(STDOUT_FILENO)) return usageError("standard output is a terminal; redirect it or give -o FILE");
        } else if (!options.outputPath.empty() && !soundFileTypeFromPath(options.outputPath, &outputType)) {
            return usageError("unknown output file type (use .wav, .flac, .ogg, .opus or .mp3)",
                              options.outputPath.c_str());
        }
    }
    options.outputType = outputType;

    std::vector<std::string> files(argv + optind, argv + argc);
    if (!saveList.empty()) {
        ResultCode failure = RESULT_OK;
        if (!saveCommandLineList(saveList.c_str(), files, &failure)) {
            std::fprintf(stderr, "%s: cannot write the play list %s: %s\n", programName, saveList.c_str(),
                         resultCodeMeaning(failure));
            return 1;
        }
        return 0;
    }
    // The play list as the player builds it: .brl files merged, each song
    // once (--info with --random lists the songs in the order picked).
    PlayOrder order = buildPlayOrder(files, random, options.seed);
    std::vector<Entry> entries;
    for (const std::string& list : order.unreadableLists) entries.push_back({list, false});
    for (const std::string& song : order.songs) entries.push_back({song});
    if (info) return printInfo(entries);

    options.progress = !quiet && isatty(STDERR_FILENO);
    // A reader that goes away (`| head`) makes the next write fail, which is
    // reported, rather than ending the program silently.
    if (!options.outputPath.empty() || !outputDir.empty()) signal(SIGPIPE, SIG_IGN);

    if (!outputDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(outputDir, failure);
        if (!std::filesystem::is_directory(outputDir)) {
            std::fprintf(stderr, "%s: cannot create the folder %s%s%s\n", programName, outputDir.c_str(),
                         failure ? ": " : "", failure ? failure.message().c_str() : "");
            return 3;
        }
        if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
        std::vector<BatchSong> songs;
        for (const Entry& entry : entries) songs.push_back({entry.path, entry.readable});
        RenderBatch batch(options, outputDir, outputType, static_cast<std::uint32_t>(jobs));
        BatchOutcome outcome = batch.run(songs);
        if (outcome.engineFailed) return 3;
        return outcome.failed != 0 ? 1 : 0;
    }

    // Songs on a MIDI port end on Ctrl+C or SIGTERM with every note
    // released: the signals are taken by a thread of their own, which stops
    // the song; the other threads (started below) inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (!options.midiOut.empty()) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    RenderSession session(options);
    std::string error;
    if (!session.start(error)) {
        std::fprintf(stderr, "%s: %s\n", programName, error.c_str());
        return session.failedStage() == EngineStage::MidiOut ? 2 : 3;
    }
    if (MidiOutPort* port = session.midiOutPort(); port != nullptr && !quiet)
        std::fprintf(stderr, "%s: playing on %s\n", programName, port->destination().c_str());
    std::atomic<int> stoppedBy{0};
    std::atomic<bool> finishing{false};
    std::thread signalWatch;
    if (!options.midiOut.empty()) {
        signalWatch = std::thread([&] {
            int signalNumber = 0;
            if (sigwait(&stopSignals, &signalNumber) != 0 || finishing.load()) return;
            stoppedBy.store(signalNumber);
            session.requestStop();
        });
    }
    int status = 0;
    for (const Entry& entry : entries) {
        if (stoppedBy.load() != 0 || session.midiOutLost) break;
        if (!entry.readable || !session.playFile(entry.path)) {
            std::fprintf(stderr, "%s: %s: %s\n", programName, entry.path.c_str(), unsupportedData);
            status = 1;
        } else if (session.lastSongCut) {
            std::fprintf(stderr, "%s: %s: stopped after %s; the file claims %s\n", programName, entry.path.c_str(),
                         clockText(session.lastSongClock).c_str(), clockText(session.lastSongClaimed).c_str());
        }
    }
    // Played in real time: how often the device ran dry (none offline).
    const AudioDevice* device = options.outputPath.empty() ? session.outputDevice() : nullptr;
    const std::uint32_t underruns = device != nullptr ? device->underruns.load() : 0;
    const bool finished = session.finish(error);
    if (signalWatch.joinable()) {
        // Wakes the watcher when no signal came.
        finishing.store(true);
        if (stoppedBy.load() == 0) pthread_kill(signalWatch.native_handle(), SIGTERM);
        signalWatch.join();
    }
    if (!finished) {
        std::fprintf(stderr, "%s: %s\n", programName, error.c_str());
        return 3;
    }
    if (session.midiOutLost) {
        std::fprintf(
            stderr, "%s: %s; playing stopped\n", programName,
            session.midiOutPort() ? session.midiOutPort()->lostReason().c_str() : "the MIDI port has gone away");
        return 1;
    }
    if (stoppedBy.load() != 0) return 128 + stoppedBy.load();
    if (underruns > 0 && !quiet)
        std::fprintf(stderr, "%s: the sound device ran dry %u times (raise --latency)\n", programName, underruns);
    return status;
}
