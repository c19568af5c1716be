// brellin-render builds its engine from Brellin.cfg beside the program, lets
// its options override the file without writing them back, and reads and
// writes play lists through the play-list model. The program and the default
// sound font are copied into a fresh folder so that the file beside them is
// the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "tests/TempDir.h"

using brellin::testing::TempDir;

namespace {

// A format-0 song: one note on channel 1, held a quarter note at 120 bpm.
std::string tinySong() {
    const unsigned char bytes[] = {'M', 'T', 'h',  'd',  0,   0,   0,    6,    0,    0,   0,    1,
                                   0,   96,  'M',  'T',  'r', 'k', 0,    0,    0,    12,  0x00, 0x90,
                                   60,  100, 0x60, 0x80, 60,  0,   0x00, 0xFF, 0x2F, 0x00};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

struct Program {
    TempDir dir;
    std::string exe;

    Program() {
        std::filesystem::copy_file(BRELLIN_BINARY_DIR "/brellin-render", dir.path("brellin-render"));
        std::filesystem::copy_file(BRELLIN_BINARY_DIR "/small.brf", dir.path("small.brf"));
        exe = dir.path("brellin-render");
    }

    int run(const std::string& arguments) const {
        std::string command = "'" + exe + "' -q " + arguments + " 2>'" + dir.path("stderr.txt") + "'";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Sample rate, bits and channels from a WAV header.
    struct Format {
        std::uint32_t rate = 0, bits = 0, channels = 0;
    };
    Format format(const std::string& name) const {
        std::string bytes = dir.read(name);
        Format f;
        if (bytes.size() < 44) return f;
        auto u16 = [&](std::size_t at) {
            return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8;
        };
        f.channels = u16(22);
        f.rate = u16(24) | u16(26) << 16;
        f.bits = u16(34);
        return f;
    }
};

}  // namespace

TEST(RenderSettings, FormatComesFromTheSettingsBesideTheProgram) {
    Program program;
    std::string song = program.dir.write("song.mid", tinySong());
    const std::string cfg = "[SoundSetting]\nSampleRate=44100\nBitRate=16\nfStereo=0\n";
    program.dir.write("Brellin.cfg", cfg);
    ASSERT_EQ(program.run("-o '" + program.dir.path("a.wav") + "' '" + song + "'"), 0)
        << program.dir.read("stderr.txt");
    Program::Format a = program.format("a.wav");
    EXPECT_EQ(a.rate, 44100u);
    EXPECT_EQ(a.bits, 16u);
    EXPECT_EQ(a.channels, 1u);
    // Options override the file and are not written back.
    ASSERT_EQ(program.run("--rate 11025 --bits 8 --stereo -o '" + program.dir.path("b.wav") + "' '" + song + "'"), 0);
    Program::Format b = program.format("b.wav");
    EXPECT_EQ(b.rate, 11025u);
    EXPECT_EQ(b.bits, 8u);
    EXPECT_EQ(b.channels, 2u);
    EXPECT_EQ(program.dir.read("Brellin.cfg"), cfg);
}

TEST(RenderSettings, MissingSoundFontOfTheSettingsFallsBackWithTheNote) {
    Program program;
    std::string song = program.dir.write("song.mid", tinySong());
    program.dir.write("Brellin.cfg", "[SoundSetting]\nSoundFontName=gone.brf\n");
    ASSERT_EQ(program.run("-o '" + program.dir.path("a.wav") + "' '" + song + "'"), 0);
    EXPECT_NE(
        program.dir.read("stderr.txt").find("[0000] : Because 'gone.brf' was not found, read 'small.brf' instead."),
        std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(program.dir.path("Brellin.cfg.tmp")));
}

TEST(RenderSettings, SaveListWritesTheSongsOnce) {
    Program program;
    std::string one = program.dir.write("one.mid", tinySong());
    std::string two = program.dir.write("two.MID", tinySong());
    std::string list = program.dir.path("out.brl");
    ASSERT_EQ(program.run("--save-list '" + list + "' '" + one + "' '" + two + "' '" + one + "'"), 0);
    EXPECT_EQ(program.dir.read("out.brl"), one + "\n" + two + "\n");
    EXPECT_FALSE(std::filesystem::exists(program.dir.path("a.wav")));  // nothing was played
}

// The songs the program plays, in order, as --info lists them.
std::vector<std::string> listed(const Program& program, const std::string& arguments) {
    std::string out = program.dir.path("info.txt");
    EXPECT_EQ(program.run("--info " + arguments + " >'" + out + "'"), 0);
    std::vector<std::string> files;
    std::string text = program.dir.read("info.txt");
    for (std::size_t at = text.find("File: "); at != std::string::npos; at = text.find("File: ", at + 1)) {
        files.push_back(text.substr(at + 6, text.find('\n', at) - at - 6));
    }
    return files;
}

TEST(RenderSettings, PlayListGivesEveryEntryOnceInListOrder) {
    Program program;
    std::string one = program.dir.write("one.mid", tinySong());
    std::string two = program.dir.write("two.mid", tinySong());
    std::string list = program.dir.write("l.brl", two + "\r\n" + one + "\nnotes.txt\n" + two + "\n");
    EXPECT_EQ(listed(program, "'" + list + "' '" + one + "'"), (std::vector<std::string>{two, one}));
}

TEST(RenderSettings, RandomPicksRepeatWithTheSeed) {
    Program program;
    std::string list;
    std::vector<std::string> songs;
    for (char c = 'a'; c <= 'f'; ++c) {
        songs.push_back(program.dir.write(std::string(1, c) + ".mid", tinySong()));
        list += songs.back() + "\n";
    }
    std::string brl = "'" + program.dir.write("l.brl", list) + "'";
    std::vector<std::string> first = listed(program, "--random --seed 5 " + brl);
    EXPECT_EQ(first.size(), songs.size());
    EXPECT_EQ(listed(program, "--random --seed 5 " + brl), first);
    EXPECT_NE(first, songs);  // a random order is not the list order
    ASSERT_EQ(program.run("--random --seed 5 -o '" + program.dir.path("r1.wav") + "' " + brl), 0);
    ASSERT_EQ(program.run("--random --seed 5 -o '" + program.dir.path("r2.wav") + "' " + brl), 0);
    EXPECT_EQ(program.dir.read("r1.wav"), program.dir.read("r2.wav"));
}
