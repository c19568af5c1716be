#include "common/ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/RiffWalker.h"

using namespace brellin;

namespace {

ByteReader over(const std::vector<std::uint8_t>& bytes) { return ByteReader(bytes.data(), bytes.size()); }

}  // namespace

TEST(ByteReaderValues, ByteOrdersAndQuantities) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF, 0x81, 0x00, 0x7F};
    ByteReader in = over(bytes);
    EXPECT_EQ(in.u32le(), 0x04030201u);
    EXPECT_EQ(in.s16le(), -2);
    EXPECT_EQ(in.varLen(), 0x80u);
    EXPECT_EQ(in.varLen(), 0x7Fu);
    EXPECT_TRUE(in.atEnd());
    EXPECT_FALSE(in.failed());

    in.seek(0);
    EXPECT_EQ(in.u16be(), 0x0102u);
    EXPECT_EQ(in.u32be(), 0x0304FEFFu);

    // Four bytes with bit 7 set: all ones, the cursor after them, no failure.
    const std::vector<std::uint8_t> overlong = {0x81, 0x82, 0x83, 0x84, 0x05};
    ByteReader q = over(overlong);
    EXPECT_EQ(q.varLen(), 0xFFFFFFFFu);
    EXPECT_EQ(q.position(), 4u);
    EXPECT_FALSE(q.failed());
}

TEST(ByteReaderBounds, AReadThatDoesNotFitYieldsZeroAndStaysFailed) {
    const std::vector<std::uint8_t> bytes = {0xAA, 0xBB, 0xCC};
    ByteReader in = over(bytes);
    in.u8();
    EXPECT_EQ(in.u32le(), 0u);  // two bytes left: none are taken
    EXPECT_TRUE(in.failed());
    EXPECT_TRUE(in.atEnd());
    // Sticky: the cursor went to the end, so later reads fail too.
    EXPECT_EQ(in.u8(), 0u);
    EXPECT_TRUE(in.seek(1));
    EXPECT_EQ(in.u8(), 0xBBu);
    EXPECT_TRUE(in.failed());

    // A quantity cut by the end; a copy that does not fit gives zeros.
    const std::vector<std::uint8_t> cut = {0x81, 0x82};
    ByteReader q = over(cut);
    EXPECT_EQ(q.varLen(), 0u);
    EXPECT_TRUE(q.failed());
    std::uint8_t out[4] = {1, 2, 3, 4};
    ByteReader c = over(bytes);
    EXPECT_FALSE(c.read(out, 4));
    EXPECT_EQ(out[0] | out[1] | out[2] | out[3], 0);

    // Sizes near the top of the range cannot wrap the bounds checks.
    ByteReader s = over(bytes);
    s.u8();
    EXPECT_FALSE(s.skip(SIZE_MAX));
    EXPECT_FALSE(over(bytes).seek(4));
    EXPECT_TRUE(over(bytes).at(SIZE_MAX).failed());
    EXPECT_EQ(over(bytes).peek(SIZE_MAX), 0u);

    // No bytes at all.
    ByteReader none(nullptr, 16);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.u16be(), 0u);
    EXPECT_TRUE(none.failed());
}

TEST(ByteReaderBounds, SubReadersEndWithTheirChunk) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6};
    ByteReader in = over(bytes);
    in.u8();
    ByteReader part = in.sub(2);
    EXPECT_EQ(in.position(), 3u);
    EXPECT_EQ(part.u16le(), 0x0302u);
    EXPECT_EQ(part.u8(), 0u);  // byte 4 belongs to the parent only
    EXPECT_TRUE(part.failed());
    EXPECT_FALSE(in.failed());
    EXPECT_EQ(in.u8(), 4u);

    ByteReader tooLong = in.sub(3);
    EXPECT_TRUE(in.failed());
    EXPECT_TRUE(tooLong.failed());
    EXPECT_EQ(tooLong.size(), 0u);
}

TEST(RiffWalkerBounds, ChunksStayInsideTheirLimit) {
    // "abcd" 3 bytes + pad, "efgh" 0 bytes, then a chunk claiming more than is left.
    const std::vector<std::uint8_t> bytes = {'a', 'b', 'c', 'd', 3,    0,    0,    0,    'x', 'y',
                                             'z', 0,   'e', 'f', 'g',  'h',  0,    0,    0,   0,
                                             'i', 'j', 'k', 'l', 0xF0, 0xFF, 0xFF, 0xFF, 1};
    RiffWalker walk(0, bytes.size(), bytes.size(), true);
    RiffChunk chunk;
    ASSERT_TRUE(walk.next(over(bytes), chunk));
    EXPECT_TRUE(chunk.is("abcd"));
    EXPECT_EQ(chunk.size, 3u);
    EXPECT_EQ(chunk.body, 8u);
    ASSERT_TRUE(walk.next(over(bytes), chunk));  // after the pad byte
    EXPECT_TRUE(chunk.is("efgh"));
    EXPECT_FALSE(walk.next(over(bytes), chunk));
    EXPECT_TRUE(walk.overran());
    EXPECT_FALSE(walk.more());

    // Without the pad byte the second header is read one byte early, and
    // its size ('h' = 104) runs past the bytes.
    RiffWalker unpadded(0, bytes.size(), bytes.size(), false);
    ASSERT_TRUE(unpadded.next(over(bytes), chunk));
    EXPECT_FALSE(unpadded.next(over(bytes), chunk));
    EXPECT_EQ(chunk.size, 104u);
    EXPECT_TRUE(unpadded.overran());

    // A writer that left the pad out: stepping back reads the next header
    // right after the odd body; a chunk without pad has nothing to undo.
    const std::vector<std::uint8_t> unpaddedBytes = {'a', 'b', 'c', 'd', 3,   0, 0, 0, 'x', 'y',
                                                     'z', 'e', 'f', 'g', 'h', 0, 0, 0, 0};
    RiffWalker loose(0, unpaddedBytes.size(), unpaddedBytes.size(), true);
    ASSERT_TRUE(loose.next(over(unpaddedBytes), chunk));
    EXPECT_TRUE(loose.skippedPad());
    EXPECT_EQ(loose.headerOffset(), 12u);
    loose.dropPad();
    EXPECT_EQ(loose.headerOffset(), 11u);
    ASSERT_TRUE(loose.next(over(unpaddedBytes), chunk));
    EXPECT_TRUE(chunk.is("efgh"));
    EXPECT_FALSE(loose.skippedPad());
    loose.dropPad();
    EXPECT_EQ(loose.headerOffset(), unpaddedBytes.size());

    // A walk whose end lies before a whole header stops without overrun.
    RiffWalker shortWalk(0, 7, bytes.size(), true);
    EXPECT_FALSE(shortWalk.next(over(bytes), chunk));
    EXPECT_FALSE(shortWalk.overran());
}
