// InstrumentRecord: one melodic program or one drum region of a sound font.
//
// The same eighteen 32-bit fields are stored in a BRF file (little-endian,
// 72 bytes in "BRF1" files, the first 64 bytes only in "BRF0" files) and held
// in memory by the SoundFont, by each Voice (as a private, rate-rescaled copy)
// and by the sound font writer.
//
// A record is one of two kinds, chosen by `fixedStep`:
//  - pitched (`fixedStep` == 0): the pitch follows the key; four-stage
//    envelope with release and a tremolo;
//  - fixed-step (`fixedStep` != 0): a one-shot sample played at a fixed
//    speed, typically a drum; no envelope, no tremolo, no loop.
// Rates, steps and delays are given for an output rate of 22050 Hz; the
// Voice doubles or halves them for 11025 and 44100 Hz.
//
// Envelope levels are plain integers that the mix routines multiply by a
// voice volume of at most 127 in 32 bits, so useful levels stay below
// 2^31 / 127.
#pragma once

#include <cstdint>

namespace brellin {

struct InstrumentRecord {
    //                               offset  pitched record                          | fixed-step record
    std::int32_t attackRate;    //  0  added to the envelope level per output sample | ignored
    std::int32_t attackLevel;   //  4  level at which the attack ends                | ignored
    std::int32_t decay1Rate;    //  8  subtracted per sample in decay 1 (0 holds)    | ignored
    std::int32_t decay1Level;   // 12  level at which decay 1 ends                   | ignored
    std::int32_t decay2Rate;    // 16  subtracted per sample in decay 2              | ignored
    std::int32_t decay2Level;   // 20  level at which decay 2 ends                   | ignored
    std::int32_t decay3Rate;    // 24  subtracted per sample in decay 3 (ends at 0)  | ignored
    std::int32_t releaseRate;   // 28  subtracted per sample after note-off          | ignored
    std::int32_t lfoDelay;      // 32  output samples from note-on to tremolo start  | ignored
    std::int32_t lfoDepth;      // 36  basic tremolo depth                           | step after note-off, 16.16
    std::int32_t lfoDepthStep;  // 40  tremolo depth growth per output sample        | step while the key is held, 16.16
    std::int32_t lfoRateShift;  // 44  tremolo runs at 2^s / 256 Hz (0 … 12)         | ignored
    std::int32_t fixedStep;     // 48  0                                             | nonzero
    std::uint32_t cycleLength;  // 52  samples in one period at the sample's own     | end position: playback stops
                                //     pitch: step = cycleLength × Hz / output rate  | when the position reaches it
    std::uint32_t loopEnd;      // 56  position that wraps to loopStart, or ends the | bound for cycleLength only
                                //     note when there is no loop                    |
    std::int32_t sample;        // 60  in a file: sample index 0 … S−1. In memory (SoundFont): byte offset of
                                //     the sample's first byte from the start of SoundFont::sampleBlock
    std::uint32_t loopStart;    // 64  loop start; a loop exists only when loopStart < loopEnd ("BRF1" only)
    std::int32_t groupId;       // 68  identifies the record for drum retriggering ("BRF1" only)
};

static_assert(sizeof(InstrumentRecord) == 72, "InstrumentRecord mirrors the 72-byte BRF1 record");

// Bytes of one record in a file: "BRF0" records lack loopStart and groupId.
constexpr std::uint32_t BRF0_RECORD_SIZE = 64;
constexpr std::uint32_t BRF1_RECORD_SIZE = 72;

}  // namespace brellin
