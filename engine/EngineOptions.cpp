#include "engine/EngineOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "output/devices/AudioDevices.h"

namespace brellin {

namespace {

enum : int {
    optRate = ENGINE_OPTION_FIRST,
    optBits,
    optMono,
    optStereo,
    optVoices,
    optSoundFont,
    optReverb,
    optLowPass,
    optVolume,
    optAudioDevice,
    optLatency,
};

}  // namespace

std::vector<option> engineLongOptions() {
    return {
        {"rate", required_argument, nullptr, optRate},
        {"bits", required_argument, nullptr, optBits},
        {"mono", no_argument, nullptr, optMono},
        {"stereo", no_argument, nullptr, optStereo},
        {"voices", required_argument, nullptr, optVoices},
        {"soundfont", required_argument, nullptr, optSoundFont},
        {"reverb", required_argument, nullptr, optReverb},
        {"lowpass", no_argument, nullptr, optLowPass},
        {"volume", required_argument, nullptr, optVolume},
        {"audio-device", required_argument, nullptr, optAudioDevice},
        {"latency", required_argument, nullptr, optLatency},
    };
}

int reportUsageError(const char* program, const char* message, const char* value) {
    if (value) {
        std::fprintf(stderr, "%s: %s: %s\n", program, message, value);
    } else {
        std::fprintf(stderr, "%s: %s\n", program, message);
    }
    std::fprintf(stderr, "Try '%s --help'.\n", program);
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

OptionUse applyEngineOption(int id, const char* value, RenderOptions& options, std::string& error) {
    long number = 0;
    const auto refuse = [&error](const char* why) {
        error = why;
        return OptionUse::Refused;
    };
    switch (id) {
        case optRate:
            if (!parseNumber(value, 11025, 48000, number)) return refuse("--rate must be 11025 … 48000");
            options.rate = static_cast<std::uint32_t>(number);
            return OptionUse::Taken;
        case optBits:
            if (!parseNumber(value, 8, 16, number) || (number != 8 && number != 16))
                return refuse("--bits must be 8 or 16");
            options.bits = static_cast<std::uint32_t>(number);
            return OptionUse::Taken;
        case optMono: options.channels = 1; return OptionUse::Taken;
        case optStereo: options.channels = 2; return OptionUse::Taken;
        case optVoices:
            if (!parseNumber(value, 4, 32, number)) return refuse("--voices must be 4 … 32");
            options.voices = static_cast<std::uint32_t>(number);
            return OptionUse::Taken;
        case optSoundFont: options.soundFont = value; return OptionUse::Taken;
        case optReverb:
            if (!parseNumber(value, 0, 6, number)) return refuse("--reverb must be 0 … 6");
            options.reverb = static_cast<int>(number);
            return OptionUse::Taken;
        case optLowPass: options.lowPass = true; return OptionUse::Taken;
        case optVolume:
            if (!parseNumber(value, 0, 128, number)) return refuse("--volume must be 0 … 128");
            options.volume = static_cast<int>(number);
            return OptionUse::Taken;
        case optAudioDevice:
            if (!*value) return refuse("empty audio device");
            if (parseAudioDevice(value).kind == nullptr) return refuse("unknown sound device");
            options.audioDevice = value;
            return OptionUse::Taken;
        case optLatency:
            if (!parseNumber(value, 8, 512, number)) return refuse("--latency must be 8 … 512");
            options.latency = static_cast<std::uint32_t>(number);
            return OptionUse::Taken;
        default: return OptionUse::NotEngine;
    }
}

void engineOptionsFromSettings(const Settings& settings, RenderOptions& options) {
    options.rate = static_cast<std::uint32_t>(settings.sampleRateHz());
    options.bits = static_cast<std::uint32_t>(settings.bitsPerSample());
    options.channels = static_cast<std::uint32_t>(settings.channelCount());
    options.voices = static_cast<std::uint32_t>(settings.MaxChannels);
    options.reverb = settings.fReverb ? std::max(1, static_cast<int>(settings.ReverbLevel)) : 0;
    options.lowPass = settings.fLowPassFilter != 0;
    options.volume = settings.Volume;
    options.soundFontName = settings.SoundFontName;
    options.latency = static_cast<std::uint32_t>(settings.Latency);
}

}  // namespace brellin
