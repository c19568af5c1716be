// Builds BMP files byte by byte for the display tests and the fuzz seeds,
// including the malformed ones a real writer would never produce.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace brellin::testing {

struct BmpBuilder {
    std::int32_t width = 1;
    std::int32_t height = 1;  // negative: stored top row first
    std::uint16_t bitsPerPixel = 24;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;       // the header field, written as given
    std::vector<std::uint32_t> palette;  // 0xRRGGBB entries actually stored
    std::uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    bool writeMasks = false;        // also made true by compression 3
    std::uint32_t headerSize = 40;  // declared; extra bytes after the first 40 are zeros
    std::string signature = "BM";
    std::int64_t dataOffset = -1;           // -1: right after the tables; a larger one pads with zeros
    std::uint32_t trailingRowsMissing = 0;  // rows left out at the end (a truncated file)
    // Stored value of the pixel at (x, y), y counted from the top: a
    // colour-table index, 0xRRGGBB for 24 bits, the raw value for 16 and 32.
    std::function<std::uint32_t(std::int32_t, std::int32_t)> pixel = [](std::int32_t, std::int32_t) { return 0u; };

    static void put16(std::string& out, std::uint32_t v) {
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>((v >> 8) & 0xFF));
    }
    static void put32(std::string& out, std::uint32_t v) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    }

    std::uint32_t rowLength() const {
        std::uint64_t w = static_cast<std::uint64_t>(width < 0 ? -static_cast<std::int64_t>(width) : width);
        std::uint64_t bytes = (w * bitsPerPixel + 7) / 8;
        if (bitsPerPixel == 32) return static_cast<std::uint32_t>(bytes);
        return static_cast<std::uint32_t>((bytes + 3) & ~std::uint64_t{3});
    }

    std::string build() const {
        std::string tables;
        for (std::uint32_t c : palette) {
            tables.push_back(static_cast<char>(c & 0xFF));
            tables.push_back(static_cast<char>((c >> 8) & 0xFF));
            tables.push_back(static_cast<char>((c >> 16) & 0xFF));
            tables.push_back(0);
        }
        if (writeMasks || compression == 3) {
            for (std::uint32_t m : masks) put32(tables, m);
        }
        std::string extra(headerSize > 40 ? headerSize - 40 : 0, '\0');
        // A longer header pushes nothing: the tables follow the first 40
        // bytes, and the extra header bytes come after them.
        const std::uint32_t offset = dataOffset >= 0 ? static_cast<std::uint32_t>(dataOffset)
                                                     : static_cast<std::uint32_t>(54 + tables.size() + extra.size());
        const std::int32_t rows = height < 0 ? -height : height;
        const std::uint32_t stored = rowLength();

        std::string pixels;
        const std::int32_t keep = rows - static_cast<std::int32_t>(trailingRowsMissing);
        for (std::int32_t n = 0; n < keep; ++n) {
            // Bottom row first unless the height is negative.
            const std::int32_t y = height < 0 ? n : rows - 1 - n;
            std::string row(stored, '\0');
            for (std::int32_t x = 0; x < width; ++x) {
                const std::uint32_t v = pixel(x, y);
                const auto i = static_cast<std::size_t>(x);
                switch (bitsPerPixel) {
                    case 1:
                        row[i / 8] =
                            static_cast<char>(static_cast<std::uint32_t>(row[i / 8]) | ((v & 1) << (7 - x % 8)));
                        break;
                    case 2:
                        row[i / 4] =
                            static_cast<char>(static_cast<std::uint32_t>(row[i / 4]) | ((v & 3) << (6 - 2 * (x % 4))));
                        break;
                    case 4:
                        row[i / 2] =
                            static_cast<char>(static_cast<std::uint32_t>(row[i / 2]) | ((v & 15) << (x % 2 ? 0 : 4)));
                        break;
                    case 8: row[i] = static_cast<char>(v); break;
                    case 16:
                        row[2 * i] = static_cast<char>(v & 0xFF);
                        row[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
                        break;
                    case 24:
                        row[3 * i] = static_cast<char>(v & 0xFF);
                        row[3 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
                        row[3 * i + 2] = static_cast<char>((v >> 16) & 0xFF);
                        break;
                    case 32:
                        for (std::size_t k = 0; k < 4; ++k) row[4 * i + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
                        break;
                    default: break;
                }
            }
            pixels += row;
        }

        std::string out;
        out += signature.substr(0, 2);
        while (out.size() < 2) out.push_back('\0');
        put32(out, static_cast<std::uint32_t>(offset + pixels.size()));
        put32(out, 0);
        put32(out, offset);
        put32(out, headerSize);
        put32(out, static_cast<std::uint32_t>(width));
        put32(out, static_cast<std::uint32_t>(height));
        put16(out, 1);
        put16(out, bitsPerPixel);
        put32(out, compression);
        put32(out, stored * static_cast<std::uint32_t>(rows));
        put32(out, 2835);
        put32(out, 2835);
        put32(out, coloursUsed);
        put32(out, 0);
        out += tables;
        out += extra;
        if (out.size() < offset) out.resize(offset, '\0');
        out += pixels;
        return out;
    }
};

// 5-5-5 pixel of a 0xRRGGBB colour.
inline std::uint16_t pixelOfRgb(std::uint32_t rgb) {
    return static_cast<std::uint16_t>((((rgb >> 16) & 0xFF) >> 3) << 10 | (((rgb >> 8) & 0xFF) >> 3) << 5 |
                                      ((rgb & 0xFF) >> 3));
}

}  // namespace brellin::testing
