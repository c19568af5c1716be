// AudioDevice: the narrow interface between the SoundOutput and the system's
// sound output, a queue of PCM buffers that reports each buffer it has played.
//
// The SoundOutput owns one device. It opens it with the format and the ring
// geometry, pauses it, writes the eight buffers of silence, restarts it and
// from then on writes every buffer the render thread has filled. The device
// plays the buffers in the order written; when it is finished with one it
// sets that buffer's `done` mark (release store) and calls the callback,
// which only signals the render thread's wake event.
//
// Threads: `open`, `pause`, `restart`, `reset` and `close` run on the thread
// that opens and closes the SoundOutput (the user-interface thread). `write`
// and `rendererWaiting` run on the render thread and neither allocates nor
// takes a lock. The callback runs on the device's own thread (ALSA, null) or,
// for the offline WAV device, on the render thread inside `rendererWaiting`.
//
// The devices live in output/devices/, one source file each, and are made
// in one place from the table of device kinds (output/devices/AudioDevices.h):
// an ALSA PCM, the null device, a WAV recording in real time, a sound file
// rendered offline as fast as the machine allows.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ResultCode.h"

namespace brellin {

// One buffer of the ring. `data` and `length` are set by the SoundOutput
// before the buffer is written; the device sets `done` when it hands the
// buffer back, the render thread clears it when it refills the buffer.
struct WaveHeader {
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;  // bytes
    std::atomic<bool> done{false};
};

struct AudioFormat {
    std::uint32_t sampleRate = 11025;  // 11025 … 48000
    std::uint32_t bitsPerSample = 8;   // 8 (unsigned) or 16 (signed little-endian)
    std::uint32_t channels = 1;        // 1 or 2, first channel first
    std::uint32_t blockSize() const { return bitsPerSample * channels / 8; }  // bytes per frame
    std::uint32_t bytesPerSecond() const { return sampleRate * blockSize(); }
};

// Called once for every buffer the device hands back, after its `done` mark is set.
using DeviceCallback = void (*)(void* context) noexcept;

// What a pulling device renders with (the SoundOutput): `frames` frames of
// the negotiated format at `out`, advancing the clock as it goes. Called on
// the device's real-time thread only.
class FrameRenderer {
public:
    virtual void renderFrames(std::uint8_t* out, std::uint32_t frames) noexcept = 0;
    // Frames handed out by `renderFrames` so far (the output's stream position).
    virtual std::uint64_t streamPosition() const noexcept = 0;

protected:
    ~FrameRenderer() = default;
};

// Takes whole MIDI messages from a device that carries MIDI beside its sound
// (JACK). `receive` runs on the device's real-time thread between two calls
// of `renderFrames`, at the frame the message was stamped with; it must not
// block or allocate.
class MidiReceiver {
public:
    virtual void receive(const std::uint8_t* bytes, std::size_t size) noexcept = 0;
    // A source that played into the device went away: the notes it held
    // would hang. Same thread as `receive`.
    virtual void sourceGone() noexcept = 0;

protected:
    ~MidiReceiver() = default;
};

class AudioDevice {
public:
    AudioDevice() = default;
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;
    virtual ~AudioDevice() = default;

    // Opens the device for `format`. The SoundOutput writes buffers of
    // `bufferBytes` bytes and keeps at most `bufferCount` of them queued.
    // False with RESULT_DEVICE_ERROR (or RESULT_CANNOT_OPEN_FILE for a file
    // that cannot be created) in `lastError` and a readable reason in
    // `errorText()`; a failed open leaves nothing open.
    virtual bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount,
                      DeviceCallback callback, void* context) = 0;
    // Holds playback: buffers written from now on wait in the queue.
    virtual void pause() = 0;
    // Plays the queue again.
    virtual void restart() = 0;
    // Queues one buffer. Render thread; no allocation, no lock.
    virtual bool write(WaveHeader* header) noexcept = 0;
    // Stops at once, drops what is queued and marks every queued buffer done
    // (without calling the callback). Only `close` follows.
    virtual void reset() = 0;
    // Closes the device; a no-op when it is not open.
    virtual void close() = 0;
    // The render thread calls this each time it has refilled every buffer it
    // found done and is about to sleep on its wake event. A device that plays
    // in real time ignores it; the offline WAV device hands its buffers back
    // here, so that rendering runs as fast as possible yet never more than
    // one ring ahead per wake-up.
    virtual void rendererWaiting() noexcept {}

    // A sound server that runs at its own rate says so here, before `open`,
    // by changing `format` (and fails, with `errorText`, when there is no
    // server). Devices that take any format leave it alone.
    virtual bool negotiate(AudioFormat& format) {
        (void)format;
        return true;
    }
    // True for a device that pulls: it gets no buffers; from `restart` on it
    // calls the renderer given here from its own real-time thread until `reset`.
    virtual bool pulls() const { return false; }
    virtual void setRenderer(FrameRenderer* renderer) { (void)renderer; }
    // A device with a MIDI input of its own plays it into `receiver` (null:
    // nowhere) and returns true; the others return false.
    virtual bool setMidiReceiver(MidiReceiver* receiver) {
        (void)receiver;
        return false;
    }
    // The device's own ports for messages ("brellin:out_left"), empty for most.
    virtual std::string portNames() const { return {}; }

    // Name for messages: "alsa", "wav", "null".
    virtual const char* name() const = 0;
    // Why the last operation failed ("cannot open ALSA PCM \"default\": …"); empty when nothing failed.
    const char* errorText() const { return error.c_str(); }

    ResultCode lastError = RESULT_OK;
    // Times a real-time device ran dry: it needed the next buffer and none
    // was queued (ALSA: an underrun it recovered from). Device thread writes.
    std::atomic<std::uint32_t> underruns{0};
    // Set when the system took the device away while it played (the JACK
    // server quit). Device thread writes; `lostReason` says why once it is set.
    std::atomic<bool> lost{false};
    virtual const char* lostReason() const { return ""; }

protected:
    std::string error;
};

}  // namespace brellin
