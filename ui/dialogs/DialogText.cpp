#include "ui/dialogs/DialogText.h"

#include "common/TextDecoder.h"

namespace brellin {

std::string displayText(const char* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) return {};
    std::u32string characters;
    TextDecoder::decode(bytes, length, characters);
    return TextDecoder::toUtf8(characters);
}

std::string fieldText(const char* bytes, std::size_t length) {
    if (bytes == nullptr) return {};
    if (length < 256) return std::string(bytes, length);
    std::size_t cut = 254;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (TextDecoder::decodeUtf8(bytes, length, nullptr)) {
        // Back off over continuation bytes to the start of the cut character.
        while (cut > 0 && (b[cut] & 0xC0) == 0x80) --cut;
    } else {
        // Shift-JIS: lead bytes 0x81-0x9F and 0xE0-0xFC take the next byte with them.
        std::size_t i = 0;
        while (i < cut) {
            const bool lead = (b[i] >= 0x81 && b[i] <= 0x9F) || (b[i] >= 0xE0 && b[i] <= 0xFC);
            const std::size_t next = i + (lead ? 2 : 1);
            if (next > cut) break;
            i = next;
        }
        cut = i;
    }
    return std::string(bytes, cut);
}

}  // namespace brellin
