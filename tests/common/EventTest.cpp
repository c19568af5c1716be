#include "common/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace brellin;

TEST(Event, AutoResetsAfterOneWait) {
    Event event;
    EXPECT_FALSE(event.waitFor(0));
    event.signal();
    event.signal();  // signals do not count up
    EXPECT_TRUE(event.waitFor(0));
    EXPECT_FALSE(event.waitFor(0));
}

TEST(Event, SignalledEventIsALockAnyThreadMayRelease) {
    Event lock(true);
    int shared = 0;
    auto work = [&] {
        for (int i = 0; i < 10000; ++i) {
            lock.wait();
            ++shared;
            lock.signal();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(shared, 20000);
}

TEST(Event, WakesAWaitingThread) {
    Event wake;
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        wake.wait();
        woke = true;
    });
    wake.signal();
    waiter.join();
    EXPECT_TRUE(woke);
}
