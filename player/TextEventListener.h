// TextEventListener: told of every text meta event (types 0x01 … 0x0F) as the
// song reaches it. Called on the render thread: only record the values. The
// text points into the loaded song and stays valid while the song stays
// loaded; it is not zero-terminated.
#pragma once

#include <cstdint>

namespace brellin {

class TextEventListener {
public:
    virtual ~TextEventListener() = default;
    virtual void notify() = 0;

    std::int32_t track = 0;      // the track's index, 0 for the first track chunk
    std::int32_t type = 0;       // 1 … 15; 2 copyright, 3 sequence or track name
    const char* text = nullptr;  // payload inside the song image
    std::uint32_t textLength = 0;
    std::uint32_t offset = 0;  // where the payload starts, in bytes from the song's first byte
};

}  // namespace brellin
