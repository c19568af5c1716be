// AudioDeviceChoice: which sound output the programs play to, from the
// environment variable BRELLIN_AUDIO_DEVICE or a program's own option.
//
//   null        the null device: discards the sound, paced in real time
//   wav:PATH    records what plays into the WAV file PATH, in real time
//   anything    the ALSA PCM of that name ("default", "pipewire", "hw:1,0" …)
//   (unset or empty)  the ALSA PCM "default"
//
// Every program takes its device from `chooseAudioDevice`, and the Engine
// uses it when nobody has set a device before the start, so the choice is
// made here and nowhere else. User-interface thread; reads the environment.
#pragma once

#include <memory>
#include <string>

#include "output/AudioDevice.h"

namespace brellin {

// The name of the environment variable.
inline constexpr const char* AUDIO_DEVICE_VARIABLE = "BRELLIN_AUDIO_DEVICE";

struct AudioDeviceChoice {
    AudioBackend backend = AudioBackend::Alsa;
    std::string name = "default";  // the ALSA PCM, or the WAV file's path
};

// Reads one value as described above. "wav:" without a path chooses a WAV
// file with an empty path, which then fails to open with a message.
AudioDeviceChoice parseAudioDeviceChoice(const char* text);

// `option` when it is given and not empty (a program's own option wins),
// otherwise BRELLIN_AUDIO_DEVICE, otherwise ALSA "default".
AudioDeviceChoice chooseAudioDevice(const char* option = nullptr);

// A new device for the choice.
std::unique_ptr<AudioDevice> createChosenDevice(const AudioDeviceChoice& choice);

}  // namespace brellin
