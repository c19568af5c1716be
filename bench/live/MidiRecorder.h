// MidiRecorder: what a synthesizer at the other end of Brellin's MIDI output
// would hear, and when. A JACK client of this process with one MIDI input,
// "in", that notes every message with the absolute frame it arrived at.
//
// noteTimesInClockModel gives, for a MIDI file, the moment of every note-on
// and note-off in the player's clock model, worked out here on its own from
// the file's ticks: the play clock advances in 4-ms slices, each at the
// tempo in force at its start (tempos are whole beats per 60000 ms:
// 59863946 / microseconds per quarter, truncated), and an event sounds when
// the song's position reaches its tick. `compareTiming` sets the two side
// by side.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brellin::bench {

struct RecordedMessage {
    std::uint64_t frame = 0;  // the server's frame count at arrival
    std::vector<std::uint8_t> bytes;
};

class MidiRecorder {
public:
    static constexpr std::uint32_t CAPACITY = 1u << 17;  // messages kept; the rest are counted

    MidiRecorder() = default;
    ~MidiRecorder() { close(); }
    MidiRecorder(const MidiRecorder&) = delete;
    MidiRecorder& operator=(const MidiRecorder&) = delete;

    // Joins the server (empty: the default one) as `clientName`. False with `error`.
    bool open(const std::string& server, const std::string& clientName, std::string& error);
    void close();
    // "CLIENT:in".
    std::string portName() const;
    std::uint32_t rate() const { return sampleRate; }
    // Everything recorded so far, in order of arrival.
    std::vector<RecordedMessage> messages() const;
    std::uint32_t overflow() const { return lostCount.load(); }
    // Xruns the server reported since `open`.
    std::uint32_t xruns() const { return xrunCount.load(); }

private:
    static int process(jack_nframes_t frames, void* self);
    static int xrun(void* self);

    struct Slot {
        std::uint64_t frame;
        std::uint8_t length;  // bytes kept (a long message: its first 16)
        std::uint8_t bytes[16];
    };
    jack_client_t* client = nullptr;
    jack_port_t* input = nullptr;
    std::uint32_t sampleRate = 0;
    std::unique_ptr<Slot[]> slots;
    std::atomic<std::uint32_t> count{0};
    std::atomic<std::uint32_t> lostCount{0};
    std::atomic<std::uint32_t> xrunCount{0};
};

struct ModelNote {
    double ms = 0;            // play-clock milliseconds from the song's start
    std::uint8_t status = 0;  // 0x8n or 0x9n (a note-on of velocity 0 is 0x8n)
    std::uint8_t note = 0;
};

// False when the file cannot be read.
bool noteTimesInClockModel(const std::string& path, std::vector<ModelNote>& notes);

struct TimingReport {
    std::size_t expected = 0;
    std::size_t received = 0;
    bool sameOrder = false;  // the same notes, in the same order
    std::string mismatch;    // the first difference, when not
    double worstMs = 0;      // largest |error| after aligning the first note
    double meanMs = 0;       // mean |error|
};

// The note-ons and note-offs among `messages` against `expected`, after
// aligning the first. `sliceFrames`: frames per 4-ms slice at the rate the
// recording ran (192 at 48000 Hz).
TimingReport compareTiming(const std::vector<ModelNote>& expected, const std::vector<RecordedMessage>& messages,
                           std::uint32_t rate, std::uint32_t sliceFrames);

}  // namespace brellin::bench
