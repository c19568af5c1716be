// Texts as the file dialogs show them: names and titles are bytes (UTF-8,
// Shift-JIS or Latin-1, as they stand on disk or in the MIDI file) and the
// dialog host takes UTF-8. Paths are always built from the raw bytes; these
// conversions are for display only.
#pragma once

#include <cstddef>
#include <string>

namespace brellin {

// The bytes decoded for display (TextDecoder's rule), as UTF-8.
std::string displayText(const char* bytes, std::size_t length);
inline std::string displayText(const std::string& bytes) { return displayText(bytes.data(), bytes.size()); }

// A title or copyright copied into a 256-byte field as whole characters:
// all of it when shorter than 256 bytes, otherwise at most its first 254
// bytes, never splitting a UTF-8 sequence or a Shift-JIS double-byte character.
std::string fieldText(const char* bytes, std::size_t length);

}  // namespace brellin
