// The information scan over arbitrary bytes: it must end, and the title and
// copyright it reports must lie inside the input.
#include <cstdint>
#include <cstdlib>

#include "midi/MidiFileInfo.h"

using namespace brellin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MidiFileInfo info;
    info.playingTime = 12345;
    scanMidiBytes(data, static_cast<std::uint32_t>(size), info);
    auto inside = [&](const char* text, std::uint32_t length) {
        if (length == 0) return true;
        const char* begin = reinterpret_cast<const char*>(data);
        return text >= begin && text + length <= begin + size;
    };
    if (!inside(info.title, info.titleLength) || !inside(info.copyright, info.copyrightLength)) std::abort();
    if (info.playingTime != 12345 && info.playingTime % 4 != 0) std::abort();
    return 0;
}
