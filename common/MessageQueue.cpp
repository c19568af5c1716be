#include "common/MessageQueue.h"

#include <algorithm>
#include <cstring>

namespace brellin {

MessageQueue::MessageQueue(std::uint32_t capacity) {
    std::uint32_t rounded = 1;
    const std::uint32_t least = std::max(capacity, 2 * (MAX_MESSAGE + HEADER));
    while (rounded < least) rounded <<= 1;
    size = rounded;
    mask = rounded - 1;
    ring = std::make_unique<std::uint8_t[]>(size);
}

void MessageQueue::copyIn(std::uint64_t at, const void* from, std::uint32_t count) {
    const std::uint32_t start = static_cast<std::uint32_t>(at) & mask;
    const std::uint32_t first = std::min(count, size - start);
    std::memcpy(ring.get() + start, from, first);
    std::memcpy(ring.get(), static_cast<const std::uint8_t*>(from) + first, count - first);
}

void MessageQueue::copyOut(std::uint64_t at, void* to, std::uint32_t count) const {
    const std::uint32_t start = static_cast<std::uint32_t>(at) & mask;
    const std::uint32_t first = std::min(count, size - start);
    std::memcpy(to, ring.get() + start, first);
    std::memcpy(static_cast<std::uint8_t*>(to) + first, ring.get(), count - first);
}

bool MessageQueue::push(const std::uint8_t* bytes, std::uint32_t length, std::uint64_t stamp) {
    if (bytes == nullptr || length == 0 || length > MAX_MESSAGE) return false;
    const std::uint64_t end = written.load(std::memory_order_relaxed);
    const std::uint64_t start = read.load(std::memory_order_acquire);
    if (end - start + HEADER + length > size) {
        droppedCount.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    copyIn(end, &length, 4);
    copyIn(end + 4, &stamp, 8);
    copyIn(end + HEADER, bytes, length);
    written.store(end + HEADER + length, std::memory_order_release);
    return true;
}

bool MessageQueue::peek(std::uint64_t& stamp) const {
    const std::uint64_t start = read.load(std::memory_order_relaxed);
    if (written.load(std::memory_order_acquire) == start) return false;
    copyOut(start + 4, &stamp, 8);
    return true;
}

std::uint32_t MessageQueue::pop(std::uint8_t* out, std::uint32_t room, std::uint64_t* stamp) {
    const std::uint64_t start = read.load(std::memory_order_relaxed);
    if (written.load(std::memory_order_acquire) == start) return 0;
    std::uint32_t length = 0;
    copyOut(start, &length, 4);
    if (stamp != nullptr) copyOut(start + 4, stamp, 8);
    if (out != nullptr) copyOut(start + HEADER, out, std::min(length, room));
    read.store(start + HEADER + length, std::memory_order_release);
    return length;
}

}  // namespace brellin
