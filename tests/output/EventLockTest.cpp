// The lock of the clock-callback pair: mutual exclusion under contention, and
// event semantics (a thread other than the taker may release it).
#include "output/EventLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace brellin {
namespace {

TEST(EventLock, ExcludesUnderContention) {
    EventLock lock;
    long counter = 0;  // guarded only by the lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                lock.take();
                const long seen = counter;
                if (i % 64 == 0) std::this_thread::yield();  // hold it a while now and then
                counter = seen + 1;
                lock.release();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 4 * 20000);
}

TEST(EventLock, AnyThreadMayReleaseIt) {
    EventLock lock;
    lock.take();
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        lock.take();  // sleeps until the other thread signals
        acquired = true;
        lock.release();
    });
    std::thread releaser([&] { lock.release(); });
    releaser.join();
    waiter.join();
    EXPECT_TRUE(acquired.load());
    lock.take();  // signalled again after the waiter released it
    lock.release();
}

}  // namespace
}  // namespace brellin
