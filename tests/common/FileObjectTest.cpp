#include "common/FileObject.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>

#include "../TempDir.h"

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
