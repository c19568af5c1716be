#include "player/LiveInput.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/player/FakeSynthesizer.h"

namespace brellin {
namespace {

using Bytes = std::vector<std::uint8_t>;

LiveMessage kindOf(const Bytes& bytes) {
    return LiveInput::classify(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

TEST(LiveInput, TakesWholeChannelAndSystemExclusiveMessagesOnly) {
    EXPECT_EQ(kindOf({0x90, 60, 100}), LiveMessage::Channel);
    EXPECT_EQ(kindOf({0xC5, 10}), LiveMessage::Channel);
    EXPECT_EQ(kindOf({0xEF, 0, 64}), LiveMessage::Channel);
    EXPECT_EQ(kindOf({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), LiveMessage::SystemExclusive);
    EXPECT_EQ(kindOf({0xF8}), LiveMessage::Ignored);
    EXPECT_EQ(kindOf({0xF2, 0, 0}), LiveMessage::Ignored);
    // Cut short, too long, a status where data belongs, data without a status.
    EXPECT_EQ(kindOf({0x90, 60}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({0xC0, 1, 2}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({0x90, 60, 0x90}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({60, 100}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({0xF0, 1, 2}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({0xF0, 1, 0x90, 0xF7}), LiveMessage::Malformed);
    EXPECT_EQ(kindOf({}), LiveMessage::Malformed);
    Bytes huge(LiveInput::MAX_SYSTEM_EXCLUSIVE + 1, 0x11);
    huge.front() = 0xF0;
    huge.back() = 0xF7;
    EXPECT_EQ(kindOf(huge), LiveMessage::Malformed);
    huge.erase(huge.begin() + 1);
    EXPECT_EQ(kindOf(huge), LiveMessage::SystemExclusive);
}

// A keyboard thread floods the input while the render thread plays slices:
// every whole message arrives once, in order, none split, at most
// MAX_PER_SLICE a slice, and nothing plays once the input is detached.
TEST(LiveInput, AFloodFromAnotherThreadPlaysInOrderAcrossSlices) {
    // The level meter's listener hears every live note-on, the last one last.
    struct Meter : NoteOnListener {
        void notify() override { ++heard; }
        int heard = 0;
    } meter;
    testing::FakeSynthesizer synthesizer;
    LiveInput input(1 << 20);
    input.setNoteOnListener(&meter);
    ASSERT_TRUE(input.attach(synthesizer));
    EXPECT_EQ(synthesizer.clientCount(), 1u);

    constexpr int NOTES = 10000;
    std::atomic<bool> done{false};
    std::thread keyboard([&] {
        for (int i = 0; i < NOTES; ++i) {
            const std::uint8_t on[3] = {static_cast<std::uint8_t>(0x90 | (i & 15)), static_cast<std::uint8_t>(i & 127),
                                        100};
            while (!input.deliver(on, 3)) std::this_thread::yield();  // the queue was full
            if (i % 1000 == 0) {
                const std::uint8_t cut[2] = {0x90, 60};
                EXPECT_FALSE(input.deliver(cut, 2));
                const std::uint8_t clock[1] = {0xF8};
                EXPECT_FALSE(input.deliver(clock, 1));
            }
        }
        done = true;
    });
    std::size_t most = 0, before = 0;
    while (!done || synthesizer.messageCount() < NOTES) {
        synthesizer.slice();
        const std::size_t now = synthesizer.messageCount();
        most = std::max(most, now - before);
        before = now;
    }
    keyboard.join();

    const auto messages = synthesizer.messagesCopy();
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(NOTES));
    for (int i = 0; i < NOTES; ++i)
        ASSERT_EQ(messages[static_cast<std::size_t>(i)],
                  (Bytes{static_cast<std::uint8_t>(0x90 | (i & 15)), static_cast<std::uint8_t>(i & 127), 100}))
            << i;
    EXPECT_LE(most, LiveInput::MAX_PER_SLICE);
    EXPECT_EQ(meter.heard, NOTES);
    EXPECT_EQ(meter.channel, (NOTES - 1) & 15);
    EXPECT_EQ(meter.note, (NOTES - 1) & 127);
    EXPECT_EQ(meter.level, 100);
    EXPECT_EQ(input.played(), static_cast<std::uint64_t>(NOTES));
    EXPECT_EQ(input.refused(), 10u);  // the cut messages; clock bytes are not counted

    // The source goes away: its channels are released, then nothing more plays.
    synthesizer.clearMessages();
    input.releaseHeldNotes();
    synthesizer.slice();
    EXPECT_EQ(synthesizer.messagesCopy().size(), 32u);  // sustain off and all notes off, 16 channels
    EXPECT_EQ(synthesizer.messagesCopy()[1], (Bytes{0xB0, 123, 0}));
    input.detach();
    EXPECT_EQ(synthesizer.clientCount(), 0u);
    const std::uint8_t on[3] = {0x90, 60, 100};
    EXPECT_TRUE(input.deliver(on, 3));
    synthesizer.clearMessages();
    synthesizer.slice();
    EXPECT_TRUE(synthesizer.messagesCopy().empty());
}

// A device's MIDI input (JACK) plays on the render thread between two
// stretches of a period: at once, checked like a queued message, at most
// MAX_PER_SLICE in one slice; when its source goes away the channels it
// played are released.
TEST(LiveInput, ADeviceInputPlaysAtOnceWithinTheSliceBudget) {
    testing::FakeSynthesizer synthesizer;
    LiveInput input;
    const std::uint8_t on[3] = {0x93, 60, 100};
    input.receive(on, 3);  // not attached: nowhere to play
    ASSERT_TRUE(input.attach(synthesizer));
    synthesizer.slice();
    input.receive(on, 3);
    EXPECT_EQ(synthesizer.messagesCopy(), (std::vector<Bytes>{{0x93, 60, 100}}));
    const std::uint8_t cut[2] = {0x90, 60};
    input.receive(cut, 2);
    const std::uint8_t sense[1] = {0xFE};
    input.receive(sense, 1);
    EXPECT_EQ(input.refused(), 1u);

    for (std::uint32_t i = 0; i < LiveInput::MAX_PER_SLICE + 100; ++i) input.receive(on, 3);
    EXPECT_EQ(synthesizer.messageCount(), LiveInput::MAX_PER_SLICE);
    EXPECT_EQ(input.dropped(), 101u);
    synthesizer.slice();  // a new slice, a new budget
    input.receive(on, 3);
    EXPECT_EQ(synthesizer.messageCount(), LiveInput::MAX_PER_SLICE + 1);

    synthesizer.clearMessages();
    input.sourceGone();
    EXPECT_EQ(synthesizer.messagesCopy(), (std::vector<Bytes>{{0xB3, 64, 0}, {0xB3, 123, 0}}));
}

}  // namespace
}  // namespace brellin
