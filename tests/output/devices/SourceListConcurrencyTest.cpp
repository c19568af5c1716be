// The source list and the clock-callback pair under a running render thread:
// a detached source is never mixed again and may be destroyed at once, and a
// callback is never paired with another callback's argument. Run under
// ThreadSanitizer and AddressSanitizer by ./test.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "output/SoundOutput.h"
#include "output/devices/NullDevice.h"
#include "output/devices/WavFileDevice.h"
#include "tests/output/OutputTestSupport.h"

namespace brellin {
namespace {

std::atomic<int> mixedAfterDetach{0};
std::atomic<long> totalMixes{0};

class WatchedSource : public SoundSource {
public:
    WatchedSource() { mix.store(&mixRoutine); }
    static void mixRoutine(SoundSource* source, std::int32_t* accumulator, std::uint32_t frames) noexcept {
        auto* self = static_cast<WatchedSource*>(source);
        if (self->detached.load(std::memory_order_acquire)) mixedAfterDetach.fetch_add(1);
        self->mixes.fetch_add(1, std::memory_order_relaxed);
        totalMixes.fetch_add(1, std::memory_order_relaxed);
        accumulator[frames - 1] += 1;
    }
    std::atomic<bool> detached{false};
    std::atomic<int> mixes{0};
};

// The WAV device on /dev/null renders as fast as the machine allows.
std::unique_ptr<AudioDevice> fastDevice() { return std::make_unique<WavFileDevice>("/dev/null"); }

void churn(SoundOutput& output, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        auto source = std::make_unique<WatchedSource>();
        ASSERT_TRUE(output.attachSource(source.get(), 1));
        // Give the render thread a chance to mix it (bounded; not required).
        for (int spin = 0; spin < 200 && source->mixes.load() == 0; ++spin) std::this_thread::yield();
        output.detachSource(source.get());
        source->detached.store(true, std::memory_order_release);
        EXPECT_TRUE(source->stopRequest.load());
        // Destroyed at once: a later mix would be a use after free.
    }
}

TEST(SourceListConcurrency, DetachedSourcesAreNeverMixedAgain) {
    mixedAfterDetach = 0;
    totalMixes = 0;
    SoundOutput output;
    output.setDevice(fastDevice());
    ASSERT_TRUE(output.open(16, 11025, 2));
    // A few long-lived sources stay listed around the churn.
    WatchedSource resident[3];
    for (auto& s : resident) ASSERT_TRUE(output.attachSource(&s, 1));

    std::thread a([&] { churn(output, 400); });
    std::thread b([&] { churn(output, 400); });
    a.join();
    b.join();

    EXPECT_EQ(output.sourceCount(), 3u);
    output.close();
    EXPECT_EQ(mixedAfterDetach.load(), 0);
    EXPECT_GT(totalMixes.load(), 0);
    for (auto& s : resident) EXPECT_GT(s.mixes.load(), 0);
}

TEST(SourceListConcurrency, SourcesAttachedDuringRenderingKeepTheirOrder) {
    SoundOutput output;
    output.setDevice(fastDevice());
    ASSERT_TRUE(output.open(8, 22050, 1));
    std::vector<std::unique_ptr<WatchedSource>> sources;
    for (int i = 0; i < 64; ++i) {
        sources.push_back(std::make_unique<WatchedSource>());
        ASSERT_TRUE(output.attachSource(sources.back().get(), 0));
    }
    EXPECT_EQ(output.sourceCount(), 64u);
    const SoundSource* s = sources.front().get();
    for (int i = 1; i < 64; ++i) {
        ASSERT_EQ(s->next, sources[static_cast<std::size_t>(i)].get());
        ASSERT_EQ(sources[static_cast<std::size_t>(i)]->prev, s);
        s = s->next;
    }
    // Detach from the middle, the head and the tail while rendering.
    for (int i : {31, 0, 63, 32, 1}) output.detachSource(sources[static_cast<std::size_t>(i)].get());
    EXPECT_EQ(output.sourceCount(), 59u);
    output.close();
    EXPECT_EQ(output.sourceCount(), 0u);
}

struct Tagged {
    int tag;
    std::atomic<int>* mismatches;
};

void callbackOne(void* argument) {
    auto* t = static_cast<Tagged*>(argument);
    if (t->tag != 1) t->mismatches->fetch_add(1);
}

void callbackTwo(void* argument) {
    auto* t = static_cast<Tagged*>(argument);
    if (t->tag != 2) t->mismatches->fetch_add(1);
}

TEST(SourceListConcurrency, ASliceClientIsNeverSeenHalfChanged) {
    std::atomic<int> mismatches{0};
    Tagged one{1, &mismatches}, two{2, &mismatches};
    SoundOutput output;
    output.setDevice(fastDevice());
    ASSERT_TRUE(output.open(8, 11025, 1));
    const std::uint32_t start = output.clock.load();
    std::thread swapper([&] {
        // Until the render thread has rendered a good many slices (bounded).
        SliceClientHandle current = 0;
        for (int i = 0; i < 5000 || (i < 2000000 && output.clock.load() < start + 64 * 200); ++i) {
            const SliceClientHandle next = i % 2 ? output.addSliceClient(callbackOne, &one, SliceOrder::Song)
                                                 : output.addSliceClient(callbackTwo, &two, SliceOrder::Song);
            output.removeSliceClient(current);
            current = next;
        }
        output.removeSliceClient(current);
    });
    swapper.join();
    output.close();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(output.clock.load(), start);
}

TEST(NullDevice, RendersInRealTimeAndClosesWhileWaiting) {
    SoundOutput output;
    output.setDevice(std::make_unique<NullDevice>());
    ASSERT_TRUE(output.open(16, 44100, 2));
    testing::ConstantSource source(100, 100, 2);
    ASSERT_TRUE(output.attachSource(&source, 2));
    // Ten buffers are 0.64 s of sound; wait generously.
    for (int i = 0; i < 10000 && output.clock.load() < 640; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(output.clock.load(), 640u);
    EXPECT_GT(source.mixCalls.load(), 0u);
    EXPECT_EQ(output.device()->underruns.load(), 0u) << "a fed ring never runs dry";
    output.close();
    EXPECT_FALSE(output.isRunning());
    const std::uint32_t after = output.clock.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(output.clock.load(), after) << "nothing renders after close";
}

TEST(NullDevice, CountsARunDryQueueAsOneUnderrun) {
    // Two buffers of 4 ms and nothing after them: the device plays both,
    // then finds its queue empty while playing, once.
    NullDevice device;
    std::atomic<int> handedBack{0};
    auto callback = [](void* context) noexcept { static_cast<std::atomic<int>*>(context)->fetch_add(1); };
    AudioFormat format;
    ASSERT_TRUE(device.open(format, 44, 4, callback, &handedBack));
    std::uint8_t pcm[2][44] = {};
    WaveHeader headers[2];
    for (int i = 0; i < 2; ++i) {
        headers[i].data = pcm[i];
        headers[i].length = 44;
        ASSERT_TRUE(device.write(&headers[i]));
    }
    for (int i = 0; i < 2000 && handedBack.load() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(handedBack.load(), 2);
    EXPECT_EQ(device.underruns.load(), 1u);
    device.close();
}

}  // namespace
}  // namespace brellin
