// A SynthesizerInterface that records what the Sequencer does with it: every
// sendMidi call, resets, volumes, and the clock-callback pair, with a play
// clock the test advances itself. Thread-safe, so that a test thread can act
// as the render thread while the Sequencer's play thread installs its callback.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "synth/SynthesizerInterface.h"

namespace brellin::testing {

class FakeSynthesizer : public SynthesizerInterface {
public:
    bool sendMidi(const std::uint8_t* bytes, std::uint32_t length) override {
        std::lock_guard<std::mutex> guard(mutex);
        messages.emplace_back(bytes, bytes + length);
        log.push_back("send");
        sentAtClock.push_back(clock.load());
        return true;
    }
    bool reset() override {
        std::lock_guard<std::mutex> guard(mutex);
        ++resets;
        log.push_back("reset");
        return true;
    }
    std::uint32_t outputTime() override { return clock.load(); }
    void setClockCallback(ClockCallback newCallback, void* newArgument, ClockCallback* oldCallback,
                          void** oldArgument) override {
        std::lock_guard<std::mutex> guard(mutex);
        if (oldCallback) *oldCallback = callback;
        if (oldArgument) *oldArgument = argument;
        callback = newCallback;
        argument = newArgument;
        log.push_back(newCallback == installedBefore ? "restore" : "install");
        condition.notify_all();
    }
    void setSystemVolume(std::int32_t value) override { systemVolume = value; }
    void setUserVolume(std::int32_t value) override { userVolume = value; }

    // One slice as the render loop does it: the clock advances by 4, then the
    // installed callback (read under the lock) runs outside the lock.
    void slice() {
        clock += 4;
        ClockCallback current;
        void* currentArgument;
        {
            std::lock_guard<std::mutex> guard(mutex);
            current = callback;
            currentArgument = argument;
        }
        if (current) current(currentArgument);
    }

    // Waits until a callback other than `installedBefore` is installed.
    bool waitInstalled(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> guard(mutex);
        return condition.wait_for(guard, limit, [this] { return callback && callback != installedBefore; });
    }

    ClockCallback currentCallback() {
        std::lock_guard<std::mutex> guard(mutex);
        return callback;
    }
    std::vector<std::string> logCopy() {
        std::lock_guard<std::mutex> guard(mutex);
        return log;
    }
    std::vector<std::vector<std::uint8_t>> messagesCopy() {
        std::lock_guard<std::mutex> guard(mutex);
        return messages;
    }
    void clearMessages() {
        std::lock_guard<std::mutex> guard(mutex);
        messages.clear();
        sentAtClock.clear();
    }

    // A callback installed before the Sequencer's (the pair it must chain to and put back).
    void preinstall(ClockCallback first, void* firstArgument) {
        std::lock_guard<std::mutex> guard(mutex);
        callback = installedBefore = first;
        argument = firstArgument;
    }

    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<std::uint32_t> clock{1000};
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<std::uint32_t> sentAtClock;
    std::vector<std::string> log;
    int resets = 0;
    std::atomic<std::int32_t> systemVolume{-1};
    std::atomic<std::int32_t> userVolume{-1};
    ClockCallback callback = nullptr;
    void* argument = nullptr;
    ClockCallback installedBefore = nullptr;
};

}  // namespace brellin::testing
