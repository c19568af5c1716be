// brellin-render as a user runs it: options, exit status, --info, WAV output,
// the other file types, pipes and whole batches.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/CommandRun.h"
#include "tests/SoundFileReadBack.h"
#include "tests/TempDir.h"
#include "tests/midi/MidiBytes.h"

using namespace brellin::testing;
using brellin::DecodedSoundFile;
using brellin::decodeSoundFile;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs brellin-render with `arguments` (already quoted), stdout captured, stderr to `errFile`.
Outcome render(const std::string& arguments, const std::string& errFile = "/dev/null") {
    std::string command =
        std::string("'") + BRELLIN_BINARY_DIR + "/brellin-render' " + arguments + " 2>'" + errFile + "'";
    const CommandRun run = runCommand(command);
    return Outcome{run.status, run.output};
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
    EXPECT_EQ(render("--rate 96000 x.mid").status, 2);
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
    std::string b =
        dir.write("b.mid", header(0, 1, 96) + track(bytes({0x00, 0xB0, 0x0A, 0x00}) + noteOn(0, 0, 60, 100) +
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
    std::string song =
        dir.write("info.mid", header(0, 1, 96) + track(meta(0, 0x02, "(c) Us") + meta(0, 0x03, "Named") +
                                                       noteOn(0, 0, 60, 1) + noteOff(11520, 0, 60) + endOfTrack()));
    std::string other = dir.write("other.mid", shortSong("Second"));
    Outcome run = render("--info " + q(song) + " " + q(other));
    EXPECT_EQ(run.status, 0);
    std::string size = std::to_string(std::filesystem::file_size(song));
    EXPECT_EQ(run.out, "File: " + song + "\nTitle: Named\nCopyright: (c) Us\nSize: " + size +
                           " bytes\nLength: 1:00 (60000 ms)\n\nFile: " + other +
                           "\nTitle: Second\nCopyright: \nSize: " + std::to_string(std::filesystem::file_size(other)) +
                           " bytes\nLength: 0:00 (500 ms)\n");
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
    std::string stalled =
        dir.write("stalled.mid", header(0, 1, 0) + track(noteOn(0, 0, 60, 100) + noteOff(10, 0, 60) + endOfTrack()));
    ASSERT_EQ(render("-q -o " + q(dir.path("stalled.wav")) + " " + q(stalled)).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.path("stalled.wav")), 44u + 2u * 88u * 2u);
}

TEST(BrellinRender, MaxLengthCutsOfflineSongsAndSaysSo) {
    // 120 s of one note: with --max-length 1 the file holds one minute,
    // stderr says where it stopped and what the file claims, and the song
    // counts as played (exit 0). The default of 60 minutes leaves it whole.
    TempDir dir;
    std::string song =
        dir.write("long.mid", header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(23040, 0, 60) + endOfTrack()));
    std::string err = dir.path("err.txt");
    ASSERT_EQ(render("-q --rate 11025 --mono --max-length 1 -o " + q(dir.path("cut.wav")) + " " + q(song), err).status,
              0);
    EXPECT_EQ(readAll(err), "brellin-render: " + song + ": stopped after 1:00; the file claims 2:00\n");
    EXPECT_EQ(std::filesystem::file_size(dir.path("cut.wav")), 44u + 15000u * 44u);
    ASSERT_EQ(render("-q --rate 11025 --mono -o " + q(dir.path("whole.wav")) + " " + q(song), err).status, 0);
    EXPECT_EQ(readAll(err), "");
    EXPECT_EQ(std::filesystem::file_size(dir.path("whole.wav")), 44u + 30000u * 44u);
    EXPECT_EQ(render("--max-length -1 x.mid").status, 2);
}

TEST(BrellinRender, StartAndEndCutEachSongToTheirSlices) {
    // Eight notes of 500 ms. From 1 s to 2.5 s: 375 slices, the first one the
    // slice after 1000 ms; the note held across 1 s sounds in it.
    TempDir dir;
    std::string body;
    for (int i = 0; i < 8; ++i) body += noteOn(0, 0, 60 + i, 100) + noteOff(96, 0, 60 + i);
    std::string song = dir.write("eight.mid", header(0, 1, 96) + track(body + endOfTrack()));
    const std::string common = "-q --rate 11025 --mono ";
    ASSERT_EQ(render(common + "--start 1 --end 2.5 -o " + q(dir.path("a.wav")) + " " + q(song)).status, 0);
    const std::string cut = readAll(dir.path("a.wav"));
    ASSERT_EQ(cut.size(), 44u + 375u * 44u);
    EXPECT_NE(cut.substr(44, 44), std::string(44, '\x80'));
    // m:ss gives the same; a start alone plays to the song's end (4 s).
    ASSERT_EQ(render(common + "--start 0:01.000 --end 0:02.5 -o " + q(dir.path("b.wav")) + " " + q(song)).status, 0);
    EXPECT_TRUE(readAll(dir.path("b.wav")) == cut);
    ASSERT_EQ(render(common + "--start 3 -o " + q(dir.path("c.wav")) + " " + q(song)).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.path("c.wav")), 44u + 250u * 44u);
    EXPECT_EQ(render("--start 1:5 x.mid").status, 2);
    EXPECT_EQ(render("--start 1:75 x.mid").status, 2);
    EXPECT_EQ(render("--start x x.mid").status, 2);
    EXPECT_EQ(render("--start 2 --end 1 x.mid").status, 2);
    EXPECT_EQ(render("--end 0 x.mid").status, 2);
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

namespace {

// Two songs with some sound to encode: a chord, then notes on a second channel.
std::string chordSong(const std::string& name, int root) {
    return header(0, 1, 96) + track(meta(0, 0x03, name) + noteOn(0, 0, root, 100) + noteOn(0, 0, root + 4, 90) +
                                    bytes({0x00, 0xC1, 40}) + noteOn(48, 1, root + 12, 100) + noteOff(96, 0, root) +
                                    noteOff(0, 0, root + 4) + noteOff(0, 1, root + 12) + endOfTrack());
}

}  // namespace

TEST(BrellinRenderOutput, EachExtensionWritesItsTypeWithTheWavsRateChannelsAndLength) {
    TempDir dir;
    const std::string song = dir.write("c.mid", chordSong("Chord", 60));
    const std::string options = "-q --bits 16 --rate 44100 --reverb 3 ";
    ASSERT_EQ(render(options + "-o " + q(dir.path("ref.wav")) + " " + q(song)).status, 0);
    const DecodedSoundFile wav = decodeSoundFile(dir.path("ref.wav"));
    ASSERT_TRUE(wav.ok);
    ASSERT_GT(wav.info.frames, 44100 / 2);
    for (const char* extension : {"flac", "ogg", "opus", "mp3", "FLAC"}) {
        const std::string out = dir.path(std::string("song.") + extension);
        ASSERT_EQ(render(options + "-o " + q(out) + " " + q(song)).status, 0) << extension;
        const DecodedSoundFile got = decodeSoundFile(out);
        ASSERT_TRUE(got.ok) << extension;
        EXPECT_EQ(got.info.channels, 2) << extension;
        if (std::string(extension) == "opus") {
            EXPECT_EQ(got.info.samplerate, 48000);
            EXPECT_EQ(got.info.frames, (wav.info.frames * 160 + 146) / 147);
        } else {
            EXPECT_EQ(got.info.samplerate, 44100) << extension;
            EXPECT_EQ(got.info.frames, wav.info.frames) << extension;
        }
    }
    // FLAC holds exactly the WAV's samples, 8-bit renders too.
    EXPECT_TRUE(decodeSoundFile(dir.path("song.flac")).samples == wav.samples);
    ASSERT_EQ(render("-q --mono -o " + q(dir.path("8.wav")) + " " + q(song)).status, 0);
    ASSERT_EQ(render("-q --mono -o " + q(dir.path("8.flac")) + " " + q(song)).status, 0);
    const DecodedSoundFile eightBit = decodeSoundFile(dir.path("8.flac"));
    EXPECT_EQ(eightBit.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_S8);
    EXPECT_TRUE(eightBit.samples == decodeSoundFile(dir.path("8.wav")).samples);
    // And the WAV writer is unchanged: the size the tests above count on.
    EXPECT_EQ(std::filesystem::file_size(dir.path("ref.wav")), 44u + static_cast<std::uint64_t>(wav.info.frames) * 4u);

    std::string err = dir.path("err.txt");
    EXPECT_EQ(render("-q -o " + q(dir.path("song.aiff")) + " " + q(song), err).status, 2);
    EXPECT_NE(readAll(err).find("unknown output file type"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path("song.aiff")));
    EXPECT_EQ(render("-q --format flac -o " + q(dir.path("x.wav")) + " " + q(song)).status, 2);
    EXPECT_EQ(render("-q -o /nonexistent/folder/a.flac " + q(song)).status, 3);
}

TEST(BrellinRenderOutput, StandardOutputPipesAndDevicesGetAStreamingWav) {
    TempDir dir;
    const std::string song = dir.write("s.mid", shortSong());
    ASSERT_EQ(render("-q -o " + q(dir.path("file.wav")) + " " + q(song)).status, 0);
    const std::string file = readAll(dir.path("file.wav"));
    // Standard output: the file's bytes, the two sizes set to their largest.
    std::string err = dir.path("err.txt");
    Outcome piped = render("-o - " + q(song), err);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(readAll(err), "") << "nothing but the stream on stdout, no progress off a terminal";
    std::string expected = file;
    expected.replace(4, 4, "\xFF\xFF\xFF\xFF");
    expected.replace(40, 4, "\xFF\xFF\xFF\xFF");
    EXPECT_TRUE(piped.out == expected);
    // sox reads the stream from a pipe: the same samples as the file.
    const std::string raw = dir.path("stream.raw");
    ASSERT_EQ(std::system(("'" + std::string(BRELLIN_BINARY_DIR) + "/brellin-render' -q -o - " + q(song) +
                           " | sox -t wav - -t raw " + q(raw) + " 2>/dev/null")
                              .c_str()),
              0);
    EXPECT_TRUE(readAll(raw) == file.substr(44));
    // /dev/null used to fail ("cannot finish the WAV file", exit 3).
    EXPECT_EQ(render("-q -o /dev/null " + q(song), err).status, 0);
    EXPECT_EQ(readAll(err), "");
    // A reader that goes away early (30 s of sound, far more than a pipe
    // holds): the failed write is reported with exit 3, no hang, no crash.
    const std::string longSong =
        dir.write("long.mid", header(0, 1, 96) + track(noteOn(0, 0, 60, 100) + noteOff(5760, 0, 60) + endOfTrack()));
    const std::string script = "'" + std::string(BRELLIN_BINARY_DIR) + "/brellin-render' -q -o - " + q(longSong) +
                               " 2>" + q(err) + " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
    const int shell = std::system(("bash -c " + q(script)).c_str());
    EXPECT_EQ(WIFEXITED(shell) ? WEXITSTATUS(shell) : -1, 3);
    EXPECT_NE(readAll(err).find("Broken pipe"), std::string::npos) << readAll(err);
}

TEST(BrellinRenderBatch, JobsGiveTheFilesOfSingleRunsAndABadSongLeavesNoFile) {
    TempDir dir;
    const std::string a = dir.write("a.mid", chordSong("A", 60));
    std::filesystem::create_directories(dir.path("other"));
    const std::string sameName = dir.write("other/a.mid", chordSong("Other A", 67));
    const std::string b = dir.write("b.mid", chordSong("B", 64));
    const std::string bad = dir.write("bad.mid", "MThd but not a song");
    const std::string list = dir.write("list.brl", b + "\n" + bad + "\n");
    const std::string options = "-q --bits 16 --seed 9 --reverb 2 ";
    for (const char* format : {"flac", "wav"}) {
        const std::string out = dir.path(std::string("out-") + format);
        std::string err = dir.path("err.txt");
        Outcome run = render(options + "--output-dir " + q(out) + " --jobs 2 --format " + format + " " + q(a) + " " +
                                 q(sameName) + " " + q(list),
                             err);
        EXPECT_EQ(run.status, 1) << format;
        EXPECT_NE(readAll(err).find(bad + ": Unsupported data."), std::string::npos);
        const std::string ext = std::string(".") + format;
        EXPECT_FALSE(std::filesystem::exists(out + "/bad" + ext)) << "a failed song leaves no file";
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(out)) files += entry.is_regular_file();
        EXPECT_EQ(files, 3);
        // Each file is what a single run of that song writes, byte for byte.
        const std::pair<std::string, std::string> pairs[] = {{a, "a"}, {sameName, "a-2"}, {b, "b"}};
        for (const auto& [song, name] : pairs) {
            const std::string single = dir.path("single" + ext);
            ASSERT_EQ(render(options + "-o " + q(single) + " " + q(song)).status, 0);
            const std::string batchFile = readAll(out + "/" + name + ext);
            EXPECT_GT(batchFile.size(), 1000u) << name;
            EXPECT_TRUE(batchFile == readAll(single)) << name << ext;
        }
    }
    EXPECT_EQ(render("-q --output-dir " + q(dir.path("x")) + " -o y.wav " + q(a)).status, 2);
    EXPECT_EQ(render("-q --output-dir " + q(dir.path("x")) + " --format aiff " + q(a)).status, 2);
    EXPECT_EQ(render("-q --output-dir " + q(dir.path("x")) + " --jobs 0 " + q(a)).status, 2);
    EXPECT_EQ(render("-q --jobs 2 -o " + q(dir.path("y.wav")) + " " + q(a)).status, 2);
    // A folder that cannot be made.
    EXPECT_EQ(render("-q --output-dir " + q(a + "/sub") + " " + q(a)).status, 3);
}
