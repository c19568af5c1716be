// SndFileWriter: FLAC, Ogg Vorbis, Opus and MP3 files through libsndfile.
//
// FLAC stores the render's samples exactly: 8-bit renders as 8-bit FLAC,
// 16-bit as 16-bit. The lossy types get the same samples at libsndfile's
// default quality. Opus only takes 8000, 12000, 16000, 24000 or 48000 Hz, so
// a render at 11025, 22050 or 44100 Hz is converted up to 12000, 24000 or
// 48000 Hz (the same ratio 160/147, the whole band kept) by a RateConverter.
//
// The PCM arrives as bytes and is widened into buffers set up by `open`
// (shorts for FLAC, floats for the others), a chunk at a time.
#pragma once

#include <memory>

#include "output/files/RateConverter.h"
#include "output/files/SoundFileWriter.h"

struct sf_private_tag;

namespace brellin {

class SndFileWriter : public SoundFileWriter {
public:
    explicit SndFileWriter(SoundFileType type);
    ~SndFileWriter() override;

    // Whether this libsndfile writes the type (sf_format_check).
    static bool canWrite(SoundFileType type);
    // The rate a render at `rate` Hz is stored at (Opus: 12000, 24000, 48000).
    static std::uint32_t storedRate(SoundFileType type, std::uint32_t rate);

    bool open(const std::string& path, const AudioFormat& format) override;
    bool write(const std::uint8_t* pcm, std::uint32_t bytes) noexcept override;
    bool close() override;

private:
    static constexpr std::uint32_t CHUNK_FRAMES = 4096;  // frames widened at a time

    SoundFileType type;
    std::string path;
    AudioFormat format;
    sf_private_tag* file = nullptr;
    bool failed = false;
    bool resampling = false;
    bool useFloats = false;
    RateConverter converter;
    std::unique_ptr<short[]> shorts;     // CHUNK_FRAMES frames
    std::unique_ptr<float[]> floats;     // CHUNK_FRAMES frames
    std::unique_ptr<float[]> converted;  // converter.maxOutputFrames() frames
};

}  // namespace brellin
