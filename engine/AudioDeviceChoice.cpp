#include "engine/AudioDeviceChoice.h"

#include <cstdlib>
#include <cstring>

#include "output/WavRecorderDevice.h"

namespace brellin {

AudioDeviceChoice parseAudioDeviceChoice(const char* text) {
    AudioDeviceChoice choice;
    if (text == nullptr || *text == '\0') return choice;
    if (std::strcmp(text, "null") == 0) {
        choice.backend = AudioBackend::Null;
        choice.name.clear();
    } else if (std::strncmp(text, "wav:", 4) == 0) {
        choice.backend = AudioBackend::WavFile;
        choice.name = text + 4;
    } else {
        choice.name = text;
    }
    return choice;
}

AudioDeviceChoice chooseAudioDevice(const char* option) {
    if (option != nullptr && *option != '\0') return parseAudioDeviceChoice(option);
    return parseAudioDeviceChoice(std::getenv(AUDIO_DEVICE_VARIABLE));
}

std::unique_ptr<AudioDevice> createChosenDevice(const AudioDeviceChoice& choice) {
    // The chosen device serves real-time play: a WAV file records at the
    // speed of playing, not as fast as an offline render.
    if (choice.backend == AudioBackend::WavFile) return std::make_unique<WavRecorderDevice>(choice.name);
    return createAudioDevice(choice.backend, choice.name.c_str());
}

}  // namespace brellin
