#include "soundfont/SoundFont.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/ByteReader.h"
#include "common/FileObject.h"

namespace brellin {

namespace {

// Section sizes that do not depend on the record size: the size field counts
// 9224 = 128 × 72 program bytes + 2 + 2 + 4 (counts and sample count) + 4 (the
// size field's own share), with 72-byte records even in "BRF0" files.
constexpr std::int64_t SIZE_FIXED_PART = 9224;
constexpr std::int64_t SIZE_PER_REGION = 72;
constexpr std::int64_t KIT_MAP_BYTES = 512;  // 128 keys × 4 bytes
constexpr std::uint32_t SILENT_GROUP_ID = 0xFFFFFFFFu;

// Overwrites the first recordSize / 4 fields of the record with the file's
// little-endian values; the fields beyond stay as they are.
void decodeRecord(ByteReader bytes, std::uint32_t recordSize, InstrumentRecord& record) {
    std::uint32_t fields[sizeof(InstrumentRecord) / 4];
    std::memcpy(fields, &record, sizeof record);
    for (std::uint32_t i = 0; i < recordSize / 4; ++i) fields[i] = bytes.u32le();
    std::memcpy(&record, fields, sizeof record);
}

template <typename... Args>
void report(std::vector<std::string>* list, const char* format, Args... args) {
    if (!list) return;
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    list->emplace_back(text);
}

// Makes a program record safe for the Voice's rate rescaling and envelope,
// in the order the loader has always used; k names the program in notes.
void sanitizeProgram(InstrumentRecord& r, std::uint32_t k, std::vector<std::string>* notes) {
    struct Rate {
        std::int32_t* field;
        const char* name;
    } rates[] = {{&r.attackRate, "attackRate"},
                 {&r.decay1Rate, "decay1Rate"},
                 {&r.decay2Rate, "decay2Rate"},
                 {&r.decay3Rate, "decay3Rate"},
                 {&r.releaseRate, "releaseRate"}};
    // Even rates survive the halving at 44100 Hz without losing their low bit.
    for (Rate& rate : rates) {
        std::int32_t even = static_cast<std::int32_t>(static_cast<std::uint32_t>(*rate.field) & ~1u);
        if (even != *rate.field) report(notes, "program %u: %s %d made even (%d)", k, rate.name, *rate.field, even);
        *rate.field = even;
    }
    auto atLeast = [&](std::int32_t& field, std::int32_t minimum, const char* name) {
        if (field < minimum) {
            report(notes, "program %u: %s %d raised to %d", k, name, field, minimum);
            field = minimum;
        }
    };
    atLeast(r.attackRate, 4, "attackRate");
    atLeast(r.attackLevel, 0, "attackLevel");
    atLeast(r.decay1Level, 0, "decay1Level");
    atLeast(r.decay2Level, 0, "decay2Level");
    atLeast(r.releaseRate, 4, "releaseRate");
    if (r.loopStart > r.loopEnd) {
        report(notes, "program %u: loopStart %u lowered to loopEnd %u", k, r.loopStart, r.loopEnd);
        r.loopStart = r.loopEnd;
    }
    if (r.cycleLength > r.loopEnd) {
        report(notes, "program %u: cycleLength %u lowered to loopEnd %u", k, r.cycleLength, r.loopEnd);
        r.cycleLength = r.loopEnd;
    }
    std::int32_t shift = r.lfoRateShift < 0 ? 0 : r.lfoRateShift > 12 ? 12 : r.lfoRateShift;
    if (shift != r.lfoRateShift) report(notes, "program %u: lfoRateShift %d clamped to %d", k, r.lfoRateShift, shift);
    r.lfoRateShift = shift;
}

}  // namespace

SoundFont::SoundFont() {
    std::memset(programs, 0, sizeof programs);
    std::memset(programKits, 0, sizeof programKits);
}

void SoundFont::clear() {
    sampleBlock.reset();
    drumRegions.reset();
    drumKitMaps.reset();
    offsets.clear();
    offsets.shrink_to_fit();
    drumRegionCount = 0;
    drumKitCount = 0;
    sampleCount = 0;
    sampleBlockSize = 0;
}

bool SoundFont::fail(ResultCode code) {
    clear();
    lastError = code;
    return false;
}

std::uint32_t SoundFont::sampleLength(std::uint32_t n) const {
    if (!sampleBlock || n >= sampleCount) return 0;
    return ByteReader(sampleBlock.get(), sampleBlockSize).at(4 * static_cast<std::size_t>(n)).u32le();
}

std::uint32_t SoundFont::sampleOffset(std::uint32_t n) const { return n < offsets.size() ? offsets[n] : 0; }

bool SoundFont::loadSoundFont(const char* path, SoundFontDiagnostics* diagnostics) {
    clear();
    FileObject file;
    if (!path || !file.open(path, FileAccess::Read)) return fail(RESULT_CANNOT_OPEN_FILE);
    // The file is parsed in memory; one whose size 32 bits cannot describe
    // is not a sound font this loader can hold.
    const std::uint32_t size = file.size();
    if (size == 0xFFFFFFFFu) return fail(RESULT_FILE_IO_ERROR);
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size > 0 ? size : 1]);
    if (!bytes) return fail(RESULT_OUT_OF_MEMORY);
    if (size > 0 && !file.read(bytes.get(), size)) return fail(RESULT_FILE_IO_ERROR);
    file.close();
    ByteReader reader(bytes.get(), size);
    return guardedLoad(reader, diagnostics);
}

bool SoundFont::loadSoundFontFromMemory(const std::uint8_t* data, std::size_t size, SoundFontDiagnostics* diagnostics) {
    clear();
    ByteReader reader(data, size);
    return guardedLoad(reader, diagnostics);
}

// The tables are obtained without exceptions; the sample offsets and the
// diagnostics texts live in standard containers, whose failure to grow ends
// the load like any block that cannot be obtained.
bool SoundFont::guardedLoad(ByteReader& reader, SoundFontDiagnostics* diagnostics) {
    try {
        return load(reader, diagnostics);
    } catch (const std::bad_alloc&) {
        return fail(RESULT_OUT_OF_MEMORY);
    }
}

bool SoundFont::load(ByteReader& reader, SoundFontDiagnostics* diagnostics) {
    std::vector<std::string>* problems = diagnostics ? &diagnostics->problems : nullptr;
    std::vector<std::string>* notes = diagnostics ? &diagnostics->notes : nullptr;

    // Magic and size.
    ByteReader header = reader.sub(8);
    if (header.failed()) return fail(RESULT_FILE_IO_ERROR);
    std::uint32_t recordSize;
    if (header.startsWith("BRF0")) {
        recordSize = BRF0_RECORD_SIZE;
    } else if (header.startsWith("BRF1")) {
        recordSize = BRF1_RECORD_SIZE;
    } else {
        return fail(RESULT_UNSUPPORTED_DATA);
    }
    char magicBytes[4];
    header.read(magicBytes, 4);
    const std::uint32_t size = header.u32le();

    // Program records, read over a record whose BRF1-only fields default to
    // loopStart 0 and groupId = the program number.
    for (std::uint32_t k = 0; k < PROGRAM_COUNT; ++k) {
        programs[k].loopStart = 0;
        programs[k].groupId = static_cast<std::int32_t>(k);
        ByteReader record = reader.sub(recordSize);
        if (record.failed()) return fail(RESULT_FILE_IO_ERROR);
        decodeRecord(record, recordSize, programs[k]);
        sanitizeProgram(programs[k], k, notes);
    }

    // Counts. Both are signed 16-bit; a negative region count or a kit count
    // below 1 cannot describe a table.
    ByteReader counts = reader.sub(4);
    if (counts.failed()) return fail(RESULT_FILE_IO_ERROR);
    const std::int32_t regionCount = counts.s16le();
    const std::int32_t kitCount = counts.s16le() + 1;
    std::memset(programKits, 0, sizeof programKits);
    if (regionCount < 0 || kitCount < 1) return fail(RESULT_OUT_OF_MEMORY);
    const std::uint32_t n = static_cast<std::uint32_t>(regionCount);
    const std::uint32_t kits = static_cast<std::uint32_t>(kitCount);

    // Region records and kit maps must be in the file before their blocks are obtained.
    if (std::uint64_t{n} * recordSize + std::uint64_t{kits} * KIT_MAP_BYTES > reader.remaining())
        return fail(RESULT_FILE_IO_ERROR);
    // One more region than the file holds: the silent region that bad kit map entries are sent to.
    drumRegions.reset(new (std::nothrow) InstrumentRecord[n + 1]());
    drumKitMaps.reset(new (std::nothrow) std::uint32_t[std::size_t{kits} * KEY_COUNT]());
    if (!drumRegions || !drumKitMaps) return fail(RESULT_OUT_OF_MEMORY);

    for (std::uint32_t j = 0; j < n; ++j) {
        drumRegions[j].loopStart = 0;
        drumRegions[j].groupId = static_cast<std::int32_t>(PROGRAM_COUNT + j);
        ByteReader record = reader.sub(recordSize);
        if (record.failed()) return fail(RESULT_FILE_IO_ERROR);
        decodeRecord(record, recordSize, drumRegions[j]);
    }

    for (std::uint32_t kit = 0; kit < kits; ++kit) {
        ByteReader map = reader.sub(KIT_MAP_BYTES);
        if (map.failed()) return fail(RESULT_FILE_IO_ERROR);
        for (std::uint32_t key = 0; key < KEY_COUNT; ++key) drumKitMaps[kit * KEY_COUNT + key] = map.u32le();
    }

    const std::uint32_t samples = reader.u32le();
    if (reader.failed()) return fail(RESULT_FILE_IO_ERROR);

    // The sample block. Its length comes from the size field; a negative
    // length, a length table longer than the block or a block whose offsets
    // would not fit the records' 32-bit `sample` field is absurd.
    const std::int64_t blockLength = std::int64_t{size} - SIZE_FIXED_PART - SIZE_PER_REGION * n - KIT_MAP_BYTES * kits;
    if (blockLength < 0 || std::int64_t{samples} * 4 > blockLength) return fail(RESULT_OUT_OF_MEMORY);
    const std::uint64_t blockSize = static_cast<std::uint64_t>(blockLength) + samples;
    if (blockSize + BLOCK_PADDING > static_cast<std::uint64_t>(INT32_MAX)) return fail(RESULT_OUT_OF_MEMORY);
    if (static_cast<std::uint64_t>(blockLength) > reader.remaining()) return fail(RESULT_FILE_IO_ERROR);
    sampleBlock.reset(new (std::nothrow) std::int8_t[blockSize + BLOCK_PADDING]());
    if (!sampleBlock) return fail(RESULT_OUT_OF_MEMORY);
    if (!reader.read(sampleBlock.get(), static_cast<std::size_t>(blockLength))) return fail(RESULT_FILE_IO_ERROR);

    if (kits > 1) {
        ByteReader table = reader.sub(PROGRAM_COUNT * 4);
        if (table.failed()) return fail(RESULT_FILE_IO_ERROR);
        for (std::uint32_t k = 0; k < PROGRAM_COUNT; ++k) programKits[k] = table.u32le();
    }

    // Guard bytes: sample n moves up by n bytes so that one spare byte follows
    // each sample. Lengths that run past the sample data are cut first.
    auto* block = reinterpret_cast<std::uint8_t*>(sampleBlock.get());
    const std::uint32_t base = samples * 4;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(blockLength) - base;
    std::vector<std::uint32_t> lengths(samples);
    offsets.assign(samples, 0);
    std::uint32_t used = 0;
    ByteReader lengthTable(block, std::size_t{base});
    for (std::uint32_t s = 0; s < samples; ++s) {
        std::uint32_t length = lengthTable.u32le();
        if (length > dataBytes - used) {
            report(problems, "sample %u: length %u runs past the sample data (cut to %u)", s, length, dataBytes - used);
            length = dataBytes - used;
            for (int b = 0; b < 4; ++b)
                block[4 * std::size_t{s} + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(length >> (8 * b));
        }
        lengths[s] = length;
        offsets[s] = base + used + s;  // where the sample starts once the guard bytes are in
        used += length;
    }
    if (used < dataBytes) report(notes, "sample data holds %u bytes after the last sample", dataBytes - used);
    for (std::uint32_t s = samples; s-- > 0;) {
        std::uint32_t from = offsets[s] - s;
        if (lengths[s]) std::memmove(block + offsets[s], block + from, lengths[s]);
    }
    if (samples) {
        block[offsets[samples - 1] + lengths[samples - 1]] = 0;
        for (std::uint32_t s = samples - 1; s-- > 0;) block[offsets[s] + lengths[s]] = block[offsets[s + 1]];
    }

    // Resolves a record's sample index to an offset and keeps every position
    // the mix routines read inside the sample (plus its guard byte).
    const std::uint32_t silentOffset = static_cast<std::uint32_t>(blockSize);
    auto resolve = [&](InstrumentRecord& r, const char* kind, std::uint32_t number, bool isProgram) -> std::uint32_t {
        if (r.sample < 0 || static_cast<std::uint32_t>(r.sample) >= samples) {
            report(problems, "%s %u: sample index %d is not below the sample count %u (made silent)", kind, number,
                   r.sample, samples);
            r.sample = static_cast<std::int32_t>(silentOffset);
            r.loopEnd = 0;
            r.loopStart = 0;
            r.cycleLength = 0;
            return UINT32_MAX;
        }
        const std::uint32_t s = static_cast<std::uint32_t>(r.sample);
        const std::uint32_t length = lengths[s];
        r.sample = static_cast<std::int32_t>(offsets[s]);
        if (r.fixedStep == 0) {
            // Pitched: the mix routines read positions below loopEnd and the byte after.
            if (r.loopEnd > length) {
                report(problems, "%s %u: loopEnd %u lies beyond sample %u of length %u", kind, number, r.loopEnd, s,
                       length);
                r.loopEnd = length;
                // A program keeps what sanitizing promised: loop start and cycle within loopEnd.
                if (isProgram && r.loopStart > r.loopEnd) r.loopStart = r.loopEnd;
                if (isProgram && r.cycleLength > r.loopEnd) r.cycleLength = r.loopEnd;
            }
        } else if (r.cycleLength > length) {
            // Fixed-step: positions below the end position (cycleLength) are read.
            report(problems, "%s %u: end position (cycleLength) %u lies beyond sample %u of length %u", kind, number,
                   r.cycleLength, s, length);
            r.cycleLength = length;
        }
        return s;
    };

    for (std::uint32_t k = 0; k < PROGRAM_COUNT; ++k) {
        InstrumentRecord& r = programs[k];
        std::uint32_t s = resolve(r, "program", k, true);
        if (s == UINT32_MAX) continue;
        // The guard byte continues a looping sample with its loop start value;
        // the last program that uses a sample decides.
        block[offsets[s] + lengths[s]] = r.loopStart < lengths[s] ? block[offsets[s] + r.loopStart] : 0;
    }
    for (std::uint32_t j = 0; j < n; ++j) resolve(drumRegions[j], "drum region", j, false);

    InstrumentRecord& silent = drumRegions[n];
    silent = InstrumentRecord{};
    silent.fixedStep = 1;
    silent.sample = static_cast<std::int32_t>(silentOffset);
    silent.groupId = static_cast<std::int32_t>(SILENT_GROUP_ID);
    for (std::uint32_t kit = 0; kit < kits; ++kit) {
        for (std::uint32_t key = 0; key < KEY_COUNT; ++key) {
            std::uint32_t& entry = drumKitMaps[kit * KEY_COUNT + key];
            if (entry >= n) {
                report(problems, "kit %u key %u: region index %u is not below the region count %u (made silent)", kit,
                       key, entry, n);
                entry = n;
            }
        }
    }
    for (std::uint32_t k = 0; k < PROGRAM_COUNT; ++k) {
        if (programKits[k] >= kits) {
            report(problems, "program %u: kit %u is not below the kit count %u (kit 0 used)", k, programKits[k], kits);
            programKits[k] = 0;
        }
    }

    std::memcpy(magic, magicBytes, 4);
    sizeField = size;
    drumRegionCount = regionCount;
    drumKitCount = kitCount;
    sampleCount = samples;
    sampleBlockSize = static_cast<std::uint32_t>(blockSize);
    return true;
}

}  // namespace brellin
