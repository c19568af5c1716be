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
std::vector<std::uint8_t> cell(TextRenderer& renderer, char32_t c, std::int32_t w, std::int32_t h) {
    const std::int32_t stride = (w + 31) / 32 * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride * h), 0);
    renderer.renderCell(c, bits.data(), stride, w, h);
    return bits;
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
    const std::vector<std::uint8_t> narrow = cell(renderer, U'W', 5, h);
    const std::vector<std::uint8_t> wide = cell(renderer, U'W', 64, h);
    ASSERT_GT(renderer.advance(U'W'), 5);
    std::vector<std::uint8_t> cut = wide;  // the wide cell cut to 5 columns, 4 bytes a row
    for (std::size_t row = 0; row < cut.size(); row += 8) {
        cut[row] &= 0xF8;
        for (std::size_t b = 1; b < 8; ++b) cut[row + b] = 0;
    }
    std::vector<std::uint8_t> narrowWide(wide.size(), 0);  // narrow re-laid at 8 bytes a row
    for (std::size_t row = 0; row < static_cast<std::size_t>(h); ++row) narrowWide[row * 8] = narrow[row * 4];
    EXPECT_EQ(narrowWide, cut);
    EXPECT_NE(wide, cut) << "the wide buffer shows what the narrow one cut off";

    for (char32_t c = 0x4E00; c < 0x4E00 + TextRenderer::glyphCacheLimit + 100; ++c) cell(renderer, c, 32, h);
    EXPECT_LE(renderer.cachedGlyphCount(), TextRenderer::glyphCacheLimit);
    EXPECT_EQ(cell(renderer, U'W', 64, h), wide) << "the same character after the cache started over";
}

}  // namespace
}  // namespace brellin
