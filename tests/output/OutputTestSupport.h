// Test sources, a scripted device and a reference render for the output tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "output/AudioDevice.h"
#include "output/Converters.h"
#include "output/SoundOutput.h"
#include "output/SoundSource.h"

namespace brellin::testing {

// Adds `first` to the first channel and `second` to the second of every frame.
class ConstantSource : public SoundSource {
public:
    ConstantSource(std::int32_t firstValue, std::int32_t secondValue, std::uint32_t outputChannels)
        : first(firstValue), second(secondValue), outChannels(outputChannels) {
        mix.store(&mixRoutine);
    }
    // Like a voice, a source leaves the list before it is destroyed.
    ~ConstantSource() override {
        if (output) output->detachSource(this);
    }
    static void mixRoutine(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept {
        auto* self = static_cast<ConstantSource*>(source);
        self->mixCalls.fetch_add(1, std::memory_order_relaxed);
        self->lastFrames.store(frames, std::memory_order_relaxed);
        for (std::uint32_t f = 0; f < frames; ++f) {
            if (self->outChannels == 2) {
                accumulator[2 * f] += self->first;
                accumulator[2 * f + 1] += self->second;
            } else {
                accumulator[f] += self->first;
            }
        }
    }
    void stop() override {
        SoundSource::stop();
        if (stopLog) stopLog->push_back(this);
    }

    std::int32_t first, second;
    std::uint32_t outChannels;
    std::atomic<std::uint32_t> mixCalls{0};
    std::atomic<std::uint32_t> lastFrames{0};
    std::vector<SoundSource*>* stopLog = nullptr;  // UI thread only
};

// A signal that depends only on how many frames have been mixed, never silent
// for a whole buffer: each rendered buffer is different and recognisable.
class CountingSource : public SoundSource {
public:
    CountingSource(std::uint32_t outputChannels, std::int32_t factor) : outChannels(outputChannels), scale(factor) {
        mix.store(&mixRoutine);
    }
    ~CountingSource() override {
        if (output) output->detachSource(this);
    }
    static std::int32_t valueAt(std::uint64_t frame) { return static_cast<std::int32_t>((frame * 37) % 199) - 99; }
    static void mixRoutine(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept {
        auto* self = static_cast<CountingSource*>(source);
        for (std::uint32_t f = 0; f < frames; ++f, ++self->frame) {
            const std::int32_t v = valueAt(self->frame) * self->scale;
            if (self->outChannels == 2) {
                accumulator[2 * f] += v;
                accumulator[2 * f + 1] += -v / 2;
            } else {
                accumulator[f] += v;
            }
        }
    }
    std::uint32_t outChannels;
    std::int32_t scale;
    std::uint64_t frame = 0;  // render thread
};

// What the render loop must produce for `buffers` buffers of a CountingSource
// with the effects off: slices of samplesPerSlice frames through the plain routine.
inline std::vector<std::uint8_t> referenceRender(std::uint32_t bits, std::uint32_t rate, std::uint32_t channels,
                                                 std::uint32_t buffers) {
    CountingSource source(channels, bits == 8 ? 1 : 256);
    ConversionState state;
    const ConverterRoutine routine = selectConverter(bits, false, false, channels);
    const std::uint32_t frames = (rate * 44 + 11025 / 2) / 11025;
    const std::uint32_t values = frames * channels;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(buffers) * 16 * values * (bits / 8));
    std::uint8_t* at = out.data();
    std::int32_t accumulator[SoundOutput::MAX_ACCUMULATOR];
    for (std::uint32_t s = 0; s < buffers * 16; ++s) {
        std::memset(accumulator, 0, sizeof accumulator);
        CountingSource::mixRoutine(&source, accumulator, frames);
        at = routine(state, at, accumulator, static_cast<std::int32_t>(values));
    }
    return out;
}

inline bool isSilence(const std::uint8_t* data, std::size_t length, std::uint32_t bits) {
    const std::uint8_t silence = bits == 8 ? 0x80 : 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] != silence) return false;
    }
    return true;
}

// A device driven by the test: it records every buffer written and hands
// buffers back only when told (`handBack`), or at once inside `write` for
// the next `autoReturn` writes.
class ScriptedDevice : public AudioDevice {
public:
    bool open(const AudioFormat& newFormat, std::uint32_t newBufferBytes, std::uint32_t newBufferCount,
              DeviceCallback newCallback, void* newContext) override {
        std::lock_guard<std::mutex> guard(mutex);
        ++opens;
        if (failOpen) {
            lastError = RESULT_DEVICE_ERROR;
            error = "scripted failure";
            return false;
        }
        format = newFormat;
        bufferBytes = newBufferBytes;
        bufferCount = newBufferCount;
        callback = newCallback;
        context = newContext;
        isOpen = true;
        writes.clear();
        pending.clear();
        return true;
    }
    void pause() override {
        std::lock_guard<std::mutex> guard(mutex);
        paused = true;
    }
    void restart() override {
        std::lock_guard<std::mutex> guard(mutex);
        paused = false;
        ++restarts;
    }
    bool write(WaveHeader* header) noexcept override {
        bool returnNow = false;
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (failWriteAt >= 0 && static_cast<int>(writes.size()) == failWriteAt) return false;
            writes.emplace_back(header->data, header->data + header->length);
            writtenWhilePaused.push_back(paused);
            if (autoReturn > 0) {
                --autoReturn;
                returnNow = true;
            } else {
                pending.push_back(header);
            }
        }
        condition.notify_all();
        if (returnNow) {
            header->done.store(true, std::memory_order_release);
            callback(context);
        }
        return true;
    }
    void reset() override {
        std::lock_guard<std::mutex> guard(mutex);
        for (WaveHeader* h : pending) h->done.store(true);
        pending.clear();
        ++resets;
    }
    void close() override {
        std::lock_guard<std::mutex> guard(mutex);
        isOpen = false;
        ++closes;
    }
    const char* name() const override { return "scripted"; }
    void rendererWaiting() noexcept override {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ++idles;
        }
        condition.notify_all();
    }
    // Waits (bounded) until the render thread has gone back to sleep `n` times in all.
    bool waitIdles(int n) {
        std::unique_lock<std::mutex> guard(mutex);
        return condition.wait_for(guard, std::chrono::seconds(20), [&] { return idles >= n; });
    }

    // Hands the `n` oldest queued buffers back: all marked done before the first callback.
    void handBack(std::size_t n) {
        std::vector<WaveHeader*> done;
        {
            std::lock_guard<std::mutex> guard(mutex);
            while (n-- > 0 && !pending.empty()) {
                done.push_back(pending.front());
                pending.erase(pending.begin());
            }
        }
        for (WaveHeader* h : done) h->done.store(true, std::memory_order_release);
        for (std::size_t i = 0; i < done.size(); ++i) callback(context);
    }
    void setAutoReturn(int n) {
        std::lock_guard<std::mutex> guard(mutex);
        autoReturn = n;
    }
    // Waits (bounded, generously) until `n` buffers have been written.
    bool waitWrites(std::size_t n) {
        std::unique_lock<std::mutex> guard(mutex);
        return condition.wait_for(guard, std::chrono::seconds(20), [&] { return writes.size() >= n; });
    }
    std::vector<std::vector<std::uint8_t>> written() {
        std::lock_guard<std::mutex> guard(mutex);
        return writes;
    }
    std::size_t writeCount() {
        std::lock_guard<std::mutex> guard(mutex);
        return writes.size();
    }

    std::mutex mutex;
    std::condition_variable condition;
    bool failOpen = false;
    int failWriteAt = -1;
    int autoReturn = 0;
    int opens = 0, closes = 0, resets = 0, restarts = 0, idles = 0;
    bool paused = false, isOpen = false;
    AudioFormat format;
    std::uint32_t bufferBytes = 0, bufferCount = 0;
    DeviceCallback callback = nullptr;
    void* context = nullptr;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<bool> writtenWhilePaused;
    std::vector<WaveHeader*> pending;
};

// A device that pulls, as a sound server does, at 48000 Hz, 16-bit stereo:
// its user asks the renderer for frames in pieces of any size, as JACK's
// periods and MIDI events cut them.
class PullingDevice : public AudioDevice {
public:
    bool negotiate(AudioFormat& format) override {
        format.sampleRate = 48000;  // the server's rate wins over the one asked for
        format.bitsPerSample = 16;
        format.channels = 2;
        return true;
    }
    bool open(const AudioFormat&, std::uint32_t, std::uint32_t, DeviceCallback, void*) override { return true; }
    void pause() override {}
    void restart() override {}
    bool write(WaveHeader*) noexcept override { return false; }
    void reset() override {}
    void close() override {}
    bool pulls() const override { return true; }
    void setRenderer(FrameRenderer* r) override { renderer = r; }
    const char* name() const override { return "pulling"; }
    FrameRenderer* renderer = nullptr;
};

}  // namespace brellin::testing
