// OggVorbisSample: the compressed samples of SoundFont banks of version 3,
// each one Ogg Vorbis stream of a single channel.
//
// `oggStreamFrames` looks only at the stream's last page (the granule
// position there is the number of decoded frames), so a bank's sample
// lengths are known without decoding anything. `decodeOggVorbis` decodes a
// whole stream from memory through libvorbisfile into 16-bit frames. Both
// are bounded: no input makes them read outside the bytes they are given or
// produce more than `maxFrames` frames. Called on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brellin {

// The longest Ogg page: a 27-byte header, 255 lacing values, 255 × 255 bytes.
constexpr std::size_t OGG_MAX_PAGE_BYTES = 27 + 255 + 255 * 255;

// From the last bytes of a stream (`tail`, up to OGG_MAX_PAGE_BYTES of them,
// ending where the stream ends): the number of frames it decodes to. False
// with `why` when the bytes do not end on a complete last page (the stream
// is cut short or damaged) or the count is 0 or more than `maxFrames`.
bool oggStreamFrames(const std::uint8_t* tail, std::size_t size, std::uint32_t maxFrames, std::uint32_t& frames,
                     std::string& why);

// Decodes the stream in `data` into exactly `frames` 16-bit frames. False
// with `why` when it is not a mono Vorbis stream, a packet does not decode,
// or it ends before `frames` frames.
bool decodeOggVorbis(const std::uint8_t* data, std::size_t size, std::uint32_t frames, std::vector<std::int16_t>& out,
                     std::string& why);

}  // namespace brellin
