// MessageQueue: whole messages of bytes (MIDI messages, a system exclusive
// message up to MAX_MESSAGE bytes) from one producer thread to one consumer
// thread, each with a time stamp, in order.
//
// A live MIDI input's reader thread pushes what it receives; the render
// thread pops it before the slice the message belongs to. Lock-free and
// allocation-free after construction: a ring of bytes whose two positions
// only grow (the producer writes `written`, the consumer `read`), each
// message stored as its length, its stamp and its bytes. A message that
// does not fit whole is dropped whole and counted; a reader never sees a
// part of one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace brellin {

class MessageQueue {
public:
    // The longest message taken (a longer system exclusive message is refused).
    static constexpr std::uint32_t MAX_MESSAGE = 8192;

    // Room for `capacity` bytes of messages and their headers, rounded up
    // to a power of two, at least 2 × (MAX_MESSAGE + header).
    explicit MessageQueue(std::uint32_t capacity = 65536);
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Producer. False (and nothing queued) when `length` is 0 or above
    // MAX_MESSAGE, or when the message does not fit now (counted in dropped).
    bool push(const std::uint8_t* bytes, std::uint32_t length, std::uint64_t stamp);
    // Consumer. The stamp of the next message; false when none is queued.
    bool peek(std::uint64_t& stamp) const;
    // Consumer. Copies the next message into `out` and takes it from the
    // queue; returns its length, 0 when none is queued. A message longer
    // than `room` is taken and its first `room` bytes copied.
    std::uint32_t pop(std::uint8_t* out, std::uint32_t room, std::uint64_t* stamp = nullptr);
    // Messages refused for want of room, since construction (any thread).
    std::uint64_t dropped() const { return droppedCount.load(std::memory_order_relaxed); }

private:
    static constexpr std::uint32_t HEADER = 12;  // length (4) + stamp (8)
    void copyIn(std::uint64_t at, const void* from, std::uint32_t count);
    void copyOut(std::uint64_t at, void* to, std::uint32_t count) const;

    std::unique_ptr<std::uint8_t[]> ring;
    std::uint32_t size;
    std::uint32_t mask;
    // Bytes ever written and read; the difference is what the ring holds.
    alignas(64) std::atomic<std::uint64_t> written{0};
    alignas(64) std::atomic<std::uint64_t> read{0};
    std::atomic<std::uint64_t> droppedCount{0};
};

}  // namespace brellin
