// The 31 songs of Debian's openttd-openmsx, played offline on the real engine
// (SoundOutput with a WAV file, Synthesizer with small.brf, Sequencer), the
// way brellin-render plays them: every song loads, plays to its end, ends at
// the play clock its information scan gives, and sends as many note-ons as
// the file holds (counted here by a separate, plain reader of the format).
// The songs are installed by ./test.sh; without them this test fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/RenderSession.h"
#include "midi/MidiFileInfo.h"
#include "tests/TempDir.h"

using namespace brellin;
using namespace brellin::testing;

namespace {

const char* songFolder = "/usr/share/games/openttd/baseset/openmsx";

std::vector<std::string> songs() {
    std::vector<std::string> found;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(songFolder, failure)) {
        std::string name = entry.path().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mid") == 0) found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Note-on events (status 0x9n, any velocity) in a well-formed Standard MIDI
// File, each track read within its declared chunk length.
std::uint64_t countNoteOns(const std::string& file) {
    auto byte = [&](std::size_t i) -> std::uint32_t {
        return i < file.size() ? static_cast<std::uint8_t>(file[i]) : 0;
    };
    auto be32 = [&](std::size_t i) { return byte(i) << 24 | byte(i + 1) << 16 | byte(i + 2) << 8 | byte(i + 3); };
    std::uint64_t count = 0;
    std::size_t chunk = 8 + be32(4);
    while (chunk + 8 <= file.size()) {
        std::size_t end = std::min<std::size_t>(chunk + 8 + be32(chunk + 4), file.size());
        if (file.compare(chunk, 4, "MTrk") == 0) {
            std::size_t p = chunk + 8;
            std::uint32_t running = 0;
            auto varLen = [&]() {
                std::uint32_t value = 0;
                for (int i = 0; i < 4 && p < end; ++i) {
                    std::uint32_t b = byte(p++);
                    value = value << 7 | (b & 0x7F);
                    if (!(b & 0x80)) break;
                }
                return value;
            };
            while (p < end) {
                varLen();
                if (p >= end) break;
                std::uint32_t status = byte(p);
                if (status & 0x80) {
                    ++p;
                    if (status < 0xF0) running = status;
                } else {
                    status = running;
                }
                if (status == 0xFF) {
                    std::uint32_t type = byte(p++);
                    std::uint32_t length = varLen();
                    p += length;
                    if (type == 0x2F) break;
                } else if (status == 0xF0 || status == 0xF7) {
                    p += varLen();
                } else if ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) {
                    p += 1;
                } else if (status >= 0x80 && status < 0xF0) {
                    if ((status & 0xF0) == 0x90) ++count;
                    p += 2;
                } else {
                    p += 1;
                }
            }
        }
        chunk = end;
    }
    return count;
}

RenderOptions offlineOptions(const std::string& wavPath) {
    RenderOptions options;
    options.outputPath = wavPath;
    options.soundFont = std::string(BRELLIN_BINARY_DIR) + "/small.brf";
    // The timing and the messages do not depend on the format or the number
    // of voices: keep the file small and the mixing light (sanitizer builds).
    options.rate = 11025;
    options.bits = 8;
    options.channels = 1;
    options.voices = 8;
    return options;
}

}  // namespace

TEST(RealSongs, EveryOpenMsxSongPlaysToItsScannedEnd) {
    std::vector<std::string> files = songs();
    ASSERT_EQ(files.size(), 31u) << "the songs of openttd-openmsx are missing from " << songFolder
                                 << " (./test.sh installs the package)";
    TempDir dir;
    RenderSession session(offlineOptions(dir.path("corpus.wav")));
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    std::uint64_t totalClock = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        MidiFileInfo info;
        ASSERT_TRUE(scanMidiFile(file.c_str(), info));
        EXPECT_TRUE(info.complete);
        EXPECT_GT(info.playingTime, 10000u);

        std::uint64_t noteOnsBefore = session.noteOnsSent;
        ASSERT_TRUE(session.playFile(file));
        EXPECT_EQ(session.lastSongClock, info.playingTime);
        EXPECT_EQ(session.noteOnsSent - noteOnsBefore, countNoteOns(readAll(file)));
        totalClock += session.lastSongClock;
    }
    EXPECT_EQ(session.songsPlayed, 31u);
    ASSERT_TRUE(session.finish(error)) << error;
    // About 63.5 minutes of music; the file holds every song's slices (44
    // frames each at 11025 Hz) and the two slices between songs.
    std::uint64_t slices = totalClock / 4 + 2 * 30;
    EXPECT_EQ(std::filesystem::file_size(dir.path("corpus.wav")), 44 + slices * 44);
    EXPECT_GT(totalClock, 60u * 60000u);
}

TEST(RealSongs, RenderingIsDeterministic) {
    // The two shortest songs, one after the other, twice.
    std::vector<std::string> files = songs();
    ASSERT_GE(files.size(), 3u);
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return std::filesystem::file_size(a) < std::filesystem::file_size(b);
    });
    TempDir dir;
    std::string bytes[2];
    for (int run = 0; run < 2; ++run) {
        RenderOptions options = offlineOptions(dir.path("run" + std::to_string(run) + ".wav"));
        options.channels = 2;
        options.bits = 16;
        options.voices = 32;
        options.reverb = 3;
        options.lowPass = true;
        RenderSession session(options);
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;
        ASSERT_TRUE(session.playFile(files[0]));
        ASSERT_TRUE(session.playFile(files[1]));
        ASSERT_TRUE(session.finish(error)) << error;
        bytes[run] = readAll(options.outputPath);
    }
    ASSERT_GT(bytes[0].size(), 44u);
    EXPECT_TRUE(bytes[0] == bytes[1]);
}

TEST(RealSongs, FileStartsWithTheSongAndEndsWithIt) {
    // A song whose first note is at tick 0 and that lasts 96 ticks (500 ms):
    // the WAV holds exactly its 125 slices, and the first slice is not silent.
    TempDir dir;
    std::string song = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk" + std::string("\0\0\0\x0C", 4) +
                       std::string("\0\x90\x3C\x7F\x60\x80\x3C\0\0\xFF\x2F\0", 12);
    std::string path = dir.write("short.mid", song);
    RenderOptions options = offlineOptions(dir.path("short.wav"));
    RenderSession session(options);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(session.playFile(path));
    ASSERT_TRUE(session.finish(error)) << error;
    std::string wav = readAll(options.outputPath);
    ASSERT_EQ(wav.size(), 44u + 125u * 44u);
    bool sounding = false;
    for (std::size_t i = 44; i < 44 + 44; ++i) sounding |= static_cast<std::uint8_t>(wav[i]) != 0x80;
    EXPECT_TRUE(sounding);
}

TEST(RealSongs, RealTimePlayThroughTheNullDevice) {
    // The device path of brellin-render (no WAV file): the render thread runs
    // from the start, the first song's reset is carried out between slices,
    // and the song still ends at its scanned time.
    TempDir dir;
    std::string song = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk" + std::string("\0\0\0\x10", 4) +
                       std::string("\0\x90\x3C\x7F\0\x90\x40\x7F\x60\x80\x3C\0\0\xFF\x2F\0", 16);
    std::string path = dir.write("short.mid", song);
    RenderOptions options;
    options.soundFont = std::string(BRELLIN_BINARY_DIR) + "/small.brf";
    options.audioDevice = "null";
    RenderSession session(options);
    std::string error;
    ASSERT_TRUE(session.start(error)) << error;
    ASSERT_TRUE(session.playFile(path));
    EXPECT_EQ(session.lastSongClock, 500u);
    EXPECT_EQ(session.noteOnsSent, 2u);
    ASSERT_TRUE(session.playFile(path));
    EXPECT_EQ(session.lastSongClock, 500u);
    EXPECT_EQ(session.noteOnsSent, 4u);
    EXPECT_TRUE(session.finish(error)) << error;
}
