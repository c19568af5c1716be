// Offline rendering for the SF2 conversion checks: a list of MIDI messages
// at given slices played through the Synthesizer into a 16-bit stereo WAV
// file, and the reading back of that file.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output/SoundOutput.h"
#include "output/devices/WavFileDevice.h"
#include "synth/Synthesizer.h"

namespace brellin::sf2check {

constexpr double SLICE_SECONDS = 44.0 / 11025.0;

struct Score {
    struct Event {
        std::uint32_t slice;
        std::vector<std::uint8_t> bytes;  // empty: quiet reset of the synthesizer
    };
    std::vector<Event> events;  // in slice order
    std::uint32_t endSlice = 0;

    std::size_t next = 0;
    std::uint32_t slice = 0;
    Synthesizer* synth = nullptr;
    WavFileDevice* device = nullptr;

    void at(std::uint32_t when, std::vector<std::uint8_t> bytes) { events.push_back({when, std::move(bytes)}); }

    static void tick(void* argument) {
        Score& s = *static_cast<Score*>(argument);
        while (s.next < s.events.size() && s.events[s.next].slice <= s.slice) {
            const auto& bytes = s.events[s.next].bytes;
            if (bytes.empty())
                s.synth->reset();
            else
                s.synth->sendMidi(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            ++s.next;
        }
        if (s.slice == s.endSlice) s.device->finish();
        ++s.slice;
    }
};

// Renders `score` with the font at `fontPath` into `wavPath`; false with a message.
inline bool renderScore(const std::string& fontPath, Score& score, const std::string& wavPath, std::uint32_t rate,
                        std::string& error, std::uint32_t voices = 32) {
    SoundOutput output;
    WavFileDevice::Options options;
    options.skipOpeningSilence = true;
    options.startHeld = true;
    auto owned = std::make_unique<WavFileDevice>(wavPath, options);
    WavFileDevice* device = owned.get();
    output.setDevice(std::move(owned));
    Synthesizer synth;
    if (!synth.loadSoundFont(fontPath.c_str())) {
        error = "cannot load " + fontPath;
        return false;
    }
    if (!output.open(16, rate, 2)) {
        error = std::string("cannot open the output: ") + output.deviceErrorText();
        return false;
    }
    if (!synth.createVoices(output, voices)) {
        error = "cannot create voices";
        return false;
    }
    synth.setUserVolume(128);
    score.synth = &synth;
    score.device = device;
    const SliceClientHandle tickClient = synth.addSliceClient(&Score::tick, &score, SliceOrder::Song);
    device->release();
    bool ended = device->waitEnded(600000);
    synth.removeSliceClient(tickClient);
    synth.destroyVoices();
    output.close();
    if (!ended) error = "render did not end";
    return ended;
}

struct Pcm {
    std::vector<double> left, right;  // -1 … 1
    std::uint32_t rate = 0;
};

inline bool readWav(const std::string& path, Pcm& pcm) {
    std::ifstream in(path, std::ios::binary);
    std::string wav((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (wav.size() < 44 || wav.compare(0, 4, "RIFF") != 0) return false;
    std::size_t at = 12;
    std::uint16_t channels = 2, bits = 16;
    while (at + 8 <= wav.size()) {
        std::uint32_t size;
        std::memcpy(&size, wav.data() + at + 4, 4);
        if (wav.compare(at, 4, "fmt ") == 0 && at + 24 <= wav.size()) {
            std::memcpy(&channels, wav.data() + at + 10, 2);
            std::memcpy(&pcm.rate, wav.data() + at + 12, 4);
            std::memcpy(&bits, wav.data() + at + 22, 2);
        }
        if (wav.compare(at, 4, "data") == 0) {
            if (bits != 16 || channels < 1 || channels > 2) return false;
            const std::size_t end = std::min<std::size_t>(wav.size(), at + 8 + std::size_t{size});
            const std::size_t frame = 2u * channels;
            for (std::size_t i = at + 8; i + frame <= end; i += frame) {
                std::int16_t l, r;
                std::memcpy(&l, wav.data() + i, 2);
                std::memcpy(&r, wav.data() + i + (channels - 1) * 2, 2);
                pcm.left.push_back(l / 32768.0);
                pcm.right.push_back(r / 32768.0);
            }
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace brellin::sf2check
