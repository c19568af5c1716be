#include "output/SoundOutput.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace brellin {
namespace {

// The published array of an empty list.
SoundSource* const noSources[1] = {nullptr};

bool isSupportedRate(std::uint32_t rate) { return rate >= SoundOutput::MIN_RATE && rate <= SoundOutput::MAX_RATE; }

// The delay line spans 512 frames at 11025 Hz (46.4 ms) at every rate:
// 512, 1024 and 2048 frames at the classic rates, 2229 at 48000 Hz.
std::uint32_t reverbFrames(std::uint32_t rate) { return rate * 512 / 11025; }

}  // namespace

SoundOutput::SoundOutput() : publishedSources(noSources) { chooseConverter(); }

SoundOutput::~SoundOutput() {
    close();
    SoundSource* const* last = publishedSources.load(std::memory_order_acquire);
    if (last != noSources) delete[] last;
}

void SoundOutput::setDevice(std::unique_ptr<AudioDevice> newDevice) {
    close();
    audioDevice = std::move(newDevice);
}

void SoundOutput::chooseConverter() {
    converter.store(selectConverter(bitsPerSample, reverbOn.load(std::memory_order_relaxed),
                                    lowPassOn.load(std::memory_order_relaxed), channels),
                    std::memory_order_release);
}

void SoundOutput::setLatency(std::uint32_t milliseconds) { latencyChoice = milliseconds; }

bool SoundOutput::open(std::uint32_t bits, std::uint32_t rate, std::uint32_t channelCount) {
    close();
    if (!isSupportedRate(rate)) {
        lastError = RESULT_UNSUPPORTED_FORMAT;
        return false;
    }
    if (!audioDevice) {
        lastError = RESULT_DEVICE_ERROR;
        releaseResources();
        return false;
    }

    AudioFormat format;
    format.sampleRate = rate;
    format.bitsPerSample = bits == 8 ? 8 : 16;
    format.channels = channelCount == 1 ? 1 : 2;
    // A sound server tells its own rate (and may refuse to run at all).
    if (!audioDevice->negotiate(format)) {
        lastError = RESULT_DEVICE_ERROR;
        releaseResources();
        return false;
    }
    if (!isSupportedRate(format.sampleRate)) {
        lastError = RESULT_UNSUPPORTED_FORMAT;
        releaseResources();
        return false;
    }
    const bool pulled = audioDevice->pulls();

    bitsPerSample = format.bitsPerSample == 8 ? 8 : 16;
    channels = format.channels == 1 ? 1 : 2;
    sampleRate = format.sampleRate;
    // Interleaved in stereo.
    reverbLast = channels * reverbFrames(sampleRate) - 1;
    // A slice is 44/11025 s, to the nearest frame.
    samplesPerSlice = (sampleRate * 44 + 11025 / 2) / 11025;
    reverbOn.store(false, std::memory_order_relaxed);
    lowPassOn.store(false, std::memory_order_relaxed);
    reverbIndex = 0;
    filterIndex = 0;
    chooseConverter();

    if (latencyChoice == 0 || latencyChoice >= BUFFER_COUNT * SLICES_PER_BUFFER * CLOCK_PER_SLICE) {
        bufferCount = BUFFER_COUNT;
        slicesPerBuffer = SLICES_PER_BUFFER;
    } else {
        const std::uint32_t slices =
            std::max<std::uint32_t>(2, (latencyChoice + CLOCK_PER_SLICE - 1) / CLOCK_PER_SLICE);
        slicesPerBuffer = (slices + MAX_BUFFER_COUNT - 1) / MAX_BUFFER_COUNT;
        bufferCount = (slices + slicesPerBuffer - 1) / slicesPerBuffer;
    }
    bytesPerBuffer = pulled ? 0 : slicesPerBuffer * samplesPerSlice * format.blockSize();

    if (pulled) {
        // No ring and no render thread: the device's thread renders.
        sliceFramesLeft = 0;
        std::memset(reverbLine, 0, sizeof reverbLine);
        std::memset(filterHistory, 0, sizeof filterHistory);
        audioDevice->setRenderer(this);
        if (!audioDevice->open(format, 0, 0, deviceCallback, this)) {
            lastError = RESULT_DEVICE_ERROR;
            releaseResources();
            return false;
        }
        deviceOpen = true;
        running.store(true, std::memory_order_release);
        audioDevice->restart();
        if (audioDevice->lastError != RESULT_OK) {
            lastError = audioDevice->lastError;
            releaseResources();
            return false;
        }
        return true;
    }

    wakeEvent.reset();
    pcmBlock.reset(new (std::nothrow) std::uint8_t[bufferCount * bytesPerBuffer]);
    bool created = pcmBlock != nullptr;
    if (created) {
        try {
            renderThread = std::thread([this] { renderThreadMain(); });
        } catch (const std::system_error&) {
            created = false;
        }
    }
    if (!created) {
        lastError = RESULT_OUT_OF_MEMORY;
        releaseResources();
        return false;
    }

    if (!audioDevice->open(format, bytesPerBuffer, bufferCount, deviceCallback, this)) {
        // The render thread and the PCM block stay until the next `close`.
        lastError = RESULT_DEVICE_ERROR;
        return false;
    }
    deviceOpen = true;

    audioDevice->pause();
    std::memset(reverbLine, 0, sizeof reverbLine);
    std::memset(filterHistory, 0, sizeof filterHistory);
    nextBuffer = 0;
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        WaveHeader& header = headers[i];
        header.data = pcmBlock.get() + i * bytesPerBuffer;
        header.length = bytesPerBuffer;
        header.done.store(false, std::memory_order_relaxed);
        // Played when the device restarts.
        fillSilence(header.data, header.length);
        if (!audioDevice->write(&header)) {
            lastError = RESULT_DEVICE_ERROR;
            releaseResources();
            return false;
        }
    }
    running.store(true, std::memory_order_release);
    audioDevice->restart();
    return true;
}

void SoundOutput::releaseResources() {
    running.store(false, std::memory_order_release);
    if (renderThread.joinable()) {
        wakeEvent.signal();
        renderThread.join();
    }
    if (deviceOpen) {
        audioDevice->reset();
        audioDevice->close();
        deviceOpen = false;
    }
    wakeEvent.reset();
    pcmBlock.reset();
    bytesPerBuffer = 0;
    bufferCount = 0;
    slicesPerBuffer = 0;
    for (WaveHeader& header : headers) {
        header.data = nullptr;
        header.length = 0;
        header.done.store(false, std::memory_order_relaxed);
    }
}

void SoundOutput::close() {
    // Sources are detached while the render thread still runs.
    for (;;) {
        SoundSource* first;
        {
            std::lock_guard<std::mutex> guard(listMutex);
            first = head;
        }
        if (!first) break;
        detachSource(first);
    }
    running.store(false, std::memory_order_release);
    releaseResources();
    bitsPerSample = 8;
    channels = 1;
    sampleRate = 11025;
    lastError = RESULT_OK;
}

void SoundOutput::deviceCallback(void* context) noexcept {
    auto* self = static_cast<SoundOutput*>(context);
    if (self->running.load(std::memory_order_acquire)) self->wakeEvent.signal();
}

void SoundOutput::renderThreadMain() noexcept {
    for (;;) {
        wakeEvent.wait();
        if (!running.load(std::memory_order_acquire)) return;
        std::uint32_t count = 0;
        while (renderBuffer(count)) ++count;
        audioDevice->rendererWaiting();
    }
}

void SoundOutput::fillSilence(std::uint8_t* data, std::uint32_t length) const noexcept {
    std::memset(data, bitsPerSample == 8 ? 0x80 : 0, length);
}

bool SoundOutput::renderBuffer(std::uint32_t count) noexcept {
    if (!running.load(std::memory_order_acquire)) return false;
    WaveHeader& header = headers[nextBuffer];
    if (!header.done.load(std::memory_order_acquire)) return false;  // the ring is full
    nextBuffer = (nextBuffer + 1) % bufferCount;
    header.done.store(false, std::memory_order_relaxed);

    if (count >= bufferCount + CATCH_UP_EXTRA) {
        // Fallen far behind: catch up with silence; the clock does not advance.
        fillSilence(header.data, header.length);
        streamFrames += header.length / (bitsPerSample / 8 * channels);
        audioDevice->write(&header);
        return true;
    }

    std::uint8_t* out = header.data;
    for (std::uint32_t slice = 0; slice < slicesPerBuffer; ++slice) {
        startSlice();
        out = renderStretch(out, samplesPerSlice);
    }
    audioDevice->write(&header);
    return true;
}

void SoundOutput::startSlice() noexcept {
    clock.fetch_add(CLOCK_PER_SLICE, std::memory_order_relaxed);
    sliceStart = streamFrames;
    sliceClients.callAll();
}

std::uint8_t* SoundOutput::renderStretch(std::uint8_t* out, std::uint32_t frames) noexcept {
    std::int32_t accumulator[MAX_ACCUMULATOR];
    const std::uint32_t values = frames * (channels == 2 ? 2 : 1);
    streamFrames += frames;
    std::memset(accumulator, 0, values * sizeof accumulator[0]);

    // Mark the array walked, then make sure it is still the published one:
    // a detach frees an array only after seeing it unmarked.
    SoundSource* const* sources;
    for (;;) {
        sources = publishedSources.load();
        sourcesInUse.store(sources);
        if (publishedSources.load() == sources) break;
    }
    for (SoundSource* const* s = sources; *s; ++s) {
        const MixRoutine mix = (*s)->mix.load(std::memory_order_acquire);
        if (mix) mix(*s, accumulator, frames);
    }
    sourcesInUse.store(nullptr, std::memory_order_release);

    return converter.load(std::memory_order_acquire)(*this, out, accumulator, static_cast<std::int32_t>(values));
}

void SoundOutput::renderFrames(std::uint8_t* out, std::uint32_t frames) noexcept {
    if (!running.load(std::memory_order_acquire)) {
        fillSilence(out, frames * (bitsPerSample / 8) * channels);
        streamFrames += frames;
        return;
    }
    while (frames > 0) {
        if (sliceFramesLeft == 0) {
            startSlice();
            sliceFramesLeft = samplesPerSlice;
        }
        const std::uint32_t stretch = frames < sliceFramesLeft ? frames : sliceFramesLeft;
        out = renderStretch(out, stretch);
        frames -= stretch;
        sliceFramesLeft -= stretch;
    }
}

bool SoundOutput::publishSources() {
    SoundSource** fresh = new (std::nothrow) SoundSource*[listedCount + 1];
    if (!fresh) return false;
    std::uint32_t i = 0;
    for (SoundSource* s = head; s; s = s->next) fresh[i++] = s;
    fresh[i] = nullptr;
    SoundSource* const* old = publishedSources.exchange(fresh);
    retire(old);
    return true;
}

void SoundOutput::retire(SoundSource* const* old) {
    // Wait until the render thread has left the old array (at most the mixing of one slice).
    while (sourcesInUse.load() == old) std::this_thread::yield();
    if (old != noSources) delete[] old;
}

bool SoundOutput::isListed(const SoundSource* source) const {
    for (const SoundSource* s = head; s; s = s->next) {
        if (s == source) return true;
    }
    return false;
}

bool SoundOutput::attachSource(SoundSource* source, std::uint32_t channelCount) {
    if (!source) return false;
    std::lock_guard<std::mutex> guard(listMutex);
    if (channelCount == 0) channelCount = channels;
    if (isListed(source)) return false;
    // A mono source may join a stereo output; otherwise the counts must match.
    if (channelCount != channels && !(channelCount == 1 && channels == 2)) return false;

    source->sampleRate = sampleRate;
    source->bits = bitsPerSample;
    source->channels = channelCount;
    source->pan.store(64, std::memory_order_relaxed);
    source->output = this;

    source->prev = tail;
    source->next = nullptr;
    (tail ? tail->next : head) = source;
    tail = source;
    ++listedCount;
    if (!publishSources()) {
        // No memory for the render thread's copy of the list: refuse.
        tail = source->prev;
        (tail ? tail->next : head) = nullptr;
        source->prev = nullptr;
        --listedCount;
        return false;
    }
    return true;
}

void SoundOutput::detachSource(SoundSource* source) {
    if (!source) return;
    std::lock_guard<std::mutex> guard(listMutex);
    if (!isListed(source)) return;
    // A pitched mix routine that is still called switches the voice off.
    source->stop();

    (source->prev ? source->prev->next : head) = source->next;
    (source->next ? source->next->prev : tail) = source->prev;
    source->prev = nullptr;
    source->next = nullptr;
    --listedCount;
    if (!publishSources()) {
        // No memory for a new copy: show the render thread an empty list while
        // the old copy is rebuilt in place (at worst one slice without sources).
        SoundSource* const* old = publishedSources.exchange(noSources);
        while (sourcesInUse.load() == old) std::this_thread::yield();
        if (old != noSources) {
            auto** writable = const_cast<SoundSource**>(old);
            std::uint32_t i = 0;
            for (SoundSource* s = head; s; s = s->next) writable[i++] = s;
            writable[i] = nullptr;
            publishedSources.store(old);
        }
    }
}

std::uint32_t SoundOutput::sourceCount() const {
    std::lock_guard<std::mutex> guard(listMutex);
    return listedCount;
}

}  // namespace brellin
