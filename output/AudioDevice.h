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
    std::uint32_t sampleRate = 11025;  // 11025, 22050 or 44100
    std::uint32_t bitsPerSample = 8;   // 8 (unsigned) or 16 (signed little-endian)
    std::uint32_t channels = 1;        // 1 or 2, first channel first
    std::uint32_t blockSize() const { return bitsPerSample * channels / 8; }  // bytes per frame
    std::uint32_t bytesPerSecond() const { return sampleRate * blockSize(); }
};

// Called once for every buffer the device hands back, after its `done` mark is set.
using DeviceCallback = void (*)(void* context) noexcept;

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

    // Name for messages: "alsa", "wav", "null".
    virtual const char* name() const = 0;
    // Why the last operation failed ("cannot open ALSA PCM \"default\": …"); empty when nothing failed.
    const char* errorText() const { return error.c_str(); }

    ResultCode lastError = RESULT_OK;
    // Times a real-time device ran dry: it needed the next buffer and none
    // was queued (ALSA: an underrun it recovered from). Device thread writes.
    std::atomic<std::uint32_t> underruns{0};

protected:
    std::string error;
};

}  // namespace brellin
