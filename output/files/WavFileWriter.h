// WavFileWriter: our own WAV writer (RIFF, PCM, 8-bit unsigned or 16-bit
// signed, mono or stereo; the header `composeWavHeader` makes).
//
// A regular file starts with a header of size 0 and gets its real sizes at
// `close` (a data chunk of odd length is padded). Anything that cannot seek
// (standard output, a pipe, a FIFO, a character device such as /dev/null)
// gets a streaming header instead, RIFF and data sizes 0xFFFFFFFF as
// streaming tools write them, and nothing is rewritten at the end.
#pragma once

#include "output/files/SoundFileWriter.h"

namespace brellin {

// A canonical 44-byte PCM WAV header for `dataSize` bytes of sound (the
// RIFF size counts the pad byte of an odd data chunk).
inline constexpr std::uint32_t WAV_HEADER_BYTES = 44;
void composeWavHeader(const AudioFormat& format, std::uint32_t dataSize, std::uint8_t (&header)[WAV_HEADER_BYTES]);

// The size a streaming header gives the RIFF and data chunks.
inline constexpr std::uint32_t WAV_STREAMING_SIZE = 0xFFFFFFFFu;

class WavFileWriter : public SoundFileWriter {
public:
    WavFileWriter() = default;
    ~WavFileWriter() override;

    bool open(const std::string& path, const AudioFormat& format) override;
    bool write(const std::uint8_t* pcm, std::uint32_t bytes) noexcept override;
    bool close() override;
    std::uint64_t maxDataBytes() const override;

    // The file is written with a streaming header (known after `open`).
    bool streaming() const { return isStreaming; }

private:
    bool put(const std::uint8_t* bytes, std::uint32_t count) noexcept;

    std::string path;
    AudioFormat format;
    int handle = -1;
    bool ownsHandle = false;  // false for standard output, which stays open
    bool isStreaming = false;
    bool failed = false;
    int failure = 0;  // errno of the write that failed
    std::uint64_t dataBytes = 0;
};

}  // namespace brellin
