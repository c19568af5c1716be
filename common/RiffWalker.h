// RiffWalker: steps over the chunks of a RIFF file or of one of its lists,
// the one walk that both the RIFF MIDI reader and the SoundFont 2 reader use.
//
// A chunk is a four-byte identifier, a little-endian 32-bit body size and the
// body. The walker only does the offset arithmetic, in 64 bits so that no
// declared size can wrap an offset back into the file; the caller reads each
// eight-byte header from wherever the bytes are (a file, a buffer) and hands
// it over as a ByteReader. Padded walks step over the pad byte that follows a
// body of odd size; unpadded ones (RIFF MIDI files as the player has always
// read them) do not.
//
// Used on the caller's thread; a value that allocates nothing.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/ByteReader.h"

namespace brellin {

struct RiffChunk {
    char id[4] = {};
    std::uint32_t size = 0;  // body bytes as declared
    std::uint64_t body = 0;  // offset of the first body byte, in the walked bytes' offsets

    bool is(const char* identifier) const noexcept { return std::memcmp(id, identifier, 4) == 0; }
};

class RiffWalker {
public:
    static constexpr std::uint32_t HEADER_SIZE = 8;

    // Walks the chunks whose headers start in [begin, end); a chunk whose
    // body runs past `limit` ends the walk as an overrun.
    RiffWalker(std::uint64_t begin, std::uint64_t endOffset, std::uint64_t limitOffset, bool padToEven) noexcept
        : position(begin), end(endOffset), limit(limitOffset), padded(padToEven) {}

    // True while a whole header fits before the end and nothing overran.
    bool more() const noexcept { return !overrun && position + HEADER_SIZE <= end; }
    // Where the next header is to be read.
    std::uint64_t headerOffset() const noexcept { return position; }
    // True when the walk stopped at a chunk that runs past the limit.
    bool overran() const noexcept { return overrun; }

    // Takes the header read at headerOffset() and steps past the chunk's
    // body. False, with overran() set, when the body runs past the limit or
    // the header is short.
    bool take(ByteReader header, RiffChunk& chunk) noexcept {
        header.read(chunk.id, 4);
        chunk.size = header.u32le();
        chunk.body = position + HEADER_SIZE;
        if (header.failed() || chunk.body + chunk.size > limit) {
            overrun = true;
            return false;
        }
        padSkipped = padded && (chunk.size & 1u) != 0;
        position = chunk.body + chunk.size + (padSkipped ? 1u : 0u);
        return true;
    }

    // True when the chunk just taken had an odd size and the walk stepped
    // over a pad byte after it.
    bool skippedPad() const noexcept { return padSkipped; }
    // Some writers leave the pad byte out: steps back onto the byte right
    // after the body of the chunk just taken. Only after skippedPad().
    void dropPad() noexcept {
        if (padSkipped) {
            --position;
            padSkipped = false;
        }
    }

    // The walk over bytes in memory: `bytes` holds the walked offsets from 0.
    // False at the end of the walk or at an overrun.
    bool next(const ByteReader& bytes, RiffChunk& chunk) noexcept {
        if (!more()) return false;
        if (position > bytes.size()) {
            overrun = true;
            return false;
        }
        return take(bytes.at(static_cast<std::size_t>(position)).sub(HEADER_SIZE), chunk);
    }

private:
    std::uint64_t position;
    std::uint64_t end;
    std::uint64_t limit;
    bool padded;
    bool overrun = false;
    bool padSkipped = false;
};

}  // namespace brellin
