#include "output/devices/AudioDevices.h"

#include <cstdlib>
#include <cstring>

#include "output/devices/NullDevice.h"
#include "output/devices/WavFileDevice.h"
#include "output/devices/WavRecorderDevice.h"
#if BRELLIN_HAVE_ALSA
#include "output/devices/AlsaDevice.h"
#endif
#if BRELLIN_HAVE_JACK
#include "output/devices/JackDevice.h"
#endif

namespace brellin {

namespace {

bool parseNull(const char* text, std::string& argument) {
    argument.clear();
    return std::strcmp(text, "null") == 0;
}

// "wav:" without a path chooses a file with an empty path, which then fails
// to open with a message.
bool parseWav(const char* text, std::string& argument) {
    if (std::strncmp(text, "wav:", 4) != 0) return false;
    argument = text + 4;
    return true;
}

std::unique_ptr<AudioDevice> makeNull(const std::string&) { return std::make_unique<NullDevice>(); }
std::unique_ptr<AudioDevice> makeRecorder(const std::string& path) { return std::make_unique<WavRecorderDevice>(path); }
std::unique_ptr<AudioDevice> makeWavFile(const std::string& path) { return std::make_unique<WavFileDevice>(path); }

#if BRELLIN_HAVE_JACK
bool parseJack(const char* text, std::string& argument) {
    argument.clear();
    return std::strcmp(text, "jack") == 0;
}

std::unique_ptr<AudioDevice> makeJack(const std::string&) { return std::make_unique<JackDevice>(); }
#endif

#if BRELLIN_HAVE_ALSA
bool parseAlsa(const char* text, std::string& argument) {
    argument = *text != '\0' ? text : "default";
    return true;
}

std::unique_ptr<AudioDevice> makeAlsa(const std::string& name) { return std::make_unique<AlsaDevice>(name); }
#endif

const AudioDeviceKind KINDS[] = {
    {"null", "null", "discards the sound, paced in real time", parseNull, makeNull, nullptr},
    {"wav", "wav:PATH", "records what plays into the WAV file PATH", parseWav, makeRecorder, makeWavFile},
#if BRELLIN_HAVE_JACK
    {"jack", "jack", "a client of the JACK server, at its rate and period", parseJack, makeJack, nullptr},
#endif
#if BRELLIN_HAVE_ALSA
    {"alsa", "NAME", "the ALSA PCM of that name (default: \"default\")", parseAlsa, makeAlsa, nullptr},
#endif
};

}  // namespace

const AudioDeviceKind* audioDeviceKinds(std::size_t& count) {
    count = sizeof KINDS / sizeof KINDS[0];
    return KINDS;
}

AudioDeviceChoice parseAudioDevice(const char* text) {
    AudioDeviceChoice choice;
    // The default: ALSA's "default" where the build has ALSA, else the null device.
    const char* spelling = text != nullptr && *text != '\0' ? text : BRELLIN_HAVE_ALSA ? "" : "null";
    choice.spelling = spelling;
    for (const AudioDeviceKind& kind : KINDS) {
        if (kind.parse(spelling, choice.argument)) {
            choice.kind = &kind;
            return choice;
        }
    }
    choice.argument.clear();
    return choice;
}

AudioDeviceChoice chooseAudioDevice(const char* option) {
    if (option != nullptr && *option != '\0') return parseAudioDevice(option);
    return parseAudioDevice(std::getenv(AUDIO_DEVICE_VARIABLE));
}

std::unique_ptr<AudioDevice> createAudioDevice(const AudioDeviceChoice& choice, DeviceUse use) {
    if (choice.kind == nullptr) return nullptr;
    auto make = use == DeviceUse::RealTime ? choice.kind->realTime : choice.kind->offline;
    return make != nullptr ? make(choice.argument) : nullptr;
}

std::unique_ptr<AudioDevice> createAudioDevice(const char* spelling, DeviceUse use) {
    return createAudioDevice(parseAudioDevice(spelling), use);
}

std::string audioDeviceHelp() {
    std::string text;
    for (const AudioDeviceKind& kind : KINDS) {
        std::string line = std::string("  ") + kind.spelling;
        if (line.size() < 14) line.resize(14, ' ');
        text += line + kind.help + "\n";
    }
    return text;
}

}  // namespace brellin
