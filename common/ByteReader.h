// ByteReader: a cursor over a block of bytes that every file reader of the
// program parses through (MIDI, RIFF chunks, BRF sound fonts, SF2 banks, BMP
// headers).
//
// Every read is checked against the end of the block, so no read can leave
// it: a read that does not fit moves the cursor to the end, sets the sticky
// `failed()` flag and yields zero (copies give zero bytes). A parser can
// therefore read a whole record and check `failed()` once afterwards.
// Sub-readers cover one chunk of the parent's bytes and cannot read beyond it.
//
// The reader does not own the bytes; the caller keeps them alive. It is a
// small value (pointer, size, position, flag) meant to be copied freely; it
// allocates nothing and takes no lock, so the render thread's track step may
// use it. Multi-byte values: `le` little-endian (RIFF, BRF, SF2, BMP), `be`
// big-endian (MIDI).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brellin {

class ByteReader {
public:
    ByteReader() noexcept = default;
    ByteReader(const void* data, std::size_t size) noexcept
        : bytes(static_cast<const std::uint8_t*>(data)), length(data ? size : 0) {}

    std::size_t size() const noexcept { return length; }
    std::size_t position() const noexcept { return cursor; }
    std::size_t remaining() const noexcept { return length - cursor; }
    bool atEnd() const noexcept { return cursor == length; }
    // True once any read, skip or seek did not fit; never cleared.
    bool failed() const noexcept { return broken; }
    // The bytes at the cursor (valid for remaining() bytes).
    const std::uint8_t* current() const noexcept { return bytes ? bytes + cursor : nullptr; }

    std::uint8_t u8() noexcept {
        if (cursor >= length) return fail();
        return bytes[cursor++];
    }
    std::uint16_t u16le() noexcept { return static_cast<std::uint16_t>(take(2, false)); }
    std::uint32_t u32le() noexcept { return static_cast<std::uint32_t>(take(4, false)); }
    std::uint16_t u16be() noexcept { return static_cast<std::uint16_t>(take(2, true)); }
    std::uint32_t u32be() noexcept { return static_cast<std::uint32_t>(take(4, true)); }
    std::int16_t s16le() noexcept { return static_cast<std::int16_t>(u16le()); }
    std::int32_t s32le() noexcept { return static_cast<std::int32_t>(u32le()); }

    // A MIDI variable-length quantity: seven bits a byte, most significant
    // first, bit 7 set on every byte but the last. At most four bytes are
    // read; four in a row with bit 7 set are an overlong quantity, which
    // gives 0xFFFFFFFF with the cursor after them (not a failure). A quantity
    // cut short by the end fails and yields 0.
    std::uint32_t varLen() noexcept {
        std::uint32_t value = 0;
        for (int count = 0; count < 4; ++count) {
            if (cursor >= length) return fail();
            const std::uint8_t b = bytes[cursor++];
            value = value << 7 | (b & 0x7Fu);
            if (!(b & 0x80)) return value;
        }
        return 0xFFFFFFFFu;
    }

    // The byte `ahead` bytes after the cursor without moving; 0 past the end
    // (not a failure: looking ahead is how a parser decides what comes next).
    std::uint8_t peek(std::size_t ahead = 0) const noexcept {
        return ahead < length - cursor ? bytes[cursor + ahead] : 0;
    }
    // True when the next four bytes are the chunk identifier `id`.
    bool startsWith(const char* id) const noexcept {
        return remaining() >= 4 && std::memcmp(bytes + cursor, id, 4) == 0;
    }

    // Copies the next n bytes; when fewer are left, `out` gets n zero bytes.
    bool read(void* out, std::size_t n) noexcept {
        if (n > length - cursor) {
            if (n) std::memset(out, 0, n);
            fail();
            return false;
        }
        if (n) std::memcpy(out, bytes + cursor, n);
        cursor += n;
        return true;
    }
    bool skip(std::size_t n) noexcept {
        if (n > length - cursor) {
            fail();
            return false;
        }
        cursor += n;
        return true;
    }
    // Moves to an absolute offset; one past the end fails.
    bool seek(std::size_t offset) noexcept {
        if (offset > length) {
            fail();
            return false;
        }
        cursor = offset;
        return true;
    }
    // The next n bytes as a reader of their own, the cursor moving past
    // them. When fewer are left: an empty reader that has failed too.
    ByteReader sub(std::size_t n) noexcept {
        if (n > length - cursor) {
            fail();
            ByteReader none;
            none.broken = true;
            return none;
        }
        ByteReader part(bytes + cursor, n);
        cursor += n;
        return part;
    }
    // The same reader with its cursor at `offset` (at the end, failed, when
    // the offset lies past it); this reader does not move.
    ByteReader at(std::size_t offset) const noexcept {
        ByteReader copy = *this;
        copy.seek(offset);
        return copy;
    }

private:
    std::uint8_t fail() noexcept {
        broken = true;
        cursor = length;
        return 0;
    }
    std::uint32_t take(std::size_t n, bool bigEndian) noexcept {
        if (n > length - cursor) return fail();
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t b = bytes[cursor + i];
            value |= bigEndian ? b << (8 * (n - 1 - i)) : b << (8 * i);
        }
        cursor += n;
        return value;
    }

    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    std::size_t cursor = 0;
    bool broken = false;
};

}  // namespace brellin
