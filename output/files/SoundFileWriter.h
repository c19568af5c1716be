// SoundFileWriter: the file end of an offline render. The WavFileDevice
// hands it the PCM the render loop produced (8-bit unsigned or 16-bit signed
// little-endian, interleaved, whole frames) and it stores that as a sound
// file of one type: WAV with our own writer, FLAC, Ogg Vorbis, Opus or MP3
// through libsndfile.
//
// Backends, one source file each, chosen in one place (`createSoundFileWriter`):
//   WavFileWriter.cpp  our own RIFF writer; a regular file gets its sizes at
//                      close, a pipe or device a streaming header.
//   SndFileWriter.cpp  libsndfile's encoders.
//
// Threads: `open` and `close` run on the thread that opens and closes the
// SoundOutput; `write` runs on the render thread (from the device's staging
// flush, every few hundred kilobytes), allocates nothing of its own and takes
// no lock, though an encoder may do work of its own there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/ResultCode.h"
#include "output/AudioDevice.h"

namespace brellin {

enum class SoundFileType { Wav, Flac, Ogg, Opus, Mp3 };

// "wav", "flac", "ogg", "opus", "mp3" (the --format words, any case).
bool soundFileTypeFromName(const std::string& name, SoundFileType* type);
// By the path's extension: .wav, .flac, .ogg or .oga, .opus, .mp3 (any case);
// a path without an extension (/dev/null, a FIFO) is WAV. False for any
// other extension.
bool soundFileTypeFromPath(const std::string& path, SoundFileType* type);
// The extension without its dot ("flac").
const char* soundFileExtension(SoundFileType type);
// The type as messages name it ("FLAC", "Ogg Vorbis").
const char* soundFileTypeName(SoundFileType type);
// The types this build can write, as --help lists them ("wav flac ogg opus mp3").
std::string writableSoundFileTypes();

class SoundFileWriter {
public:
    SoundFileWriter() = default;
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;
    virtual ~SoundFileWriter() = default;

    // Creates (or truncates) the file at `path`; "-" is standard output.
    // False with a reason in `errorText()`.
    virtual bool open(const std::string& path, const AudioFormat& format) = 0;
    // Appends `bytes` bytes of whole frames. False once anything failed.
    virtual bool write(const std::uint8_t* pcm, std::uint32_t bytes) noexcept = 0;
    // Completes the file and closes it; false with a reason when it could
    // not be completed. A no-op when nothing is open.
    virtual bool close() = 0;
    // The most PCM bytes the file type can hold (a RIFF size is 32-bit); 0: no limit.
    virtual std::uint64_t maxDataBytes() const { return 0; }

    const char* errorText() const { return error.c_str(); }
    ResultCode lastError = RESULT_OK;

protected:
    std::string error;
};

std::unique_ptr<SoundFileWriter> createSoundFileWriter(SoundFileType type);

}  // namespace brellin
