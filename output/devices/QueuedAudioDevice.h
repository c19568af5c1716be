// QueuedAudioDevice: the buffer queue and device thread shared by the
// backends that play in real time (ALSA, null).
//
// `write` (render thread) puts the header into a single-producer,
// single-consumer ring and releases a semaphore: no lock, no allocation.
// The device thread takes the headers in order, lets the backend play each
// one (`playBuffer`), sets its `done` mark and calls the callback.
// `pause`, `restart`, `reset` and `close` come from the controlling thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>

#include "output/AudioDevice.h"

namespace brellin {

class QueuedAudioDevice : public AudioDevice {
public:
    ~QueuedAudioDevice() override;

    void pause() override;
    void restart() override;
    bool write(WaveHeader* header) noexcept override;
    void reset() override;

protected:
    // Starts the device thread (paused state off). False with RESULT_OUT_OF_MEMORY.
    bool startQueue(const AudioFormat& format, std::uint32_t bufferCount, DeviceCallback callback, void* context);
    // Ends the device thread; queued buffers stay queued.
    void stopQueue();
    // Marks every queued buffer done without calling the callback.
    void dropQueued();

    // Device thread: plays one buffer and returns when it has been played
    // (or early when `stopRequested()` turns true).
    virtual void playBuffer(const std::uint8_t* data, std::uint32_t length) = 0;
    // Device thread: playback resumes after a pause or at the start.
    virtual void playbackStarting() {}
    // Controlling thread, device thread ended: throw away what the device holds.
    virtual void dropPlayback() {}
    // Controlling thread: a stop was requested; wake `playBuffer` if it waits on the system.
    virtual void interruptPlayback() {}

    bool stopRequested() const { return stopping.load(std::memory_order_acquire); }
    // Whether an empty queue while playing counts as an underrun: yes for a
    // device paced by its own clock; ALSA counts the system's underruns instead.
    virtual bool starvedCounts() const { return true; }
    // Sleeps until `deadline` or until a stop; false when stopped.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    // Sleeps for the duration of `length` bytes of sound, from the device's own clock.
    bool paceLike(std::uint32_t length);

    AudioFormat format;

private:
    void threadMain();

    std::unique_ptr<WaveHeader*[]> ring;
    std::uint32_t ringSize = 0;
    std::atomic<std::uint32_t> written{0};  // headers put in (render thread)
    std::atomic<std::uint32_t> taken{0};    // headers handed back (device thread)
    std::counting_semaphore<> work{0};
    std::atomic<bool> paused{false};
    std::atomic<bool> stopping{false};
    DeviceCallback callback = nullptr;
    void* context = nullptr;
    std::thread thread;

    // Pacing clock of `paceLike`, and the interruptible sleep.
    std::mutex sleepMutex;
    std::condition_variable sleepCondition;
    std::chrono::steady_clock::time_point paceStart;
    std::uint64_t pacedFrames = 0;
    bool paceRunning = false;
};

}  // namespace brellin
