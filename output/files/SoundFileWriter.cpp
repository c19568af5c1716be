#include "output/files/SoundFileWriter.h"

#include <cctype>

#if BRELLIN_HAVE_SNDFILE
#include "output/files/SndFileWriter.h"
#endif
#include "output/files/WavFileWriter.h"

namespace brellin {
namespace {

struct TypeName {
    const char* word;
    SoundFileType type;
};

constexpr TypeName words[] = {{"wav", SoundFileType::Wav}, {"flac", SoundFileType::Flac}, {"ogg", SoundFileType::Ogg},
                              {"oga", SoundFileType::Ogg}, {"opus", SoundFileType::Opus}, {"mp3", SoundFileType::Mp3}};

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool soundFileTypeFromName(const std::string& name, SoundFileType* type) {
    const std::string word = lower(name);
    if (word == "oga") return false;  // an extension, not a --format word
    for (const TypeName& entry : words) {
        if (word == entry.word) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

bool soundFileTypeFromPath(const std::string& path, SoundFileType* type) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    // No extension (a leading dot names a hidden file, not an extension).
    if (dot == std::string::npos || dot == 0) {
        *type = SoundFileType::Wav;
        return true;
    }
    const std::string extension = lower(name.substr(dot + 1));
    for (const TypeName& entry : words) {
        if (extension == entry.word) {
            *type = entry.type;
            return true;
        }
    }
    return false;
}

const char* soundFileExtension(SoundFileType type) {
    switch (type) {
        case SoundFileType::Wav: return "wav";
        case SoundFileType::Flac: return "flac";
        case SoundFileType::Ogg: return "ogg";
        case SoundFileType::Opus: return "opus";
        case SoundFileType::Mp3: return "mp3";
    }
    return "wav";
}

const char* soundFileTypeName(SoundFileType type) {
    switch (type) {
        case SoundFileType::Wav: return "WAV";
        case SoundFileType::Flac: return "FLAC";
        case SoundFileType::Ogg: return "Ogg Vorbis";
        case SoundFileType::Opus: return "Opus";
        case SoundFileType::Mp3: return "MP3";
    }
    return "WAV";
}

#if !BRELLIN_HAVE_SNDFILE
namespace {

// The encoded types in a build without libsndfile: opening says so.
class MissingEncoder : public SoundFileWriter {
public:
    explicit MissingEncoder(SoundFileType fileType) : type(fileType) {}
    bool open(const std::string&, const AudioFormat&) override {
        lastError = RESULT_UNSUPPORTED_FORMAT;
        error = std::string(soundFileTypeName(type)) + " files need libsndfile, which this build was made without";
        return false;
    }
    bool write(const std::uint8_t*, std::uint32_t) noexcept override { return false; }
    bool close() override { return true; }

private:
    SoundFileType type;
};

}  // namespace
#endif

std::string writableSoundFileTypes() {
    std::string list = "wav";
#if BRELLIN_HAVE_SNDFILE
    for (SoundFileType type : {SoundFileType::Flac, SoundFileType::Ogg, SoundFileType::Opus, SoundFileType::Mp3}) {
        if (SndFileWriter::canWrite(type)) {
            list += ' ';
            list += soundFileExtension(type);
        }
    }
#endif
    return list;
}

std::unique_ptr<SoundFileWriter> createSoundFileWriter(SoundFileType type) {
    if (type == SoundFileType::Wav) return std::make_unique<WavFileWriter>();
#if BRELLIN_HAVE_SNDFILE
    return std::make_unique<SndFileWriter>(type);
#else
    return std::make_unique<MissingEncoder>(type);
#endif
}

}  // namespace brellin
