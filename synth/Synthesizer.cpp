#include "synth/Synthesizer.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "output/SoundOutput.h"
#include "synth/SynthTables.h"

namespace brellin {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

constexpr std::uint8_t SYSEX_END = 0xF7;

// Controller numbers the channels react to.
constexpr std::int32_t CONTROLLER_MODULATION = 1;
constexpr std::int32_t CONTROLLER_DATA_ENTRY = 6;
constexpr std::int32_t CONTROLLER_VOLUME = 7;
constexpr std::int32_t CONTROLLER_PAN = 10;
constexpr std::int32_t CONTROLLER_EXPRESSION = 11;
constexpr std::int32_t CONTROLLER_DAMPER = 64;
constexpr std::int32_t CONTROLLER_RPN_LSB = 100;
constexpr std::int32_t CONTROLLER_RPN_MSB = 101;
constexpr std::int32_t CONTROLLER_ALL_SOUND_OFF = 120;
constexpr std::int32_t CONTROLLER_RESET_ALL = 121;

// The system volume after a full reset or controller 121.
constexpr std::int32_t RESET_SYSTEM_VOLUME = 127;

inline std::int32_t channelGain(std::int32_t volume) { return (volume * 127) >> 9; }

}  // namespace

Synthesizer::Synthesizer() : randomState(UNSEEDED_RANDOM_STATE) { resetChannels(false); }

Synthesizer::~Synthesizer() { destroyVoices(); }

// ---------------------------------------------------------------- interface

bool Synthesizer::sendMidi(const std::uint8_t* bytes, std::uint32_t length) {
    if (bytes == nullptr) return true;
    for (std::uint32_t i = 0; i < length; ++i) parseByte(bytes[i]);
    return true;
}

bool Synthesizer::reset() {
    for (std::uint32_t i = 0; i < voiceCount; ++i) {
        VoiceSlot& slot = slots[i];
        slot.voice->silence();
        slot.voice->setPan(DEFAULT_PAN);
        slot.key = -1;
        slot.channel.store(0, relaxed);
    }
    resetChannels(false);
    chainSlotsToChannelZero();
    messageLength = 0;
    return true;
}

std::uint32_t Synthesizer::outputTime() {
    return soundOutput != nullptr ? soundOutput->clock.load(std::memory_order_acquire) : 0;
}

SliceClientHandle Synthesizer::addSliceClient(ClockCallback call, void* argument, SliceOrder order) {
    return soundOutput != nullptr ? soundOutput->addSliceClient(call, argument, order) : 0;
}

void Synthesizer::removeSliceClient(SliceClientHandle handle) {
    if (soundOutput != nullptr) soundOutput->removeSliceClient(handle);
}

void Synthesizer::setSystemVolume(std::int32_t value) {
    systemVolume.store(std::clamp(value, 0, 128), relaxed);
    updateVolume();
}

void Synthesizer::setUserVolume(std::int32_t value) {
    userVolume.store(std::clamp(value, 0, 128), relaxed);
    updateVolume();
}

// ------------------------------------------------------ sound font and pool

bool Synthesizer::loadSoundFont(const char* path, SoundFontDiagnostics* diagnostics) {
    // Voices point into the tables a load replaces (and a failed load frees).
    destroyVoices();
    if (!soundFont.loadSoundFont(path, diagnostics)) {
        lastError = soundFont.lastError;
        return false;
    }
    return true;
}

bool Synthesizer::loadSoundFontFromMemory(const std::uint8_t* data, std::size_t size,
                                          SoundFontDiagnostics* diagnostics) {
    destroyVoices();
    if (!soundFont.loadSoundFontFromMemory(data, size, diagnostics)) {
        lastError = soundFont.lastError;
        return false;
    }
    return true;
}

bool Synthesizer::createVoices(SoundOutput& output, std::uint32_t count) {
    destroyVoices();
    if (!soundFont.isLoaded()) {
        lastError = RESULT_FAILED;
        return false;
    }
    soundOutput = &output;
    voices.reset(new (std::nothrow) Voice[count]);
    if (!voices) {
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    slots.reset(new (std::nothrow) VoiceSlot[count]);
    if (!slots) {
        voices.reset();
        lastError = RESULT_OUT_OF_MEMORY;
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        slots[i].voice = &voices[i];
        voices[i].attach(output);  // a refused voice simply never sounds
        voices[i].setInstrument(soundFont.programs[0], soundFont.sampleBlock.get());
    }
    voiceCount = count;
    reset();
    return true;
}

void Synthesizer::destroyVoices() {
    voiceCount = 0;
    for (Channel& channel : channels) channel.voiceList = nullptr;
    slots.reset();
    voices.reset();  // each voice leaves the output as it is destroyed
}

// ------------------------------------------------------------------ parser

void Synthesizer::parseByte(std::uint8_t byte) {
    switch (messageLength) {
        case 0:
            // No running status: a data byte without its status byte is dropped.
            message[0] = byte;
            if ((byte & 0x80) != 0) messageLength = 1;
            return;
        case 1: {
            message[1] = byte;
            const std::uint8_t kind = message[0] & 0xF0;
            if (kind == 0xC0) {
                programChange(message[0] & 0x0F, byte & 0x7F);
                messageLength = 0;
            } else if (kind == 0xD0) {
                messageLength = 0;  // channel pressure is ignored
            } else {
                messageLength = 2;
            }
            return;
        }
        case 2:
            message[2] = byte;
            if (message[0] >= 0xF0) {
                messageLength = 3;  // system-exclusive collection
            } else {
                channelMessage();
                messageLength = 0;
            }
            return;
        default:
            if (byte == SYSEX_END) {
                systemExclusive();
                messageLength = 0;
            } else if (messageLength < MESSAGE_CAPACITY) {
                message[messageLength++] = byte;
            }
            return;
    }
}

void Synthesizer::channelMessage() {
    const std::uint32_t channelIndex = message[0] & 0x0F;
    switch (message[0] & 0xF0) {
        case 0x80: noteOff(channelIndex, message[1] & 0x7F); break;
        case 0x90:
            if ((message[2] & 0x7F) == 0) {
                noteOff(channelIndex, message[1] & 0x7F);
            } else {
                noteOn(channelIndex, message[1] & 0x7F, message[2] & 0x7F);
            }
            break;
        case 0xB0: controller(channelIndex, message[1] & 0x7F, message[2] & 0x7F); break;
        case 0xE0:
            // Both data bytes as they come.
            pitchBend(channelIndex, (static_cast<std::int32_t>(message[2]) << 7) | message[1]);
            break;
        default: break;  // polyphonic pressure is ignored
    }
}

void Synthesizer::systemExclusive() {
    // The collected bytes, without the final 0xF7.
    const std::uint32_t length = messageLength;
    const std::uint8_t* m = message;
    if (m[0] != 0xF0) return;
    if (length >= 5 && m[1] == 0x7E && m[2] == 0x7F && m[3] == 0x09 && m[4] == 0x01) {
        fullReset();  // General MIDI system on
    } else if (length >= 10 && m[1] == 0x41 && m[3] == 0x42 && m[4] == 0x12 && m[5] == 0x40 && m[6] == 0x00 &&
               m[7] == 0x7F && m[8] == 0x00 && m[9] == 0x41) {
        fullReset();  // GS reset, any device number
    } else if (length >= 9 && m[1] == 0x41 && m[2] == 0x10 && m[3] == 0x42 && m[4] == 0x12 && m[5] == 0x40 &&
               (m[6] & 0xF0) == 0x10 && m[7] == 0x15 && m[8] == 0x02) {
        // GS use-for-rhythm-part. GS numbers its parts from the drum part:
        // number 0 is MIDI channel 10, numbers 1 … 9 are channels 1 … 9 and
        // numbers 10 … 15 are channels 11 … 16.
        const std::uint32_t part = m[6] & 0x0F;
        const std::uint32_t index = part == 0 ? DRUM_CHANNEL : (part <= 9 ? part - 1 : part);
        channels[index].isDrum = true;
    } else if (length >= 7 && m[1] == 0x7F && m[2] == 0x7F && m[3] == 0x04 && m[4] == 0x01) {
        setSystemVolume(m[6]);  // master volume: the MSB; the LSB is ignored
    }
}

// ------------------------------------------------------------------- notes

std::uint32_t Synthesizer::pitch(std::int32_t range, std::int32_t key, std::int32_t bend) {
    const std::int64_t n = std::clamp(key, 0, 127);
    if (bend == BEND_CENTRE || range == 0) return noteFrequencies[n];
    // The range is split into 2r semitone steps; interpolate linearly between
    // the neighbouring table entries.
    const std::int64_t r = range;
    const std::int64_t b = bend;
    const std::int64_t c = (2 * r * b) / 16384;
    const std::int64_t m = std::clamp<std::int64_t>(n + c - r, 0, 126);
    const std::int64_t lo = (c * 16384) / (2 * r);
    const std::int64_t hi = ((c + 1) * 16384) / (2 * r);
    const std::int64_t w = hi != lo ? hi - lo : 1;
    const std::int64_t f = b - lo;
    const std::int64_t result = (noteFrequencies[m] * (w - f) + noteFrequencies[m + 1] * f) / w;
    return static_cast<std::uint32_t>(result);
}

void Synthesizer::startVoice(VoiceSlot& slot, const Channel& channel, const InstrumentRecord& record, std::int32_t key,
                             std::int32_t velocity) {
    Voice& voice = *slot.voice;
    voice.setVolume((masterGain.load(relaxed) * channel.gain.load(relaxed) * velocity) >> 14);
    voice.setInstrument(record, soundFont.sampleBlock.get());
    slot.velocity.store(velocity, relaxed);
    voice.noteOn(pitch(channel.bendRange, key, channel.bend));
    voice.setPan(std::min(channel.pan, 127));
}

void Synthesizer::noteOn(std::uint32_t channelIndex, std::int32_t key, std::int32_t velocity) {
    // Without voices there is no sound font to look into either.
    if (voiceCount == 0) return;
    Channel& channel = channels[channelIndex];
    const InstrumentRecord* record = channel.instrument;
    if (channel.isDrum)
        record = &soundFont.drumRegion(static_cast<std::uint32_t>(channel.program), static_cast<std::uint32_t>(key));

    // Retrigger: the same key, or on a drum channel the same drum group, restarts in place.
    for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
        if (slot->key == key || (channel.isDrum && slot->voice->record.groupId == record->groupId)) {
            // The slot keeps the key of the note it replaces; a slot that
            // played no note yet (after a reset) takes the new key.
            if (slot->key < 0) slot->key = key;
            startVoice(*slot, channel, *record, slot->key, velocity);
            return;
        }
    }

    // A free voice, else the lowest released one still sounding; else the note is dropped.
    std::uint32_t index = voiceCount;
    for (std::uint32_t i = 0; i < voiceCount; ++i) {
        if (!voices[i].isActive()) {
            index = i;
            break;
        }
    }
    if (index == voiceCount) {
        for (std::uint32_t i = 0; i < voiceCount; ++i) {
            if (!voices[i].isKeyDown()) {
                index = i;
                break;
            }
        }
    }
    if (index == voiceCount) return;

    VoiceSlot& slot = slots[index];
    Channel& previous = channels[slot.channel.load(relaxed)];
    if (slot.prev != nullptr) {
        slot.prev->next = slot.next;
    } else {
        previous.voiceList = slot.next;
    }
    if (slot.next != nullptr) slot.next->prev = slot.prev;
    slot.prev = nullptr;
    slot.next = channel.voiceList;
    if (slot.next != nullptr) slot.next->prev = &slot;
    channel.voiceList = &slot;
    slot.key = key;
    slot.channel.store(static_cast<std::int32_t>(channelIndex), relaxed);
    startVoice(slot, channel, *record, key, velocity);
}

void Synthesizer::noteOff(std::uint32_t channelIndex, std::int32_t key) {
    for (VoiceSlot* slot = channels[channelIndex].voiceList; slot != nullptr; slot = slot->next) {
        if (slot->key == key) {
            slot->velocity.store(0, relaxed);
            slot->voice->noteOff();
            return;
        }
    }
}

void Synthesizer::programChange(std::uint32_t channelIndex, std::int32_t value) {
    Channel& channel = channels[channelIndex];
    channel.program = value;
    channel.instrument = &soundFont.programs[value];
}

void Synthesizer::pitchBend(std::uint32_t channelIndex, std::int32_t value) {
    Channel& channel = channels[channelIndex];
    channel.bend = value;
    for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
        // A slot without a key (after a reset) has no pitch to bend.
        if (slot->key >= 0 && slot->voice->isActive()) {
            slot->voice->setPitch(pitch(channel.bendRange, slot->key, value));
        }
    }
}

void Synthesizer::controller(std::uint32_t channelIndex, std::int32_t number, std::int32_t value) {
    Channel& channel = channels[channelIndex];
    switch (number) {
        case CONTROLLER_MODULATION:
            for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
                slot->voice->setModulation(value);
            }
            break;
        case CONTROLLER_DATA_ENTRY:
            // Only RPN 0/0 (pitch bend range) is known; the parameter number
            // moves on, so a second data entry no longer reaches it.
            if (channel.rpn == 0) channel.bendRange = value;
            channel.rpn += 1;
            break;
        case CONTROLLER_VOLUME:
        case CONTROLLER_EXPRESSION: {
            const std::int32_t gain = channelGain(value);
            channel.gain.store(gain, relaxed);
            const std::int32_t volume = (masterGain.load(relaxed) * gain) >> 7;
            for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
                slot->voice->setVolume(volume);
            }
            break;
        }
        case CONTROLLER_PAN: {
            const std::int32_t p = value == 0 ? randomPan() : value - 1;
            channel.pan = p;
            for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
                slot->voice->setPan(std::min(p, 127));
            }
            break;
        }
        case CONTROLLER_DAMPER:
            for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
                slot->voice->setHold(value >= 64);
            }
            break;
        case CONTROLLER_RPN_LSB: channel.rpn = (channel.rpn & 0x3F80) + value; break;
        case CONTROLLER_RPN_MSB: channel.rpn = (channel.rpn & 0x7F) + (value << 7); break;
        case CONTROLLER_ALL_SOUND_OFF:
            for (VoiceSlot* slot = channel.voiceList; slot != nullptr; slot = slot->next) {
                slot->voice->noteOff();
            }
            break;
        case CONTROLLER_RESET_ALL:
            systemVolume.store(RESET_SYSTEM_VOLUME, relaxed);
            updateVolume();
            channel.pan = DEFAULT_PAN;
            channel.bendRange = DEFAULT_BEND_RANGE;
            channel.rpn = RPN_NONE;
            break;
        default: break;
    }
}

void Synthesizer::seedRandom(std::uint32_t seed) { randomState = seed; }

std::int32_t Synthesizer::randomPan() {
    // The C library's rand() takes a lock; the same kind of generator is kept here.
    randomState = randomState * 1103515245u + 12345u;
    return static_cast<std::int32_t>((randomState >> 16) & 0x7FFF) % 127;
}

// ------------------------------------------------------------------ resets

void Synthesizer::fullReset() {
    for (std::uint32_t i = 0; i < voiceCount; ++i) {
        VoiceSlot& slot = slots[i];
        slot.voice->noteOff();  // fade out with the release rate
        slot.voice->setPan(DEFAULT_PAN);
        slot.key = -1;
        slot.channel.store(0, relaxed);
        slot.voice->clearModulation();
        slot.voice->setHold(false);
    }
    resetChannels(true);
    chainSlotsToChannelZero();
    systemVolume.store(RESET_SYSTEM_VOLUME, relaxed);
    updateVolume();
}

void Synthesizer::resetChannels(bool keepPrograms) {
    for (std::uint32_t i = 0; i < CHANNEL_COUNT; ++i) {
        Channel& channel = channels[i];
        channel.gain.store(DEFAULT_GAIN, relaxed);
        channel.bend = BEND_CENTRE;
        channel.bendRange = DEFAULT_BEND_RANGE;
        channel.isDrum = i == DRUM_CHANNEL;
        if (!keepPrograms) channel.program = 0;
        channel.instrument = &soundFont.programs[0];
        channel.pan = DEFAULT_PAN;
        channel.rpn = RPN_NONE;
        channel.voiceList = nullptr;
    }
}

void Synthesizer::chainSlotsToChannelZero() {
    for (std::uint32_t i = 0; i < voiceCount; ++i) {
        slots[i].prev = i > 0 ? &slots[i - 1] : nullptr;
        slots[i].next = i + 1 < voiceCount ? &slots[i + 1] : nullptr;
    }
    channels[0].voiceList = voiceCount > 0 ? &slots[0] : nullptr;
}

void Synthesizer::updateVolume() {
    const std::int32_t gain = (userVolume.load(relaxed) * systemVolume.load(relaxed)) >> 7;
    masterGain.store(gain, relaxed);
    // Every slot is in the list of its own channel, so walking the slots by
    // index reaches every list without following links another thread may change.
    for (std::uint32_t i = 0; i < voiceCount; ++i) {
        const VoiceSlot& slot = slots[i];
        const Channel& channel = channels[slot.channel.load(relaxed) & 0x0F];
        slots[i].voice->setVolume((slot.velocity.load(relaxed) * channel.gain.load(relaxed) * gain) >> 14);
    }
}

}  // namespace brellin
