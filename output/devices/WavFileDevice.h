// WavFileDevice: the offline backend. Writes exactly the PCM the render loop
// produces into a sound file and renders as fast as the machine allows: a
// WAV file (RIFF, PCM, 8-bit unsigned or 16-bit signed, mono or stereo) with
// our own writer, or FLAC, Ogg Vorbis, Opus or MP3 through libsndfile (a
// SoundFileWriter of `Options::type`; "-" is standard output).
//
// It has no thread of its own. `write` appends the buffer to the file and
// keeps it; `rendererWaiting` (called by the render thread when it has
// refilled every buffer it found done) hands all kept buffers back at once
// and signals the wake event. The render loop therefore produces at most one
// ring (eight buffers) per wake-up, never reaches the catch-up rule of twelve,
// and the bytes depend only on what was rendered, never on timing.
//
// Ending a render deterministically: call `finish()` from a slice client
// (render thread). The buffer whose slices are being rendered at that moment
// is the last one in the file; the device then stops handing buffers back,
// so the render thread sleeps, and `ended()` / `waitEnded()` report it. A
// frame limit ends the file after an exact number of frames instead. Then
// close the SoundOutput: `close` completes the file.
//
// The file's end can also be set after the fact: `finishAt(frames)` cuts it
// there even when a little more has been rendered already. The last two
// buffers' bytes always stay in the staging buffer until `close`, so frames
// rendered past that point never reach the file, which matters for files
// that cannot be cut later (a pipe, an encoder).
//
//     auto wav = std::make_unique<WavFileDevice>("out.wav", WavFileDevice::Options{});
//     WavFileDevice* device = wav.get();
//     output.setDevice(std::move(wav));
//     output.open(16, 44100, 2);      // callback calls device->finish() at the end
//     device->waitEnded(0);           // 0: no time limit
//     output.close();
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/Event.h"
#include "output/AudioDevice.h"
#include "output/files/SoundFileWriter.h"
#include "output/files/WavFileWriter.h"

namespace brellin {

class WavFileDevice : public AudioDevice {
public:
    struct Options {
        // Leave out the buffers of silence the SoundOutput queues at open
        // (eight buffers, 510.8 ms): the file starts with the first rendered slice.
        bool skipOpeningSilence = false;
        // Hand nothing back until `release()`: the render thread waits (clock
        // unchanged) while the caller attaches sources and installs its clock
        // callback, so that the first rendered slice is the same on every run.
        bool startHeld = false;
        // End the file after this many frames (0: no limit).
        std::uint64_t frameLimit = 0;
        // What kind of file `path` becomes.
        SoundFileType type = SoundFileType::Wav;
    };

    explicit WavFileDevice(std::string path);
    WavFileDevice(std::string path, const Options& options);
    ~WavFileDevice() override;

    bool open(const AudioFormat& format, std::uint32_t bufferBytes, std::uint32_t bufferCount, DeviceCallback callback,
              void* context) override;
    void pause() override;
    void restart() override;
    bool write(WaveHeader* header) noexcept override;
    void reset() override;
    void close() override;
    void rendererWaiting() noexcept override;
    const char* name() const override { return "wav"; }

    // Lets a device opened with `startHeld` start rendering. Any thread.
    void release();
    // The buffer being rendered now is the last one written. Any thread;
    // deterministic when called from a slice client.
    void finish() noexcept;
    // The file ends after `frameCount` frames (fewer when fewer were
    // rendered), and the buffer being rendered now is the last one. Any
    // thread, as long as no more than one buffer has been rendered past
    // `frameCount` when it is called (a render parked at the end of its last song).
    void finishAt(std::uint64_t frameCount) noexcept;
    // True once the file is complete (after `finish` or the frame limit).
    bool ended() const { return endedFlag.load(std::memory_order_acquire); }
    // Waits until `ended()`; 0 waits without limit. False on timeout.
    bool waitEnded(std::uint32_t milliseconds);
    // Frames written to the file so far.
    std::uint64_t framesWritten() const { return frames.load(std::memory_order_acquire); }

private:
    void handBack() noexcept;
    // Hands the staged bytes to the writer, all but the last `keep`.
    bool flush(std::uint32_t keep) noexcept;

    std::string path;
    Options options;
    std::unique_ptr<SoundFileWriter> writer;
    AudioFormat format;
    DeviceCallback callback = nullptr;
    void* context = nullptr;

    // Buffers written and not yet handed back, in order.
    std::unique_ptr<WaveHeader*[]> kept;
    std::uint32_t keptCount = 0;
    std::uint32_t capacity = 0;

    // Staging of file bytes so that the render thread rarely calls the
    // system (or the encoder); `holdBack` bytes (two buffers) stay in it.
    std::unique_ptr<std::uint8_t[]> staging;
    std::uint32_t stagingUsed = 0;
    std::uint32_t stagingSize = 0;
    std::uint32_t holdBack = 0;

    bool isOpen = false;
    bool paused = false;
    bool writeFailed = false;
    std::uint64_t dataBytes = 0;                         // bytes taken from the render (staged or handed on)
    std::uint64_t writtenBytes = 0;                      // bytes handed to the writer
    std::atomic<std::uint64_t> limitFrames{UINT64_MAX};  // UINT64_MAX: none
    std::atomic<std::uint64_t> frames{0};
    std::atomic<bool> held{false};
    std::atomic<bool> finishRequested{false};
    std::atomic<bool> endedFlag{false};
    Event endedEvent;
};

}  // namespace brellin
