#include "output/files/SndFileWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <new>

namespace brellin {
namespace {

int majorFormat(SoundFileType type, std::uint32_t bits) {
    switch (type) {
        case SoundFileType::Flac: return SF_FORMAT_FLAC | (bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
        case SoundFileType::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case SoundFileType::Opus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
        case SoundFileType::Mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        case SoundFileType::Wav: break;
    }
    return 0;
}

// 160/147 is 48000/44100, 24000/22050 and 12000/11025 alike.
constexpr std::uint32_t OPUS_UP = 160;
constexpr std::uint32_t OPUS_DOWN = 147;

}  // namespace

SndFileWriter::SndFileWriter(SoundFileType newType) : type(newType) {}

SndFileWriter::~SndFileWriter() { close(); }

bool SndFileWriter::canWrite(SoundFileType type) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(storedRate(type, 44100));
    info.channels = 2;
    info.format = majorFormat(type, 16);
    return info.format != 0 && sf_format_check(&info) != 0;
}

std::uint32_t SndFileWriter::storedRate(SoundFileType type, std::uint32_t rate) {
    if (type != SoundFileType::Opus) return rate;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(rate) * OPUS_UP / OPUS_DOWN);
}

bool SndFileWriter::open(const std::string& newPath, const AudioFormat& newFormat) {
    close();
    error.clear();
    lastError = RESULT_OK;
    path = newPath;
    format = newFormat;
    failed = false;
    const char* typeName = soundFileTypeName(type);
    if (path == "-" || path.empty()) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        error = std::string("cannot write the ") + typeName + " file \"" + path + "\": standard output takes WAV only";
        return false;
    }
    resampling = type == SoundFileType::Opus && (format.sampleRate % OPUS_DOWN) == 0;
    SF_INFO info{};
    info.samplerate = static_cast<int>(resampling ? storedRate(type, format.sampleRate) : format.sampleRate);
    info.channels = static_cast<int>(format.channels);
    info.format = majorFormat(type, format.bitsPerSample);
    if (info.format == 0 || !sf_format_check(&info)) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        error =
            std::string("this libsndfile cannot write ") + typeName + " at " + std::to_string(info.samplerate) + " Hz";
        return false;
    }
    const std::uint32_t channels = format.channels;
    // libsndfile 1.2's MP3 encoder garbles stereo shorts (it copies half the
    // bytes of each block), so the lossy types, which encode floats anyway,
    // are given floats; FLAC gets shorts and stores them exactly.
    useFloats = type != SoundFileType::Flac;
    shorts.reset(new (std::nothrow) short[CHUNK_FRAMES * channels]);
    if (useFloats) floats.reset(new (std::nothrow) float[CHUNK_FRAMES * channels]);
    if (resampling) {
        if (!converter.setup(OPUS_UP, OPUS_DOWN, channels, CHUNK_FRAMES)) {
            lastError = RESULT_FAILED;
            error = "cannot convert the sample rate for Opus";
            return false;
        }
        converted.reset(new (std::nothrow) float[static_cast<std::size_t>(converter.maxOutputFrames()) * channels]);
    }
    if (!shorts || (useFloats && !floats) || (resampling && !converted)) {
        lastError = RESULT_OUT_OF_MEMORY;
        error = std::string("out of memory for the ") + typeName + " encoder";
        return false;
    }
    file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        lastError = RESULT_CANNOT_OPEN_FILE;
        error = std::string("cannot write the ") + typeName + " file \"" + path + "\": " + sf_strerror(nullptr);
        return false;
    }
    // Samples beyond full scale cannot occur: the render's own PCM is the input.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SndFileWriter::write(const std::uint8_t* pcm, std::uint32_t bytes) noexcept {
    if (!file || failed) return false;
    const std::uint32_t channels = format.channels;
    const std::uint32_t block = format.blockSize();
    std::uint32_t frames = bytes / block;
    while (frames > 0) {
        const std::uint32_t count = std::min(frames, CHUNK_FRAMES);
        const std::uint32_t samples = count * channels;
        // 8-bit unsigned PCM widens exactly to the top byte of a short, which
        // 8-bit FLAC stores back as the same byte.
        if (format.bitsPerSample == 8) {
            for (std::uint32_t i = 0; i < samples; ++i) shorts[i] = static_cast<short>((pcm[i] - 128) * 256);
        } else {
            for (std::uint32_t i = 0; i < samples; ++i)
                shorts[i] = static_cast<short>(static_cast<std::uint16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
        }
        if (useFloats) {
            for (std::uint32_t i = 0; i < samples; ++i) floats[i] = shorts[i] * (1.0f / 32768.0f);
        }
        if (resampling) {
            const std::uint32_t out = converter.convert(floats.get(), count, converted.get());
            if (sf_writef_float(file, converted.get(), out) != static_cast<sf_count_t>(out)) failed = true;
        } else if (useFloats) {
            if (sf_writef_float(file, floats.get(), count) != static_cast<sf_count_t>(count)) failed = true;
        } else if (sf_writef_short(file, shorts.get(), count) != static_cast<sf_count_t>(count)) {
            failed = true;
        }
        if (failed) {
            lastError = RESULT_FILE_IO_ERROR;
            return false;
        }
        pcm += count * block;
        frames -= count;
    }
    return true;
}

bool SndFileWriter::close() {
    if (!file) return true;
    bool ok = !failed;
    if (ok && resampling) {
        const std::uint32_t out = converter.drain(converted.get());
        ok = sf_writef_float(file, converted.get(), out) == static_cast<sf_count_t>(out);
    }
    if (!ok && error.empty()) {
        error =
            std::string("cannot write the ") + soundFileTypeName(type) + " file \"" + path + "\": " + sf_strerror(file);
    }
    if (sf_close(file) != 0) {
        ok = false;
        if (error.empty())
            error = std::string("cannot finish the ") + soundFileTypeName(type) + " file \"" + path + "\"";
    }
    file = nullptr;
    if (!ok) lastError = RESULT_FILE_IO_ERROR;
    return ok;
}

}  // namespace brellin
