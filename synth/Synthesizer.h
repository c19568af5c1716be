// Synthesizer: turns a stream of MIDI bytes into sounding voices.
//
// It owns the SoundFont, 16 MIDI channels, a fixed pool of Voices attached to
// the SoundOutput and, for each voice, a VoiceSlot that records which channel
// and key the voice plays. It parses MIDI bytes (no running status), keeps
// per-channel state, starts, retriggers, steals and releases voices, and
// recognises four system-exclusive messages (General MIDI system on, GS
// reset, GS use-for-rhythm-part, master volume). It does no audio processing:
// the SoundOutput's render thread mixes the voices.
//
// Threads: the Sequencer delivers MIDI data from its slice client, on the
// render thread between slices, and calls `reset` and `setSystemVolume` from
// its own or the user-interface thread under its own lock; the
// user-interface thread calls `setUserVolume` at any time. The Synthesizer
// takes no lock: what those calls share with the render thread (volumes,
// slot velocities and channels, channel gains, the voices' volume, pan and
// note flags) is stored as single relaxed atomic values. `loadSoundFont`,
// `createVoices` and `destroyVoices` run while no Sequencer exists.
//
// Sound font indexes: drum notes go through SoundFont::drumRegion, whose
// chain of indexes the loader guarantees to be in range, and every record
// the loader hands out keeps its positions inside the sample block, so no
// MIDI data can make a voice read outside the sound font.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/ResultCode.h"
#include "soundfont/SoundFont.h"
#include "synth/SynthesizerInterface.h"
#include "synth/Voice.h"

namespace brellin {

class SoundOutput;

class Synthesizer : public SynthesizerInterface {
public:
    static constexpr std::uint32_t CHANNEL_COUNT = 16;
    static constexpr std::uint32_t DRUM_CHANNEL = 9;       // MIDI channel 10
    static constexpr std::uint32_t MESSAGE_CAPACITY = 16;  // bytes kept of a system-exclusive message
    static constexpr std::int32_t BEND_CENTRE = 8192;
    static constexpr std::int32_t DEFAULT_BEND_RANGE = 2;           // semitones
    static constexpr std::int32_t DEFAULT_GAIN = (100 * 127) >> 9;  // 24: controller 7 at 100
    static constexpr std::int32_t DEFAULT_PAN = 64;
    static constexpr std::int32_t RPN_NONE = 0x3FF;

    // A voice of the pool and what it plays: slot i always describes voice i.
    struct VoiceSlot {
        std::atomic<std::int32_t> channel{0};   // channel whose voiceList holds the slot
        std::int32_t key = -1;                  // key of the last note started here; −1 none
        std::atomic<std::int32_t> velocity{0};  // 0 after the note-off
        VoiceSlot* next = nullptr;              // links within the channel's voiceList
        VoiceSlot* prev = nullptr;
        Voice* voice = nullptr;  // voices[i], fixed
    };

    struct Channel {
        std::int32_t program = 0;                      // 0 … 127; selects the drum kit on a drum channel
        const InstrumentRecord* instrument = nullptr;  // soundFont.programs[program], or programs[0] after a full reset
        std::atomic<std::int32_t> gain{DEFAULT_GAIN};  // (volume × 127) >> 9 of controller 7 or 11
        std::int32_t bend = BEND_CENTRE;               // 0 … 16383 in use
        std::int32_t bendRange = DEFAULT_BEND_RANGE;
        bool isDrum = false;
        std::int32_t pan = DEFAULT_PAN;  // given to voices started here (0 … 127 in use)
        std::int32_t rpn = RPN_NONE;     // (MSB << 7) + LSB
        VoiceSlot* voiceList = nullptr;  // head: the slots whose voice last played here
    };

    Synthesizer();
    ~Synthesizer() override;
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    // The operations of SynthesizerInterface.
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override;
    bool reset() override;
    std::uint32_t outputTime() override;
    SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) override;
    void removeSliceClient(SliceClientHandle handle) override;
    void setSystemVolume(std::int32_t value) override;
    void setUserVolume(std::int32_t value) override;

    // Starts the random pan sequence of controller 10 value 0 from `seed`.
    // User-interface thread, before a song plays (Engine::seedRandom).
    void seedRandom(std::uint32_t seed);

    // Loads a BRF file into `soundFont`. Not while voices exist (they point
    // into the tables it replaces): call destroyVoices first. False with
    // `lastError` as SoundFont::loadSoundFont reports it.
    bool loadSoundFont(const char* path, SoundFontDiagnostics* diagnostics = nullptr);
    // The same from bytes in memory.
    bool loadSoundFontFromMemory(const std::uint8_t* data, std::size_t size,
                                 SoundFontDiagnostics* diagnostics = nullptr);
    // Builds `count` voices attached to `output` and ends with the quiet
    // reset. False with RESULT_FAILED (0x80000000) when no sound font is
    // loaded, RESULT_OUT_OF_MEMORY (0x80000004) when the pool cannot be obtained.
    bool createVoices(SoundOutput& output, std::uint32_t count);
    // Destroys every voice (each leaves the output) and the slots.
    void destroyVoices();

    // The pitch of key `key` bent by `bend` with a range of `range`
    // semitones, in the units of the frequency table (Hz × 128).
    static std::uint32_t pitch(std::int32_t range, std::int32_t key, std::int32_t bend);

    // For the engine, tests and tools.
    std::uint32_t voiceTotal() const { return voiceCount; }
    Voice& voice(std::uint32_t index) { return voices[index]; }
    const VoiceSlot& slot(std::uint32_t index) const { return slots[index]; }
    const Channel& channel(std::uint32_t index) const { return channels[index]; }
    std::int32_t systemVolumeValue() const { return systemVolume.load(std::memory_order_relaxed); }
    std::int32_t userVolumeValue() const { return userVolume.load(std::memory_order_relaxed); }
    std::int32_t masterGainValue() const { return masterGain.load(std::memory_order_relaxed); }
    std::uint32_t parserState() const { return messageLength; }

    ResultCode lastError = RESULT_OK;
    SoundFont soundFont;

private:
    void parseByte(std::uint8_t byte);
    void channelMessage();
    void systemExclusive();
    void noteOn(std::uint32_t channelIndex, std::int32_t key, std::int32_t velocity);
    void noteOff(std::uint32_t channelIndex, std::int32_t key);
    void controller(std::uint32_t channelIndex, std::int32_t number, std::int32_t value);
    void programChange(std::uint32_t channelIndex, std::int32_t value);
    void pitchBend(std::uint32_t channelIndex, std::int32_t value);
    void startVoice(VoiceSlot& slot, const Channel& channel, const InstrumentRecord& record, std::int32_t key,
                    std::int32_t velocity);
    void fullReset();
    void resetChannels(bool keepPrograms);
    void chainSlotsToChannelZero();
    void updateVolume();
    std::int32_t randomPan();

    SoundOutput* soundOutput = nullptr;
    std::unique_ptr<Voice[]> voices;
    std::unique_ptr<VoiceSlot[]> slots;
    std::uint32_t voiceCount = 0;
    Channel channels[CHANNEL_COUNT];
    std::uint8_t message[MESSAGE_CAPACITY] = {};
    std::uint32_t messageLength = 0;  // parser state: bytes of the message collected
    std::atomic<std::int32_t> systemVolume{128};
    std::atomic<std::int32_t> userVolume{128};
    std::atomic<std::int32_t> masterGain{128};
    // The pan sequence before `seedRandom`: what the C library's rand() hands
    // out first under its default seed (glibc), so an unseeded Synthesizer
    // pans as the player did when it drew that number at construction.
    static constexpr std::uint32_t UNSEEDED_RANDOM_STATE = 1804289383u;
    std::uint32_t randomState;  // controller 10 value 0: a random pan without the C library's lock
};

}  // namespace brellin
