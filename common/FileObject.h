// FileObject: the program's one wrapper around an operating-system file.
//
// Every file the program reads or writes (MIDI files, sound fonts, play
// lists, settings, skins, bitmaps) goes through it. Each failing call gives
// false and leaves a ResultCode in `lastError`, which callers pass on.
// A FileObject belongs to one thread at a time; destruction closes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/ResultCode.h"

namespace brellin {

enum class FileAccess {
    Read,       // the file must exist
    Write,      // created, or truncated when it exists
    ReadWrite,  // created, or truncated when it exists
};

enum class SeekOrigin { Begin, Current, End };

class FileObject {
public:
    FileObject() = default;
    ~FileObject();
    FileObject(const FileObject&) = delete;
    FileObject& operator=(const FileObject&) = delete;

    // Closes any open file first. Reading opens only regular files (a
    // directory, FIFO, socket or device fails at once, never blocks); writing
    // opens regular files and character devices.
    bool open(const char* path, FileAccess access);
    // True when nothing was open; false (handle kept) only if the system refuses.
    bool close();
    // True only when exactly n bytes were read.
    bool read(void* buffer, std::uint32_t n);
    bool write(const void* buffer, std::uint32_t n);
    // Moves by a signed 32-bit distance from the origin.
    bool seek(std::int32_t distance, SeekOrigin origin);
    // Size in bytes; 0xFFFFFFFF when unknown or nothing is open.
    std::uint32_t size();
    // printf-formatted text written without its terminating zero. The text is
    // composed in a 1024-byte buffer; a longer text is cut to 1023 bytes,
    // never written past the buffer.
    bool writeFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Reads one line (CR dropped, LF ends it, not stored). False with
    // RESULT_NO_SOUND_FONT at the end of input (the bytes read stay in the
    // buffer) and with RESULT_OUT_OF_MEMORY when capacity bytes held no LF.
    // The file is read in blocks of READ_AHEAD bytes; the bytes after the
    // line stay with the object, so read, seek and write go on from the end
    // of the line as if it had been read byte by byte.
    bool readLine(char* buffer, std::uint32_t capacity);

    bool isOpen() const { return handle >= 0; }

    ResultCode lastError = RESULT_OK;

    static constexpr std::uint32_t READ_AHEAD = 16384;

private:
    // Reads the next block into the read-ahead (empty before); false at the
    // end of the file or on an error.
    bool fillReadAhead();
    // Gives the unread part of the read-ahead back to the system file
    // position and empties it; false when the position cannot be moved.
    bool returnReadAhead();

    int handle = -1;
    // Made by the first readLine; one byte (`single`) when it cannot be.
    std::unique_ptr<unsigned char[]> ahead;
    unsigned char single = 0;
    std::uint32_t aheadNext = 0;
    std::uint32_t aheadEnd = 0;
};

}  // namespace brellin
