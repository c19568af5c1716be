#include "output/SliceClients.h"

namespace brellin {

SliceClientHandle SliceClientList::add(ClockCallback call, void* argument, SliceOrder order) {
    if (call == nullptr) return 0;
    std::lock_guard<std::mutex> guard(listMutex);
    if (listedCount == CAPACITY) return 0;
    // After every client of the same or a lower rank.
    std::uint32_t at = listedCount;
    while (at > 0 && listed[at - 1].order > order) {
        listed[at] = listed[at - 1];
        --at;
    }
    const SliceClientHandle handle = nextHandle;
    nextHandle = nextHandle == 0xFFFFFFFFu ? 1 : nextHandle + 1;
    listed[at] = Listed{call, argument, order, handle};
    ++listedCount;
    publish();
    return handle;
}

bool SliceClientList::remove(SliceClientHandle handle) {
    if (handle == 0) return false;
    std::lock_guard<std::mutex> guard(listMutex);
    for (std::uint32_t i = 0; i < listedCount; ++i) {
        if (listed[i].handle != handle) continue;
        for (std::uint32_t j = i + 1; j < listedCount; ++j) listed[j - 1] = listed[j];
        --listedCount;
        listed[listedCount] = Listed{};
        publish();
        return true;
    }
    return false;
}

std::uint32_t SliceClientList::count() const {
    std::lock_guard<std::mutex> guard(listMutex);
    return listedCount;
}

void SliceClientList::publish() {
    // Odd while the table changes; a reader that saw it odd, or saw it
    // change during its copy, copies again. Each entry is stored with
    // release, so a reader that sees a new entry also sees the odd count.
    sequence.fetch_add(1, std::memory_order_acq_rel);
    for (std::uint32_t i = 0; i < CAPACITY; ++i) {
        published[i].call.store(i < listedCount ? listed[i].call : nullptr, std::memory_order_release);
        published[i].argument.store(i < listedCount ? listed[i].argument : nullptr, std::memory_order_release);
    }
    publishedCount.store(listedCount, std::memory_order_release);
    sequence.fetch_add(1, std::memory_order_release);
}

void SliceClientList::callAll() noexcept {
    Client copy[CAPACITY];
    std::uint32_t count;
    for (;;) {
        const std::uint32_t before = sequence.load(std::memory_order_acquire);
        if (before & 1u) continue;  // a writer is between its two counts
        // Acquire loads: the second look at the count cannot move before them.
        count = publishedCount.load(std::memory_order_acquire);
        if (count > CAPACITY) count = CAPACITY;
        for (std::uint32_t i = 0; i < count; ++i) {
            copy[i].call = published[i].call.load(std::memory_order_acquire);
            copy[i].argument = published[i].argument.load(std::memory_order_acquire);
        }
        if (sequence.load(std::memory_order_relaxed) == before) break;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (copy[i].call != nullptr) copy[i].call(copy[i].argument);
    }
}

}  // namespace brellin
