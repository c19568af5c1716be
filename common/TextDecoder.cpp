#include "common/TextDecoder.h"

#include <cerrno>
#include <vector>

#include <iconv.h>

namespace brellin {

bool TextDecoder::decodeUtf8(const char* bytes, std::size_t length, std::u32string* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = p[i];
        char32_t value;
        std::size_t count;  // continuation bytes
        char32_t minimum;
        if (lead < 0x80) {
            value = lead;
            count = 0;
            minimum = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            value = lead & 0x1F;
            count = 1;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            value = lead & 0x0F;
            count = 2;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            value = lead & 0x07;
            count = 3;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (count > length - i - 1) return false;
        for (std::size_t k = 1; k <= count; ++k) {
            const unsigned char next = p[i + k];
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        if (out) out->push_back(value);
        i += count + 1;
    }
    return true;
}

namespace {

// CP932 through iconv into UTF-8, then strictly decoded. False when iconv
// has no CP932 or the bytes are not valid in it.
bool decodeShiftJis(const char* bytes, std::size_t length, std::u32string& out) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    // One input byte becomes at most three UTF-8 bytes (half-width katakana).
    std::vector<char> utf8(length * 3 + 4);
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = length;
    char* target = utf8.data();
    std::size_t targetLeft = utf8.size();
    bool ok = iconv(converter, &in, &inLeft, &target, &targetLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    // A lead byte at the very end is an incomplete character: not Shift-JIS.
    if (ok) ok = iconv(converter, nullptr, nullptr, &target, &targetLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!ok) return false;
    out.clear();
    return TextDecoder::decodeUtf8(utf8.data(), utf8.size() - targetLeft, &out);
}

// Windows-1252 at 0x80-0x9F. The five bytes it leaves undefined keep their
// Latin-1 meaning (C1 controls), as Windows itself converts them.
constexpr char16_t WINDOWS_1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

bool isShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isShiftJisTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
bool isHalfWidthKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }
bool isUndefinedIn1252(unsigned char b) { return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D; }
bool isLatinLetter(unsigned char b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Whether the bytes, read as Shift-JIS, hold evidence of Japanese (see the
// header for the rules). False as well when they are not Shift-JIS at all.
// Any high byte among ASCII is a valid Shift-JIS character of some kind, so
// validity alone proves nothing: a Latin-1 © (0xA9) is a half-width katakana
// and a Windows-1252 ’ (0x92) followed by a letter is a kanji.
bool looksJapanese(const char* bytes, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t run = 0;  // Japanese characters in a row
    std::size_t longestRun = 0;
    bool doubleByte = false;
    bool latinLetter = false;
    bool undefinedLead = false;
    std::size_t i = 0;
    while (i < length) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            latinLetter = latinLetter || isLatinLetter(b);
            run = 0;
            ++i;
        } else if (isHalfWidthKatakana(b)) {
            ++run;
            ++i;
        } else if (isShiftJisLead(b) && i + 1 < length && isShiftJisTrail(p[i + 1])) {
            doubleByte = true;
            undefinedLead = undefinedLead || isUndefinedIn1252(b);
            ++run;
            i += 2;
        } else {
            return false;  // 0x80, 0xA0, 0xFD-0xFF, or a lead without its trail
        }
        if (run > longestRun) longestRun = run;
    }
    return longestRun >= 2 || (doubleByte && !latinLetter) || undefinedLead;
}

void decodeWindows1252(const char* bytes, std::size_t length, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out.push_back(b >= 0x80 && b <= 0x9F ? static_cast<char32_t>(WINDOWS_1252_HIGH[b - 0x80]) : char32_t{b});
    }
}

}  // namespace

TextDecoder::Encoding TextDecoder::decode(const char* bytes, std::size_t length, std::u32string& out) {
    out.clear();
    if (bytes == nullptr || length == 0) return Encoding::Utf8;
    if (decodeUtf8(bytes, length, &out)) return Encoding::Utf8;
    if (looksJapanese(bytes, length) && decodeShiftJis(bytes, length, out)) return Encoding::ShiftJis;
    decodeWindows1252(bytes, length, out);
    return Encoding::Latin1;
}

TextDecoder::Encoding TextDecoder::decodeAs(Encoding encoding, const char* bytes, std::size_t length,
                                            std::u32string& out) {
    out.clear();
    if (bytes == nullptr || length == 0) return encoding;
    if (encoding == Encoding::Utf8 && decodeUtf8(bytes, length, &out)) return Encoding::Utf8;
    out.clear();
    if (encoding == Encoding::ShiftJis && decodeShiftJis(bytes, length, out)) return Encoding::ShiftJis;
    decodeWindows1252(bytes, length, out);
    return Encoding::Latin1;
}

void TextDecoder::appendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string TextDecoder::toUtf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) appendUtf8(c, out);
    return out;
}

}  // namespace brellin
