#include "common/FileObject.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

TEST(FileObjectOpen, ReadNeedsAnExistingFileWriteCreatesOne) {
    TempDir dir;
    FileObject file;
    EXPECT_FALSE(file.open(dir.path("missing.mid").c_str(), FileAccess::Read));
    EXPECT_EQ(file.lastError, RESULT_CANNOT_OPEN_FILE);

    ASSERT_TRUE(file.open(dir.path("new.txt").c_str(), FileAccess::Write));
    EXPECT_TRUE(file.write("abc", 3));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(dir.read("new.txt"), "abc");

    // Opening for writing truncates what was there.
    ASSERT_TRUE(file.open(dir.path("new.txt").c_str(), FileAccess::Write));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(dir.read("new.txt"), "");
}

TEST(FileObjectOpen, DirectoryIsNotAFile) {
    TempDir dir;
    FileObject file;
    EXPECT_FALSE(file.open(dir.root.c_str(), FileAccess::Read));
    EXPECT_EQ(file.lastError, RESULT_CANNOT_OPEN_FILE);
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.open(dir.root.c_str(), FileAccess::Write));
}

// A FIFO or a device named like a MIDI file in a play list must not hang a
// scan, a dialog or playback: reading takes regular files only, at once.
TEST(FileObjectOpen, FifoAndDevicesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.path("x.mid");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] {
        FileObject file;
        return file.open(fifo.c_str(), FileAccess::Read);
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Unblock the stuck open so the test can end, then fail.
        int writer = ::open(fifo.c_str(), O_WRONLY);
        if (writer >= 0) ::close(writer);
        opened.wait();
        FAIL() << "open() blocked on a FIFO";
    }
    EXPECT_FALSE(opened.get());
    FileObject file;
    EXPECT_FALSE(file.open(fifo.c_str(), FileAccess::Write));  // no reader: refused, not waited for
    EXPECT_FALSE(file.open("/dev/null", FileAccess::Read));
    EXPECT_EQ(file.lastError, RESULT_CANNOT_OPEN_FILE);
    // A render may still go to a character device.
    EXPECT_TRUE(file.open("/dev/null", FileAccess::Write));
    EXPECT_TRUE(file.write("abc", 3));
    // A regular file reads as before (the descriptor is blocking again).
    dir.write("song.mid", "MThd");
    ASSERT_TRUE(file.open(dir.path("song.mid").c_str(), FileAccess::Read));
    char bytes[4];
    EXPECT_TRUE(file.read(bytes, 4));
}

TEST(FileObjectOpen, ReopeningClosesThePreviousFile) {
    TempDir dir;
    dir.write("a", "AAAA");
    dir.write("b", "BB");
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("a").c_str(), FileAccess::Read));
    ASSERT_TRUE(file.open(dir.path("b").c_str(), FileAccess::Read));
    EXPECT_EQ(file.size(), 2u);
}

TEST(FileObjectRead, ShortReadFailsButKeepsTheBytes) {
    TempDir dir;
    dir.write("six", "123456");
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("six").c_str(), FileAccess::Read));
    char buffer[10] = {};
    EXPECT_FALSE(file.read(buffer, 10));
    EXPECT_EQ(file.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_EQ(std::string(buffer, 6), "123456");
    // A later success does not clear the code.
    ASSERT_TRUE(file.seek(0, SeekOrigin::Begin));
    EXPECT_TRUE(file.read(buffer, 6));
    EXPECT_EQ(file.lastError, RESULT_FILE_IO_ERROR);
}

TEST(FileObjectRead, NothingOpen) {
    FileObject file;
    char byte;
    EXPECT_EQ(file.size(), 0xFFFFFFFFu);
    EXPECT_TRUE(file.close());
    EXPECT_FALSE(file.read(&byte, 1));
    EXPECT_EQ(file.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_FALSE(file.write(&byte, 1));
    EXPECT_FALSE(file.seek(0, SeekOrigin::Begin));
    EXPECT_EQ(file.lastError, RESULT_FAILED);
}

TEST(FileObjectSeek, OriginsAndFailure) {
    TempDir dir;
    dir.write("digits", "0123456789");
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("digits").c_str(), FileAccess::Read));
    char byte;
    ASSERT_TRUE(file.seek(-3, SeekOrigin::End));
    ASSERT_TRUE(file.read(&byte, 1));
    EXPECT_EQ(byte, '7');
    ASSERT_TRUE(file.seek(-5, SeekOrigin::Current));
    ASSERT_TRUE(file.read(&byte, 1));
    EXPECT_EQ(byte, '3');
    EXPECT_FALSE(file.seek(-100, SeekOrigin::Begin));
    EXPECT_EQ(file.lastError, RESULT_FAILED);
}

TEST(FileObjectReadLine, CarriageReturnsDroppedLastLineWithoutFeedFails) {
    TempDir dir;
    dir.write("lines", "a\r\nb");
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("lines").c_str(), FileAccess::Read));
    char line[16];
    EXPECT_TRUE(file.readLine(line, sizeof line));
    EXPECT_STREQ(line, "a");
    EXPECT_FALSE(file.readLine(line, sizeof line));
    EXPECT_EQ(file.lastError, RESULT_NO_SOUND_FONT);
    EXPECT_STREQ(line, "b");
}

TEST(FileObjectReadLine, CapacityLimits) {
    TempDir dir;
    dir.write("four", "abcd\nabc\n");
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("four").c_str(), FileAccess::Read));
    char line[4];
    // Four letters fill the capacity before the line feed arrives.
    EXPECT_FALSE(file.readLine(line, 4));
    EXPECT_EQ(file.lastError, RESULT_OUT_OF_MEMORY);
    // The reading stopped after four bytes: the feed ends an empty line.
    EXPECT_TRUE(file.readLine(line, 4));
    EXPECT_STREQ(line, "");
    // capacity - 1 letters and the feed fit, still zero-terminated.
    EXPECT_TRUE(file.readLine(line, 4));
    EXPECT_STREQ(line, "abc");
}

namespace {

// The read calls this process has made so far (Linux counts them in
// /proc/self/io); -1 where the count cannot be read.
long readCalls() {
    FILE* io = std::fopen("/proc/self/io", "r");
    if (io == nullptr) return -1;
    long calls = -1;
    char name[32];
    long value;
    while (std::fscanf(io, "%31s %ld", name, &value) == 2) {
        if (std::strcmp(name, "syscr:") == 0) calls = value;
    }
    std::fclose(io);
    return calls;
}

}  // namespace

TEST(FileObjectReadLine, LinesOverBlockEdgesThenReadSeekAndWriteGoOnWhereTheLineEnded) {
    // Lines of every length from 0 to 299 bytes, some ended by CR LF, so that
    // line ends, a CR before its LF and over-long lines fall on block edges.
    std::vector<std::string> lines;
    std::string text;
    for (int i = 0; i < 300; ++i) {
        std::string line;
        for (int k = 0; k < i; ++k) line += static_cast<char>('a' + (i + k) % 26);
        lines.push_back(line);
        text += line + (i % 3 == 0 ? "\r\n" : "\n");
    }
    ASSERT_GT(text.size(), 2u * FileObject::READ_AHEAD);
    TempDir dir;
    dir.write("lines", text);
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("lines").c_str(), FileAccess::Read));
    char line[301];
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(file.readLine(line, 300)) << "line " << i;
        ASSERT_EQ(std::string(line), lines[static_cast<std::size_t>(i)]) << "line " << i;
    }
    EXPECT_FALSE(file.readLine(line, 300));
    EXPECT_EQ(file.lastError, RESULT_NO_SOUND_FONT);

    // A capacity too small for a line stops after that many bytes, wherever the block ends.
    ASSERT_TRUE(file.seek(0, SeekOrigin::Begin));
    std::size_t offset = 0;
    for (int i = 0; i < 200; ++i) offset += lines[static_cast<std::size_t>(i)].size() + (i % 3 == 0 ? 2 : 1);
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_FALSE(file.readLine(line, 150));
    EXPECT_EQ(file.lastError, RESULT_OUT_OF_MEMORY);
    offset += 150;

    // What follows is read from there: plain reads, and seeks from each origin.
    char bytes[8] = {};
    ASSERT_TRUE(file.read(bytes, 5));
    EXPECT_EQ(std::string(bytes, 5), text.substr(offset, 5));
    ASSERT_TRUE(file.seek(-7, SeekOrigin::Current));
    ASSERT_TRUE(file.read(bytes, 7));
    EXPECT_EQ(std::string(bytes, 7), text.substr(offset - 2, 7));
    ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_EQ(std::string(line), lines[200].substr(155));
    ASSERT_TRUE(file.seek(-10, SeekOrigin::End));
    ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_EQ(std::string(line), lines[299].substr(290));  // nine letters and the LF
    ASSERT_TRUE(file.seek(1, SeekOrigin::Begin));
    ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_EQ(std::string(line), "");  // the LF of line 0's CR LF
    ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_EQ(std::string(line), lines[1]);
    // A failed seek moves nothing.
    EXPECT_FALSE(file.seek(-100000, SeekOrigin::Current));
    ASSERT_TRUE(file.readLine(line, 300));
    EXPECT_EQ(std::string(line), lines[2]);
}

TEST(FileObjectReadLine, AWriteAfterALineLandsAfterTheLine) {
    TempDir dir;
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("rw").c_str(), FileAccess::ReadWrite));
    ASSERT_TRUE(file.write("one\ntwo\nthree\n", 14));
    ASSERT_TRUE(file.seek(0, SeekOrigin::Begin));
    char line[16];
    ASSERT_TRUE(file.readLine(line, sizeof line));
    EXPECT_STREQ(line, "one");
    ASSERT_TRUE(file.write("TWO", 3));
    ASSERT_TRUE(file.readLine(line, sizeof line));
    EXPECT_STREQ(line, "");
    ASSERT_TRUE(file.readLine(line, sizeof line));
    EXPECT_STREQ(line, "three");
    ASSERT_TRUE(file.close());
    EXPECT_EQ(dir.read("rw"), "one\nTWO\nthree\n");
}

TEST(FileObjectReadLine, ALongFileIsReadInBlocksNotBytes) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "Key" + std::to_string(i) + "=value\r\n";
    TempDir dir;
    dir.write("long.cfg", text);
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("long.cfg").c_str(), FileAccess::Read));
    const long before = readCalls();
    if (before < 0) GTEST_SKIP() << "no read count in /proc/self/io";
    char line[64];
    int count = 0;
    while (file.readLine(line, sizeof line)) ++count;
    const long calls = readCalls() - before;
    EXPECT_EQ(count, 20000);
    // 300 KB in 16-KB blocks, and the reads of /proc/self/io itself.
    EXPECT_LT(calls, 40) << text.size() << " bytes";
}

TEST(FileObjectWriteFormatted, FormatsAndCutsLongTextAtTheBuffer) {
    TempDir dir;
    FileObject file;
    ASSERT_TRUE(file.open(dir.path("out").c_str(), FileAccess::Write));
    EXPECT_TRUE(file.writeFormatted("%s=%d\r\n", "Volume", 128));
    std::string longText(3000, 'x');
    EXPECT_TRUE(file.writeFormatted("%s", longText.c_str()));
    file.close();
    std::string written = dir.read("out");
    EXPECT_EQ(written.substr(0, 12), "Volume=128\r\n");
    EXPECT_EQ(written.size(), 12u + 1023u);
}
