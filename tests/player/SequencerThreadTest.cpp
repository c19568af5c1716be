// The Sequencer with its play thread: a test thread (or the test itself)
// acts as the render loop and calls the listed slice clients.
#include "player/Sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"
#include "tests/player/FakeSynthesizer.h"

using namespace brellin;
using namespace brellin::testing;
using namespace std::chrono_literals;

namespace {

struct LoggingSongEnd : SongEndListener {
    explicit LoggingSongEnd(FakeSynthesizer& target) : synth(target) {}
    void notify() override {
        std::lock_guard<std::mutex> guard(synth.mutex);
        synth.log.push_back("songEnd");
        ++count;
    }
    FakeSynthesizer& synth;
    std::atomic<int> count{0};
};

// Another slice client, added before the Sequencer's.
std::atomic<int> earlierCalls{0};
void earlierCallback(void*) noexcept { ++earlierCalls; }

// Runs the render loop on its own thread until told to quit.
class RenderLoop {
public:
    explicit RenderLoop(FakeSynthesizer& target) : synth(target), thread([this] { run(); }) {}
    ~RenderLoop() { quit(); }
    void quit() {
        done = true;
        if (thread.joinable()) thread.join();
    }

private:
    void run() {
        while (!done) {
            synth.slice();
            std::this_thread::yield();
        }
    }
    FakeSynthesizer& synth;
    std::atomic<bool> done{false};
    std::thread thread;
};

std::size_t indexOf(const std::vector<std::string>& log, const std::string& what, std::size_t from = 0) {
    auto it = std::find(log.begin() + static_cast<std::ptrdiff_t>(from), log.end(), what);
    return static_cast<std::size_t>(it - log.begin());
}

std::string shortSong() { return header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(48, 0, 60) + endOfTrack()); }

}  // namespace

TEST(SequencerPlayThread, SongEndRemovesTheCallbackThenResetsThenNotifies) {
    TempDir dir;
    FakeSynthesizer synth;
    synth.preinstall(&earlierCallback, nullptr);
    earlierCalls = 0;
    LoggingSongEnd ended(synth);
    {
        Sequencer sequencer(&synth);
        sequencer.songEndListener = &ended;
        ASSERT_TRUE(sequencer.load(dir.write("a.mid", shortSong()).c_str()));
        ASSERT_TRUE(sequencer.play());
        ASSERT_TRUE(synth.waitInstalled());
        EXPECT_TRUE(sequencer.threadRunning);

        // Drive by hand: 48 ticks at 120 × 96 per minute take 63 slices.
        int slices = 0;
        while (sequencer.playing && slices < 1000) {
            synth.slice();
            ++slices;
        }
        EXPECT_EQ(slices, 63);
        EXPECT_EQ(earlierCalls, 63);  // called after every tick
        synth.slice();                // the next callback takes itself out
        EXPECT_EQ(synth.clientCount(), 1u) << "only the other client is left";

        // stop waits for the ending to be over
        EXPECT_TRUE(sequencer.stop());
        EXPECT_EQ(ended.count, 1);
        EXPECT_FALSE(sequencer.threadRunning);
        auto log = synth.logCopy();
        std::size_t install = indexOf(log, "install");
        std::size_t remove = indexOf(log, "remove", install);
        std::size_t reset = indexOf(log, "reset", remove);
        std::size_t songEnd = indexOf(log, "songEnd", reset);
        EXPECT_LT(install, remove);
        EXPECT_LT(remove, reset);
        EXPECT_LT(reset, songEnd);
        EXPECT_LT(songEnd, log.size());
        EXPECT_EQ(std::count(log.begin(), log.end(), "send"), 2);

        // A second stop calls no listener.
        EXPECT_TRUE(sequencer.stop());
        EXPECT_EQ(ended.count, 1);
    }
    EXPECT_EQ(ended.count, 1);
}

TEST(SequencerPlayThread, StopDuringATickThatIsSendingDoesNotDeadlock) {
    TempDir dir;
    FakeSynthesizer synth;
    LoggingSongEnd ended(synth);
    Sequencer sequencer(&synth);
    sequencer.songEndListener = &ended;
    // Many events in the first slice.
    std::string body;
    for (int i = 0; i < 50; ++i) body += noteOn(0, 0, 40 + i, 100);
    ASSERT_TRUE(sequencer.load(dir.write("b.mid", header(0, 1, 96) + track(body + endOfTrack(10000))).c_str()));

    // The first sendMidi blocks until stop has begun (playing is false);
    // then the render thread must still finish, and stop must return after
    // the reset and the notification — not after giving up.
    struct BlockingNoteOn : NoteOnListener {
        Sequencer* sequencer;
        std::atomic<bool> blocked{false};
        void notify() override {
            if (blocked.exchange(true)) return;
            while (sequencer->playing) std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);  // stop is now waiting
        }
    } listener;
    listener.sequencer = &sequencer;
    sequencer.noteOnListener = &listener;

    ASSERT_TRUE(sequencer.play());
    ASSERT_TRUE(synth.waitInstalled());
    RenderLoop render(synth);
    while (!listener.blocked) std::this_thread::sleep_for(1ms);
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(sequencer.stop());
    auto took = std::chrono::steady_clock::now() - started;
    render.quit();

    EXPECT_EQ(ended.count, 1);  // notified: the ending ran, stop did not give up
    EXPECT_LT(took, std::chrono::milliseconds(Sequencer::STOP_TIMEOUT));
    auto log = synth.logCopy();
    // The blocked note is sent; nothing after it.
    EXPECT_EQ(std::count(log.begin(), log.end(), "send"), 1);
    EXPECT_LT(indexOf(log, "remove"), indexOf(log, "reset", 1));
    EXPECT_EQ(synth.clientCount(), 0u);
}

TEST(SequencerPlayThread, StopWithoutARenderLoopGivesUpAndTakesTheCallbackOut) {
    TempDir dir;
    FakeSynthesizer synth;
    synth.preinstall(&earlierCallback, nullptr);
    LoggingSongEnd ended(synth);
    Sequencer sequencer(&synth);
    sequencer.songEndListener = &ended;
    ASSERT_TRUE(sequencer.load(dir.write("c.mid", shortSong()).c_str()));
    ASSERT_TRUE(sequencer.play());
    ASSERT_TRUE(synth.waitInstalled());
    int resetsBefore = synth.resets;
    EXPECT_TRUE(sequencer.stop());  // nobody calls the callback: 3000 ms, then gives up
    EXPECT_EQ(synth.clientCount(), 1u) << "only the other client is left";
    EXPECT_EQ(ended.count, 0);
    EXPECT_EQ(synth.resets, resetsBefore);
    EXPECT_FALSE(sequencer.threadRunning);
    // The Sequencer is usable again.
    ASSERT_TRUE(sequencer.play());
    ASSERT_TRUE(synth.waitInstalled());
    RenderLoop render(synth);
    while (sequencer.playing) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(sequencer.stop());
    EXPECT_EQ(ended.count, 1);
}

TEST(SequencerPlayThread, ResumeAfterStopContinuesTheSong) {
    TempDir dir;
    FakeSynthesizer synth;
    Sequencer sequencer(&synth);
    std::string body = noteOn(0, 0, 60, 100) + noteOff(96, 0, 60) + noteOn(0, 0, 62, 100) + endOfTrack();
    ASSERT_TRUE(sequencer.load(dir.write("d.mid", header(0, 1, 96) + track(body)).c_str()));
    ASSERT_TRUE(sequencer.play());
    ASSERT_TRUE(synth.waitInstalled());
    for (int i = 0; i < 10; ++i) synth.slice();
    std::thread stopper([&] { sequencer.stop(); });
    while (sequencer.playing) std::this_thread::yield();
    synth.slice();  // lets the callback take itself out
    stopper.join();
    EXPECT_EQ(synth.messagesCopy().size(), 1u);

    ASSERT_TRUE(sequencer.resume());
    ASSERT_TRUE(synth.waitInstalled());
    int slices = 0;
    while (sequencer.playing && slices < 1000) {
        synth.slice();
        ++slices;
    }
    // 96 ticks need 125 slices; 10 were played before the stop (7 ticks
    // of 7.68), the slice that saw the stop sent nothing.
    EXPECT_EQ(slices, 116);
    EXPECT_EQ(synth.messagesCopy().size(), 3u);
    synth.slice();
    sequencer.stop();
}

TEST(SequencerPlayThread, DestructionWhilePlayingEndsCleanly) {
    TempDir dir;
    FakeSynthesizer synth;
    LoggingSongEnd ended(synth);
    RenderLoop render(synth);
    {
        Sequencer sequencer(&synth);
        sequencer.songEndListener = &ended;
        // A song far longer than the test.
        ASSERT_TRUE(sequencer.load(
            dir.write("e.mid", header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(1000000, 0, 60) + endOfTrack()))
                .c_str()));
        ASSERT_TRUE(sequencer.play());
        ASSERT_TRUE(synth.waitInstalled());
        std::this_thread::sleep_for(5ms);
        EXPECT_TRUE(sequencer.playing);
    }  // destroyed while the render loop runs: its destructor stops
    EXPECT_EQ(ended.count, 1);
    EXPECT_EQ(synth.clientCount(), 0u);
    render.quit();
}

TEST(SequencerPlayThread, PlayWhilePlayingRestartsTheSong) {
    TempDir dir;
    FakeSynthesizer synth;
    LoggingSongEnd ended(synth);
    Sequencer sequencer(&synth);
    sequencer.songEndListener = &ended;
    ASSERT_TRUE(sequencer.load(dir.write("f.mid", shortSong()).c_str()));
    RenderLoop render(synth);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(sequencer.play());
    EXPECT_TRUE(sequencer.stop());
    EXPECT_EQ(ended.count, 20);  // every play ended the previous playing with a notification
    render.quit();
    EXPECT_EQ(synth.clientCount(), 0u);
}

TEST(SequencerPlayThread, SongEndListenerMayCallStop) {
    TempDir dir;
    FakeSynthesizer synth;
    Sequencer sequencer(&synth);
    struct StoppingListener : SongEndListener {
        Sequencer* sequencer = nullptr;
        std::atomic<int> count{0};
        void notify() override {
            sequencer->stop();  // on the play thread
            ++count;
        }
    } listener;
    listener.sequencer = &sequencer;
    sequencer.songEndListener = &listener;
    ASSERT_TRUE(sequencer.load(dir.write("g.mid", shortSong()).c_str()));
    RenderLoop render(synth);
    ASSERT_TRUE(sequencer.play());
    while (listener.count == 0) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(sequencer.stop());
    EXPECT_EQ(listener.count, 1);
}

TEST(SequencerPlayThread, PauseSeekSpeedAndKeyFromAnotherThreadWhileTheLoopRuns) {
    // The user-interface thread asks while the render loop ticks; the song
    // still ends by itself, once, with every note it started ended.
    TempDir dir;
    FakeSynthesizer synth;
    LoggingSongEnd ended(synth);
    std::string body;
    for (int i = 0; i < 40; ++i) body += noteOn(0, 0, 40 + i, 100) + noteOff(24, 0, 40 + i);
    Sequencer sequencer(&synth);
    sequencer.songEndListener = &ended;
    ASSERT_TRUE(sequencer.load(dir.write("a.mid", header(0, 1, 96) + track(body + endOfTrack())).c_str()));
    RenderLoop loop(synth);
    ASSERT_TRUE(sequencer.play());
    for (int round = 0; round < 20 && sequencer.playing; ++round) {
        sequencer.pause();
        std::this_thread::sleep_for(1ms);
        sequencer.setSpeed(50 + 10 * round);
        sequencer.setTranspose(round % 5 - 2);
        sequencer.resume();
        sequencer.seek(static_cast<std::uint32_t>(round * 40));
        (void)sequencer.position();
        std::this_thread::sleep_for(1ms);
    }
    sequencer.setSpeed(200);
    sequencer.resume();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (ended.count == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(ended.count, 1);
    loop.quit();
    // Every sounding pitch was ended: note-ons and note-offs pair up by key.
    int sounding[128] = {};
    for (const auto& message : synth.messagesCopy()) {
        if (message.size() != 3) continue;
        if ((message[0] & 0xF0) == 0x90 && message[2] != 0) ++sounding[message[1]];
        if ((message[0] & 0xF0) == 0x80) sounding[message[1]] = std::max(sounding[message[1]] - 1, 0);
    }
    EXPECT_EQ(std::count(std::begin(sounding), std::end(sounding), 0), 128);
}
