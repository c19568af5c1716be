// JackDevice: Brellin as a client of a JACK server (or of PipeWire through
// its JACK library). It pulls: JACK's process callback renders each period
// straight into the two output ports, at the server's rate and period, so
// the only delay is the server's own.
//
// The client is named "brellin" (JACK adds a number when that is taken). It
// registers "out_left" and "out_right" and one MIDI input, "midi_in", whose
// events are handed to the MIDI receiver at their frame within the period:
// the period is rendered up to the event's frame, the event played, and the
// rest rendered after it. At `restart` the outputs are connected to the
// server's first two playback ports, unless BRELLIN_JACK_CONNECT=0.
//
// The sound is rendered as 16-bit stereo (the reverb and the filter work as
// on every device) and handed to JACK as floats. When the server goes away,
// `lost` turns true and `lostReason` says so; the SoundOutput's clock then
// stands still until the output is closed.
//
// Threads: `negotiate`, `open`, `restart`, `reset`, `close` on the thread
// that opens the SoundOutput; the process callback on JACK's real-time
// thread (no allocation, no lock, no system call of ours); the shutdown and
// port-connection callbacks on JACK's notification thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/AudioDevice.h"
#include "output/QueuedMidiPort.h"

namespace brellin {

// The environment variable that, set to 0, leaves the outputs unconnected.
inline constexpr const char* JACK_CONNECT_VARIABLE = "BRELLIN_JACK_CONNECT";

// The JACK MIDI inputs of other clients ("fluidsynth:midi_00"), for a
// message that lists the ports there are. Empty without a server.
std::vector<std::string> jackMidiInputPorts();

class JackDevice;

// The device's MIDI output "midi_out", connected to one destination port: a
// song played to another synthesizer. Song messages are written into the
// JACK period that holds their frame; messages sent at once go out at the
// end of the next period, after every song message given before them.
class JackMidiOutput : public QueuedMidiPort {
public:
    std::string destination() const override { return "jack:" + target; }
    void flush(std::uint32_t milliseconds) override;

private:
    friend class JackDevice;
    // Process callback: what falls into the period [start, start + frames).
    void writePeriod(void* buffer, std::uint64_t start, std::uint32_t frames) noexcept;

    std::string target;  // "CLIENT:PORT"
    std::atomic<bool> everConnected{false};
    std::atomic<bool> running{false};  // the process callback runs
};

class JackDevice : public AudioDevice {
public:
    // The most frames one period may have.
    static constexpr std::uint32_t MAX_PERIOD = 8192;

    // `clientName`: the name asked of the server.
    explicit JackDevice(std::string clientName = "brellin");
    ~JackDevice() override;

    bool negotiate(AudioFormat& format) override;
    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override;
    void pause() override {}
    // Activates the client and connects the outputs.
    void restart() override;
    bool write(WaveHeader*) noexcept override { return false; }
    // Deactivates the client: no process callback runs after it returns.
    void reset() override;
    void close() override;

    bool pulls() const override { return true; }
    void setRenderer(FrameRenderer* renderer) override { frameRenderer.store(renderer); }
    bool setMidiReceiver(MidiReceiver* receiver) override {
        midiReceiver.store(receiver);
        return true;
    }
    std::string portNames() const override;
    const char* name() const override { return "jack"; }
    const char* lostReason() const override { return reason; }

    // Before `open`: also register "midi_out" and connect it to the MIDI
    // input `port` ("CLIENT:PORT") at `restart`. `open` fails, listing the
    // ports there are, when no such port exists.
    void setMidiDestination(std::string port) { midiDestination = std::move(port); }
    // The MIDI output (null unless a destination was set and `open` succeeded).
    MidiOutPort* midiOutput() { return midiOut != nullptr ? &midiOutputPort : nullptr; }

    // The client's name as the server gave it ("brellin", "brellin-01"); empty before `negotiate`.
    std::string clientName() const;
    // Frames in the server's period (0 before `negotiate`).
    std::uint32_t periodFrames() const { return period.load(std::memory_order_relaxed); }

private:
    static int processCallback(jack_nframes_t frames, void* self);
    static void shutdownCallback(jack_status_t code, const char* why, void* self);
    static int xrunCallback(void* self);
    static int bufferSizeCallback(jack_nframes_t frames, void* self);
    static void connectCallback(jack_port_id_t a, jack_port_id_t b, int connected, void* self);
    int process(jack_nframes_t frames) noexcept;
    bool fail(const std::string& text);

    std::string requestedName;
    jack_client_t* client = nullptr;
    jack_port_t* left = nullptr;
    jack_port_t* right = nullptr;
    jack_port_t* midiIn = nullptr;
    jack_port_t* midiOut = nullptr;
    std::string midiDestination;
    JackMidiOutput midiOutputPort;
    bool active = false;
    std::unique_ptr<std::int16_t[]> scratch;  // one period of 16-bit stereo frames
    std::atomic<FrameRenderer*> frameRenderer{nullptr};
    std::atomic<MidiReceiver*> midiReceiver{nullptr};
    std::atomic<std::uint32_t> period{0};
    // Connections of the MIDI input: counted on the notification thread,
    // compared by the process callback, which tells the receiver when a
    // source has gone.
    std::atomic<int> midiSources{0};
    int midiSourcesSeen = 0;
    char reason[256] = {};
};

}  // namespace brellin
