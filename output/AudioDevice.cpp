#include "output/AudioDevice.h"

#include <cstring>

#include "output/AlsaDevice.h"
#include "output/NullDevice.h"
#include "output/WavFileDevice.h"

namespace brellin {

std::unique_ptr<AudioDevice> createAudioDevice(AudioBackend backend, const char* path) {
    switch (backend) {
        case AudioBackend::Alsa:
            return std::make_unique<AlsaDevice>(path && *path ? path : "default");
        case AudioBackend::WavFile:
            return std::make_unique<WavFileDevice>(path ? path : "");
        case AudioBackend::Null:
            return std::make_unique<NullDevice>();
    }
    return nullptr;
}

bool parseAudioBackend(const char* text, AudioBackend* backend) {
    if (!text || !backend) return false;
    if (std::strcmp(text, "alsa") == 0) {
        *backend = AudioBackend::Alsa;
    } else if (std::strcmp(text, "wav") == 0) {
        *backend = AudioBackend::WavFile;
    } else if (std::strcmp(text, "null") == 0) {
        *backend = AudioBackend::Null;
    } else {
        return false;
    }
    return true;
}

}  // namespace brellin
