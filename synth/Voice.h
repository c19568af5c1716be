// Voice: one note of the synthesizer, a mono sound source of the SoundOutput.
//
// A Voice holds a private copy of one InstrumentRecord (rescaled for the
// output rate), a 32.32 playback position in the record's signed 8-bit
// sample, a pitch step, a four-stage envelope with release, a tremolo, a
// volume and a pan. The Synthesizer owns a fixed pool of voices and attaches
// each to the SoundOutput for the voice's whole life; the render thread calls
// the voice's `mix` routine (MixRoutines.h) once per slice, sounding or not.
//
// Threads: the note operations run on the thread that delivers MIDI data,
// normally the render thread between slices. Besides that, `setVolume`,
// `setPan` and `silence` may be called from the user-interface or sequencer
// thread while the render thread mixes; the fields they store (`volume`,
// `pan`, `active`, `keyDown`, `target`, `rate`) are therefore single relaxed
// atomic 32-bit or 8-bit stores, read once per slice by the mix routines.
// `setInstrument` keeps `active` false and `stopRequest` raised while it
// replaces the record, so that a concurrent pitched mix call skips the voice.
#pragma once

#include <atomic>
#include <cstdint>

#include "output/SoundSource.h"
#include "soundfont/InstrumentRecord.h"

namespace brellin {

class Voice : public SoundSource {
public:
    // Envelope stages; in a fixed-step record `stage` holds the playback step instead.
    static constexpr std::int32_t STAGE_ATTACK = 0;
    static constexpr std::int32_t STAGE_DECAY1 = 1;
    static constexpr std::int32_t STAGE_DECAY2 = 2;
    static constexpr std::int32_t STAGE_DECAY3 = 3;
    static constexpr std::int32_t STAGE_RELEASE = 4;
    // `target` of a voice that has ended.
    static constexpr std::int32_t TARGET_ENDED = INT32_MIN;
    // Largest tremolo depth target: through setModulation, and at noteOn.
    static constexpr std::int32_t MODULATION_DEPTH_LIMIT = 0x3F0000;
    static constexpr std::int32_t NOTE_ON_DEPTH_LIMIT = 0x1F0000;

    Voice();
    ~Voice() override;

    // Joins the output's source list as a mono source and takes its format.
    // False with RESULT_UNSUPPORTED_FORMAT (0x80000001) when the output refuses.
    bool attach(SoundOutput& target) override;
    // Takes an output format without joining any list: what `attach` sets
    // besides the link (offline rendering, tests and benchmarks). Any rate
    // from 11025 to 48000 Hz; records are made for 22050 Hz and rescaled.
    void configure(std::uint32_t rate, std::uint32_t width, std::uint32_t outputChannelCount);
    // Leaves the output's list (also done on destruction): silence, then detachSource.
    void detach();

    // Installs a copy of `source`, rescaled for the output rate, and the mix
    // routine of its kind. `sampleBlock` is the SoundFont's sample block: the
    // record's `sample` is an offset into it. Keeps the voice's active state.
    // The mix routines read the sample at positions below `loopEnd` and the
    // byte at `loopEnd` (pitched), or below `cycleLength` (fixed-step); the
    // SoundFont loader keeps every record it hands out within its block.
    void setInstrument(const InstrumentRecord& source, const std::int8_t* sampleBlock);
    // Starts a note; `frequency` is Hz × 128 (the Synthesizer's frequency
    // table, possibly bent). False for frequency 0. With volume 0 the voice
    // stays idle and the result is true.
    bool noteOn(std::uint32_t frequency);
    // Enters release (pitched) or switches to the after-release step (fixed-step).
    void noteOff();
    // Stops the note at once (a fixed-step sample still plays to its end).
    void silence();
    // New pitch for the sounding note; false for frequency 0.
    bool setPitch(std::uint32_t frequency);
    // 0 … 127; larger values (unsigned) give 127.
    void setVolume(std::int32_t value);
    void setPan(std::int32_t value);
    // Modulation wheel 0 … 127: adds (value >> 2) << 16 to the tremolo depth target.
    void setModulation(std::int32_t value);
    void clearModulation();
    // Damper pedal: freezes the envelope in decay and release stages.
    void setHold(bool flag);

    // The record of the current note, rescaled for `sampleRate`.
    InstrumentRecord record{};
    // First byte of the record's sample; the byte after the last one is its guard byte.
    const std::int8_t* sample = nullptr;
    // Channel count of the output (the voice itself is always mono).
    std::uint32_t outputChannels = 1;

    std::atomic<std::int32_t> volume{64};  // 0 … 127
    std::int32_t stage = STAGE_ATTACK;     // envelope stage; playback step (16.16) in a fixed-step record
    std::int32_t level = 0;                // envelope level
    std::atomic<std::int32_t> rate{0};     // added to `level` per output sample; 0 holds
    std::atomic<std::int32_t> target{0};   // level at which the current stage ends
    std::uint64_t position = 0;            // 32.32: the high word indexes the sample
    std::uint64_t step = 0;                // 32.32: added to `position` per output sample (pitched)
    std::uint32_t lfoClock = 0;            // 2^24 / sampleRate: 1521, 760, 380 (349 at 48000 Hz)
    std::int32_t lfoCounter = 0;           // output samples since the tremolo delay ran out
    std::int32_t depth = 0;                // current tremolo depth
    std::int32_t depthTarget = 0;          // depth towards which `depth` grows
    std::int32_t modOffset = 0;            // modulation wheel contribution to `depthTarget`
    std::atomic<bool> hold{false};         // damper pedal state last given to this voice
    std::atomic<bool> active{false};       // sounds and is being advanced
    std::atomic<bool> keyDown{false};      // the note has not received its note-off

    bool isActive() const { return active.load(std::memory_order_relaxed); }
    bool isKeyDown() const { return keyDown.load(std::memory_order_relaxed); }
    bool isFixedStep() const { return record.fixedStep != 0; }

private:
    void rescale();
    void computeStep(std::uint32_t frequency);
    void chooseMix(bool fixedStep);
};

}  // namespace brellin
