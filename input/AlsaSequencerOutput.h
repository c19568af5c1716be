// AlsaSequencerOutput: plays a song on another synthesizer through the ALSA
// sequencer: a sequencer client "Brellin" with the port "Song output",
// connected to one destination port (a hardware module's port, FluidSynth,
// TiMidity).
//
// The render thread queues each message with its frame (no system call). A
// sender thread takes them out every 2 ms and schedules them on a sequencer
// queue of its own in real time: frame F goes out at F / rate seconds plus a
// fixed offset, taken at the first message so that the render thread's head
// start (at most the output's ring) is always ahead of the queue. The
// sequencer then sends each message at its time, to the microsecond,
// however the threads were scheduled. Messages sent at once (resets, the
// volume) are scheduled at once, or right after the song's latest message
// when that is later, so a reset never overtakes the song's last notes.
//
// The sender also listens to the system's announcements: when the
// destination's port or client goes away, `lost` turns true.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "output/QueuedMidiPort.h"

namespace brellin {

class AlsaSequencerOutput : public QueuedMidiPort {
public:
    static constexpr const char* PORT_NAME = "Song output";

    AlsaSequencerOutput() = default;
    ~AlsaSequencerOutput() override;
    AlsaSequencerOutput(const AlsaSequencerOutput&) = delete;
    AlsaSequencerOutput& operator=(const AlsaSequencerOutput&) = delete;

    // Connects to `destination` ("128:0", "FLUID Synth", "FLUID Synth:0") for
    // an output of `rate` frames a second whose render thread runs at most
    // `headStartMs` ahead of what is heard. False with `error`, which lists
    // the ports there are when the destination is not one of them.
    bool open(const std::string& destination, std::uint32_t rate, std::uint32_t headStartMs, std::string& error);
    void close();

    std::string destination() const override { return destinationName; }
    void flush(std::uint32_t milliseconds) override;

    // The ports a song can be sent to, as "NAME CLIENT:PORT" ("FLUID Synth 128:0").
    static std::vector<std::string> listPorts();

private:
    void senderLoop();
    void sendQueued();
    void schedule(const MidiEventQueue::Message& message, std::int64_t at);
    void watchAnnouncements();

    snd_seq_t* sequencer = nullptr;
    int portId = -1;
    int queueId = -1;
    snd_seq_addr_t target{};
    std::string destinationName;
    std::uint32_t sampleRate = 44100;
    std::uint64_t headStartNs = 0;
    bool offsetKnown = false;
    std::int64_t offsetNs = 0;                  // queue time of frame 0
    std::atomic<std::int64_t> lastQueuedNs{0};  // the time of the latest message scheduled

    std::thread sender;
    std::atomic<bool> running{false};
};

}  // namespace brellin
