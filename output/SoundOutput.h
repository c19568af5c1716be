// SoundOutput: the wave-output device, its ring of eight PCM buffers and the
// render thread that fills them. It is the engine's only clock.
//
// Every buffer is rendered in slices of 44/11025 s (16 per buffer in the
// ring songs use; see `setLatency`). Before each slice the
// render thread adds 4 to `clock` (milliseconds) and calls the installed
// slice clients (the Sequencer's tick, a live input, a session's watch; see
// SliceClients.h), then sums every attached source into
// a 32-bit accumulator on its stack and lets the selected conversion routine
// write 8- or 16-bit PCM, with reverb and low-pass filter on the way. When
// nothing plays it renders silence and the clock still advances.
//
// Threads:
//   - user-interface thread: construction, `setDevice`, `open`, `close`,
//     `chooseConverter`, the fields `reverbOn`, `lowPassOn`, `reverbLevel`,
//     `attachSource` / `detachSource` (through the Voices).
//   - any thread: `addSliceClient`, `removeSliceClient`.
//   - render thread (created by `open`): the slice clients, every source's
//     `mix`, the converter.
//   - device thread: only signals the wake event.
//
// The source list: `attachSource` and `detachSource` are serialized among
// themselves by a mutex the render thread never takes. They keep the linked
// list (`prev`/`next`, attach order) and publish, for the render thread, a
// null-terminated array of the listed sources through an atomic pointer. The
// render thread marks the array it walks in `sourcesInUse` for the length of
// one slice's mixing; a changed list is published first and the old array is
// freed only when the render thread no longer walks it. So `detachSource`
// returns only when the render thread can no longer call the source, and the
// caller may destroy it at once. The render thread itself takes no lock for
// this, allocates nothing and makes no system call.
//
// Choosing the device: `setDevice` before `open` (the device is kept across
// `close` and `open`; output/devices/AudioDevices.h makes them); without one,
// `open` fails with RESULT_DEVICE_ERROR.
//
// A device that pulls (a sound server such as JACK: `AudioDevice::pulls`)
// gets no ring and no render thread: it calls `renderFrames` from its own
// real-time thread for as many frames as it needs. Slices then keep their
// length, and the clock and the slice clients run at each slice's first
// frame; a stretch may end inside a slice, so the device can play a MIDI
// event between two calls at the frame it was stamped with.
//
// Rates: any from 11025 to 48000 Hz. A slice is rate × 44 / 11025 frames,
// rounded (192 at 48000 Hz, exactly 4 ms); the three classic rates keep
// their exact 44, 88 and 176.
//
// Offline rendering: give it a WavFileDevice. The render thread then runs as
// fast as the machine allows; the caller learns how far it has got from
// `clock` (4 per slice, 64 per buffer) or from a slice client of its own, which
// calls WavFileDevice::finish() when the render should end; the caller waits
// with WavFileDevice::waitEnded() and then calls `close`, which finalizes the
// file (see WavFileDevice.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "common/Event.h"
#include "common/ResultCode.h"
#include "output/AudioDevice.h"
#include "output/Converters.h"
#include "output/SliceClients.h"
#include "output/SoundSource.h"

namespace brellin {

// The effect state (`reverbLine`, `filterHistory`, `reverbIndex`,
// `filterIndex`, `reverbLast`, `reverbLevel`) comes from ConversionState,
// so the conversion routines work on the SoundOutput itself.
class SoundOutput : public ConversionState, private FrameRenderer {
public:
    static constexpr std::uint32_t BUFFER_COUNT = 8;  // buffers in the ring songs use
    static constexpr std::uint32_t SLICES_PER_BUFFER = 16;
    static constexpr std::uint32_t MAX_BUFFER_COUNT = 8;
    static constexpr std::uint32_t CLOCK_PER_SLICE = 4;  // ms the clock counts for a 44/11025-s slice
    // From this many buffers beyond the ring in one wake-up on, silence.
    static constexpr std::uint32_t CATCH_UP_EXTRA = 4;
    static constexpr std::uint32_t MIN_RATE = 11025;
    static constexpr std::uint32_t MAX_RATE = 48000;
    static constexpr std::uint32_t MAX_ACCUMULATOR = 384;  // 192 frames (48000 Hz) × 2 channels

    SoundOutput();
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // The backend of the next `open`; replaces (and closes) the previous
    // one. Only while closed (call `close` first).
    void setDevice(std::unique_ptr<AudioDevice> device);
    // The device in use or chosen; null before the first `open` without `setDevice`.
    AudioDevice* device() const { return audioDevice.get(); }

    // The ring of the next `open`: 0 (the default) is the ring songs use,
    // 8 buffers of 16 slices (512 ms); a smaller figure in milliseconds,
    // for live playing, rounds up to whole 4-ms slices (at least 2) in at
    // most 8 buffers: 12 ms is three buffers of one slice. Only while closed.
    void setLatency(std::uint32_t milliseconds);
    // Milliseconds of sound the ring holds (0 while closed).
    std::uint32_t ringMilliseconds() const { return bufferCount * slicesPerBuffer * CLOCK_PER_SLICE; }

    // Closes, then opens the device for `bits` (8 or 16; anything else is
    // 16), `rate` (11025 to 48000 Hz) and `channelCount` (1 or 2; anything
    // else is 2) and starts the render thread. A device that dictates the
    // format (JACK) changes the three first; read them back from the fields
    // below. False with lastError:
    //   RESULT_UNSUPPORTED_FORMAT  rate outside 11025 … 48000 (closed)
    //   RESULT_OUT_OF_MEMORY       thread or PCM block not created (closed)
    //   RESULT_DEVICE_ERROR        the device cannot be opened (the render
    //                              thread stays until the next `close`) or a
    //                              buffer cannot be written (closed);
    //                              `deviceErrorText()` says why.
    bool open(std::uint32_t bits, std::uint32_t rate, std::uint32_t channelCount);
    // Detaches every source, ends the render thread, resets and closes the
    // device. Always succeeds. `clock` and the slice clients stay.
    void close();
    // Picks `converter` from `bitsPerSample`, `channels`, `reverbOn` and
    // `lowPassOn`; call it after changing those flags.
    void chooseConverter();

    // Appends `source` to the list. A `channelCount` of 0 means the output's
    // `channels`. False when the source is null, already listed, or its
    // channel count differs from `channels` (a mono source may join a stereo
    // output). On success copies `sampleRate` and `bitsPerSample` into the
    // source, sets its channel count, `output` and pan 64 (centre). The
    // source's `mix` must be set before (or stay null: a source without a
    // mix routine is skipped).
    bool attachSource(SoundSource* source, std::uint32_t channelCount);
    // Calls the source's `stop`, unlinks it, and returns when the render
    // thread no longer uses it. Does nothing for a source that is not listed.
    // Never from a mix routine (it would wait for itself); from a slice
    // client it is allowed.
    void detachSource(SoundSource* source);
    // A routine called before each slice, in the order of its rank (see
    // SliceClients.h); 0 when the list is full. Any thread, also a client.
    SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) {
        return sliceClients.add(call, argument, order);
    }
    void removeSliceClient(SliceClientHandle handle) { sliceClients.remove(handle); }
    std::uint32_t sliceClientCount() const { return sliceClients.count(); }

    // True while open and rendering.
    bool isRunning() const { return running.load(std::memory_order_acquire); }
    // Why the device failed, for messages ("" when it did not).
    const char* deviceErrorText() const {
        return audioDevice ? audioDevice->errorText() : "no sound device was chosen";
    }
    // Bytes in one buffer of the ring; 0 while closed or when the device pulls.
    std::uint32_t bufferBytes() const { return bytesPerBuffer; }
    // Number of attached sources.
    std::uint32_t sourceCount() const;

    ResultCode lastError = RESULT_OK;
    std::uint32_t sampleRate = 11025;
    std::uint32_t bitsPerSample = 8;
    std::uint32_t channels = 1;
    std::uint32_t samplesPerSlice = 0;  // frames per slice: rate × 44 / 11025, rounded (44, 88, 176; 192)

    // Effect switches, written by engine start-up while the output plays;
    // call `chooseConverter` after changing them. (`reverbLevel` 1 … 6 is
    // in ConversionState.)
    std::atomic<bool> reverbOn{false};
    std::atomic<bool> lowPassOn{false};
    // The routine each slice uses; chosen by `chooseConverter`.
    std::atomic<ConverterRoutine> converter{nullptr};

    // Play clock in milliseconds: 0 at construction, never reset, +4 before
    // every rendered slice (so +64 per buffer). Any thread may read it.
    std::atomic<std::uint32_t> clock{0};

    // The stream of frames handed to the device since construction (rendered
    // slices and the silence of a catch-up or of a pulling device while
    // closed), and the frame at which the current slice began. A MIDI port
    // that plays a song in place of the synthesizer times its messages by
    // them. Render thread (the device's thread for a pulling device).
    std::uint64_t streamFrame() const noexcept { return streamFrames; }
    std::uint64_t sliceStartFrame() const noexcept { return sliceStart; }

private:
    static void deviceCallback(void* context) noexcept;
    void renderThreadMain() noexcept;
    bool renderBuffer(std::uint32_t count) noexcept;
    // The start of a slice: the clock and the slice clients.
    void startSlice() noexcept;
    // Mixes every source for `frames` frames (at most one slice) and converts
    // them to PCM at `out`; returns the position after them.
    std::uint8_t* renderStretch(std::uint8_t* out, std::uint32_t frames) noexcept;
    void renderFrames(std::uint8_t* out, std::uint32_t frames) noexcept override;
    std::uint64_t streamPosition() const noexcept override { return streamFrames; }
    void fillSilence(std::uint8_t* data, std::uint32_t length) const noexcept;
    // The three below: caller holds listMutex.
    bool publishSources();
    void retire(SoundSource* const* old);
    bool isListed(const SoundSource* source) const;
    void releaseResources();

    std::unique_ptr<AudioDevice> audioDevice;
    bool deviceOpen = false;
    std::unique_ptr<std::uint8_t[]> pcmBlock;
    std::uint32_t bytesPerBuffer = 0;
    WaveHeader headers[MAX_BUFFER_COUNT];
    std::uint32_t latencyChoice = 0;  // as given to setLatency
    std::uint32_t bufferCount = 0;    // buffers in the ring while open
    std::uint32_t slicesPerBuffer = 0;
    std::uint32_t nextBuffer = 0;       // render thread only while running
    std::uint32_t sliceFramesLeft = 0;  // frames of the current slice not yet rendered (pulling device)
    std::uint64_t streamFrames = 0;     // render thread (see streamFrame)
    std::uint64_t sliceStart = 0;
    std::atomic<bool> running{false};
    std::thread renderThread;
    Event wakeEvent;

    SliceClientList sliceClients;

    // The source list (see the header comment).
    mutable std::mutex listMutex;
    SoundSource* head = nullptr;
    SoundSource* tail = nullptr;
    std::uint32_t listedCount = 0;
    std::atomic<SoundSource* const*> publishedSources;
    std::atomic<SoundSource* const*> sourcesInUse{nullptr};
};

}  // namespace brellin
