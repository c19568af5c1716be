// Reads a rendered sound file back through libsndfile, whatever its type,
// as 16-bit samples: what a player of the file would get.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>
#include <vector>

namespace brellin {

struct DecodedSoundFile {
    bool ok = false;  // opened and every frame read
    SF_INFO info{};
    std::vector<short> samples;  // interleaved
};

inline DecodedSoundFile decodeSoundFile(const std::string& path) {
    DecodedSoundFile d;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &d.info);
    if (!file) return d;
    d.samples.resize(static_cast<std::size_t>(d.info.frames) * static_cast<std::size_t>(d.info.channels));
    d.ok = sf_readf_short(file, d.samples.data(), d.info.frames) == d.info.frames;
    sf_close(file);
    return d;
}

}  // namespace brellin
