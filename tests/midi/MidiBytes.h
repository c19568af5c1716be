// Byte-level MIDI fixtures for the tests: Standard MIDI File headers, track
// chunks with their lengths filled in, variable-length quantities and RIFF
// wrappers, all built as std::string byte strings.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace brellin::testing {

inline std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

inline std::string be32(std::uint32_t v) {
    return bytes({int(v >> 24 & 0xFF), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)});
}

inline std::string be16(std::uint32_t v) { return bytes({int(v >> 8 & 0xFF), int(v & 0xFF)}); }

inline std::string le32(std::uint32_t v) {
    return bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24 & 0xFF)});
}

// A variable-length quantity (values up to 0x0FFFFFFF).
inline std::string varLen(std::uint32_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while (value >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return out;
}

// "MThd", length 6, format, track count, division.
inline std::string header(int format, int trackCount, std::uint32_t division, const char* id = "MThd") {
    return std::string(id, 4) + be32(6) + be16(static_cast<std::uint32_t>(format)) +
           be16(static_cast<std::uint32_t>(trackCount)) + be16(division);
}

// "MTrk", the body's length, the body.
inline std::string track(const std::string& body) {
    return "MTrk" + be32(static_cast<std::uint32_t>(body.size())) + body;
}

// Events, each written with its delta-time in front.
inline std::string noteOn(std::uint32_t delta, int channel, int note, int velocity) {
    return varLen(delta) + bytes({0x90 | channel, note, velocity});
}
inline std::string noteOff(std::uint32_t delta, int channel, int note) {
    return varLen(delta) + bytes({0x80 | channel, note, 0});
}
inline std::string meta(std::uint32_t delta, int type, const std::string& payload) {
    return varLen(delta) + bytes({0xFF, type}) + varLen(static_cast<std::uint32_t>(payload.size())) + payload;
}
inline std::string setTempo(std::uint32_t delta, std::uint32_t microseconds) {
    return meta(delta, 0x51,
                bytes({int(microseconds >> 16 & 0xFF), int(microseconds >> 8 & 0xFF), int(microseconds & 0xFF)}));
}
inline std::string endOfTrack(std::uint32_t delta = 0) { return varLen(delta) + bytes({0xFF, 0x2F, 0x00}); }

// A RIFF "RMID" file holding the given chunks (each id + little-endian length + body).
inline std::string riffChunk(const char* id, const std::string& body) {
    return std::string(id, 4) + le32(static_cast<std::uint32_t>(body.size())) + body;
}
inline std::string riff(const std::string& chunks, const char* form = "RMID") {
    return "RIFF" + le32(static_cast<std::uint32_t>(chunks.size() + 4)) + std::string(form, 4) + chunks;
}

}  // namespace brellin::testing
