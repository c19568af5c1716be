#include "output/files/WavFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brellin {

namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, v & 0xFFFFu);
    put16(p + 2, v >> 16);
}

}  // namespace

void composeWavHeader(const AudioFormat& format, std::uint32_t dataSize, std::uint8_t (&h)[WAV_HEADER_BYTES]) {
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataSize + (dataSize & 1));  // the data chunk is padded to an even length
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);  // fmt chunk size
    put16(h + 20, 1);   // PCM
    put16(h + 22, format.channels);
    put32(h + 24, format.sampleRate);
    put32(h + 28, format.bytesPerSecond());
    put16(h + 32, format.blockSize());
    put16(h + 34, format.bitsPerSample);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataSize);
}

WavFileWriter::~WavFileWriter() { close(); }

std::uint64_t WavFileWriter::maxDataBytes() const {
    // RIFF sizes are 32-bit: the data chunk leaves room for the header and a
    // pad byte. A stream claims the largest size anyway, but a reader that
    // counts bytes stops there too.
    return 0xFFFFFFFFull - WAV_HEADER_BYTES;
}

bool WavFileWriter::put(const std::uint8_t* bytes, std::uint32_t count) noexcept {
    while (count > 0) {
        const ssize_t done = ::write(handle, bytes, count);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            failed = true;
            failure = done < 0 ? errno : EIO;
            lastError = RESULT_FILE_IO_ERROR;
            return false;
        }
        bytes += done;
        count -= static_cast<std::uint32_t>(done);
    }
    return true;
}

bool WavFileWriter::open(const std::string& newPath, const AudioFormat& newFormat) {
    close();
    error.clear();
    lastError = RESULT_OK;
    path = newPath;
    format = newFormat;
    failed = false;
    failure = 0;
    dataBytes = 0;
    const bool toStandardOutput = path == "-";
    if (toStandardOutput) {
        handle = STDOUT_FILENO;
        ownsHandle = false;
    } else if (!path.empty()) {
        // Blocking: a FIFO waits here for its reader, as any writer would.
        do {
            handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        } while (handle < 0 && errno == EINTR);
        ownsHandle = handle >= 0;
    }
    struct stat info;
    if (handle < 0 || fstat(handle, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int cause = errno;
        if (ownsHandle && handle >= 0) ::close(handle);
        handle = -1;
        ownsHandle = false;
        lastError = RESULT_CANNOT_OPEN_FILE;
        error = "cannot write the WAV file \"" + path + "\"";
        if (cause != 0) error += std::string(": ") + std::strerror(cause);
        return false;
    }
    // Only a regular file can have its header rewritten; /dev/null seeks
    // but keeps nothing, a pipe does not seek at all.
    isStreaming = !S_ISREG(info.st_mode);
    std::uint8_t header[WAV_HEADER_BYTES];
    composeWavHeader(format, 0, header);
    if (isStreaming) {
        for (std::uint32_t offset : {4u, 40u}) std::memset(header + offset, 0xFF, 4);
    }
    if (!put(header, WAV_HEADER_BYTES)) {
        error = "cannot write the WAV file \"" + path + "\": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

bool WavFileWriter::write(const std::uint8_t* pcm, std::uint32_t bytes) noexcept {
    if (handle < 0 || failed) return false;
    if (!put(pcm, bytes)) return false;
    dataBytes += bytes;
    return true;
}

bool WavFileWriter::close() {
    if (handle < 0) return true;
    bool ok = !failed;
    if (!isStreaming && ok) {
        const std::uint32_t dataSize = static_cast<std::uint32_t>(dataBytes);
        const std::uint8_t pad = 0;
        std::uint8_t header[WAV_HEADER_BYTES];
        composeWavHeader(format, dataSize, header);
        ok =
            ((dataSize & 1) == 0 || put(&pad, 1)) && ::lseek(handle, 0, SEEK_SET) == 0 && put(header, WAV_HEADER_BYTES);
    }
    if (ownsHandle && ::close(handle) != 0) ok = false;
    handle = -1;
    ownsHandle = false;
    if (!ok) {
        lastError = RESULT_FILE_IO_ERROR;
        if (error.empty()) {
            error = "cannot finish the WAV file \"" + path + "\"";
            if (failure != 0) error += std::string(": ") + std::strerror(failure);
        }
    }
    return ok;
}

}  // namespace brellin
