#include "display/BmpWriter.h"

#include <cstdint>
#include <vector>

#include "common/FileObject.h"
#include "display/Surface.h"

namespace brellin {

namespace {

void putU16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* at, std::uint32_t value) {
    putU16(at, value & 0xFFFFu);
    putU16(at + 2, value >> 16);
}

std::uint8_t widen(std::uint32_t channel) { return static_cast<std::uint8_t>((channel << 3) | (channel >> 2)); }

}  // namespace

bool BmpWriter::write(const Surface& surface, const char* path, ResultCode* error) {
    const std::uint32_t width = static_cast<std::uint32_t>(surface.width());
    const std::uint32_t height = static_cast<std::uint32_t>(surface.height());
    const std::uint32_t rowLength = (width * 3 + 3) & ~3u;
    const std::uint32_t dataSize = rowLength * height;  // at most 32768 * 3 * 32767 bytes

    std::uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    putU32(header + 2, 54 + dataSize);
    putU32(header + 10, 54);
    putU32(header + 14, 40);
    putU32(header + 18, width);
    putU32(header + 22, height);  // positive: bottom row first
    putU16(header + 26, 1);
    putU16(header + 28, 24);
    putU32(header + 34, dataSize);
    putU32(header + 38, 2835);  // 72 dpi in pixels per metre
    putU32(header + 42, 2835);

    FileObject file;
    bool ok = file.open(path, FileAccess::Write) && file.write(header, sizeof header);
    std::vector<std::uint8_t> row(rowLength, 0);
    for (std::uint32_t y = height; ok && y-- > 0;) {
        const std::uint16_t* source = surface.pixels() + static_cast<std::size_t>(y) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t p = source[x];
            row[x * 3] = widen(p & 0x1F);
            row[x * 3 + 1] = widen((p >> 5) & 0x1F);
            row[x * 3 + 2] = widen((p >> 10) & 0x1F);
        }
        ok = file.write(row.data(), rowLength);
    }
    if (ok) ok = file.close();
    if (!ok && error) *error = file.lastError;
    return ok;
}

}  // namespace brellin
