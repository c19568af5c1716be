// Feeds arbitrary bytes to Synthesizer::sendMidi while the voices are mixed
// slice by slice, as the render thread would between slice-client calls.
//
// Input layout: byte 0 picks the output format (rate, width, channels),
// byte 1 the voice count (1 … 32) and the user volume, byte 2 how many MIDI
// bytes go between two slices; the rest is MIDI data. The voices are mixed
// directly into an accumulator (no render thread), which keeps every run
// deterministic and fast. After every slice the slot lists are checked: each
// slot sits in exactly one channel's list, the one its `channel` names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "output/SoundOutput.h"
#include "soundfont/SoundFontWriter.h"
#include "synth/Synthesizer.h"

namespace {

using brellin::InstrumentRecord;
using brellin::SoundOutput;
using brellin::Synthesizer;

// A font of a few records of each kind, including odd drum regions (odd
// rates, a negative step, an out-of-range tremolo speed).
std::vector<std::uint8_t> builtInFont() {
    brellin::SoundFontWriter writer;
    std::vector<std::int8_t> wave(256);
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<std::int8_t>((i * 7) % 200 - 100);
    const std::uint32_t sample = writer.addSample(wave);
    const std::uint32_t hit = writer.addSample(std::vector<std::int8_t>(500, 90));
    for (std::uint32_t k = 0; k < 128; ++k) {
        InstrumentRecord r{};
        r.attackRate = static_cast<std::int32_t>(1000 + k * 5000);
        r.attackLevel = 8000000;
        r.decay1Rate = static_cast<std::int32_t>(k % 3 == 0 ? 0 : 500);
        r.decay1Level = 5000000;
        r.decay2Rate = 300;
        r.decay2Level = 1000000;
        r.decay3Rate = 200;
        r.releaseRate = 20000;
        r.lfoDelay = static_cast<std::int32_t>(k * 10);
        r.lfoDepth = 0x40000;
        r.lfoDepthStep = 100;
        r.lfoRateShift = static_cast<std::int32_t>(k % 13);
        r.cycleLength = 64;
        r.loopStart = k % 2 == 0 ? 0 : 256;
        r.loopEnd = 256;
        r.sample = static_cast<std::int32_t>(sample);
        r.groupId = static_cast<std::int32_t>(k);
        writer.programs[k] = r;
    }
    for (int j = 0; j < 4; ++j) {
        InstrumentRecord r{};
        r.fixedStep = 1;
        r.lfoDepth = j == 3 ? -0x10000 : 0x8000;
        r.lfoDepthStep = 0x10000 * (j + 1);
        r.cycleLength = 500;
        r.loopEnd = 500;
        r.sample = static_cast<std::int32_t>(hit);
        r.groupId = 128 + j / 2;
        writer.drumRegions.push_back(r);
    }
    InstrumentRecord odd = writer.programs[5];  // a pitched drum region, used as stored
    odd.attackRate = 7;
    odd.releaseRate = 3;
    odd.lfoRateShift = 99;
    odd.loopStart = 300;
    odd.groupId = 128;
    writer.drumRegions.push_back(odd);
    writer.drumKitMaps.resize(256);
    for (std::uint32_t i = 0; i < 256; ++i) writer.drumKitMaps[i] = i % 7;  // 5 and 6 do not exist
    for (std::uint32_t k = 0; k < 128; ++k) writer.programKits[k] = k % 3;  // kit 2 does not exist
    return writer.bytes();
}

Synthesizer& synthesizer() {
    static Synthesizer* synth = [] {
        auto* s = new Synthesizer;
        const char* path = std::getenv("BRELLIN_SOUND_FONT");
        bool loaded = path != nullptr && s->loadSoundFont(path);
        if (!loaded) {
            // Beside the build's programs: <build>/fuzz/synth_midi → <build>/small.brf.
            std::string beside = "/proc/self/exe";
            char buffer[4096];
            const ssize_t length = readlink(beside.c_str(), buffer, sizeof buffer - 1);
            if (length > 0) {
                std::string exe(buffer, static_cast<std::size_t>(length));
                const std::size_t slash = exe.rfind('/');
                if (slash != std::string::npos) {
                    const std::string folder = exe.substr(0, slash);
                    loaded = s->loadSoundFont((folder + "/small.brf").c_str()) ||
                             s->loadSoundFont((folder + "/../small.brf").c_str());
                }
            }
        }
        if (!loaded) {
            const std::vector<std::uint8_t> font = builtInFont();
            if (!s->loadSoundFontFromMemory(font.data(), font.size())) std::abort();
        }
        return s;
    }();
    return *synth;
}

void checkLists(Synthesizer& synth) {
    std::uint32_t listed = 0;
    for (std::uint32_t c = 0; c < Synthesizer::CHANNEL_COUNT; ++c) {
        const Synthesizer::VoiceSlot* previous = nullptr;
        for (const Synthesizer::VoiceSlot* slot = synth.channel(c).voiceList; slot != nullptr; slot = slot->next) {
            if (slot->channel.load() != static_cast<std::int32_t>(c) || slot->prev != previous) __builtin_trap();
            if (++listed > synth.voiceTotal()) __builtin_trap();
            previous = slot;
        }
    }
    if (listed != synth.voiceTotal()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static SoundOutput output;  // closed: the voices only join its list
    Synthesizer& synth = synthesizer();
    const std::uint32_t rates[] = {11025, 22050, 44100};
    const std::uint32_t rate = rates[data[0] % 3];
    const std::uint32_t width = (data[0] / 3) % 2 == 0 ? 8 : 16;
    const std::uint32_t channels = (data[0] / 6) % 2 + 1;
    const std::uint32_t voices = 1 + data[1] % 32;
    const std::uint32_t chunk = 1 + data[2] % 64;
    if (!synth.createVoices(output, voices)) __builtin_trap();
    for (std::uint32_t i = 0; i < voices; ++i) {
        synth.voice(i).configure(rate, width, channels);
        synth.voice(i).setInstrument(synth.soundFont.programs[0], synth.soundFont.sampleBlock.get());
    }
    synth.reset();
    synth.setSystemVolume(128);
    synth.setUserVolume(static_cast<std::int32_t>(data[1] / 32) * 20);
    const std::uint32_t frames = rate * 44 / 11025;
    std::int32_t accumulator[SoundOutput::MAX_ACCUMULATOR];
    for (std::size_t at = 3; at < size; at += chunk) {
        const std::size_t length = size - at < chunk ? size - at : chunk;
        synth.sendMidi(data + at, static_cast<std::uint32_t>(length));
        std::memset(accumulator, 0, sizeof accumulator);
        for (std::uint32_t i = 0; i < voices; ++i) {
            brellin::Voice& voice = synth.voice(i);
            voice.mix.load()(&voice, accumulator, frames);
        }
        checkLists(synth);
    }
    return 0;
}
