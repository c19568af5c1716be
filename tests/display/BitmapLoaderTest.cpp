#include <gtest/gtest.h>

#include <cstring>

#include "BmpBuilder.h"
#include "TempDir.h"
#include "display/BitmapLoader.h"
#include "display/BmpWriter.h"
#include "display/Surface.h"

namespace brellin {
namespace {

using testing::BmpBuilder;
using testing::pixelOfRgb;
using testing::TempDir;

// A colour that tells its position: red = x, green = y, blue mixes both.
std::uint32_t positionColour(std::int32_t x, std::int32_t y) {
    return (static_cast<std::uint32_t>(x & 0xFF) << 16) | (static_cast<std::uint32_t>(y & 0xFF) << 8) |
           static_cast<std::uint32_t>((x / 8 + y / 8) * 8 & 0xFF);
}

BmpBuilder positionPicture(std::int32_t w, std::int32_t h) {
    BmpBuilder b;
    b.width = w;
    b.height = h;
    b.bitsPerPixel = 24;
    b.pixel = [](std::int32_t x, std::int32_t y) { return positionColour(x, y); };
    return b;
}

void patch32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
}

class BitmapLoading : public ::testing::Test {
protected:
    bool load(Surface& s, const std::string& bytes, std::int32_t x, std::int32_t y, bool fit, std::int32_t* w = nullptr,
              std::int32_t* h = nullptr) {
        const std::string path = dir.write("picture.bmp", bytes);
        return s.loadBitmap(x, y, path.c_str(), w, h, fit);
    }
    TempDir dir;
};

TEST_F(BitmapLoading, FitSurfaceTakesThePictureSize) {
    Surface s;
    std::int32_t w = -1, h = -1;
    ASSERT_TRUE(load(s, positionPicture(240, 120).build(), 0, 0, true, &w, &h));
    EXPECT_EQ(w, 240);
    EXPECT_EQ(h, 120);
    EXPECT_EQ(s.width(), 240);
    EXPECT_EQ(s.height(), 120);
    for (std::int32_t y = 0; y < 120; y += 7)
        for (std::int32_t x = 0; x < 240; x += 5)
            ASSERT_EQ(s.pixel(x, y), pixelOfRgb(positionColour(x, y))) << x << "," << y;
    EXPECT_EQ(s.pixel(239, 119), pixelOfRgb(positionColour(239, 119)));
}

TEST_F(BitmapLoading, OddWidthFitsToEvenWidthWithBlackLastColumn) {
    BmpBuilder b = positionPicture(101, 10);
    b.pixel = [](std::int32_t, std::int32_t) { return 0xFFFFFFu; };
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.width(), 102);
    EXPECT_EQ(s.height(), 10);
    for (std::int32_t y = 0; y < 10; ++y) {
        EXPECT_EQ(s.pixel(100, y), 0x7FFF);
        EXPECT_EQ(s.pixel(101, y), 0);
    }
}

TEST_F(BitmapLoading, NegativeOffsetCutsAWindowOutOfASheet) {
    Surface s;
    ASSERT_TRUE(s.resize(30, 20));
    ASSERT_TRUE(load(s, positionPicture(500, 300).build(), -100, -50, false));
    for (std::int32_t y = 0; y < 20; ++y)
        for (std::int32_t x = 0; x < 30; ++x)
            ASSERT_EQ(s.pixel(x, y), pixelOfRgb(positionColour(100 + x, 50 + y))) << x << "," << y;
}

TEST_F(BitmapLoading, RowsBelowTheWindowAreSkippedNotRead) {
    const BmpBuilder b = positionPicture(500, 300);
    const std::string bytes = b.build();
    MemoryBitmapReader reader(bytes.data(), bytes.size());
    Surface s;
    ASSERT_TRUE(s.resize(30, 20));
    ASSERT_TRUE(BitmapLoader::draw(s, reader, -100, -50, nullptr, nullptr, false));
    // The headers and exactly the 20 rows that are drawn.
    EXPECT_EQ(reader.bytesRead, 54u + 20u * b.rowLength());
    EXPECT_EQ(s.pixel(29, 19), pixelOfRgb(positionColour(129, 69)));
}

TEST_F(BitmapLoading, PositiveOffsetIsClippedAtTheRightAndBottom) {
    Surface s;
    ASSERT_TRUE(s.resize(20, 10));
    ASSERT_TRUE(load(s, positionPicture(16, 8).build(), 12, 5, false));
    EXPECT_EQ(s.pixel(11, 5), 0);
    EXPECT_EQ(s.pixel(12, 5), pixelOfRgb(positionColour(0, 0)));
    EXPECT_EQ(s.pixel(19, 9), pixelOfRgb(positionColour(7, 4)));
    EXPECT_EQ(s.pixel(12, 4), 0);
}

TEST_F(BitmapLoading, DirtyRectangleCoversOriginAndSurfaceExtent) {
    Surface s;
    ASSERT_TRUE(s.resize(30, 20));
    s.resetDirtyRect();
    ASSERT_TRUE(load(s, positionPicture(500, 300).build(), -100, -50, false));
    const DirtyRect d = s.dirtyRect();
    EXPECT_EQ(d.left, 0);
    EXPECT_EQ(d.top, 0);
    EXPECT_EQ(d.right, 130);
    EXPECT_EQ(d.bottom, 20);
}

TEST_F(BitmapLoading, PaletteEntriesTheFileDoesNotGiveAreBlack) {
    BmpBuilder b;
    b.width = 4;
    b.height = 1;
    b.bitsPerPixel = 8;
    b.coloursUsed = 16;
    for (std::uint32_t i = 0; i < 16; ++i) b.palette.push_back(0x102030u * (i + 1));
    b.pixel = [](std::int32_t x, std::int32_t) { return x == 0 ? 200u : x == 1 ? 3u : 15u; };
    Surface s;
    ASSERT_TRUE(s.resize(4, 1));
    ASSERT_TRUE(s.fillRect(0, 0, 4, 1, Colour{255, 255, 255}));
    ASSERT_TRUE(load(s, b.build(), 0, 0, false));
    EXPECT_EQ(s.pixel(0, 0), 0);
    EXPECT_EQ(s.pixel(1, 0), pixelOfRgb(0x102030u * 4));
    EXPECT_EQ(s.pixel(2, 0), pixelOfRgb(0x102030u * 16));
}

TEST_F(BitmapLoading, FourBitPixelsTakeHighNibbleFirst) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bitsPerPixel = 4;
    for (std::uint32_t i = 0; i < 16; ++i) b.palette.push_back(i * 0x0F0F0Fu);
    b.pixel = [](std::int32_t x, std::int32_t) { return x == 0 ? 1u : 15u; };  // first byte 0x1F
    const std::string bytes = b.build();
    ASSERT_EQ(static_cast<unsigned char>(bytes[54 + 64]), 0x1F);
    Surface s;
    ASSERT_TRUE(load(s, bytes, 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), pixelOfRgb(0x0F0F0F));
    EXPECT_EQ(s.pixel(1, 0), pixelOfRgb(15 * 0x0F0F0Fu));
}

TEST_F(BitmapLoading, OneAndTwoBitPixelsTakeHighestBitsFirst) {
    for (std::uint16_t bits : {std::uint16_t{1}, std::uint16_t{2}}) {
        BmpBuilder b;
        b.width = 13;  // more than one byte, not a whole number of bytes
        b.height = 3;
        b.bitsPerPixel = bits;
        b.palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
        b.palette.resize(1u << bits);
        const std::uint32_t levels = 1u << bits;
        b.pixel = [levels](std::int32_t x, std::int32_t y) { return static_cast<std::uint32_t>(x * 3 + y) % levels; };
        Surface s;
        ASSERT_TRUE(load(s, b.build(), 0, 0, true)) << bits;
        for (std::int32_t y = 0; y < 3; ++y)
            for (std::int32_t x = 0; x < 13; ++x)
                ASSERT_EQ(s.pixel(x, y), pixelOfRgb(b.palette[static_cast<std::uint32_t>(x * 3 + y) % levels]))
                    << bits << ":" << x << "," << y;
    }
}

TEST_F(BitmapLoading, SixteenBitFieldsStretchEachChannel) {
    BmpBuilder b;
    b.width = 3;
    b.height = 1;
    b.bitsPerPixel = 16;
    b.compression = 3;  // 5-6-5 masks by default
    b.pixel = [](std::int32_t x, std::int32_t) {
        return x == 0 ? 0xFFFFu : x == 1 ? (32u << 5) : (1u << 11);  // white, half green, darkest red
    };
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), 0x7FFF);
    EXPECT_EQ(s.pixel(1, 0), (32 * 255 / 63 >> 3) << 5);
    EXPECT_EQ(s.pixel(2, 0), (255 / 31 >> 3) << 10);
}

TEST_F(BitmapLoading, ThirtyTwoBitFieldsUseEightBitChannels) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bitsPerPixel = 32;
    b.compression = 3;
    b.masks[0] = 0x00FF0000;
    b.masks[1] = 0x0000FF00;
    b.masks[2] = 0x000000FF;
    b.pixel = [](std::int32_t x, std::int32_t) { return x == 0 ? 0xFF804020u : 0x00FFFFFFu; };
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), pixelOfRgb(0x804020));
    EXPECT_EQ(s.pixel(1, 0), 0x7FFF);
}

TEST_F(BitmapLoading, ThirtyTwoBitZeroMaskIsDarkAndWideMaskKeepsTopBits) {
    BmpBuilder b;
    b.width = 1;
    b.height = 1;
    b.bitsPerPixel = 32;
    b.compression = 3;
    b.masks[0] = 0xFFF00000;  // 12 bits of red
    b.masks[1] = 0;
    b.masks[2] = 0x000000FF;
    b.pixel = [](std::int32_t, std::int32_t) { return 0x80000044u; };  // red field 0x800, no green bits
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), pixelOfRgb(0x800044));
}

TEST_F(BitmapLoading, MoreThan256DeclaredColoursReadsTheFirst256) {
    BmpBuilder b;
    b.width = 2;
    b.height = 1;
    b.bitsPerPixel = 8;
    b.coloursUsed = 100000;
    for (std::uint32_t i = 0; i < 256; ++i) b.palette.push_back(i << 16);
    b.pixel = [](std::int32_t x, std::int32_t) { return x == 0 ? 255u : 8u; };
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), pixelOfRgb(255u << 16));
    EXPECT_EQ(s.pixel(1, 0), pixelOfRgb(8u << 16));
}

TEST_F(BitmapLoading, TablesFollowTheFirstFortyHeaderBytesWhateverTheHeaderSize) {
    BmpBuilder b;
    b.width = 1;
    b.height = 1;
    b.bitsPerPixel = 16;
    b.compression = 3;
    b.headerSize = 124;  // a version 5 header: its masks sit at the same place
    b.masks[0] = 0x7C00;
    b.masks[1] = 0x03E0;
    b.masks[2] = 0x001F;
    b.pixel = [](std::int32_t, std::int32_t) { return 0x1234u; };
    Surface s;
    ASSERT_TRUE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.pixel(0, 0), 0x1234);
}

TEST_F(BitmapLoading, UnacceptedFormatsFailWithFileIoError) {
    BmpBuilder uncompressed32;
    uncompressed32.bitsPerPixel = 32;
    BmpBuilder rle8;
    rle8.bitsPerPixel = 8;
    rle8.compression = 1;
    rle8.palette.assign(256, 0);
    BmpBuilder otherLetters = positionPicture(4, 4);
    otherLetters.signature = "BX";
    BmpBuilder bitFields24 = positionPicture(4, 4);
    bitFields24.compression = 3;
    for (const BmpBuilder* b : {&uncompressed32, &rle8, &otherLetters, &bitFields24}) {
        Surface s;
        ASSERT_TRUE(s.resize(8, 8));
        EXPECT_FALSE(load(s, b->build(), 0, 0, false));
        EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    }
}

TEST_F(BitmapLoading, TopRowFirstPictureDrawsNothingAndReportsNoSize) {
    BmpBuilder b = positionPicture(4, -4);
    Surface s;
    ASSERT_TRUE(s.resize(8, 8));
    std::int32_t w = -7, h = -7;
    EXPECT_TRUE(load(s, b.build(), 0, 0, true, &w, &h));
    EXPECT_EQ(w, -7);
    EXPECT_EQ(h, -7);
    EXPECT_EQ(s.width(), 8);
    for (std::int32_t y = 0; y < 8; ++y)
        for (std::int32_t x = 0; x < 8; ++x) ASSERT_EQ(s.pixel(x, y), 0);
    // Also when the offset would let a naive check pass.
    EXPECT_TRUE(load(s, b.build(), 3, 6, false));
    EXPECT_EQ(s.pixel(3, 6), 0);
}

TEST_F(BitmapLoading, PositionBeyondTheSurfaceDoesNotOpenTheFile) {
    Surface s;
    ASSERT_TRUE(s.resize(10, 10));
    s.lastError = RESULT_OK;
    const std::string missing = dir.path("no-such-file.bmp");
    EXPECT_TRUE(s.loadBitmap(11, 0, missing.c_str(), nullptr, nullptr, true));
    EXPECT_TRUE(s.loadBitmap(0, 11, missing.c_str(), nullptr, nullptr, true));
    EXPECT_EQ(s.lastError, RESULT_OK);
    EXPECT_EQ(s.width(), 10);
    // At the edge itself the file is opened.
    EXPECT_FALSE(s.loadBitmap(10, 0, missing.c_str(), nullptr, nullptr, false));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
}

TEST_F(BitmapLoading, MissingFileFails) {
    Surface s;
    EXPECT_FALSE(s.loadBitmap(0, 0, dir.path("absent.bmp").c_str(), nullptr, nullptr, true));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_FALSE(s.loadBitmap(0, 0, dir.root.string().c_str(), nullptr, nullptr, true));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
}

TEST_F(BitmapLoading, TruncatedFileKeepsTheRowsAlreadyConverted) {
    BmpBuilder b = positionPicture(6, 6);
    b.trailingRowsMissing = 2;  // the top two rows are missing
    Surface s;
    ASSERT_TRUE(s.resize(6, 6));
    EXPECT_FALSE(load(s, b.build(), 0, 0, false));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_EQ(s.pixel(0, 5), pixelOfRgb(positionColour(0, 5)));
    EXPECT_EQ(s.pixel(5, 2), pixelOfRgb(positionColour(5, 2)));
    EXPECT_EQ(s.pixel(1, 1), 0);
}

TEST_F(BitmapLoading, TruncatedFileDoesNotResizeWhenFitting) {
    BmpBuilder b = positionPicture(6, 6);
    b.trailingRowsMissing = 1;
    Surface s;
    ASSERT_TRUE(s.resize(2, 2));
    EXPECT_FALSE(load(s, b.build(), 0, 0, true));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_EQ(s.width(), 2);
}

TEST_F(BitmapLoading, HugeDeclaredSizesFailWithoutAllocating) {
    for (std::uint32_t bits : {1u, 8u, 24u}) {
        std::string bytes = positionPicture(2, 2).build();
        bytes[28] = static_cast<char>(bits);
        patch32(bytes, 18, 0x7FFFFFFF);  // width
        patch32(bytes, 22, 0x7FFFFFFF);  // height
        Surface fitting;
        EXPECT_FALSE(load(fitting, bytes, 0, 0, true));
        EXPECT_EQ(fitting.lastError, RESULT_FILE_IO_ERROR);
        EXPECT_EQ(fitting.width(), 0);
        Surface window;
        ASSERT_TRUE(window.resize(4, 4));
        EXPECT_FALSE(load(window, bytes, -1000000, -1000000, false));
        EXPECT_EQ(window.lastError, RESULT_FILE_IO_ERROR);
    }
}

TEST_F(BitmapLoading, DataOffsetPastTheFileFails) {
    std::string bytes = positionPicture(4, 4).build();
    patch32(bytes, 10, 0xFFFFFFF0u);
    Surface s;
    ASSERT_TRUE(s.resize(4, 4));
    EXPECT_FALSE(load(s, bytes, 0, 0, false));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    patch32(bytes, 10, static_cast<std::uint32_t>(bytes.size()));
    EXPECT_FALSE(load(s, bytes, 0, 0, false));
}

TEST_F(BitmapLoading, ShortHeadersAndTablesFail) {
    const std::string whole = positionPicture(4, 4).build();
    BmpBuilder paletted;
    paletted.bitsPerPixel = 8;
    paletted.palette.assign(256, 0x123456);
    const std::string withTable = paletted.build();
    for (std::size_t cut : {std::size_t{0}, std::size_t{2}, std::size_t{14}, std::size_t{53}}) {
        Surface s;
        EXPECT_FALSE(load(s, whole.substr(0, cut), 0, 0, true)) << cut;
        EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
    }
    Surface s;
    EXPECT_FALSE(load(s, withTable.substr(0, 54 + 100), 0, 0, true));
    EXPECT_EQ(s.lastError, RESULT_FILE_IO_ERROR);
}

TEST(BitmapWriting, WrittenSurfaceLoadsBackPixelForPixel) {
    TempDir dir;
    Surface s;
    ASSERT_TRUE(s.resize(37, 11));  // 38 wide: rows need padding in the file
    for (std::int32_t y = 0; y < 11; ++y)
        for (std::int32_t x = 0; x < 38; ++x)
            s.pixels()[y * 38 + x] = static_cast<std::uint16_t>((x * 977 + y * 131) & 0x7FFF);
    const std::string path = dir.path("out.bmp");
    ASSERT_TRUE(BmpWriter::write(s, path.c_str()));
    EXPECT_EQ(dir.read("out.bmp").size(), 54u + 11u * ((38u * 3 + 3) & ~3u));

    Surface back;
    std::int32_t w = 0, h = 0;
    ASSERT_TRUE(back.loadBitmap(0, 0, path.c_str(), &w, &h, true));
    EXPECT_EQ(w, 38);
    EXPECT_EQ(h, 11);
    EXPECT_EQ(std::memcmp(back.pixels(), s.pixels(), 38 * 11 * 2), 0);
}

TEST(BitmapWriting, UnwritablePathFails) {
    Surface s;
    ASSERT_TRUE(s.resize(2, 2));
    ResultCode error = RESULT_OK;
    EXPECT_FALSE(BmpWriter::write(s, "/nonexistent-folder/out.bmp", &error));
    EXPECT_EQ(error, RESULT_CANNOT_OPEN_FILE);
}

}  // namespace
}  // namespace brellin
