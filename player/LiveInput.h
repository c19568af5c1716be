// LiveInput: plays MIDI messages that arrive while the program runs (a
// keyboard, a game, another program) on the Synthesizer, in step with the
// render loop.
//
// One producer thread (a sequencer port's reader) hands over whole messages
// with `deliver`; they wait in a MessageQueue. While attached, a slice client
// of rank Live pops everything queued before each slice and sends it to the
// Synthesizer, so the Synthesizer's MIDI parser is fed by the render thread
// alone and a song's events and live ones never interleave within a message.
//
// A device that carries MIDI beside its sound (JACK) plays its messages
// itself, on the render thread, at their frame within the period: through
// `receive` (MidiReceiver), which checks a message as `deliver` does and
// plays it at once, at most MAX_PER_SLICE of them per slice.
//
// `deliver` takes what the Synthesizer understands from a live source: the
// channel messages with their data bytes, and system exclusive messages of
// at most MAX_SYSTEM_EXCLUSIVE bytes from F0 to F7. Real-time and system
// common messages (clock, active sensing, song position) are ignored; a
// message cut short, or a status without its data, is refused and counted,
// never half played.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/MessageQueue.h"
#include "output/AudioDevice.h"
#include "player/NoteOnListener.h"
#include "synth/SynthesizerInterface.h"

namespace brellin {

// What a live message is, by its bytes.
enum class LiveMessage : std::uint8_t {
    Channel,          // a channel message (80 … EF) of its full length
    SystemExclusive,  // F0 … F7, at most MAX_SYSTEM_EXCLUSIVE bytes
    Ignored,          // real-time or system common: not for the Synthesizer
    Malformed,        // empty, cut short, too long, or a data byte where a status belongs
};

class LiveInput : public MidiReceiver {
public:
    // The longest system exclusive message played; longer ones are refused.
    static constexpr std::uint32_t MAX_SYSTEM_EXCLUSIVE = 1024;
    // The most messages one slice plays; more wait for the next slice.
    static constexpr std::uint32_t MAX_PER_SLICE = 4096;

    // `queueBytes`: room for messages between two slices (a flood beyond it
    // is dropped and counted, the rest still plays).
    explicit LiveInput(std::uint32_t queueBytes = 65536);
    ~LiveInput();
    LiveInput(const LiveInput&) = delete;
    LiveInput& operator=(const LiveInput&) = delete;

    static LiveMessage classify(const std::uint8_t* bytes, std::uint32_t length);

    // Starts playing on `synthesizer` from the next slice on (what waits in
    // the queue is played then). False when its client list is full or it
    // has no output. User-interface thread.
    bool attach(SynthesizerInterface& synthesizer);
    // Stops playing from the next slice on. Notes it started keep sounding
    // until a reset or their release: a source that goes away queues
    // releaseHeldNotes first. User-interface thread.
    void detach();
    bool attached() const { return target.load() != nullptr; }

    // Told of every live note-on just before it is played, on the render
    // thread, as the Sequencer tells of a song's (the level is the velocity).
    // Null: none. Set it before attach.
    void setNoteOnListener(NoteOnListener* listener) { noteOnListener.store(listener); }

    // Producer thread. True when the message was queued; false when it is
    // not one to play (see classify) or the queue is full.
    bool deliver(const std::uint8_t* bytes, std::uint32_t length);

    // Render thread (the slice client, also called by tests): sends what is
    // queued to the Synthesizer.
    void playQueued() noexcept;

    // Render thread, from a device's MIDI input: plays one message at once
    // (what `deliver` would refuse is refused and counted the same way).
    void receive(const std::uint8_t* bytes, std::size_t size) noexcept override;
    // Render thread: the device's source went away; releases the notes the
    // device's messages started (sustain off, All Notes Off).
    void sourceGone() noexcept override;

    // Notes that would hang if the source went away mid-note: All Notes Off
    // on every channel that played since the last call. Producer thread
    // (queued like any message).
    void releaseHeldNotes();

    // Counters since construction (any thread): messages played, messages
    // refused as malformed (real-time bytes are ignored, not counted), and
    // messages dropped because the queue was full.
    std::uint64_t played() const { return playedCount.load(std::memory_order_relaxed); }
    std::uint64_t refused() const { return refusedCount.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return queue.dropped() + directDropped.load(std::memory_order_relaxed); }

private:
    static void sliceCall(void* self) noexcept;
    // Tells the listener of a note-on and sends one checked message.
    void play(SynthesizerInterface& synthesizer, const std::uint8_t* bytes, std::uint32_t length) noexcept;

    MessageQueue queue;
    std::unique_ptr<std::uint8_t[]> message;  // the render thread's copy of one message
    // Written by the user-interface thread, read by the render thread.
    std::atomic<SynthesizerInterface*> target{nullptr};
    std::atomic<NoteOnListener*> noteOnListener{nullptr};
    SliceClientHandle handle = 0;
    // Bit n: channel n played a message since the last releaseHeldNotes
    // (producer thread only).
    std::uint16_t usedChannels = 0;
    // Render thread only: what `receive` may still play in this slice, and
    // the channels its messages used.
    std::uint32_t directBudget = MAX_PER_SLICE;
    std::uint16_t directChannels = 0;
    std::atomic<std::uint64_t> playedCount{0};
    std::atomic<std::uint64_t> refusedCount{0};
    std::atomic<std::uint64_t> directDropped{0};
};

}  // namespace brellin
