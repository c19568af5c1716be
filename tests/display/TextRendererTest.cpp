#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "display/Surface.h"
#include "display/TextRenderer.h"

namespace brellin {
namespace {

std::vector<std::uint16_t> snapshot(const Surface& s) {
    return std::vector<std::uint16_t>(s.pixels(), s.pixels() + s.width() * s.height());
}

// Renders one character into a cleared buffer of w x h pixels.
std::vector<std::uint8_t> cell(TextRenderer& renderer, char32_t c, std::int32_t w, std::int32_t h,
                               std::int32_t* advance = nullptr) {
    const std::int32_t stride = (w + 31) / 32 * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride * h), 0);
    const std::int32_t a = renderer.renderCell(c, bits.data(), stride, w, h);
    if (advance) *advance = a;
    return bits;
}

bool bit(const std::vector<std::uint8_t>& bits, std::int32_t stride, std::int32_t x, std::int32_t y) {
    return (bits[static_cast<std::size_t>(y * stride + x / 8)] >> (7 - x % 8)) & 1;
}

// A Surface whose font changes must draw and measure in the new font, never
// from characters kept for the old one: it matches a Surface that only ever
// had the new font, plain and smoothed.
TEST(GlyphCache, AFontChangeDrawsAndMeasuresLikeAFreshSurface) {
    for (std::int32_t scale : {0, 1}) {
        Surface changed, fresh;
        ASSERT_TRUE(changed.resize(120, 40));
        ASSERT_TRUE(fresh.resize(120, 40));
        ASSERT_TRUE(changed.setTextScale(scale));
        ASSERT_TRUE(fresh.setTextScale(scale));
        ASSERT_TRUE(changed.setFont("MS Gothic", 5, 10));
        const Extent small = changed.measureText("0:58 Wm");
        ASSERT_TRUE(changed.drawText(2, 1, "0:58 Wm"));
        ASSERT_TRUE(changed.setFont("MS Gothic", 10, 24));
        ASSERT_TRUE(fresh.setFont("MS Gothic", 10, 24));
        changed.fillRect(0, 0, 120, 40, Colour{});
        ASSERT_TRUE(changed.drawText(2, 1, "0:58 Wm"));
        ASSERT_TRUE(fresh.drawText(2, 1, "0:58 Wm"));
        EXPECT_EQ(snapshot(changed), snapshot(fresh)) << "scale " << scale;
        const Extent large = changed.measureText("0:58 Wm");
        EXPECT_EQ(large.width, fresh.measureText("0:58 Wm").width);
        EXPECT_GT(large.width, small.width);
        // Drawn again over the same background, the kept characters give the same picture.
        changed.fillRect(0, 0, 120, 40, Colour{});
        ASSERT_TRUE(changed.drawText(2, 1, "0:58 Wm"));
        EXPECT_EQ(snapshot(changed), snapshot(fresh)) << "scale " << scale;
    }
}

// A kept character is cut to each buffer it is drawn into, not to the first
// one; and the cache stays bounded however many characters a title holds.
TEST(GlyphCache, KeptCharactersAreClippedPerBufferAndTheCacheIsBounded) {
    TextRenderer renderer;
    ASSERT_TRUE(renderer.setFont("MS Gothic", 12, 24));
    const std::int32_t h = renderer.cellHeight();
    std::int32_t advance = 0;
    const std::vector<std::uint8_t> narrow = cell(renderer, U'W', 5, h, &advance);
    const std::vector<std::uint8_t> wide = cell(renderer, U'W', 64, h);
    ASSERT_GT(advance, 5);
    EXPECT_EQ(renderer.advance(U'W'), advance);
    int inkBeyond = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            if (x < 5) {
                EXPECT_EQ(bit(narrow, 4, x, y), bit(wide, 8, x, y)) << x << "," << y;
            } else {
                inkBeyond += bit(wide, 8, x, y);
            }
        }
    }
    EXPECT_GT(inkBeyond, 0) << "the wide buffer shows what the narrow one cut off";

    for (char32_t c = 0x4E00; c < 0x4E00 + TextRenderer::glyphCacheLimit + 100; ++c) cell(renderer, c, 32, h);
    EXPECT_LE(renderer.cachedGlyphCount(), TextRenderer::glyphCacheLimit);
    EXPECT_EQ(cell(renderer, U'W', 64, h), wide) << "the same character after the cache started over";
}

}  // namespace
}  // namespace brellin
