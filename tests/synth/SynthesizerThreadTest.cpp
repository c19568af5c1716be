// The Synthesizer shared between threads the way the player uses it: MIDI
// data from its slice client on the render thread, the user's volume from
// another thread at any time, and the Sequencer's reset and system volume
// from a third thread under the lock that also guards its tick.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "SynthTestSupport.h"
#include "output/SoundOutput.h"
#include "output/devices/WavFileDevice.h"
#include "synth/Synthesizer.h"

namespace brellin {
namespace {

// Stands in for the Sequencer: its lock guards the tick and its own calls.
struct Player {
    Synthesizer* synth = nullptr;
    std::mutex lock;
    std::uint32_t slices = 0;
    std::atomic<std::uint32_t> notesSent{0};

    static void tick(void* argument) {
        Player& player = *static_cast<Player*>(argument);
        std::lock_guard<std::mutex> guard(player.lock);
        const std::uint32_t n = player.slices++;
        const auto key = static_cast<std::uint8_t>(36 + n % 48);
        const std::uint8_t channel = static_cast<std::uint8_t>(n % 16);
        const std::uint8_t bytes[] = {static_cast<std::uint8_t>(0x90 | channel),
                                      key,
                                      100,
                                      static_cast<std::uint8_t>(0xB0 | channel),
                                      7,
                                      static_cast<std::uint8_t>(n % 128),
                                      static_cast<std::uint8_t>(0x80 | ((n + 8) % 16)),
                                      static_cast<std::uint8_t>(36 + (n + 40) % 48),
                                      0,
                                      static_cast<std::uint8_t>(0xE0 | channel),
                                      static_cast<std::uint8_t>(n & 0x7F),
                                      0x40};
        player.synth->sendMidi(bytes, sizeof bytes);
        player.notesSent.fetch_add(1, std::memory_order_relaxed);
    }
};

TEST(SynthesizerThreads, VolumeAndResetFromOtherThreadsWhileRendering) {
    SoundOutput output;
    output.setDevice(std::make_unique<WavFileDevice>("/dev/null"));
    ASSERT_TRUE(output.open(16, 22050, 2));
    Synthesizer synth;
    const std::vector<std::uint8_t> font = test::smallTestFont().bytes();
    ASSERT_TRUE(synth.loadSoundFontFromMemory(font.data(), font.size()));
    ASSERT_TRUE(synth.createVoices(output, 16));
    Player player;
    player.synth = &synth;
    const SliceClientHandle tickClient = synth.addSliceClient(&Player::tick, &player, SliceOrder::Song);

    std::atomic<bool> stop{false};
    std::thread user([&] {
        std::int32_t volume = 0;
        while (!stop.load()) {
            synth.setUserVolume(volume);
            volume = (volume + 7) % 129;
        }
    });
    std::thread sequencer([&] {
        while (!stop.load()) {
            {
                std::lock_guard<std::mutex> guard(player.lock);
                synth.reset();
                synth.setSystemVolume(127);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (player.notesSent.load() < 3000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop.store(true);
    user.join();
    sequencer.join();
    synth.removeSliceClient(tickClient);
    EXPECT_GE(player.notesSent.load(), 3000u);
    // The render thread may still be inside a tick it began before the
    // callback was removed: end it before the voices go.
    output.close();
    synth.destroyVoices();
    EXPECT_GT(output.clock.load(), 0u);
}

}  // namespace
}  // namespace brellin
