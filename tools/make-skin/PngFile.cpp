#include "PngFile.h"

#include <cstdint>
#include <cstdio>

namespace brellin::skinart {

namespace {

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
    static std::uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i)
        c = table[(c ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Appends a chunk: length, type, data, CRC of type and data.
void chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.append(type, 4);
    out += data;
    put32(out, crc32(out, typeAt));
}

}  // namespace

bool writePng(const RgbaPicture& picture, const std::string& path) {
    const int w = picture.width(), h = picture.height();
    // Scanlines, each led by filter type 0 (none).
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(picture.pixel(0, y)), static_cast<std::size_t>(w) * 4);
    }

    // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32.
    std::string z = "\x78\x01";
    std::size_t at = 0;
    do {
        const std::size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        const bool last = at + n == raw.size();
        z.push_back(last ? '\x01' : '\x00');
        z.push_back(static_cast<char>(n & 0xFF));
        z.push_back(static_cast<char>(n >> 8));
        z.push_back(static_cast<char>(~n & 0xFF));
        z.push_back(static_cast<char>((~n >> 8) & 0xFF));
        z.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (const char byte : raw) {
        a = (a + static_cast<unsigned char>(byte)) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, b << 16 | a);

    std::string header;
    put32(header, static_cast<std::uint32_t>(w));
    put32(header, static_cast<std::uint32_t>(h));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, filter 0, no interlace

    std::string file = "\x89PNG\r\n\x1a\n";
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", z);
    chunk(file, "IEND", std::string());

    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace brellin::skinart
