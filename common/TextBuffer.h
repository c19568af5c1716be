// TextBuffer: an owned, growable, zero-terminated byte string.
//
// Storage is obtained zero-filled and its capacity is always a multiple of
// 256 bytes: for a text of length n, the smallest multiple of 256 greater
// than n + 1. Assigning reallocates only when that rule gives a different
// capacity; appending extends in place while the text and its terminator fit.
// A default TextBuffer holds no storage and reads as the empty text. When
// memory runs out the old text stays and the operation reports false.
#pragma once

#include <cstddef>

namespace brellin {

class TextBuffer {
public:
    TextBuffer() = default;
    explicit TextBuffer(const char* text) { assign(text); }
    TextBuffer(const TextBuffer& other) { assign(other.text()); }
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(const TextBuffer& other);
    TextBuffer& operator=(TextBuffer&& other) noexcept;
    ~TextBuffer();

    // A null text assigns the empty text.
    bool assign(const char* text);
    bool assign(const char* text, std::size_t length);
    bool append(const char* text);

    const char* text() const { return storage ? storage : ""; }
    std::size_t length() const { return size; }
    std::size_t capacity() const { return allocated; }
    bool empty() const { return size == 0; }

    // The capacity rule: the smallest multiple of 256 greater than length + 1.
    static std::size_t capacityFor(std::size_t length) { return ((length + 1) / 256 + 1) * 256; }

private:
    char* storage = nullptr;
    std::size_t size = 0;
    std::size_t allocated = 0;
};

// Byte-wise equality of two texts.
bool sameText(const char* a, const char* b);

}  // namespace brellin
