// BitmapReader: the bytes a BMP picture is read from.
//
// BitmapLoader reads headers and pixel rows through this narrow interface, so
// the same decoder runs on a file (Surface::loadBitmap) and on bytes in
// memory (the fuzz target, tests). Every read is all-or-nothing, so a read
// past the end is a failure, never a partial buffer.
#pragma once

#include <cstdint>
#include <cstring>

namespace brellin {

class BitmapReader {
public:
    virtual ~BitmapReader() = default;
    // True only when exactly n bytes were read.
    virtual bool read(void* buffer, std::uint32_t n) = 0;
    // Moves to an absolute position; a position past the end is allowed
    // (the next read fails), one the source cannot address is not.
    virtual bool seekTo(std::uint64_t position) = 0;
    // Moves forward by n bytes without reading them.
    virtual bool skip(std::uint64_t n) = 0;
    // Size of the whole source in bytes; UNKNOWN_SIZE when it cannot be told.
    virtual std::uint64_t size() = 0;

    static constexpr std::uint64_t UNKNOWN_SIZE = ~std::uint64_t{0};
};

// Reads from a block of memory that the caller keeps alive. Counts the bytes
// it hands out, so that tests can see which rows were skipped.
class MemoryBitmapReader final : public BitmapReader {
public:
    MemoryBitmapReader(const void* data, std::size_t size)
        : bytes(static_cast<const std::uint8_t*>(data)), length(size) {}

    bool read(void* buffer, std::uint32_t n) override {
        if (position > length || n > length - position) {
            position = length;
            return false;
        }
        if (n > 0) std::memcpy(buffer, bytes + position, n);
        position += n;
        bytesRead += n;
        return true;
    }
    bool seekTo(std::uint64_t target) override {
        position = target;
        return true;
    }
    bool skip(std::uint64_t n) override {
        if (n > ~std::uint64_t{0} - position) return false;
        position += n;
        return true;
    }
    std::uint64_t size() override { return length; }

    std::uint64_t bytesRead = 0;

private:
    const std::uint8_t* bytes;
    std::uint64_t length;
    std::uint64_t position = 0;
};

}  // namespace brellin
