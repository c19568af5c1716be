// TextDecoder: turns the bytes of a text (a file name, a song's title read
// from a MIDI file) into characters for drawing.
//
// The whole text is read as UTF-8 when it is valid UTF-8; otherwise as
// Shift-JIS (Windows code page 932, through iconv) when it is valid in that;
// otherwise each byte is one Latin-1 character. Japanese titles written by
// Windows tools in Shift-JIS therefore show as Japanese.
#pragma once

#include <cstddef>
#include <string>

namespace brellin {

class TextDecoder {
public:
    enum class Encoding { Utf8, ShiftJis, Latin1 };

    // Decodes `length` bytes into `out` (replacing its contents); returns
    // the encoding that was used.
    static Encoding decode(const char* bytes, std::size_t length, std::u32string& out);

    // Strict UTF-8: no overlong forms, surrogates or values above U+10FFFF.
    // With out == nullptr it only checks.
    static bool decodeUtf8(const char* bytes, std::size_t length, std::u32string* out);

    // Appends the UTF-8 form of one character (for terminal output).
    static void appendUtf8(char32_t c, std::string& out);
    // The UTF-8 form of decoded characters.
    static std::string toUtf8(const std::u32string& text);
};

}  // namespace brellin
