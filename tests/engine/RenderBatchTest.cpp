// RenderBatch: names that never collide, and sessions on several threads at
// once that write what one session alone writes (random pan included, so
// the seeding of concurrent engines is covered too).
#include "engine/RenderBatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin;
using namespace brellin::testing;

TEST(RenderBatchNames, EachSongGetsItsOwnNameWithoutTakingAnother) {
    EXPECT_EQ(batchFileNames({"/m/a.mid", "/n/a.MID", "b.rmi", "/x/a-2.mid", "noext", "/o/a.mid"}, SoundFileType::Flac),
              (std::vector<std::string>{"a.flac", "a-3.flac", "b.flac", "a-2.flac", "noext.flac", "a-4.flac"}));
    EXPECT_EQ(batchFileNames({"song.tar.mid", "song.tar.mid"}, SoundFileType::Opus),
              (std::vector<std::string>{"song.tar.opus", "song.tar-2.opus"}));
    EXPECT_TRUE(batchFileNames({}, SoundFileType::Wav).empty());
}

TEST(RenderBatchRun, ConcurrentSongsEqualSingleRunsAndFailuresAreCounted) {
    TempDir dir;
    std::vector<BatchSong> songs;
    for (int i = 0; i < 4; ++i) {
        // Random pan (controller 10 value 0) on two channels, then notes.
        std::string body = bytes({0x00, 0xB0, 10, 0, 0x00, 0xB1, 10, 0});
        body += noteOn(0, 0, 55 + i, 100) + noteOn(0, 1, 62 + i, 100) +
                noteOff(static_cast<std::uint32_t>(96 + 24 * i), 0, 55 + i) + endOfTrack();
        songs.push_back({dir.write("song" + std::to_string(i) + ".mid", header(0, 1, 96) + track(body))});
    }
    songs.push_back({dir.write("bad.mid", "MThd but not a song")});
    songs.push_back({dir.path("unreadable.brl"), false});

    RenderOptions options;
    options.soundFont = std::string(BRELLIN_BINARY_DIR) + "/small.brf";
    options.seed = 1234;
    RenderBatch batch(options, dir.path("out"), SoundFileType::Wav, 3);
    std::filesystem::create_directories(dir.path("out"));
    const BatchOutcome outcome = batch.run(songs);
    EXPECT_EQ(outcome.rendered, 4u);
    EXPECT_EQ(outcome.failed, 2u);
    EXPECT_FALSE(outcome.engineFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.path("out/bad.wav")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("out/unreadable.wav")));

    for (int i = 0; i < 4; ++i) {
        const std::string name = "song" + std::to_string(i) + ".wav";
        RenderOptions single = options;
        single.outputPath = dir.path(name);
        RenderSession session(single);
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;
        ASSERT_TRUE(session.playFile(songs[static_cast<std::size_t>(i)].path));
        ASSERT_TRUE(session.finish(error)) << error;
        const std::string alone = dir.read(name);
        EXPECT_GT(alone.size(), 44u + 10000u);
        EXPECT_TRUE(dir.read("out/" + name) == alone) << name;
    }

    // A sound font that cannot be loaded stops the batch: every song would fail alike.
    options.soundFont = dir.path("missing.brf");
    RenderBatch broken(options, dir.path("out2"), SoundFileType::Wav, 2);
    std::filesystem::create_directories(dir.path("out2"));
    const BatchOutcome stopped = broken.run(songs);
    EXPECT_TRUE(stopped.engineFailed);
    EXPECT_EQ(stopped.rendered, 0u);
    EXPECT_LE(stopped.failed, 2u) << "at most one song per worker before it stops";
    EXPECT_TRUE(std::filesystem::is_empty(dir.path("out2")));
}
