#include <gtest/gtest.h>

#include <vector>

#include "display/Surface.h"

namespace brellin {
namespace {

constexpr Colour white{255, 255, 255};
constexpr Colour red{255, 0, 0};

int countPixels(const Surface& s, std::uint16_t value) {
    int n = 0;
    for (std::int32_t y = 0; y < s.height(); ++y)
        for (std::int32_t x = 0; x < s.width(); ++x) n += s.pixel(x, y) == value;
    return n;
}

std::vector<std::uint16_t> snapshot(const Surface& s) {
    return std::vector<std::uint16_t>(s.pixels(), s.pixels() + s.width() * s.height());
}

TEST(SurfaceColour, FifteenBitPixelFromBytes) {
    EXPECT_EQ((Colour{255, 255, 255}.toPixel()), 0x7FFF);
    EXPECT_EQ((Colour{8, 16, 255}.toPixel()), (1 << 10) | (2 << 5) | 31);
    EXPECT_EQ(Colour::fromRgb(16711680).toPixel(), 0x7C00);  // 0xFF0000 is red
    EXPECT_EQ(Colour::fromRgb(255).toPixel(), 0x001F);       // 0x0000FF is blue
}

TEST(SurfaceResize, WidthIsRoundedUpToEvenAndPictureIsBlack) {
    Surface s;
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    ASSERT_TRUE(s.resize(101, 20));
    EXPECT_EQ(s.width(), 102);
    EXPECT_EQ(s.height(), 20);
    EXPECT_EQ(countPixels(s, 0), 102 * 20);
}

TEST(SurfaceResize, SameSizeKeepsThePictureOtherSizeClearsIt) {
    Surface s;
    ASSERT_TRUE(s.resize(10, 10));
    s.fillRect(0, 0, 10, 10, white);
    ASSERT_TRUE(s.resize(9, 10));  // rounds to the same 10 x 10
    EXPECT_EQ(countPixels(s, 0x7FFF), 100);
    ASSERT_TRUE(s.resize(12, 10));
    EXPECT_EQ(countPixels(s, 0), 120);
}

TEST(SurfaceResize, ImpossibleSizeLeavesAnEmptySurface) {
    for (auto [w, h] : {std::pair{-2, 10}, std::pair{10, -1}, std::pair{40000, 2}, std::pair{30000, 30000}}) {
        Surface s;
        ASSERT_TRUE(s.resize(4, 4));
        EXPECT_FALSE(s.resize(w, h));
        EXPECT_EQ(s.lastError, RESULT_OUT_OF_MEMORY);
        EXPECT_EQ(s.width(), 0);
        EXPECT_EQ(s.height(), 0);
        // Every later drawing into it draws nothing.
        s.fillRect(0, 0, 10, 10, white);
        s.drawLine(0, 0, 10, 10, white);
        EXPECT_TRUE(s.drawText(0, 0, "text"));
        Surface other;
        ASSERT_TRUE(other.resize(4, 4));
        s.copyFrom(0, 0, other, 0, 0, 4, 4);
        other.copyFrom(0, 0, s, 0, 0, 4, 4);
        EXPECT_EQ(countPixels(other, 0), 16);
    }
}

TEST(SurfaceFill, FillsExactlyTheHalfOpenRectangle) {
    Surface s;
    ASSERT_TRUE(s.resize(20, 20));
    ASSERT_TRUE(s.fillRect(0, 0, 10, 10, red));
    EXPECT_EQ(countPixels(s, 0x7C00), 100);
    EXPECT_EQ(s.pixel(9, 9), 0x7C00);
    EXPECT_EQ(s.pixel(10, 9), 0);
    EXPECT_EQ(s.pixel(9, 10), 0);
}

TEST(SurfaceFill, ClipsToThePictureAndIgnoresEmptyRectangles) {
    Surface s;
    ASSERT_TRUE(s.resize(8, 8));
    ASSERT_TRUE(s.fillRect(-100, 6, 3, 1000, white));
    EXPECT_EQ(countPixels(s, 0x7FFF), 3 * 2);
    ASSERT_TRUE(s.fillRect(5, 5, 5, 8, red));  // no width
    ASSERT_TRUE(s.fillRect(6, 6, 2, 2, red));  // inverted
    EXPECT_EQ(countPixels(s, 0x7C00), 0);
}

TEST(SurfaceDirtyRect, GrowsByTheOperationsPointsAndStartsAfreshAfterAReset) {
    Surface s;
    EXPECT_EQ(s.dirtyRect().right, 0);
    ASSERT_TRUE(s.resize(50, 40));
    DirtyRect d = s.dirtyRect();
    EXPECT_EQ(d.left, 0);
    EXPECT_EQ(d.top, 0);
    EXPECT_EQ(d.right, 50);
    EXPECT_EQ(d.bottom, 40);

    // A small block far from the origin marks exactly itself, not the
    // window from its top-left corner; a second one widens it to both.
    s.resetDirtyRect();
    EXPECT_EQ(s.dirtyRect().right, 0);
    s.fillRect(40, 30, 44, 33, white);
    d = s.dirtyRect();
    EXPECT_EQ(d.left, 40);
    EXPECT_EQ(d.top, 30);
    EXPECT_EQ(d.right, 44);
    EXPECT_EQ(d.bottom, 33);
    s.fillRect(10, 12, 20, 22, white);
    d = s.dirtyRect();
    EXPECT_EQ(d.left, 10);
    EXPECT_EQ(d.top, 12);
    EXPECT_EQ(d.right, 44);
    EXPECT_EQ(d.bottom, 33);

    s.resetDirtyRect();
    s.drawLine(30, 5, -4, 8, white);
    d = s.dirtyRect();
    EXPECT_EQ(d.left, -4);
    EXPECT_EQ(d.top, 5);
    EXPECT_EQ(d.right, 30);
    EXPECT_EQ(d.bottom, 8);

    Surface source;
    ASSERT_TRUE(source.resize(10, 10));
    s.resetDirtyRect();
    s.copyFrom(3, 4, source, 0, 0, 60, 70);
    d = s.dirtyRect();
    EXPECT_EQ(d.left, 3);
    EXPECT_EQ(d.top, 4);
    EXPECT_EQ(d.right, 63);
    EXPECT_EQ(d.bottom, 74);
}

TEST(SurfaceLine, LastPointIsNotDrawn) {
    Surface s;
    ASSERT_TRUE(s.resize(10, 10));
    ASSERT_TRUE(s.drawLine(0, 0, 5, 0, white));
    EXPECT_EQ(countPixels(s, 0x7FFF), 5);
    EXPECT_EQ(s.pixel(4, 0), 0x7FFF);
    EXPECT_EQ(s.pixel(5, 0), 0);

    ASSERT_TRUE(s.resize(12, 12));
    ASSERT_TRUE(s.drawLine(7, 7, 3, 3, white));
    EXPECT_EQ(countPixels(s, 0x7FFF), 4);
    for (int k = 4; k <= 7; ++k) EXPECT_EQ(s.pixel(k, k), 0x7FFF);
    EXPECT_EQ(s.pixel(3, 3), 0);

    ASSERT_TRUE(s.resize(14, 14));
    ASSERT_TRUE(s.drawLine(2, 9, 2, 1, white));  // upwards
    EXPECT_EQ(countPixels(s, 0x7FFF), 8);
    EXPECT_EQ(s.pixel(2, 2), 0x7FFF);
    EXPECT_EQ(s.pixel(2, 1), 0);

    ASSERT_TRUE(s.drawLine(5, 5, 5, 5, red));  // no length, nothing drawn
    EXPECT_EQ(countPixels(s, 0x7C00), 0);
}

TEST(SurfaceLine, ShallowLineIsConnectedWithOnePixelPerColumn) {
    // The built-in meter strip's diagonal.
    Surface s;
    ASSERT_TRUE(s.resize(48, 12));
    ASSERT_TRUE(s.drawLine(0, 12, 48, 0, white));
    std::int32_t previous = 12;
    for (std::int32_t x = 0; x < 48; ++x) {
        int inColumn = 0;
        std::int32_t row = 12;
        for (std::int32_t y = 0; y < 12; ++y)
            if (s.pixel(x, y) == 0x7FFF) ++inColumn, row = y;
        ASSERT_LE(inColumn, 1) << x;
        if (inColumn == 1) {
            EXPECT_LE(row, previous) << x;
            EXPECT_GE(row, previous - 1) << x;
            EXPECT_NEAR(row, 12 - x / 4.0, 1.0) << x;
            previous = row;
        }
    }
    EXPECT_EQ(s.pixel(47, 0), 0x7FFF);
    EXPECT_GE(countPixels(s, 0x7FFF), 46);
}

TEST(SurfaceLine, FarAwayEndPointsAreClipped) {
    Surface s;
    ASSERT_TRUE(s.resize(16, 16));
    ASSERT_TRUE(s.drawLine(-2000000000, 5, 2000000000, 5, white));
    EXPECT_EQ(countPixels(s, 0x7FFF), 16);
    ASSERT_TRUE(s.drawLine(3, -2000000000, 3, 2000000000, red));
    EXPECT_EQ(countPixels(s, 0x7C00), 16);
    ASSERT_TRUE(s.drawLine(-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647, white));
    EXPECT_EQ(s.pixel(8, 8), 0x7FFF);
}

TEST(SurfaceCopy, CopiesTheBlockAndClipsAtBothPictures) {
    Surface source;
    ASSERT_TRUE(source.resize(8, 8));
    for (std::int32_t i = 0; i < 64; ++i) source.pixels()[i] = static_cast<std::uint16_t>(i + 1);
    Surface s;
    ASSERT_TRUE(s.resize(6, 6));
    s.copyFrom(1, 2, source, 3, 4, 2, 3);
    EXPECT_EQ(s.pixel(1, 2), source.pixel(3, 4));
    EXPECT_EQ(s.pixel(2, 4), source.pixel(4, 6));
    EXPECT_EQ(countPixels(s, 0), 36 - 6);

    // Negative source corner: the part outside the source is left out, the rest lands shifted.
    ASSERT_TRUE(s.resize(8, 6));
    s.copyFrom(0, 0, source, -2, -1, 5, 5);
    EXPECT_EQ(s.pixel(2, 1), source.pixel(0, 0));
    EXPECT_EQ(s.pixel(4, 4), source.pixel(2, 3));
    EXPECT_EQ(s.pixel(1, 1), 0);
    EXPECT_EQ(s.pixel(5, 1), 0);

    // Negative target corner and a block running past the source's edge.
    ASSERT_TRUE(s.resize(6, 6));
    s.copyFrom(-3, -3, source, 0, 0, 100, 100);
    EXPECT_EQ(s.pixel(0, 0), source.pixel(3, 3));
    EXPECT_EQ(s.pixel(4, 4), source.pixel(7, 7));
    EXPECT_EQ(s.pixel(5, 5), 0);
}

TEST(SurfaceCopy, OverlappingCopyWithinOneSurface) {
    Surface s;
    ASSERT_TRUE(s.resize(10, 10));
    for (std::int32_t i = 0; i < 100; ++i) s.pixels()[i] = static_cast<std::uint16_t>(i);
    const std::vector<std::uint16_t> before = snapshot(s);
    s.copyFrom(2, 3, s, 1, 1, 6, 6);  // down and right, overlapping
    for (std::int32_t y = 0; y < 6; ++y)
        for (std::int32_t x = 0; x < 6; ++x)
            ASSERT_EQ(s.pixel(2 + x, 3 + y), before[static_cast<std::size_t>((1 + y) * 10 + 1 + x)]);

    for (std::int32_t i = 0; i < 100; ++i) s.pixels()[i] = static_cast<std::uint16_t>(i);
    s.copyFrom(0, 0, s, 2, 2, 8, 8);  // up and left
    for (std::int32_t y = 0; y < 8; ++y)
        for (std::int32_t x = 0; x < 8; ++x)
            ASSERT_EQ(s.pixel(x, y), before[static_cast<std::size_t>((2 + y) * 10 + 2 + x)]);
}

TEST(SurfaceFont, SameFaceAndSizeChangesNothing) {
    Surface s;
    s.lastError = RESULT_OK;
    EXPECT_TRUE(s.setFont("MS Gothic", 8, 16));
    EXPECT_EQ(s.lastError, RESULT_NOT_FOUND);
    s.lastError = RESULT_OK;
    EXPECT_TRUE(s.setFont(nullptr, 8, 16));
    EXPECT_EQ(s.lastError, RESULT_NOT_FOUND);

    s.lastError = RESULT_OK;
    EXPECT_TRUE(s.setFont(nullptr, 6, 12));
    EXPECT_EQ(s.lastError, RESULT_OK);
    EXPECT_STREQ(s.fontFace(), "MS Gothic");
    EXPECT_TRUE(s.setFont("ms gothic", 6, 12));  // compared byte for byte: a new face
    EXPECT_EQ(s.lastError, RESULT_OK);
    EXPECT_STREQ(s.fontFace(), "ms gothic");
}

TEST(SurfaceFont, SameSizeUnderATextScaleChangesNothing) {
    Surface s;
    ASSERT_TRUE(s.setTextScale(1));
    s.lastError = RESULT_OK;
    EXPECT_TRUE(s.setFont("MS Gothic", 8, 16));
    EXPECT_EQ(s.lastError, RESULT_NOT_FOUND);
}

TEST(SurfaceFont, FaceNameIsKeptTo31Bytes) {
    Surface s;
    EXPECT_TRUE(s.setFont("An Extraordinarily Long Face Name That Goes On", 8, 16));
    EXPECT_EQ(std::string(s.fontFace()).size(), 31u);
    // A UTF-8 character is not cut in half: "ＭＳ ゴシック ゴシック" is 32 bytes.
    const char* fullWidth =
        "\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF "
        "\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF";
    EXPECT_TRUE(s.setFont(fullWidth, 8, 16));
    EXPECT_EQ(std::string(s.fontFace()), std::string(fullWidth, 29));
    // "A" and ten kana are exactly 31 bytes: the cut falls between characters.
    const char* boundary =
        "A\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xB4\xE3\x82\xB7"
        "\xE3\x83\x83\xE3\x82\xAF\xE3\x82\xB4\xE3\x82\xB7\xE3\x82\xAF";
    EXPECT_TRUE(s.setFont(boundary, 8, 16));
    EXPECT_EQ(std::string(s.fontFace()), std::string(boundary, 31));
}

TEST(SurfaceFont, FontThatCannotBeMadeKeepsThePreviousOne) {
    Surface s;
    ASSERT_TRUE(s.setFont("DejaVu Sans", 8, 16));
    const Extent before = s.measureText("Hello");
    ASSERT_GT(before.width, 0);
    s.lastError = RESULT_OK;
    EXPECT_FALSE(s.setFont("DejaVu Sans", 8, 100000));
    EXPECT_EQ(s.lastError, RESULT_UNSUPPORTED_DATA);
    const Extent after = s.measureText("Hello");
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
}

TEST(SurfaceTextScale, AboveFourIsRefusedAndLeavesTheScale) {
    Surface s;
    ASSERT_TRUE(s.setTextScale(1));
    s.lastError = RESULT_OK;
    EXPECT_FALSE(s.setTextScale(5));
    EXPECT_EQ(s.lastError, RESULT_UNSUPPORTED_DATA);
    EXPECT_EQ(s.textScale(), 1);
    EXPECT_FALSE(s.setTextScale(-1));
    EXPECT_EQ(s.textScale(), 1);
    EXPECT_TRUE(s.setTextScale(0));
    EXPECT_EQ(s.textScale(), 0);
}

TEST(SurfaceTextScale, ScaleTheFontCannotTakeFallsBackToZero) {
    Surface s;
    ASSERT_TRUE(s.setFont("DejaVu Sans", 300, 600));  // 600 * 16 is beyond any cell
    s.lastError = RESULT_OK;
    EXPECT_FALSE(s.setTextScale(4));
    EXPECT_EQ(s.lastError, RESULT_UNSUPPORTED_DATA);
    EXPECT_EQ(s.textScale(), 0);
    EXPECT_EQ(s.measureText("A").height, 600);
}

}  // namespace
}  // namespace brellin
