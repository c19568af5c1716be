// MidiEventQueue: timed MIDI messages from one producer thread to one
// consumer thread, lock-free, in a ring of bytes allocated once.
//
// A record is the message's frame, its length and its bytes. `push` and
// `peek`/`pop` never allocate, wait or call the system; a message that
// does not fit is refused (the producer counts it). Messages come out in the
// order they went in.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

namespace brellin {

class MidiEventQueue {
public:
    // The longest message a record holds (a longer system exclusive is refused).
    static constexpr std::uint32_t MAX_MESSAGE = 4096;

    explicit MidiEventQueue(std::uint32_t capacityBytes = 1u << 16)
        : capacity(capacityBytes), ring(new std::uint8_t[capacityBytes]) {}

    struct Message {
        std::uint64_t frame = 0;
        std::uint32_t length = 0;
        std::uint8_t bytes[MAX_MESSAGE];
    };

    // Producer.
    bool push(const std::uint8_t* bytes, std::uint32_t length, std::uint64_t frame) noexcept {
        if (length == 0 || length > MAX_MESSAGE) return false;
        const std::uint64_t head = written.load(std::memory_order_relaxed);
        const std::uint64_t tail = consumed.load(std::memory_order_acquire);
        const std::uint32_t size = HEADER + length;
        if (head - tail + size > capacity) return false;
        std::uint8_t header[HEADER];
        std::memcpy(header, &frame, 8);
        std::memcpy(header + 8, &length, 4);
        copyIn(head, header, HEADER);
        copyIn(head + HEADER, bytes, length);
        written.store(head + size, std::memory_order_release);
        return true;
    }

    // Consumer: the frame of the oldest message, false when empty.
    bool front(std::uint64_t& frame) const noexcept {
        const std::uint64_t tail = consumed.load(std::memory_order_relaxed);
        if (tail == written.load(std::memory_order_acquire)) return false;
        std::uint8_t header[HEADER];
        copyOut(tail, header, HEADER);
        std::memcpy(&frame, header, 8);
        return true;
    }
    // Consumer: takes the oldest message out into `message`; false when empty.
    bool pop(Message& message) noexcept {
        const std::uint64_t tail = consumed.load(std::memory_order_relaxed);
        if (tail == written.load(std::memory_order_acquire)) return false;
        std::uint8_t header[HEADER];
        copyOut(tail, header, HEADER);
        std::memcpy(&message.frame, header, 8);
        std::memcpy(&message.length, header + 8, 4);
        copyOut(tail + HEADER, message.bytes, message.length);
        consumed.store(tail + HEADER + message.length, std::memory_order_release);
        return true;
    }
    // Any thread: true when nothing is queued.
    bool empty() const noexcept {
        return consumed.load(std::memory_order_acquire) == written.load(std::memory_order_acquire);
    }
    // Consumer: drops everything queued now.
    void clear() noexcept { consumed.store(written.load(std::memory_order_acquire), std::memory_order_release); }

private:
    static constexpr std::uint32_t HEADER = 12;

    void copyIn(std::uint64_t at, const std::uint8_t* from, std::uint32_t length) noexcept {
        const std::uint32_t start = static_cast<std::uint32_t>(at % capacity);
        const std::uint32_t first = length < capacity - start ? length : capacity - start;
        std::memcpy(ring.get() + start, from, first);
        std::memcpy(ring.get(), from + first, length - first);
    }
    void copyOut(std::uint64_t at, std::uint8_t* to, std::uint32_t length) const noexcept {
        const std::uint32_t start = static_cast<std::uint32_t>(at % capacity);
        const std::uint32_t first = length < capacity - start ? length : capacity - start;
        std::memcpy(to, ring.get() + start, first);
        std::memcpy(to + first, ring.get(), length - first);
    }

    const std::uint32_t capacity;
    std::unique_ptr<std::uint8_t[]> ring;
    std::atomic<std::uint64_t> written{0};   // bytes ever pushed
    std::atomic<std::uint64_t> consumed{0};  // bytes ever popped
};

}  // namespace brellin
