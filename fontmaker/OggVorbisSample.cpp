#include "fontmaker/OggVorbisSample.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/ByteReader.h"

namespace brellin {

namespace {

constexpr int HOST_BIG_ENDIAN = std::endian::native == std::endian::big ? 1 : 0;

// Reading callbacks over bytes in memory. No seek callback: the stream is
// opened as a non-seekable one and decoded front to back, which spares
// libvorbisfile the search for the stream's end.
struct MemoryStream {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

std::size_t readMemory(void* buffer, std::size_t elementSize, std::size_t count, void* source) {
    auto* stream = static_cast<MemoryStream*>(source);
    if (elementSize == 0) return 0;
    std::size_t wanted = std::min(count, (stream->size - stream->position) / elementSize);
    std::memcpy(buffer, stream->data + stream->position, wanted * elementSize);
    stream->position += wanted * elementSize;
    return wanted;
}

const char* vorbisError(long code) {
    switch (code) {
        case OV_EREAD: return "a read failed";
        case OV_ENOTVORBIS: return "not Vorbis data";
        case OV_EVERSION: return "unknown Vorbis version";
        case OV_EBADHEADER: return "damaged Vorbis header";
        case OV_EFAULT: return "decoder fault";
        case OV_HOLE: return "damaged or missing data in the stream";
        case OV_EBADLINK: return "damaged stream link";
        case OV_EINVAL: return "damaged stream";
        default: return "damaged stream";
    }
}

}  // namespace

bool oggStreamFrames(const std::uint8_t* tail, std::size_t size, std::uint32_t maxFrames, std::uint32_t& frames,
                     std::string& why) {
    frames = 0;
    if (!tail || size < 27) {
        why = "its Ogg data is too short";
        return false;
    }
    // The last page is the one that starts with "OggS" and whose header and
    // segments add up to exactly the bytes that remain.
    for (std::size_t at = size - 27 + 1; at-- > 0;) {
        if (std::memcmp(tail + at, "OggS", 4) != 0 || tail[at + 4] != 0) continue;
        ByteReader page(tail + at, size - at);
        const std::uint8_t flags = page.at(5).u8();
        const std::uint64_t granule =
            static_cast<std::uint64_t>(page.at(6).u32le()) | static_cast<std::uint64_t>(page.at(10).u32le()) << 32;
        const std::size_t segments = page.at(26).u8();
        if (27 + segments > page.size()) continue;
        std::size_t body = 0;
        for (std::size_t i = 0; i < segments; ++i) body += tail[at + 27 + i];
        if (27 + segments + body != page.size()) continue;
        if ((flags & 0x04) == 0) {
            why = "its Ogg data is cut short (the last page does not end the stream)";
            return false;
        }
        // A granule of -1 (all bits set) means no packet ends on the page.
        if (granule == 0 || granule == ~std::uint64_t{0}) {
            why = "its Ogg stream holds no audio";
            return false;
        }
        if (granule > maxFrames) {
            why = "it decodes to " + std::to_string(granule) + " frames, more than the limit of " +
                  std::to_string(maxFrames);
            return false;
        }
        frames = static_cast<std::uint32_t>(granule);
        return true;
    }
    why = "its Ogg data is cut short or damaged (it does not end with a whole page)";
    return false;
}

bool decodeOggVorbis(const std::uint8_t* data, std::size_t size, std::uint32_t frames, std::vector<std::int16_t>& out,
                     std::string& why) {
    out.clear();
    MemoryStream stream{data, data ? size : 0, 0};
    ov_callbacks callbacks{readMemory, nullptr, nullptr, nullptr};
    OggVorbis_File file;
    int opened = ov_open_callbacks(&stream, &file, nullptr, 0, callbacks);
    if (opened != 0) {
        why = std::string("its Ogg Vorbis data does not open (") + vorbisError(opened) + ")";
        return false;
    }
    bool ok = true;
    const vorbis_info* info = ov_info(&file, -1);
    if (!info || info->channels != 1) {
        why = "its Ogg Vorbis stream is not mono";
        ok = false;
    }
    out.resize(frames);
    std::uint32_t done = 0;
    int section = 0;
    while (ok && done < frames) {
        const std::size_t wanted = std::min<std::size_t>(frames - done, 4096);
        // 16-bit signed words in the host's byte order: the frames land in place.
        long got = ov_read(&file, reinterpret_cast<char*>(out.data() + done), static_cast<int>(wanted * 2),
                           HOST_BIG_ENDIAN, 2, 1, &section);
        if (got < 0) {
            why = std::string("its Ogg Vorbis data does not decode (") + vorbisError(got) + ")";
            ok = false;
        } else if (got == 0) {
            why =
                "its Ogg Vorbis data ends after " + std::to_string(done) + " of " + std::to_string(frames) + " frames";
            ok = false;
        } else {
            const vorbis_info* now = ov_info(&file, -1);
            if (!now || now->channels != 1) {
                why = "its Ogg Vorbis stream is not mono";
                ok = false;
            }
            done += static_cast<std::uint32_t>(got / 2);
        }
    }
    ov_clear(&file);
    if (!ok) out.clear();
    return ok;
}

}  // namespace brellin
