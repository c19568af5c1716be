// A SynthesizerInterface that records what the Sequencer does with it: every
// sendMidi call, resets, volumes, and the slice clients (a real list), with a
// play clock the test advances itself. Thread-safe, so that a test thread can
// act as the render thread while the Sequencer's play thread adds its client.
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
    SliceClientHandle addSliceClient(ClockCallback call, void* argument, SliceOrder order) override {
        std::lock_guard<std::mutex> guard(mutex);
        log.push_back("install");
        const SliceClientHandle handle = clients.add(call, argument, order);
        condition.notify_all();
        return handle;
    }
    void removeSliceClient(SliceClientHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex);
        if (clients.remove(handle)) log.push_back("remove");
        condition.notify_all();
    }
    void setSystemVolume(std::int32_t value) override { systemVolume = value; }
    void setUserVolume(std::int32_t value) override { userVolume = value; }

    // One slice as the render loop does it: the clock advances by 4, then
    // the slice clients run (outside the lock).
    void slice() {
        clock += 4;
        clients.callAll();
    }

    // Waits until a client beside the preinstalled ones is listed.
    bool waitInstalled(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> guard(mutex);
        return condition.wait_for(guard, limit, [this] { return clients.count() > preinstalled; });
    }

    std::uint32_t clientCount() const { return clients.count(); }
    std::vector<std::string> logCopy() {
        std::lock_guard<std::mutex> guard(mutex);
        return log;
    }
    std::vector<std::vector<std::uint8_t>> messagesCopy() {
        std::lock_guard<std::mutex> guard(mutex);
        return messages;
    }
    std::size_t messageCount() {
        std::lock_guard<std::mutex> guard(mutex);
        return messages.size();
    }
    void clearMessages() {
        std::lock_guard<std::mutex> guard(mutex);
        messages.clear();
        sentAtClock.clear();
    }

    // Another slice client, listed before the Sequencer's (a session's
    // watch, called after every tick).
    void preinstall(ClockCallback other, void* otherArgument) {
        std::lock_guard<std::mutex> guard(mutex);
        clients.add(other, otherArgument, SliceOrder::Watch);
        ++preinstalled;
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
    SliceClientList clients;
    std::uint32_t preinstalled = 0;
};

}  // namespace brellin::testing
