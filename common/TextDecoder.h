// TextDecoder: turns the bytes of a text (a file name, a song's title read
// from a MIDI file) into characters for drawing.
//
// The encoding is chosen once for the whole text, by the evidence it holds:
//   1. UTF-8 when the whole text is valid UTF-8.
//   2. Shift-JIS (Windows code page 932, through iconv) when the whole text is
//      valid in it and looks Japanese: two or more Japanese characters in a
//      row (double-byte characters or half-width katakana), or double-byte
//      characters with no Latin letter anywhere in the text, or a byte that
//      Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as
//      the lead of a double-byte character.
//   3. Otherwise Windows-1252: Latin-1, with 0x80-0x9F as its punctuation
//      and letters (’ “ ” – — € …).
// A single high byte among Latin words ("Copyright \xA9 1997", "Don\x92t")
// is valid Shift-JIS too, but it is not evidence of Japanese; Japanese titles
// written by Windows tools hold runs of kana and kanji and still show as
// Japanese.
#pragma once

#include <cstddef>
#include <string>

namespace brellin {

class TextDecoder {
public:
    // Latin1 stands for Windows-1252, which is Latin-1 with 0x80-0x9F used.
    enum class Encoding { Utf8, ShiftJis, Latin1 };

    // Decodes `length` bytes into `out` (replacing its contents); returns
    // the encoding that was used.
    static Encoding decode(const char* bytes, std::size_t length, std::u32string& out);
    // Decodes in the given encoding, as chosen for a whole text the bytes are
    // a piece of (a song's lyrics, syllable by syllable); bytes that are not
    // valid in it are read as Windows-1252. Returns the encoding used.
    static Encoding decodeAs(Encoding encoding, const char* bytes, std::size_t length, std::u32string& out);

    // Strict UTF-8: no overlong forms, surrogates or values above U+10FFFF.
    // With out == nullptr it only checks.
    static bool decodeUtf8(const char* bytes, std::size_t length, std::u32string* out);

    // Appends the UTF-8 form of one character (for terminal output).
    static void appendUtf8(char32_t c, std::string& out);
    // The UTF-8 form of decoded characters.
    static std::string toUtf8(const std::u32string& text);
};

}  // namespace brellin
