#include "display/BitmapLoader.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>

#include "common/ByteReader.h"
#include "display/Surface.h"

namespace brellin {

namespace {

constexpr std::uint32_t FILE_HEADER_SIZE = 14;
constexpr std::uint32_t INFO_HEADER_SIZE = 40;  // the part of the information header that is read

std::uint16_t pixelOf(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return static_cast<std::uint16_t>(((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
}

// One channel of a bit-field pixel.
struct Channel {
    std::uint32_t mask = 0;
    std::uint32_t shift = 0;   // zero bits below the lowest set bit of the mask
    std::uint32_t range = 1;   // mask >> shift: the field's largest value
    std::uint32_t narrow = 0;  // 32 bits: right shift that keeps the field's top 8 bits

    // 16 bits: a field of any width stretched to 0-255; a zero mask counts as 1.
    static Channel forSixteen(std::uint32_t mask) {
        Channel c;
        c.mask = mask == 0 ? 1 : mask;
        c.shift = static_cast<std::uint32_t>(std::countr_zero(c.mask));
        c.range = c.mask >> c.shift;
        return c;
    }
    std::uint32_t stretched(std::uint32_t value) const {
        return static_cast<std::uint32_t>(std::uint64_t{(value & mask) >> shift} * 255 / range);
    }

    // 32 bits: the field used directly as the 8-bit value; a zero mask gives 0.
    static Channel forThirtyTwo(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask != 0) {
            c.shift = static_cast<std::uint32_t>(std::countr_zero(mask));
            const auto bits = static_cast<std::uint32_t>(std::bit_width(mask >> c.shift));
            c.narrow = bits > 8 ? bits - 8 : 0;
        }
        return c;
    }
    std::uint32_t direct(std::uint32_t value) const { return ((value & mask) >> shift) >> narrow; }
};

}  // namespace

std::uint64_t BitmapLoader::storedRowLength(std::int64_t width, std::uint32_t bitsPerPixel) {
    if (width <= 0) return 0;
    const std::uint64_t w = static_cast<std::uint64_t>(width);
    std::uint64_t bytes;
    switch (bitsPerPixel) {
        case 1: bytes = (w + 7) / 8; break;
        case 2: bytes = (w + 3) / 4; break;
        case 4: bytes = (w + 1) / 2; break;
        case 8: bytes = w; break;
        case 16: bytes = w * 2; break;
        case 24: bytes = w * 3; break;
        case 32: return w * 4;
        default: return 0;
    }
    return (bytes + 3) & ~std::uint64_t{3};
}

bool BitmapLoader::draw(Surface& surface, BitmapReader& reader, std::int32_t x, std::int32_t y, std::int32_t* outWidth,
                        std::int32_t* outHeight, bool fitSurface) {
    if (x > surface.width() || y > surface.height()) return true;

    auto fail = [&surface]() {
        surface.lastError = RESULT_FILE_IO_ERROR;
        return false;
    };

    std::uint8_t header[FILE_HEADER_SIZE + INFO_HEADER_SIZE];
    if (!reader.read(header, sizeof header)) return fail();
    ByteReader cursor(header, sizeof header);
    const std::uint32_t type = cursor.u16le();
    cursor.u32le();  // file size, not trusted
    cursor.u32le();  // reserved
    const std::uint32_t dataOffset = cursor.u32le();
    cursor.u32le();  // information header size: the tables follow its first 40 bytes whatever it says
    const std::int32_t pictureWidth = cursor.s32le();
    const std::int32_t pictureHeight = cursor.s32le();
    cursor.u16le();  // planes
    const std::uint32_t bitsPerPixel = cursor.u16le();
    const std::uint32_t compression = cursor.u32le();
    cursor.u32le();  // image size
    cursor.u32le();  // horizontal resolution
    cursor.u32le();  // vertical resolution
    const std::uint32_t coloursUsed = cursor.u32le();
    cursor.u32le();                                         // important colours
    if (cursor.failed() || type != 0x4D42u) return fail();  // "BM"

    const bool accepted = (compression == 0 && (bitsPerPixel == 1 || bitsPerPixel == 2 || bitsPerPixel == 4 ||
                                                bitsPerPixel == 8 || bitsPerPixel == 24)) ||
                          (compression == 3 && (bitsPerPixel == 16 || bitsPerPixel == 32));
    if (!accepted) return fail();

    // Colour table as ready 5-5-5 pixels; entries the file does not give stay black.
    std::uint16_t palette[256] = {};
    if (bitsPerPixel <= 8) {
        const std::uint32_t declared = coloursUsed != 0 ? coloursUsed : (1u << bitsPerPixel);
        const std::uint32_t entries = std::min<std::uint32_t>(declared, 256);
        std::uint8_t table[256 * 4];
        if (!reader.read(table, entries * 4)) return fail();
        for (std::uint32_t i = 0; i < entries; ++i)
            palette[i] = pixelOf(table[i * 4 + 2], table[i * 4 + 1], table[i * 4]);
    }
    Channel red, green, blue;
    if (compression == 3) {
        std::uint8_t maskBytes[12];
        if (!reader.read(maskBytes, sizeof maskBytes)) return fail();
        ByteReader masks(maskBytes, sizeof maskBytes);
        const std::uint32_t redMask = masks.u32le(), greenMask = masks.u32le(), blueMask = masks.u32le();
        if (bitsPerPixel == 16) {
            red = Channel::forSixteen(redMask);
            green = Channel::forSixteen(greenMask);
            blue = Channel::forSixteen(blueMask);
        } else {
            red = Channel::forThirtyTwo(redMask);
            green = Channel::forThirtyTwo(greenMask);
            blue = Channel::forThirtyTwo(blueMask);
        }
    }

    if (!reader.seekTo(dataOffset)) return fail();

    const std::int64_t px = x, py = y;
    const std::int64_t w = pictureWidth, h = pictureHeight;
    // Nothing of the picture falls into the Surface. Pictures stored top row
    // first (negative height) and negative widths are never drawn.
    if (w < -px || h < -py || w < 0 || h < 0) return true;

    const std::uint64_t rowLength = storedRowLength(w, bitsPerPixel);
    const std::uint64_t fileSize = reader.size();
    const std::int64_t skipLeft = px < 0 ? -px : 0;
    const std::int64_t skipTop = py < 0 ? -py : 0;

    if (fitSurface) {
        // Every remaining row of the picture will be read: the file has to
        // hold them before a Surface of the picture's size is made.
        const std::uint64_t rowsNeeded = static_cast<std::uint64_t>(h - skipTop);
        if (rowsNeeded > 0 && rowLength > 0) {
            if (fileSize == BitmapReader::UNKNOWN_SIZE || dataOffset > fileSize) return fail();
            if ((fileSize - dataOffset) / rowLength < rowsNeeded) return fail();
        }
        const std::int64_t fitWidth = px + w, fitHeight = py + h;
        if (fitWidth > Surface::MAX_SIDE || fitHeight > Surface::MAX_SIDE) return fail();
        if (!surface.resize(static_cast<std::int32_t>(fitWidth), static_cast<std::int32_t>(fitHeight))) return fail();
    }
    if (outWidth) *outWidth = pictureWidth;
    if (outHeight) *outHeight = pictureHeight;

    const std::int64_t originX = std::max<std::int64_t>(px, 0);
    const std::int64_t originY = std::max<std::int64_t>(py, 0);
    const std::int64_t columns = std::min<std::int64_t>(w - skipLeft, surface.width() - originX);
    const std::int64_t rows = std::min<std::int64_t>(h - skipTop, surface.height() - originY);

    if (columns > 0 && rows > 0) {
        // The row buffer is only made when the file could hold one row.
        if (fileSize == BitmapReader::UNKNOWN_SIZE || rowLength > fileSize || rowLength > 0xFFFFFFFFu) return fail();
        const std::uint64_t rowsBelow = static_cast<std::uint64_t>(h - skipTop - rows);
        // No overflow: fewer than 2^31 rows of at most 2^32 bytes.
        if (rowsBelow != 0 && !reader.skip(rowsBelow * rowLength)) return fail();

        std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[rowLength]);
        if (!row) return fail();
        const std::uint8_t* bytes = row.get();
        const std::uint64_t first = static_cast<std::uint64_t>(skipLeft);
        const std::uint64_t last = first + static_cast<std::uint64_t>(columns);  // exclusive

        // The file holds the bottom row first: the first row read is the lowest target row.
        for (std::int64_t r = rows - 1; r >= 0; --r) {
            if (!reader.read(row.get(), static_cast<std::uint32_t>(rowLength))) return fail();
            std::uint16_t* target = surface.pixels() + (originY + r) * surface.width() + originX;
            std::uint16_t* const rowEnd = target + columns;
            const ByteReader pixels(bytes, static_cast<std::size_t>(rowLength));
            switch (bitsPerPixel) {
                case 1:
                    for (std::uint64_t c = first; c < last; ++c)
                        *target++ = palette[(bytes[c >> 3] >> (7 - (c & 7))) & 0x01];
                    break;
                case 2:
                    for (std::uint64_t c = first; c < last; ++c)
                        *target++ = palette[(bytes[c >> 2] >> (6 - 2 * (c & 3))) & 0x03];
                    break;
                case 4:
                    for (std::uint64_t c = first; c < last; ++c)
                        *target++ = palette[(bytes[c >> 1] >> ((c & 1) ? 0 : 4)) & 0x0F];
                    break;
                case 8:
                    for (std::uint64_t c = first; c < last; ++c) *target++ = palette[bytes[c]];
                    break;
                case 16:
                    for (ByteReader words = pixels.at(2 * first); target < rowEnd; ++target) {
                        const std::uint32_t v = words.u16le();
                        *target = pixelOf(red.stretched(v), green.stretched(v), blue.stretched(v));
                    }
                    break;
                case 24:
                    for (std::uint64_t c = first; c < last; ++c)
                        *target++ = pixelOf(bytes[3 * c + 2], bytes[3 * c + 1], bytes[3 * c]);
                    break;
                case 32:
                    for (ByteReader words = pixels.at(4 * first); target < rowEnd; ++target) {
                        const std::uint32_t v = words.u32le();
                        *target = pixelOf(red.direct(v), green.direct(v), blue.direct(v));
                    }
                    break;
            }
        }
    }

    surface.growDirtyRect(originX, originY);
    surface.growDirtyRect(originX + surface.width() - px, originY + surface.height());
    return true;
}

}  // namespace brellin
