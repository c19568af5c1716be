// EventLock: an auto-reset event created signalled, used as a mutual-exclusion
// lock (take = wait, release = signal; any thread may release).
//
// The render thread takes and releases it around every slice's read of the
// clock-callback pair, so the uncontended path is one atomic exchange each
// way and never enters the kernel; only a taker that finds it taken sleeps
// (futex through std::atomic::wait), and only then does a release wake it.
#pragma once

#include <atomic>

namespace brellin {

class EventLock {
public:
    void take() noexcept {
        int expected = SIGNALLED;
        if (state.compare_exchange_strong(expected, TAKEN, std::memory_order_acquire)) return;
        // Contended: mark that someone waits, and sleep until it is signalled again.
        while (state.exchange(TAKEN_WITH_WAITERS, std::memory_order_acquire) != SIGNALLED) {
            state.wait(TAKEN_WITH_WAITERS, std::memory_order_relaxed);
        }
    }

    void release() noexcept {
        if (state.exchange(SIGNALLED, std::memory_order_release) == TAKEN_WITH_WAITERS) state.notify_one();
    }

private:
    static constexpr int SIGNALLED = 1;
    static constexpr int TAKEN = 0;
    static constexpr int TAKEN_WITH_WAITERS = -1;
    std::atomic<int> state{SIGNALLED};
};

}  // namespace brellin
