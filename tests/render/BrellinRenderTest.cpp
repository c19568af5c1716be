// brellin-render as a user runs it: options, exit status, --info, WAV output.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin::testing;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs brellin-render with `arguments` (already quoted), stdout captured, stderr to `errFile`.
Outcome render(const std::string& arguments, const std::string& errFile = "/dev/null") {
    std::string command = std::string("'") + BRELLIN_BINARY_DIR + "/brellin-render' " + arguments + " 2>'" + errFile + "'";
    Outcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string q(const std::string& path) { return "'" + path + "'"; }

// 96 ticks (500 ms, 125 slices) of one note, with a name.
std::string shortSong(const std::string& name = "Short") {
    return header(0, 1, 96) + track(meta(0, 0x03, name) + noteOn(0, 0, 60, 100) + noteOff(96, 0, 60) + endOfTrack());
}

}  // namespace

TEST(BrellinRender, UsageErrorsExitWith2) {
    EXPECT_EQ(render("").status, 2);
    EXPECT_EQ(render("--rate 32000 x.mid").status, 2);
    EXPECT_EQ(render("--bits 12 x.mid").status, 2);
    EXPECT_EQ(render("--voices 3 x.mid").status, 2);
    EXPECT_EQ(render("--voices 33 x.mid").status, 2);
    EXPECT_EQ(render("--reverb 7 x.mid").status, 2);
    EXPECT_EQ(render("--volume 129 x.mid").status, 2);
    EXPECT_EQ(render("--bogus x.mid").status, 2);
    EXPECT_EQ(render("-o").status, 2);
    Outcome help = render("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--soundfont PATH"), std::string::npos);
    EXPECT_EQ(render("--version").status, 0);
}

TEST(BrellinRender, EngineThatCannotStartExitsWith3) {
    TempDir dir;
    std::string song = dir.write("a.mid", shortSong());
    std::string err = dir.path("err.txt");
    EXPECT_EQ(render("--soundfont /nonexistent/font.brf -o " + q(dir.path("a.wav")) + " " + q(song), err).status, 3);
    EXPECT_NE(readAll(err).find("sound font"), std::string::npos);
    // A WAV file that cannot be created.
    EXPECT_EQ(render("-o /nonexistent/folder/a.wav " + q(song)).status, 3);
}

TEST(BrellinRender, UnplayableFileExitsWith1AndTheOthersPlay) {
    TempDir dir;
    std::string good = dir.write("good.mid", shortSong());
    std::string bad = dir.write("bad.mid", "MThd but not a song");
    std::string err = dir.path("err.txt");
    Outcome run = render("-q -o " + q(dir.path("out.wav")) + " " + q(bad) + " " + q(good), err);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(readAll(err).find(bad + ": Unsupported data."), std::string::npos);
    // The good song is in the file: 125 slices of 88 frames, 8-bit stereo.
    EXPECT_EQ(std::filesystem::file_size(dir.path("out.wav")), 44u + 125u * 88u * 2u);
    EXPECT_EQ(render("-q -o " + q(dir.path("ok.wav")) + " " + q(good)).status, 0);
}

TEST(BrellinRender, SeveralSongsGoOneAfterAnotherIntoOneFile) {
    TempDir dir;
    std::string song = dir.write("s.mid", shortSong());
    std::string list = dir.write("list.brl", "s.mid\r\n\r\n" + song + "\n");
    ASSERT_EQ(render("-q --rate 11025 --mono -o " + q(dir.path("two.wav")) + " " + q(list)).status, 0);
    // Two songs of 125 slices (44 frames each) and the two slices between them.
    EXPECT_EQ(std::filesystem::file_size(dir.path("two.wav")), 44u + (125u + 2u + 125u) * 44u);
}

TEST(BrellinRender, SameCommandGivesTheSameBytes) {
    TempDir dir;
    std::string a = dir.write("a.mid", shortSong());
    std::string b = dir.write("b.mid", header(0, 1, 96) + track(bytes({0x00, 0xB0, 0x0A, 0x00}) + noteOn(0, 0, 60, 100) +
                                                                noteOn(0, 0, 64, 100) + noteOff(192, 0, 60) + endOfTrack()));
    std::string options = "-q --bits 16 --reverb 4 --lowpass --seed 7 ";
    ASSERT_EQ(render(options + "-o " + q(dir.path("1.wav")) + " " + q(a) + " " + q(b) + " " + q(a)).status, 0);
    ASSERT_EQ(render(options + "-o " + q(dir.path("2.wav")) + " " + q(a) + " " + q(b) + " " + q(a)).status, 0);
    std::string first = readAll(dir.path("1.wav")), second = readAll(dir.path("2.wav"));
    EXPECT_GT(first.size(), 44u);
    EXPECT_TRUE(first == second);
}

TEST(BrellinRender, InfoPrintsOneKeyPerLine) {
    TempDir dir;
    std::string song = dir.write("info.mid", header(0, 1, 96) + track(meta(0, 0x02, "(c) Us") + meta(0, 0x03, "Named") +
                                                                      noteOn(0, 0, 60, 1) + noteOff(11520, 0, 60) + endOfTrack()));
    std::string other = dir.write("other.mid", shortSong("Second"));
    Outcome run = render("--info " + q(song) + " " + q(other));
    EXPECT_EQ(run.status, 0);
    std::string size = std::to_string(std::filesystem::file_size(song));
    EXPECT_EQ(run.out, "File: " + song + "\nTitle: Named\nCopyright: (c) Us\nSize: " + size +
                           " bytes\nLength: 1:00 (60000 ms)\n\nFile: " + other + "\nTitle: Second\nCopyright: \nSize: " +
                           std::to_string(std::filesystem::file_size(other)) + " bytes\nLength: 0:00 (500 ms)\n");
    EXPECT_EQ(render("--info /nonexistent/x.mid").status, 1);
}

TEST(BrellinRender, SongsThatNeverEndAreCutAtTheirMeasuredLength) {
    TempDir dir;
    // Format 1 without tracks never ends: measured 0 ms, cut after one slice.
    std::string empty = dir.write("empty.mid", header(1, 0, 96));
    ASSERT_EQ(render("-q -o " + q(dir.path("empty.wav")) + " " + q(empty)).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.path("empty.wav")), 44u + 1u * 88u * 2u);
    // Division 0: the clock never reaches the note-off; the note-on plays in
    // the first slice (4 ms measured), and the song is cut one slice later.
    std::string stalled = dir.write("stalled.mid", header(0, 1, 0) + track(noteOn(0, 0, 60, 100) + noteOff(10, 0, 60) + endOfTrack()));
    ASSERT_EQ(render("-q -o " + q(dir.path("stalled.wav")) + " " + q(stalled)).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.path("stalled.wav")), 44u + 2u * 88u * 2u);
}

TEST(BrellinRender, MaxLengthCutsOfflineSongsAndSaysSo) {
    // 120 s of one note: with --max-length 1 the file holds one minute,
    // stderr says where it stopped and what the file claims, and the song
    // counts as played (exit 0). The default of 60 minutes leaves it whole.
    TempDir dir;
    std::string song = dir.write("long.mid", header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(23040, 0, 60) + endOfTrack()));
    std::string err = dir.path("err.txt");
    ASSERT_EQ(render("-q --rate 11025 --mono --max-length 1 -o " + q(dir.path("cut.wav")) + " " + q(song), err).status, 0);
    EXPECT_EQ(readAll(err), "brellin-render: " + song + ": stopped after 1:00; the file claims 2:00\n");
    EXPECT_EQ(std::filesystem::file_size(dir.path("cut.wav")), 44u + 15000u * 44u);
    ASSERT_EQ(render("-q --rate 11025 --mono -o " + q(dir.path("whole.wav")) + " " + q(song), err).status, 0);
    EXPECT_EQ(readAll(err), "");
    EXPECT_EQ(std::filesystem::file_size(dir.path("whole.wav")), 44u + 30000u * 44u);
    EXPECT_EQ(render("--max-length -1 x.mid").status, 2);
}

TEST(BrellinRender, AudioDeviceOptionAndVariableChooseTheRealTimeDevice) {
    TempDir dir;
    std::string song = dir.write("s.mid", shortSong());
    // Recorded through the real-time path into a WAV file named by the option.
    ASSERT_EQ(render("-q --audio-device " + q("wav:" + dir.path("rec.wav")) + " " + q(song)).status, 0);
    EXPECT_GT(std::filesystem::file_size(dir.path("rec.wav")), 44u);
    // The variable, and the option over it.
    std::string err = dir.path("err.txt");
    ASSERT_EQ(setenv("BRELLIN_AUDIO_DEVICE", "null", 1), 0);
    EXPECT_EQ(render("-q " + q(song)).status, 0);
    EXPECT_EQ(render("-q --audio-device brellin-no-such-pcm " + q(song), err).status, 3);
    EXPECT_NE(readAll(err).find("brellin-no-such-pcm"), std::string::npos);
    unsetenv("BRELLIN_AUDIO_DEVICE");
}
