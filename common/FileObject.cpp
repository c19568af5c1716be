#include "common/FileObject.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brellin {

FileObject::~FileObject() { close(); }

bool FileObject::open(const char* path, FileAccess access) {
    close();
    if (path == nullptr || path[0] == '\0') {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    // O_NONBLOCK: a FIFO or a device named like a MIDI file would otherwise
    // block open() until a writer appears. Regular files ignore the flag; it
    // is cleared again below for what stays open.
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (access) {
        case FileAccess::Read: flags |= O_RDONLY; break;
        case FileAccess::Write: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case FileAccess::ReadWrite: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    // Linux opens a directory for reading; the program treats that as a
    // file that cannot be opened. Reading accepts only regular files, so no
    // scan, dialog or playback can wait forever on a FIFO or a device;
    // writing also accepts character devices (a WAV render to /dev/null).
    struct stat info;
    const bool accepted =
        fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || (access != FileAccess::Read && S_ISCHR(info.st_mode)));
    if (!accepted) {
        ::close(fd);
        lastError = RESULT_CANNOT_OPEN_FILE;
        return false;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    handle = fd;
    return true;
}

bool FileObject::close() {
    aheadNext = aheadEnd = 0;
    if (handle < 0) return true;
    // POSIX close releases the descriptor even when it reports an error
    // (EIO on a deferred write), so the handle is gone either way; the
    // failure is still reported.
    int result = ::close(handle);
    handle = -1;
    if (result != 0 && errno != EINTR) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    return true;
}

bool FileObject::read(void* buffer, std::uint32_t n) {
    if (handle < 0) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t done = 0;
    if (aheadNext < aheadEnd && n > 0) {
        const std::uint32_t kept = aheadEnd - aheadNext;
        done = n < kept ? n : kept;
        std::memcpy(out, (ahead ? ahead.get() : &single) + aheadNext, done);
        aheadNext += done;
    }
    while (done < n) {
        ssize_t got = ::read(handle, out + done, n - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            lastError = RESULT_FILE_IO_ERROR;
            return false;
        }
        done += static_cast<std::uint32_t>(got);
    }
    return true;
}

bool FileObject::write(const void* buffer, std::uint32_t n) {
    if (handle < 0) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    // The system position is ahead of the object's by what readLine kept.
    if (!returnReadAhead()) {
        lastError = RESULT_FILE_IO_ERROR;
        return false;
    }
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::uint32_t done = 0;
    while (done < n) {
        ssize_t put = ::write(handle, in + done, n - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            lastError = RESULT_FILE_IO_ERROR;
            return false;
        }
        done += static_cast<std::uint32_t>(put);
    }
    return true;
}

bool FileObject::seek(std::int32_t distance, SeekOrigin origin) {
    if (handle < 0) {
        lastError = RESULT_FAILED;
        return false;
    }
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    // From the current position: the one after the bytes handed out, which
    // lies behind the system's by what the read-ahead still holds.
    off_t offset = static_cast<off_t>(distance);
    if (origin == SeekOrigin::Current) offset -= static_cast<off_t>(aheadEnd - aheadNext);
    if (::lseek(handle, offset, whence) == static_cast<off_t>(-1)) {
        lastError = RESULT_FAILED;
        return false;
    }
    aheadNext = aheadEnd = 0;
    return true;
}

bool FileObject::fillReadAhead() {
    aheadNext = aheadEnd = 0;
    if (handle < 0) return false;
    if (!ahead) ahead.reset(new (std::nothrow) unsigned char[READ_AHEAD]);
    unsigned char* block = ahead ? ahead.get() : &single;
    const std::size_t length = ahead ? READ_AHEAD : 1;
    ssize_t got;
    do {
        got = ::read(handle, block, length);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    aheadEnd = static_cast<std::uint32_t>(got);
    return true;
}

bool FileObject::returnReadAhead() {
    if (aheadNext == aheadEnd) return true;
    if (::lseek(handle, -static_cast<off_t>(aheadEnd - aheadNext), SEEK_CUR) == static_cast<off_t>(-1)) return false;
    aheadNext = aheadEnd = 0;
    return true;
}

std::uint32_t FileObject::size() {
    if (handle < 0) return 0xFFFFFFFFu;
    struct stat info;
    if (fstat(handle, &info) != 0) return 0xFFFFFFFFu;
    // Files of 4 GiB and more cannot be described by 32 bits.
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) >= 0xFFFFFFFFull) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(info.st_size);
}

bool FileObject::writeFormatted(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) {
        lastError = RESULT_FAILED;
        return false;
    }
    // vsnprintf cut a longer text at 1023 bytes; that is what is written.
    std::uint32_t n = static_cast<std::uint32_t>(length) < sizeof text ? static_cast<std::uint32_t>(length)
                                                                       : static_cast<std::uint32_t>(sizeof text - 1);
    return write(text, n);
}

bool FileObject::readLine(char* buffer, std::uint32_t capacity) {
    std::memset(buffer, 0, capacity);
    std::uint32_t stored = 0;
    for (std::uint32_t count = 0; count < capacity; ++count) {
        if (aheadNext == aheadEnd && !fillReadAhead()) {
            lastError = RESULT_NO_SOUND_FONT;  // here: the end of the input
            return false;
        }
        const unsigned char byte = (ahead ? ahead.get() : &single)[aheadNext++];
        if (byte == 0x0A) return true;
        if (byte == 0x0D) continue;
        buffer[stored++] = static_cast<char>(byte);
    }
    lastError = RESULT_OUT_OF_MEMORY;
    return false;
}

}  // namespace brellin
