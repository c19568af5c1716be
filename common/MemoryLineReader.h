// MemoryLineReader: a bounded cursor over bytes in memory that hands out lines
// by the same rules as FileObject `readLine`.
//
// The fuzz targets and the tests feed the INI and play-list readers through
// it; the readers themselves are written once for both sources. The bytes
// are read through a ByteReader, so reading can never pass their end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteReader.h"
#include "common/ResultCode.h"

namespace brellin {

class MemoryLineReader {
public:
    MemoryLineReader(const void* data, std::size_t size) : in(data, size) {}

    // Zeroes `capacity` bytes of the buffer, then reads at most `capacity`
    // bytes: a line feed ends the line and is not stored, carriage returns are
    // dropped. False with RESULT_NO_SOUND_FONT at the end of the input (the
    // bytes read stay in the buffer) and with RESULT_OUT_OF_MEMORY when
    // `capacity` bytes held no line feed. The buffer is not terminated when
    // `capacity` bytes were stored.
    bool readLine(char* buffer, std::uint32_t capacity);

    ResultCode lastError = RESULT_OK;

private:
    ByteReader in;
};

}  // namespace brellin
