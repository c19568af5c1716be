#include "engine/MidiOutRelay.h"

namespace brellin {

namespace {

constexpr std::uint8_t GM_RESET[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
constexpr std::uint8_t DEFAULT_VOLUME = 100;

}  // namespace

MidiOutRelay::MidiOutRelay(SoundOutput& soundOutput, SynthesizerInterface& clockSource, MidiOutPort& port,
                           bool generalMidiReset)
    : output(soundOutput), clock(clockSource), destination(port), gmReset(generalMidiReset) {
    for (int channel = 0; channel < 16; ++channel) {
        songVolume[channel].store(DEFAULT_VOLUME);
        heldNotes[channel][0].store(0);
        heldNotes[channel][1].store(0);
    }
}

std::uint8_t MidiOutRelay::scaledVolume(std::uint8_t value) const noexcept {
    const std::int32_t volume = userVolume.load(std::memory_order_relaxed);
    return static_cast<std::uint8_t>(value * volume / 127);
}

void MidiOutRelay::sendTimed(const std::uint8_t* bytes, std::uint32_t length) noexcept {
    const std::uint64_t into = static_cast<std::uint64_t>(eventTime) * output.samplesPerSlice / 4000;
    destination.sendAt(bytes, length, output.sliceStartFrame() + into);
}

bool MidiOutRelay::sendMidi(const std::uint8_t* bytes, std::uint32_t length) {
    if (length == 0) return true;
    // A system exclusive message: F0, its data (ending in F7, or not), F7.
    if (bytes[0] == 0xF0 || sysexOpen) {
        if (bytes[0] == 0xF0) {
            sysexOpen = true;
            sysexLength = 0;
            sysexTooLong = false;
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            if (sysexLength < sizeof sysex) {
                sysex[sysexLength++] = bytes[i];
            } else {
                sysexTooLong = true;
            }
            if (bytes[i] == 0xF7) {
                // A message that does not fit is not sent cut short.
                if (!sysexTooLong) sendTimed(sysex, sysexLength);
                sysexOpen = false;
                return true;
            }
        }
        return true;
    }
    const std::uint8_t status = bytes[0];
    if (status < 0x80 || status >= 0xF0) return true;
    const int channel = status & 0x0F;
    const std::uint32_t needed = (status & 0xE0) == 0xC0 ? 2 : 3;
    if (length < needed) return true;
    std::uint8_t message[3] = {status, static_cast<std::uint8_t>(bytes[1] & 0x7F),
                               static_cast<std::uint8_t>(needed == 3 ? bytes[2] & 0x7F : 0)};
    const std::uint8_t kind = status & 0xF0;
    if (kind == 0x90 || kind == 0x80) {
        const std::uint64_t bit = 1ull << (message[1] & 63);
        std::atomic<std::uint64_t>& word = heldNotes[channel][message[1] >> 6];
        if (kind == 0x90 && message[2] != 0) {
            word.fetch_or(bit, std::memory_order_relaxed);
        } else {
            word.fetch_and(~bit, std::memory_order_relaxed);
        }
    } else if (kind == 0xB0 && message[1] == 7) {
        songVolume[channel].store(message[2], std::memory_order_relaxed);
        message[2] = scaledVolume(message[2]);
    }
    sendTimed(message, needed);
    return true;
}

bool MidiOutRelay::reset() {
    auto send = [&](const std::uint8_t* bytes, std::uint32_t length) { destination.sendNow(bytes, length); };
    for (int channel = 0; channel < 16; ++channel) {
        for (int half = 0; half < 2; ++half) {
            std::uint64_t held = heldNotes[channel][half].exchange(0, std::memory_order_relaxed);
            while (held != 0) {
                const int bit = __builtin_ctzll(held);
                held &= held - 1;
                const std::uint8_t off[3] = {static_cast<std::uint8_t>(0x80 | channel),
                                             static_cast<std::uint8_t>(half * 64 + bit), 0};
                send(off, 3);
            }
        }
    }
    for (int channel = 0; channel < 16; ++channel) {
        const auto status = static_cast<std::uint8_t>(0xB0 | channel);
        const std::uint8_t sustainOff[3] = {status, 64, 0};
        const std::uint8_t allNotesOff[3] = {status, 123, 0};
        const std::uint8_t resetControllers[3] = {status, 121, 0};
        send(sustainOff, 3);
        send(allNotesOff, 3);
        send(resetControllers, 3);
        songVolume[channel].store(DEFAULT_VOLUME, std::memory_order_relaxed);
    }
    if (gmReset) send(GM_RESET, sizeof GM_RESET);
    // The user's volume holds from the first note of the next song.
    if (userVolume.load(std::memory_order_relaxed) < 127) {
        for (int channel = 0; channel < 16; ++channel) {
            const std::uint8_t volume[3] = {static_cast<std::uint8_t>(0xB0 | channel), 7, scaledVolume(DEFAULT_VOLUME)};
            send(volume, 3);
        }
    }
    return true;
}

void MidiOutRelay::setUserVolume(std::int32_t value) {
    value = value < 0 ? 0 : value > 127 ? 127 : value;
    if (userVolume.exchange(value, std::memory_order_relaxed) == value) return;
    for (int channel = 0; channel < 16; ++channel) {
        const std::uint8_t volume[3] = {static_cast<std::uint8_t>(0xB0 | channel), 7,
                                        scaledVolume(songVolume[channel].load(std::memory_order_relaxed))};
        destination.sendNow(volume, 3);
    }
}

}  // namespace brellin
