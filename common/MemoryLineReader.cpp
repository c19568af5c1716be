#include "common/MemoryLineReader.h"

#include <cstring>

namespace brellin {

bool MemoryLineReader::readLine(char* buffer, std::uint32_t capacity) {
    std::memset(buffer, 0, capacity);
    std::uint32_t stored = 0;
    for (std::uint32_t count = 0; count < capacity; ++count) {
        if (in.atEnd()) {
            lastError = RESULT_NO_SOUND_FONT;  // here: the end of the input
            return false;
        }
        const std::uint8_t byte = in.u8();
        if (byte == 0x0A) return true;
        if (byte == 0x0D) continue;
        buffer[stored++] = static_cast<char>(byte);
    }
    lastError = RESULT_OUT_OF_MEMORY;
    return false;
}

}  // namespace brellin
