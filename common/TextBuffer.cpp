#include "common/TextBuffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace brellin {

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : storage(std::exchange(other.storage, nullptr)),
      size(std::exchange(other.size, 0)),
      allocated(std::exchange(other.allocated, 0)) {}

TextBuffer& TextBuffer::operator=(const TextBuffer& other) {
    if (this != &other) assign(other.text(), other.length());
    return *this;
}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
        std::free(storage);
        storage = std::exchange(other.storage, nullptr);
        size = std::exchange(other.size, 0);
        allocated = std::exchange(other.allocated, 0);
    }
    return *this;
}

TextBuffer::~TextBuffer() { std::free(storage); }

bool TextBuffer::assign(const char* text) { return assign(text, text ? std::strlen(text) : 0); }

bool TextBuffer::assign(const char* text, std::size_t length) {
    if (text == nullptr) length = 0;
    std::size_t wanted = capacityFor(length);
    if (wanted != allocated) {
        char* fresh = static_cast<char*>(std::calloc(wanted, 1));
        if (fresh == nullptr) return false;
        // The source may lie inside the old storage: copy before freeing.
        if (length > 0) std::memcpy(fresh, text, length);
        std::free(storage);
        storage = fresh;
        allocated = wanted;
    } else if (length > 0) {
        std::memmove(storage, text, length);
    }
    if (storage != nullptr) std::memset(storage + length, 0, allocated - length);
    size = length;
    return true;
}

bool TextBuffer::append(const char* text) {
    if (text == nullptr || text[0] == '\0') return true;
    std::size_t extra = std::strlen(text);
    std::size_t length = size + extra;
    if (storage != nullptr && length + 1 <= allocated) {
        std::memmove(storage + size, text, extra);
        storage[length] = '\0';
        size = length;
        return true;
    }
    std::size_t wanted = capacityFor(length);
    char* fresh = static_cast<char*>(std::calloc(wanted, 1));
    if (fresh == nullptr) return false;
    if (size > 0) std::memcpy(fresh, storage, size);
    std::memcpy(fresh + size, text, extra);
    std::free(storage);
    storage = fresh;
    allocated = wanted;
    size = length;
    return true;
}

bool sameText(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

}  // namespace brellin
