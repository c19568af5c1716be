#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "display/Surface.h"
#include "display/TextRenderer.h"

namespace brellin {
namespace {

constexpr Colour white{255, 255, 255};

// "ブレリン" in UTF-8 and in Shift-JIS.
const char* const burerinUtf8 = "\xE3\x83\x96\xE3\x83\xAC\xE3\x83\xAA\xE3\x83\xB3";
const char* const burerinShiftJis = "\x83\x75\x83\x8C\x83\x8A\x83\x93";

std::vector<std::uint16_t> snapshot(const Surface& s) {
    return std::vector<std::uint16_t>(s.pixels(), s.pixels() + s.width() * s.height());
}

int inked(const Surface& s) {
    int n = 0;
    for (std::int32_t i = 0; i < s.width() * s.height(); ++i) n += s.pixels()[i] != 0;
    return n;
}

std::uint32_t channel(std::uint16_t pixel, int shift) { return (pixel >> shift) & 0x1F; }

// The one-bit cell of a character as the renderer draws it at the given
// (already scaled) size, rows top to bottom.
struct Cell {
    std::int32_t width = 0, height = 0, stride = 0;
    std::vector<std::uint8_t> bits;
    bool at(std::int32_t x, std::int32_t y) const {
        return (bits[static_cast<std::size_t>(y * stride + x / 8)] >> (7 - x % 8)) & 1;
    }
};

Cell renderCell(const char* face, std::int32_t w, std::int32_t h, char32_t c) {
    TextRenderer renderer;
    Cell cell;
    if (!renderer.setFont(face, w, h)) return cell;
    cell.height = renderer.cellHeight();
    cell.width = renderer.advance(c);
    cell.stride = (cell.width + 7) / 8;
    cell.bits.assign(static_cast<std::size_t>(cell.stride * cell.height), 0);
    renderer.renderCell(c, cell.bits.data(), cell.stride, cell.width, cell.height);
    return cell;
}

TEST(SmoothedText, WhiteOnBlackFollowsTheTwoByTwoCoverageOfARealGlyph) {
    Surface s;
    ASSERT_TRUE(s.resize(40, 24));
    ASSERT_TRUE(s.setFont("DejaVu Sans", 10, 20));
    ASSERT_TRUE(s.setTextScale(1));
    s.setTextColour(white);
    ASSERT_TRUE(s.drawText(3, 2, "A"));

    const Cell cell = renderCell("DejaVu Sans", 20, 40, U'A');
    ASSERT_GT(cell.width, 0);
    std::set<std::uint32_t> levels;
    for (std::int32_t y = 0; y < s.height(); ++y) {
        for (std::int32_t x = 0; x < s.width(); ++x) {
            const std::uint16_t p = s.pixel(x, y);
            // All three channels move together and take only these levels.
            ASSERT_EQ(channel(p, 10), channel(p, 5)) << x << "," << y;
            ASSERT_EQ(channel(p, 5), channel(p, 0)) << x << "," << y;
            const std::uint32_t level = channel(p, 0);
            ASSERT_TRUE(level == 0 || level == 7 || level == 15 || level == 23 || level == 31) << level;
            levels.insert(level);

            int bits = 0;
            const std::int32_t i = x - 3, r = y - 2;
            if (i >= 0 && r >= 0 && i < cell.width / 2 && r < cell.height / 2)
                bits = cell.at(2 * i, 2 * r) + cell.at(2 * i + 1, 2 * r) + cell.at(2 * i, 2 * r + 1) +
                       cell.at(2 * i + 1, 2 * r + 1);
            const std::uint32_t expected[] = {0, 7, 15, 23, 31};
            ASSERT_EQ(level, expected[bits]) << x << "," << y;
        }
    }
    // A real glyph has stroke interiors and edges of every coverage.
    EXPECT_EQ(levels.size(), 5u);
}

TEST(SmoothedText, ScaleTwoAveragesFourByFourBlocks) {
    Surface s;
    ASSERT_TRUE(s.resize(40, 24));
    ASSERT_TRUE(s.setFont("DejaVu Sans", 10, 20));
    ASSERT_TRUE(s.setTextScale(2));
    ASSERT_TRUE(s.drawText(0, 0, "W"));

    const Cell cell = renderCell("DejaVu Sans", 40, 80, U'W');
    ASSERT_GT(cell.width, 0);
    int partial = 0;
    for (std::int32_t y = 0; y < 20; ++y) {
        for (std::int32_t x = 0; x < cell.width / 4 && x < 40; ++x) {
            std::uint32_t bits = 0;
            for (int by = 0; by < 4; ++by)
                for (int bx = 0; bx < 4; ++bx) bits += cell.at(4 * x + bx, 4 * y + by);
            const std::uint32_t level = 31 * bits / 16;
            ASSERT_EQ(s.pixel(x, y), (level << 10) | (level << 5) | level) << x << "," << y;
            partial += bits > 0 && bits < 16;
        }
    }
    EXPECT_GT(partial, 10);
}

TEST(SmoothedText, EdgesBlendWithWhatIsUnderneathAndUntouchedPixelsStay) {
    Surface s;
    ASSERT_TRUE(s.resize(40, 24));
    const Colour background{80, 160, 40};  // 10, 20, 5 in 5 bits
    ASSERT_TRUE(s.fillRect(0, 0, 40, 24, background));
    ASSERT_TRUE(s.setFont("DejaVu Sans", 10, 20));
    ASSERT_TRUE(s.setTextScale(1));
    s.setTextColour(Colour{255, 0, 128});  // 31, 0, 16
    ASSERT_TRUE(s.drawText(0, 0, "g"));

    const Cell cell = renderCell("DejaVu Sans", 20, 40, U'g');
    int blended = 0;
    for (std::int32_t y = 0; y < 20; ++y) {
        for (std::int32_t x = 0; x < cell.width / 2; ++x) {
            const int b = cell.at(2 * x, 2 * y) + cell.at(2 * x + 1, 2 * y) + cell.at(2 * x, 2 * y + 1) +
                          cell.at(2 * x + 1, 2 * y + 1);
            const std::uint16_t p = s.pixel(x, y);
            const auto r = static_cast<std::uint32_t>((31 * b + 10 * (4 - b)) / 4),
                       g = static_cast<std::uint32_t>((0 * b + 20 * (4 - b)) / 4),
                       bl = static_cast<std::uint32_t>((16 * b + 5 * (4 - b)) / 4);
            ASSERT_EQ(p, (r << 10) | (g << 5) | bl) << x << "," << y << " bits " << b;
            blended += b > 0 && b < 4;
        }
    }
    EXPECT_GT(blended, 0);
    EXPECT_EQ(s.pixel(39, 23), background.toPixel());
}

TEST(SmoothedText, EachCharacterAdvancesByItsOwnWidth) {
    Surface together, apart;
    for (Surface* s : {&together, &apart}) {
        ASSERT_TRUE(s->resize(80, 20));
        ASSERT_TRUE(s->setFont("DejaVu Sans", 8, 16));
        ASSERT_TRUE(s->setTextScale(1));
    }
    const std::int32_t narrow = together.measureText("i").width;
    const std::int32_t wide = together.measureText("W").width;
    ASSERT_GT(wide, narrow + 3);  // a proportional face
    ASSERT_TRUE(together.drawText(1, 0, "iWi"));
    ASSERT_TRUE(apart.drawText(1, 0, "i"));
    ASSERT_TRUE(apart.drawText(1 + narrow, 0, "W"));
    ASSERT_TRUE(apart.drawText(1 + narrow + wide, 0, "i"));
    EXPECT_EQ(snapshot(together), snapshot(apart));
    EXPECT_GT(inked(together), 0);
}

TEST(SmoothedText, NegativeXShowsOnlyThePartRightOfTheEdge) {
    for (std::int32_t scale : {0, 1}) {
        Surface wide, cut;
        ASSERT_TRUE(wide.resize(100, 20));
        ASSERT_TRUE(cut.resize(60, 20));
        for (Surface* s : {&wide, &cut}) {
            ASSERT_TRUE(s->setFont("DejaVu Sans", 8, 16));
            ASSERT_TRUE(s->setTextScale(scale));
        }
        ASSERT_TRUE(wide.drawText(20, 0, "Brellin"));
        ASSERT_TRUE(cut.drawText(-13, 0, "Brellin"));
        for (std::int32_t y = 0; y < 20; ++y)
            for (std::int32_t x = 0; x < 60; ++x)
                ASSERT_EQ(cut.pixel(x, y), wide.pixel(x + 33, y)) << "scale " << scale << " " << x << "," << y;
        EXPECT_GT(inked(cut), 0);
    }
}

TEST(SmoothedText, TextIsCutAtTheRightEdge) {
    for (std::int32_t scale : {0, 1, 2}) {
        Surface wide, cut;
        ASSERT_TRUE(wide.resize(200, 20));
        ASSERT_TRUE(cut.resize(30, 10));
        for (Surface* s : {&wide, &cut}) {
            ASSERT_TRUE(s->setFont("DejaVu Sans", 8, 16));
            ASSERT_TRUE(s->setTextScale(scale));
        }
        ASSERT_TRUE(wide.drawText(0, 0, "WWWWWWWWWW"));
        ASSERT_TRUE(cut.drawText(0, 0, "WWWWWWWWWW"));
        for (std::int32_t y = 0; y < 10; ++y)
            for (std::int32_t x = 0; x < 30; ++x)
                ASSERT_EQ(cut.pixel(x, y), wide.pixel(x, y)) << "scale " << scale << " " << x << "," << y;
    }
}

TEST(SmoothedText, NoDirtyGrowthWhenSmoothedButPlainTextMarksToTheCorner) {
    Surface s;
    ASSERT_TRUE(s.resize(60, 20));
    s.resetDirtyRect();
    ASSERT_TRUE(s.setTextScale(1));
    ASSERT_TRUE(s.drawText(5, 3, "Hi"));
    EXPECT_EQ(s.dirtyRect().right, 0);
    ASSERT_TRUE(s.setTextScale(0));
    ASSERT_TRUE(s.drawText(5, 3, "Hi"));
    EXPECT_EQ(s.dirtyRect().right, 60);
    EXPECT_EQ(s.dirtyRect().bottom, 20);
}

TEST(PlainText, StartBeyondThePictureDrawsNothing) {
    Surface s;
    ASSERT_TRUE(s.resize(20, 20));
    s.resetDirtyRect();
    EXPECT_TRUE(s.drawText(21, 0, "X"));
    EXPECT_TRUE(s.drawText(0, 21, "X"));
    EXPECT_EQ(inked(s), 0);
    EXPECT_EQ(s.dirtyRect().right, 0);
}

TEST(PlainText, UsesTheTextColourOnly) {
    Surface s;
    ASSERT_TRUE(s.resize(40, 20));
    s.setTextColour(Colour{0, 255, 0});
    ASSERT_TRUE(s.drawText(0, 0, "Ag"));
    std::set<std::uint16_t> seen(s.pixels(), s.pixels() + 40 * 20);
    EXPECT_EQ(seen, (std::set<std::uint16_t>{0, 0x03E0}));
}

TEST(PlainText, LineBreaksStartANewLineOneCellLower) {
    Surface together, apart;
    for (Surface* s : {&together, &apart}) {
        ASSERT_TRUE(s->resize(40, 40));
        ASSERT_TRUE(s->setFont("DejaVu Sans", 8, 16));
    }
    ASSERT_TRUE(together.drawText(3, 2, "Ab\r\ngQ"));
    ASSERT_TRUE(apart.drawText(3, 2, "Ab"));
    ASSERT_TRUE(apart.drawText(3, 18, "gQ"));
    EXPECT_EQ(snapshot(together), snapshot(apart));
}

TEST(TextMeasure, PlainAndScaledExtents) {
    Surface s;
    ASSERT_TRUE(s.setFont("DejaVu Sans", 8, 16));
    const Extent one = s.measureText("Brellin");
    EXPECT_EQ(one.height, 16);
    EXPECT_GT(one.width, 7 * 3);
    const Extent two = s.measureText("Brellin\nBr");
    EXPECT_EQ(two.height, 32);
    EXPECT_EQ(two.width, one.width);
    EXPECT_EQ(s.measureText("").width, 0);

    ASSERT_TRUE(s.setTextScale(1));
    const Extent smooth = s.measureText("Brellin");
    EXPECT_EQ(smooth.height, 16);
    EXPECT_NEAR(smooth.width, one.width, 7);
}

TEST(TextMeasure, DefaultFaceHasHalfAndFullWidthCharacters) {
    Surface s;
    TextRenderer probe;
    ASSERT_TRUE(probe.setFont("MS Gothic", 8, 16));
    if (probe.advance(U'\u30D6') == 0) GTEST_SKIP() << "no Japanese face installed";
    EXPECT_EQ(s.measureText("A").width, 8);
    EXPECT_EQ(s.measureText(burerinUtf8).width, 4 * 16);
    EXPECT_EQ(s.measureText(burerinUtf8).height, 16);
}

TEST(TextMeasure, CharactersMissingFromTheFaceComeFromTheJapaneseFace) {
    TextRenderer probe;
    ASSERT_TRUE(probe.setFont("MS Gothic", 8, 16));
    if (probe.advance(U'\u30D6') != 16) GTEST_SKIP() << "no Japanese face installed";
    Surface latin;
    ASSERT_TRUE(latin.setFont("DejaVu Sans", 8, 16));
    // DejaVu Sans has no katakana; without the second face these would be
    // DejaVu's empty-box glyph of about 10 pixels.
    EXPECT_EQ(latin.measureText(burerinUtf8).width, 4 * 16);
}

TEST(TextEncoding, ShiftJisTitleDrawsLikeTheSameTitleInUtf8) {
    Surface utf8, shiftJis;
    for (Surface* s : {&utf8, &shiftJis}) {
        ASSERT_TRUE(s->resize(120, 16));
        ASSERT_TRUE(s->setFont("MS Gothic", 6, 12));
        ASSERT_TRUE(s->setTextScale(1));
    }
    ASSERT_TRUE(utf8.drawText(0, 0, burerinUtf8));
    ASSERT_TRUE(shiftJis.drawText(0, 0, burerinShiftJis));
    EXPECT_GT(inked(utf8), 20);
    EXPECT_EQ(snapshot(utf8), snapshot(shiftJis));
    EXPECT_EQ(utf8.measureText(burerinUtf8).width, shiftJis.measureText(burerinShiftJis).width);
}

TEST(TextEncoding, Latin1TitleDrawsLikeTheSameTitleInUtf8) {
    Surface utf8, latin1;
    for (Surface* s : {&utf8, &latin1}) {
        ASSERT_TRUE(s->resize(80, 16));
        ASSERT_TRUE(s->setFont("DejaVu Sans", 6, 12));
    }
    ASSERT_TRUE(utf8.drawText(0, 0, "Caf\xC3\xA9 No\xC3\xABl"));
    ASSERT_TRUE(latin1.drawText(0, 0, "Caf\xE9 No\xEBl"));
    EXPECT_EQ(snapshot(utf8), snapshot(latin1));
}

}  // namespace
}  // namespace brellin

namespace brellin {
namespace {

TEST(TextEncoding, ArbitraryBytesDrawAndMeasureSafely) {
    std::minstd_rand random(7);
    Surface s;
    ASSERT_TRUE(s.resize(50, 12));
    ASSERT_TRUE(s.setFont("MS Gothic", 6, 12));
    for (int round = 0; round < 300; ++round) {
        std::string bytes(1 + random() % 40, ' ');
        for (char& c : bytes) c = static_cast<char>(1 + random() % 255);
        ASSERT_TRUE(s.setTextScale(round % 3 == 0 ? 0 : 1));
        const std::int32_t x = static_cast<std::int32_t>(random() % 90) - 30;
        EXPECT_TRUE(s.drawText(x, static_cast<std::int32_t>(random() % 16) - 4, bytes.c_str()));
        const Extent extent = s.measureText(bytes.c_str());
        EXPECT_GE(extent.width, 0);
        EXPECT_GE(extent.height, 12);
        EXPECT_EQ(extent.height % 12, 0);
    }
}

}  // namespace
}  // namespace brellin
