#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

// Which encoding a text that is not UTF-8 gets, and why. Every high byte
// among ASCII is valid Shift-JIS of some kind, so each row below is valid in
// both readings unless it says otherwise; the evidence decides.
struct Case {
    const char* bytes;
    Encoding encoding;
    const char32_t* text;
    const char* why;
};

const Case DECISIONS[] = {
    // Japanese.
    {"\x83\x75\x83\x8C\x83\x8A\x83\x93 01", Encoding::ShiftJis, U"\u30D6\u30EC\u30EA\u30F3 01",
     "four katakana in a row"},
    {"\x91\xE6\x31\x8A\x79\x8F\xCD", Encoding::ShiftJis, U"\u7B2C1\u697D\u7AE0",
     "kanji, a digit, then two kanji in a row"},
    {"\x83\x68\x83\x89\x83\x4E\x83\x47 Theme", Encoding::ShiftJis, U"\u30C9\u30E9\u30AF\u30A8 Theme",
     "a run of katakana beside Latin words"},
    {"\xB1\xB2\xB3", Encoding::ShiftJis, U"\uFF71\uFF72\uFF73", "a run of half-width katakana"},
    {"\x88\xA4", Encoding::ShiftJis, U"\u611B", "one kanji and no Latin letter at all"},
    {"\x8A\x43 2", Encoding::ShiftJis, U"\u6D77 2", "one kanji with an ASCII trail byte, digits only beside it"},
    {"\x87\x40", Encoding::ShiftJis, U"\u2460", "code page 932 extension (NEC row 13), no Latin letter"},
    {"Song\x81\x40Title", Encoding::ShiftJis, U"Song\u3000Title", "0x81 is undefined in Windows-1252"},
    // Latin.
    {"Copyright \xA9 1997 Someone", Encoding::Latin1, U"Copyright \u00A9 1997 Someone",
     "a lone half-width-katakana byte among Latin words is a Latin-1 sign"},
    {"\xA9 1997", Encoding::Latin1, U"\u00A9 1997", "a single katakana byte is no run"},
    {"Don\x92t Stop", Encoding::Latin1, U"Don\u2019t Stop", "0x92 't' would be one kanji among Latin words"},
    {"\x93Quoted\x94 \x96 \x85", Encoding::Latin1, U"\u201CQuoted\u201D \u2013 \u2026",
     "Windows-1252 punctuation; 0x94 ' ' is not Shift-JIS"},
    {"Can\xE7\xE3o", Encoding::Latin1, U"Can\u00E7\u00E3o",
     "two accented letters make one double-byte character, no run"},
    {"Caf\xE9", Encoding::Latin1, U"Caf\u00E9", "a lead byte at the very end is not Shift-JIS"},
    {"\xE9t\xE9 \xE0 Paris", Encoding::Latin1, U"\u00E9t\u00E9 \u00E0 Paris", "0xE9 ' ' is not Shift-JIS"},
    {"\x80 5, \x8A", Encoding::Latin1, U"\u20AC 5, \u0160", "0x80 is not Shift-JIS"},
};

TEST(TextDecoding, EncodingIsChosenByTheEvidenceOfTheWholeText) {
    for (const Case& c : DECISIONS) {
        std::u32string out;
        EXPECT_EQ(decode(c.bytes, out), c.encoding) << c.why;
        EXPECT_EQ(out, std::u32string(c.text)) << c.why;
    }
}

TEST(TextDecoding, EveryByteOfWindows1252HasOneCharacter) {
    // All 256 bytes, each after an ASCII letter; 0x80 and 0xFF are no
    // Shift-JIS, so the text is Windows-1252, one character per byte.
    std::string text;
    for (int b = 0; b < 256; ++b) {
        text += 'x';
        text += static_cast<char>(b);
    }
    std::u32string out;
    ASSERT_EQ(TextDecoder::decode(text.data(), text.size(), out), Encoding::Latin1);
    ASSERT_EQ(out.size(), 512u);
    EXPECT_EQ(out[2 * 0x41 + 1], U'A');
    EXPECT_EQ(out[2 * 0x80 + 1], U'\u20AC');
    EXPECT_EQ(out[2 * 0x81 + 1], U'\u0081');  // undefined in Windows-1252: kept as Latin-1
    EXPECT_EQ(out[2 * 0x97 + 1], U'\u2014');
    EXPECT_EQ(out[2 * 0x9F + 1], U'\u0178');
    EXPECT_EQ(out[2 * 0xA0 + 1], U'\u00A0');
    EXPECT_EQ(out[2 * 0xFF + 1], U'\u00FF');
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
