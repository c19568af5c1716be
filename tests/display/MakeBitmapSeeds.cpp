// Writes the seed corpus of the BMP decoder's fuzz target: one tiny file for
// each accepted format and for the malformed headers the decoder must refuse.
//   make-bitmap-seeds fuzz/corpus/bitmap
#include <cstdio>
#include <fstream>
#include <string>

#include "BmpBuilder.h"

using brellin::testing::BmpBuilder;

namespace {

std::uint32_t rgb(std::int32_t x, std::int32_t y) {
    return (static_cast<std::uint32_t>(x * 40) << 16) | (static_cast<std::uint32_t>(y * 60) << 8) | 0x40u;
}

BmpBuilder paletted(std::uint16_t bits, std::int32_t w, std::int32_t h) {
    BmpBuilder b;
    b.width = w;
    b.height = h;
    b.bitsPerPixel = bits;
    for (std::uint32_t i = 0; i < (1u << bits) && i < 16; ++i) b.palette.push_back(i * 0x110F0Du);
    b.coloursUsed = static_cast<std::uint32_t>(b.palette.size());
    b.pixel = [bits](std::int32_t x, std::int32_t y) { return static_cast<std::uint32_t>(x + y) % (1u << bits); };
    return b;
}

BmpBuilder trueColour(std::int32_t w, std::int32_t h) {
    BmpBuilder b;
    b.width = w;
    b.height = h;
    b.pixel = rgb;
    return b;
}

void patch32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-bitmap-seeds folder\n");
        return 2;
    }
    const std::string folder = argv[1];
    int failures = 0;
    auto put = [&](const char* name, const std::string& bytes) {
        std::ofstream out(folder + "/" + name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) ++failures;
    };

    put("bits1.bmp", paletted(1, 9, 3).build());
    put("bits2.bmp", paletted(2, 5, 3).build());
    put("bits4.bmp", paletted(4, 7, 2).build());
    BmpBuilder index200 = paletted(8, 3, 2);
    index200.pixel = [](std::int32_t x, std::int32_t) { return x == 0 ? 200u : 3u; };
    put("bits8-short-table.bmp", index200.build());
    put("bits24.bmp", trueColour(5, 4).build());
    put("bits24-odd.bmp", trueColour(3, 3).build());

    BmpBuilder b565;
    b565.width = 3;
    b565.height = 2;
    b565.bitsPerPixel = 16;
    b565.compression = 3;
    b565.pixel = [](std::int32_t x, std::int32_t y) {
        return x == 0 ? 0xFFFFu : static_cast<std::uint32_t>(x * 0x1234 + y);
    };
    put("bits16-565.bmp", b565.build());
    BmpBuilder v5 = b565;
    v5.headerSize = 124;
    v5.masks[0] = 0x7C00;
    v5.masks[1] = 0x03E0;
    v5.masks[2] = 0x001F;
    put("bits16-v5-header.bmp", v5.build());

    BmpBuilder b32;
    b32.width = 2;
    b32.height = 2;
    b32.bitsPerPixel = 32;
    b32.compression = 3;
    b32.masks[0] = 0x00FF0000;
    b32.masks[1] = 0x0000FF00;
    b32.masks[2] = 0x000000FF;
    b32.pixel = rgb;
    put("bits32-fields.bmp", b32.build());
    BmpBuilder oddMasks = b32;
    oddMasks.masks[0] = 0xFFF00000;
    oddMasks.masks[1] = 0;
    oddMasks.masks[2] = 0x00000101;
    put("bits32-odd-masks.bmp", oddMasks.build());

    BmpBuilder plain32 = b32;
    plain32.compression = 0;
    put("reject-bits32-plain.bmp", plain32.build());
    BmpBuilder rle = paletted(8, 4, 2);
    rle.compression = 1;
    put("reject-rle8.bmp", rle.build());
    BmpBuilder bx = trueColour(2, 2);
    bx.signature = "BX";
    put("reject-bx.bmp", bx.build());

    put("top-down.bmp", trueColour(3, -3).build());
    BmpBuilder truncated = trueColour(4, 4);
    truncated.trailingRowsMissing = 2;
    put("truncated.bmp", truncated.build());
    BmpBuilder manyColours = paletted(8, 2, 2);
    manyColours.coloursUsed = 100000;
    put("many-colours.bmp", manyColours.build());

    std::string huge = trueColour(2, 2).build();
    patch32(huge, 18, 0x7FFFFFFF);
    patch32(huge, 22, 0x7FFFFFFF);
    put("huge-size.bmp", huge);
    std::string negativeWidth = trueColour(2, 2).build();
    patch32(negativeWidth, 18, 0xFFFFFFFE);
    put("negative-width.bmp", negativeWidth);
    std::string farOffset = trueColour(2, 2).build();
    patch32(farOffset, 10, 0xFFFFFF00u);
    put("offset-past-end.bmp", farOffset);
    put("header-only.bmp", trueColour(2, 2).build().substr(0, 54));

    return failures == 0 ? 0 : 1;
}
