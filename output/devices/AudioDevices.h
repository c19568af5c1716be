// AudioDevices: every kind of sound output the programs can play to, in one
// table. A row says how users spell the device (BRELLIN_AUDIO_DEVICE, a
// program's --audio-device), the line --help shows for it, and how it is
// made for real-time play and for an offline render:
//
//   null       discards the sound, paced in real time
//   wav:PATH   real time: records what plays into the WAV file PATH;
//              offline: renders into it as fast as the machine allows
//   jack       a client of the running JACK server (in a build with JACK)
//   NAME       any other word: the ALSA PCM of that name ("default",
//              "pipewire", "plughw:1"); in a build with ALSA only
//
// Unset or empty is the default device: ALSA's "default" PCM (the null
// device in a build without ALSA). Every program takes its device from here,
// so the spelling is parsed in one place and a new kind of device is one new
// row. User-interface thread; reads the environment.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "output/AudioDevice.h"

namespace brellin {

// The name of the environment variable.
inline constexpr const char* AUDIO_DEVICE_VARIABLE = "BRELLIN_AUDIO_DEVICE";

enum class DeviceUse {
    RealTime,  // played (or recorded) at the speed of playing
    Offline,   // rendered as fast as the machine allows
};

struct AudioDeviceKind {
    const char* name;      // the device's own name in messages: "null", "wav", "alsa"
    const char* spelling;  // how --help shows the spelling: "null", "wav:PATH", "NAME"
    const char* help;      // what --help says of it
    // True when `text` spells this kind; `argument` gets what follows its
    // word (the path, the PCM name).
    bool (*parse)(const char* text, std::string& argument);
    std::unique_ptr<AudioDevice> (*realTime)(const std::string& argument);
    // Null where the kind cannot render offline.
    std::unique_ptr<AudioDevice> (*offline)(const std::string& argument);
};

// The rows in the order a spelling is tried (ALSA's last: it takes any word).
const AudioDeviceKind* audioDeviceKinds(std::size_t& count);

struct AudioDeviceChoice {
    const AudioDeviceKind* kind = nullptr;  // null: no row takes the spelling
    std::string argument;
    std::string spelling;  // as given, for messages
};

// Parses one spelling as described above.
AudioDeviceChoice parseAudioDevice(const char* text);
// `option` when it is given and not empty (a program's own option wins),
// otherwise BRELLIN_AUDIO_DEVICE, otherwise the default device.
AudioDeviceChoice chooseAudioDevice(const char* option = nullptr);
// The one factory: a new device of the chosen kind for that use; null when
// no row took the spelling or the kind does not serve that use.
std::unique_ptr<AudioDevice> createAudioDevice(const AudioDeviceChoice& choice, DeviceUse use = DeviceUse::RealTime);
std::unique_ptr<AudioDevice> createAudioDevice(const char* spelling, DeviceUse use = DeviceUse::RealTime);
// One line per row for --help ("  null        discards …").
std::string audioDeviceHelp();

}  // namespace brellin
