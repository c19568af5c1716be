// Event: an auto-reset event on a mutex and a condition variable.
//
// `signal` wakes one waiter (or the next one to wait); a successful `wait`
// clears the event again. Created unsignalled it is the render thread's wake
// event; created signalled and used as wait = take, signal = release it is a
// mutual-exclusion lock that any thread may release.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace brellin {

class Event {
public:
    explicit Event(bool signalled = false) : state(signalled) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void signal() {
        {
            std::lock_guard<std::mutex> guard(mutex);
            state = true;
        }
        condition.notify_one();
    }

    void wait() {
        std::unique_lock<std::mutex> guard(mutex);
        condition.wait(guard, [this] { return state; });
        state = false;
    }

    // False when the timeout ran out with the event still unsignalled.
    bool waitFor(std::uint32_t milliseconds) {
        std::unique_lock<std::mutex> guard(mutex);
        if (!condition.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return state; })) return false;
        state = false;
        return true;
    }

    void reset() {
        std::lock_guard<std::mutex> guard(mutex);
        state = false;
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool state;
};

// Milliseconds of the monotonic clock, truncated to 32 bits (wraps after 49.7 days).
inline std::uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace brellin
