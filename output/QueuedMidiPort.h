// QueuedMidiPort: the queues every MIDI port outside the program needs
// between the render thread and the thread that really sends (JACK's
// process callback, a sequencer sender thread).
//
// Song messages (`sendAt`, render thread) and messages sent at once
// (`sendNow`, any other thread, serialized by a mutex the render thread
// never takes) wait in two lock-free queues. Each message sent at once is
// stamped with the number of song messages queued before it, so the sending
// side takes them out in the order they were given (`next`): a message sent
// at once as soon as every song message before it has gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "output/MidiEventQueue.h"
#include "output/MidiOutPort.h"

namespace brellin {

class QueuedMidiPort : public MidiOutPort {
public:
    void sendAt(const std::uint8_t* bytes, std::uint32_t length, std::uint64_t frame) noexcept override {
        if (songQueue.push(bytes, length, frame)) {
            songPushed.fetch_add(1, std::memory_order_release);
        } else {
            droppedCount.fetch_add(1, std::memory_order_relaxed);
        }
    }
    void sendNow(const std::uint8_t* bytes, std::uint32_t length) override {
        std::lock_guard<std::mutex> guard(nowMutex);
        if (!nowQueue.push(bytes, length, songPushed.load(std::memory_order_acquire)))
            droppedCount.fetch_add(1, std::memory_order_relaxed);
    }
    bool lost() const override { return gone.load(std::memory_order_acquire); }
    std::string lostReason() const override {
        std::lock_guard<std::mutex> guard(reasonMutex);
        return reason;
    }
    std::uint64_t dropped() const override { return droppedCount.load(std::memory_order_relaxed); }

protected:
    enum class Next { None, Song, Now };

    // The sending side: which message comes next. For a song message,
    // `songFrame` gets its frame.
    Next next(std::uint64_t& songFrame) const noexcept {
        std::uint64_t stamp = 0;
        const bool song = songQueue.front(songFrame);
        if (nowQueue.front(stamp) && (stamp <= songTaken || !song)) return Next::Now;
        return song ? Next::Song : Next::None;
    }
    void takeSong(MidiEventQueue::Message& message) noexcept {
        songQueue.pop(message);
        ++songTaken;
    }
    void takeNow(MidiEventQueue::Message& message) noexcept { nowQueue.pop(message); }
    // A message sent at once waits (song messages before it may be held
    // back for a later time: they go out with it).
    bool nowWaiting() const noexcept { return !nowQueue.empty(); }
    bool allSent() const noexcept { return nowQueue.empty() && songQueue.empty(); }
    void countDropped() noexcept { droppedCount.fetch_add(1, std::memory_order_relaxed); }

    // Any thread: the destination has gone away; the first reason stays.
    void fail(const std::string& why) {
        {
            std::lock_guard<std::mutex> guard(reasonMutex);
            if (reason.empty()) reason = why;
        }
        gone.store(true, std::memory_order_release);
    }
    // Before the port is used again.
    void clearFailure() {
        std::lock_guard<std::mutex> guard(reasonMutex);
        reason.clear();
        gone.store(false, std::memory_order_release);
    }

private:
    MidiEventQueue songQueue;
    MidiEventQueue nowQueue;  // each stamped with the song messages queued before it
    std::mutex nowMutex;      // the senders of `sendNow` among themselves
    std::atomic<std::uint64_t> songPushed{0};
    std::uint64_t songTaken = 0;  // the sending side's
    std::atomic<std::uint64_t> droppedCount{0};
    std::atomic<bool> gone{false};
    mutable std::mutex reasonMutex;
    std::string reason;
};

}  // namespace brellin
