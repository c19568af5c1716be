#include "engine/EngineConfig.h"

#include <algorithm>

#include "engine/MidiOut.h"

namespace brellin {

void EngineConfig::useFallbackFormat() {
    rate = 11025;
    bits = 8;
    channels = 1;
    voices = 8;
}

EngineConfig engineConfigFrom(const Settings& settings) {
    EngineConfig config;
    // The Settings hold only valid values: index → rate, flag → width, flag → channels.
    config.rate = static_cast<std::uint32_t>(settings.sampleRateHz());
    config.bits = static_cast<std::uint32_t>(settings.bitsPerSample());
    config.channels = static_cast<std::uint32_t>(settings.channelCount());
    config.voices = static_cast<std::uint32_t>(settings.MaxChannels);
    config.reverb = settings.fReverb != 0;
    // The reverb runs at 1 … 6; the setting keeps its value, which may be 0.
    config.reverbLevel = std::clamp(settings.ReverbLevel, 1, 6);
    config.lowPass = settings.fLowPassFilter != 0;
    config.volume = std::clamp(settings.Volume, 0, 127);
    config.latency = static_cast<std::uint32_t>(settings.Latency);
    config.soundFontName = settings.SoundFontName;
    config.midiOut = midiOutFromEnvironment(settings.MidiOut);
    config.midiOutGmReset = settings.fMidiOutGmReset != 0;
    return config;
}

}  // namespace brellin
