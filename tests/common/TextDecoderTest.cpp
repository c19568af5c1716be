#include <gtest/gtest.h>

#include <cstring>

#include "common/TextDecoder.h"

namespace brellin {
namespace {

using Encoding = TextDecoder::Encoding;

Encoding decode(const char* text, std::u32string& out) { return TextDecoder::decode(text, std::strlen(text), out); }

TEST(TextDecoding, ValidUtf8IsReadAsUtf8) {
    std::u32string out;
    EXPECT_EQ(decode("Song 01", out), Encoding::Utf8);
    EXPECT_EQ(out, U"Song 01");
    EXPECT_EQ(decode("\xE3\x83\x96\xE3\x83\xAC\xE3\x83\xAA\xE3\x83\xB3 \xF0\x9F\x8E\xB5", out), Encoding::Utf8);
    EXPECT_EQ(out, U"\u30D6\u30EC\u30EA\u30F3 \U0001F3B5");
}

TEST(TextDecoding, ShiftJisIsTheFirstFallback) {
    std::u32string out;
    EXPECT_EQ(decode("\x83\x75\x83\x8C\x83\x8A\x83\x93 01", out), Encoding::ShiftJis);
    EXPECT_EQ(out, U"\u30D6\u30EC\u30EA\u30F3 01");
    // Half-width katakana are single bytes in Shift-JIS.
    EXPECT_EQ(decode("\xB1\xB2", out), Encoding::ShiftJis);
    EXPECT_EQ(out, U"\uFF71\uFF72");
    // Code page 932 extensions (NEC row 13: circled one).
    EXPECT_EQ(decode("\x87\x40", out), Encoding::ShiftJis);
    EXPECT_EQ(out, U"\u2460");
}

TEST(TextDecoding, Latin1WhenNeitherFits) {
    std::u32string out;
    EXPECT_EQ(decode("Caf\xE9", out), Encoding::Latin1);  // a lead byte at the very end
    EXPECT_EQ(out, U"Caf\u00E9");
    EXPECT_EQ(decode("\xE9t\xE9 \xE0 Paris", out), Encoding::Latin1);
    EXPECT_EQ(out, U"\u00E9t\u00E9 \u00E0 Paris");
}

TEST(TextDecoding, MalformedUtf8IsNotUtf8) {
    const char* malformed[] = {
        "\xC0\xAF",          // overlong slash
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xE3\x83",          // cut short
        "\x80",              // a lone continuation byte
    };
    for (const char* text : malformed) {
        EXPECT_FALSE(TextDecoder::decodeUtf8(text, std::strlen(text), nullptr)) << text;
        std::u32string out;
        EXPECT_NE(decode(text, out), Encoding::Utf8);
        EXPECT_FALSE(out.empty());
    }
}

TEST(TextDecoding, EmptyText) {
    std::u32string out = U"old";
    EXPECT_EQ(TextDecoder::decode(nullptr, 0, out), Encoding::Utf8);
    EXPECT_TRUE(out.empty());
}

TEST(TextDecoding, Utf8RoundTripsThroughEveryLength) {
    // One character of each UTF-8 length: A, é, ブ, 𝄞 (G clef).
    const std::string text = "A\xC3\xA9\xE3\x83\x96\xF0\x9D\x84\x9E";
    std::u32string decoded;
    ASSERT_EQ(TextDecoder::decode(text.data(), text.size(), decoded), TextDecoder::Encoding::Utf8);
    EXPECT_EQ(decoded, (std::u32string{U'A', U'\u00E9', U'\u30D6', U'\U0001D11E'}));
    EXPECT_EQ(TextDecoder::toUtf8(decoded), text);
}

}  // namespace
}  // namespace brellin
