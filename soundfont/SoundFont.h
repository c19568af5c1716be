// SoundFont: the in-memory form of a BRF sound font (".brf", default
// "small.brf"): 128 melodic program records, a table of drum region records,
// drum kit maps that pick a drum region for every key, the program kit table
// and one block of signed 8-bit sample data.
//
// The Synthesizer holds one SoundFont inline and calls loadSoundFont from
// engine start-up, never while voices are sounding (voices point into the
// tables a load replaces). Everything here belongs to one thread at a time;
// after a successful load the tables are read-only and may be read by the
// render thread.
//
// The file, little-endian, sections without gaps:
//   magic "BRF0" (64-byte records) or "BRF1" (72-byte records)      4
//   size: only used to compute L below                                4
//   program records 0 … 127                                     128 × R
//   region count N (signed 16-bit)                                    2
//   extra kit count (signed 16-bit); kit count K = this + 1           2
//   drum region records 0 … N−1                                   N × R
//   drum kit maps: per kit, 128 unsigned 32-bit region indexes  K × 512
//   sample count S (unsigned 32-bit)                                  4
//   sample block: S unsigned 32-bit lengths, then the samples         L
//     back to back, signed 8-bit; L = size − 9224 − 72 × N − 512 × K
//     (72, not R, also in "BRF0" files)
//   program kit table, only when K > 1: 128 unsigned 32-bit kits    512
//
// Loading sanitizes program records (even rates, minimum attack and release
// rate 4, non-negative levels, loopStart and cycleLength within loopEnd,
// lfoRateShift 0 … 12) and keeps drum region records as stored. It inserts
// one guard byte after every sample so that the interpolating mix routine may
// read one byte past its position: a program's guard byte repeats the byte at
// its loopStart (0 when loopStart is not inside the sample); the last
// sample's guard byte is 0.
//
// Safety repairs (a well-formed file never needs them; each one is reported
// as a problem through SoundFontDiagnostics and the load still succeeds):
//  - A record whose `sample` index is not below S (or is negative) is pointed
//    at a silent, empty sample: its loopEnd, loopStart and cycleLength become 0.
//  - Pitched record (program or drum): loopEnd is clamped to the sample's
//    length (for a program, loopStart and cycleLength then follow it down as
//    sanitizing requires). Together with the guard byte and the zero padding
//    after the block, positions below loopEnd and the byte after them are
//    always inside the block. A drum region's cycleLength only sets its pitch
//    and is kept as stored.
//  - Fixed-step record: cycleLength (its end position) is clamped to the
//    sample's length; loopEnd, which the mix routines do not read, is kept.
//  - A kit map entry not below N is pointed at an extra silent drum region
//    kept at drumRegions[N] (a fixed-step record with end position 0).
//  - A program kit entry not below K becomes 0.
//  - Sample lengths whose sum exceeds the sample bytes of the block are cut
//    so that every sample lies inside the block (the stored lengths are
//    updated too).
// Refused outright (the load fails with RESULT_OUT_OF_MEMORY, 0x80000004, as
// for any count that makes a block size absurd): a negative N, a kit count
// K below 1, a negative L, a sample count whose length table does not fit
// in L, and a block of 2 GiB or more (the records' `sample` offsets are
// 32-bit signed). A block larger than what is left of the file fails as a short
// read, RESULT_FILE_IO_ERROR, before anything is allocated.
//
// A failed load frees the blocks, so a failed sound font is never usable;
// the program records hold whatever was read before the failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ResultCode.h"
#include "soundfont/InstrumentRecord.h"

namespace brellin {

class ByteReader;

// What a load had to change. `problems` are the safety repairs listed above
// (a file that needs one is broken); `notes` are the ordinary sanitizing
// changes to program records and unused bytes at the end of the sample data.
struct SoundFontDiagnostics {
    std::vector<std::string> problems;
    std::vector<std::string> notes;
};

class SoundFont {
public:
    static constexpr std::uint32_t PROGRAM_COUNT = 128;
    static constexpr std::uint32_t KEY_COUNT = 128;
    // Zero bytes kept after the used part of sampleBlock, so that a record
    // pointed at the silent sample (or at a last sample of length 0) still has
    // a readable byte after its position.
    static constexpr std::uint32_t BLOCK_PADDING = 8;

    SoundFont();
    SoundFont(const SoundFont&) = delete;
    SoundFont& operator=(const SoundFont&) = delete;

    // Reads a BRF file into memory and parses it front to back. True when
    // every section was read; false with `lastError` set:
    // RESULT_CANNOT_OPEN_FILE (0x80000005), RESULT_FILE_IO_ERROR (0x80000006,
    // truncated file, or one of 4 GiB or more, whose size cannot be told),
    // RESULT_UNSUPPORTED_DATA (0x8000000A, unknown magic), RESULT_OUT_OF_MEMORY
    // (0x80000004, the file's bytes or a block cannot be obtained, or a count
    // makes its size absurd).
    // `diagnostics`, when given, receives what the load repaired.
    bool loadSoundFont(const char* path, SoundFontDiagnostics* diagnostics = nullptr);
    // The same, from bytes already in memory (tests, fuzzing, tools).
    bool loadSoundFontFromMemory(const std::uint8_t* data, std::size_t size,
                                 SoundFontDiagnostics* diagnostics = nullptr);

    // Usable once the sample block exists (the Synthesizer builds voices only then).
    bool isLoaded() const { return sampleBlock != nullptr; }
    // Frees the blocks; programs and programKits keep their values.
    void clear();

    // First byte of a loaded record's sample (`sample` is an offset into sampleBlock).
    const std::int8_t* sampleData(const InstrumentRecord& record) const { return sampleBlock.get() + record.sample; }
    // The drum region a drum channel plays for `key` while `program` is selected:
    // drumRegions[drumKitMaps[programKits[program] × 128 + key]]. Program and key are
    // taken modulo 128; after a successful load every index in the chain is in range.
    const InstrumentRecord& drumRegion(std::uint32_t program, std::uint32_t key) const {
        return drumRegions[drumKitMaps[programKits[program & 127] * KEY_COUNT + (key & 127)]];
    }
    // Sample n (n < sampleCount) of the loaded block: its length in bytes
    // (not counting the guard byte) and the offset of its first byte in sampleBlock.
    std::uint32_t sampleLength(std::uint32_t n) const;
    std::uint32_t sampleOffset(std::uint32_t n) const;

    InstrumentRecord programs[PROGRAM_COUNT];
    // N records, plus the silent region at index N (see above); zero-filled before reading.
    std::unique_ptr<InstrumentRecord[]> drumRegions;
    // K × 128 region indexes; entry [kit × 128 + key].
    std::unique_ptr<std::uint32_t[]> drumKitMaps;
    // Kit used by a drum channel while program k is selected; all 0 when K = 1.
    std::uint32_t programKits[PROGRAM_COUNT];
    // L + S bytes (+ BLOCK_PADDING zero bytes): the S lengths (unsigned 32-bit,
    // little-endian), then the samples, each followed by its guard byte.
    std::unique_ptr<std::int8_t[]> sampleBlock;

    // What the last successful load found in the file.
    char magic[4] = {};                 // "BRF0" or "BRF1"
    std::uint32_t sizeField = 0;        // section 2
    std::int32_t drumRegionCount = 0;   // N
    std::int32_t drumKitCount = 0;      // K
    std::uint32_t sampleCount = 0;      // S
    std::uint32_t sampleBlockSize = 0;  // L + S, the used bytes of sampleBlock

    ResultCode lastError = RESULT_OK;

private:
    bool guardedLoad(ByteReader& reader, SoundFontDiagnostics* diagnostics);
    bool load(ByteReader& reader, SoundFontDiagnostics* diagnostics);
    bool fail(ResultCode code);

    std::vector<std::uint32_t> offsets;  // sampleOffset(n) for the loaded block
};

}  // namespace brellin
