#include "soundfont/SoundFontWriter.h"

#include <cstring>

#include "common/FileObject.h"

namespace brellin {

namespace {

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
}

void putLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putRecord(std::vector<std::uint8_t>& out, const InstrumentRecord& record, std::uint32_t recordSize) {
    std::uint32_t fields[sizeof(InstrumentRecord) / 4];
    std::memcpy(fields, &record, sizeof record);
    for (std::uint32_t i = 0; i < recordSize / 4; ++i) putLe32(out, fields[i]);
}

}  // namespace

SoundFontWriter::SoundFontWriter() {
    std::memset(programs, 0, sizeof programs);
    std::memset(programKits, 0, sizeof programKits);
}

std::uint32_t SoundFontWriter::addSample(std::vector<std::int8_t> bytes) {
    samples.push_back(std::move(bytes));
    return static_cast<std::uint32_t>(samples.size() - 1);
}

bool SoundFontWriter::countsFit() const {
    return drumRegions.size() <= 32767 && !drumKitMaps.empty() && drumKitMaps.size() % 128 == 0 &&
           drumKitMaps.size() / 128 <= 32768;
}

std::vector<std::uint8_t> SoundFontWriter::bytes() const {
    const std::uint32_t recordSize = brf0 ? BRF0_RECORD_SIZE : BRF1_RECORD_SIZE;
    const std::uint32_t regionCount = static_cast<std::uint32_t>(drumRegions.size());
    const std::uint32_t kitCount = static_cast<std::uint32_t>(drumKitMaps.size() / 128);
    std::uint64_t blockLength = 4 * std::uint64_t{samples.size()};
    for (const auto& sample : samples) blockLength += sample.size();

    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(9232 + 72 * regionCount + 512 * kitCount + blockLength + 512));
    out.push_back('B');
    out.push_back('R');
    out.push_back('F');
    out.push_back(brf0 ? '0' : '1');
    // The size field always counts 72-byte records, whatever the magic.
    putLe32(out, static_cast<std::uint32_t>(9224 + 72 * std::uint64_t{regionCount} + 512 * std::uint64_t{kitCount} +
                                            blockLength));
    for (const InstrumentRecord& record : programs) putRecord(out, record, recordSize);
    putLe16(out, static_cast<std::uint16_t>(regionCount));
    putLe16(out, static_cast<std::uint16_t>(kitCount - 1));
    for (const InstrumentRecord& record : drumRegions) putRecord(out, record, recordSize);
    for (std::uint32_t entry : drumKitMaps) putLe32(out, entry);
    putLe32(out, static_cast<std::uint32_t>(samples.size()));
    for (const auto& sample : samples) putLe32(out, static_cast<std::uint32_t>(sample.size()));
    for (const auto& sample : samples)
        for (std::int8_t byte : sample) out.push_back(static_cast<std::uint8_t>(byte));
    if (kitCount > 1)
        for (std::uint32_t kit : programKits) putLe32(out, kit);
    return out;
}

bool SoundFontWriter::save(const char* path) {
    if (!countsFit()) {
        lastError = RESULT_UNSUPPORTED_DATA;
        return false;
    }
    std::vector<std::uint8_t> data = bytes();
    FileObject file;
    if (!file.open(path, FileAccess::Write) || !file.write(data.data(), static_cast<std::uint32_t>(data.size())) ||
        !file.close()) {
        lastError = file.lastError;
        return false;
    }
    return true;
}

}  // namespace brellin
