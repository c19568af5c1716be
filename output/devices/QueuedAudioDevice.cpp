#include "output/devices/QueuedAudioDevice.h"

#include <new>
#include <system_error>

namespace brellin {

QueuedAudioDevice::~QueuedAudioDevice() { stopQueue(); }

bool QueuedAudioDevice::startQueue(const AudioFormat& newFormat, std::uint32_t bufferCount, DeviceCallback newCallback,
                                   void* newContext) {
    stopQueue();
    if (bufferCount == 0 || newFormat.blockSize() == 0 || newFormat.sampleRate == 0) {
        lastError = RESULT_DEVICE_ERROR;
        error = "invalid buffer geometry";
        return false;
    }
    ring.reset(new (std::nothrow) WaveHeader*[bufferCount]);
    if (!ring) {
        lastError = RESULT_OUT_OF_MEMORY;
        error = "out of memory for the buffer queue";
        return false;
    }
    ringSize = bufferCount;
    format = newFormat;
    callback = newCallback;
    context = newContext;
    written.store(0, std::memory_order_relaxed);
    taken.store(0, std::memory_order_relaxed);
    while (work.try_acquire()) {
    }
    paused.store(false, std::memory_order_relaxed);
    stopping.store(false, std::memory_order_relaxed);
    try {
        thread = std::thread([this] { threadMain(); });
    } catch (const std::system_error&) {
        lastError = RESULT_OUT_OF_MEMORY;
        error = "cannot start the device thread";
        return false;
    }
    return true;
}

void QueuedAudioDevice::stopQueue() {
    if (!thread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(sleepMutex);
        stopping.store(true, std::memory_order_release);
    }
    sleepCondition.notify_all();
    interruptPlayback();
    work.release();
    thread.join();
}

void QueuedAudioDevice::dropQueued() {
    if (!ring) return;
    const std::uint32_t end = written.load(std::memory_order_acquire);
    for (std::uint32_t t = taken.load(std::memory_order_relaxed); t != end; ++t) {
        ring[t % ringSize]->done.store(true, std::memory_order_release);
    }
    taken.store(end, std::memory_order_release);
}

void QueuedAudioDevice::pause() {
    paused.store(true, std::memory_order_release);
    work.release();
}

void QueuedAudioDevice::restart() {
    paused.store(false, std::memory_order_release);
    work.release();
}

bool QueuedAudioDevice::write(WaveHeader* header) noexcept {
    if (!ring || !header) return false;
    const std::uint32_t w = written.load(std::memory_order_relaxed);
    if (w - taken.load(std::memory_order_acquire) >= ringSize) return false;  // never with the SoundOutput's ring
    ring[w % ringSize] = header;
    written.store(w + 1, std::memory_order_release);
    work.release();
    return true;
}

void QueuedAudioDevice::reset() {
    stopQueue();
    dropPlayback();
    dropQueued();
}

bool QueuedAudioDevice::sleepUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(sleepMutex);
    sleepCondition.wait_until(guard, deadline, [this] { return stopping.load(std::memory_order_acquire); });
    return !stopping.load(std::memory_order_acquire);
}

bool QueuedAudioDevice::paceLike(std::uint32_t length) {
    using namespace std::chrono;
    if (!paceRunning) {
        paceStart = steady_clock::now();
        pacedFrames = 0;
        paceRunning = true;
    }
    pacedFrames += length / format.blockSize();
    // Deadlines from the start of playback, not from the last wake-up, so that sleeping late never drifts.
    const auto deadline =
        paceStart + duration_cast<steady_clock::duration>(nanoseconds(pacedFrames * 1000000000ull / format.sampleRate));
    return sleepUntil(deadline);
}

void QueuedAudioDevice::threadMain() {
    bool playing = false;
    bool justPlayed = false;  // a buffer ended and the queue has not been seen empty since
    for (;;) {
        work.acquire();
        for (;;) {
            if (stopping.load(std::memory_order_acquire)) return;
            if (paused.load(std::memory_order_acquire)) {
                playing = false;
                break;
            }
            const std::uint32_t t = taken.load(std::memory_order_relaxed);
            if (t == written.load(std::memory_order_acquire)) {
                // Playing and nothing queued: the listener hears a gap.
                if (playing && justPlayed && starvedCounts()) underruns.fetch_add(1, std::memory_order_relaxed);
                justPlayed = false;
                break;
            }
            if (!playing) {
                paceRunning = false;
                playbackStarting();
                playing = true;
            }
            WaveHeader* header = ring[t % ringSize];
            playBuffer(header->data, header->length);
            if (stopping.load(std::memory_order_acquire)) return;  // left queued: `dropQueued` hands it back
            header->done.store(true, std::memory_order_release);
            taken.store(t + 1, std::memory_order_release);
            justPlayed = true;
            callback(context);
        }
    }
}

}  // namespace brellin
