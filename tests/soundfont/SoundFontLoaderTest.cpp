#include "soundfont/SoundFont.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "soundfont/SoundFontWriter.h"
#include "tests/TempDir.h"

using namespace brellin;
using brellin::testing::TempDir;

namespace {

// A playable pitched program record over `sample` (a file index).
InstrumentRecord pitched(std::int32_t sample, std::uint32_t cycle, std::uint32_t loopStart, std::uint32_t loopEnd) {
    InstrumentRecord r{};
    r.attackRate = 100;
    r.attackLevel = 1000;
    r.releaseRate = 10;
    r.cycleLength = cycle;
    r.loopStart = loopStart;
    r.loopEnd = loopEnd;
    r.sample = sample;
    return r;
}

InstrumentRecord fixedStep(std::int32_t sample, std::uint32_t end) {
    InstrumentRecord r{};
    r.fixedStep = 1;
    r.lfoDepth = r.lfoDepthStep = 0x10000;
    r.cycleLength = end;
    r.loopEnd = end;
    r.sample = sample;
    return r;
}

// A small, sound font: three samples of lengths 3, 2 and 4, every program on
// sample 2 with a loop over its whole length, one drum region on sample 0.
SoundFontWriter smallFont() {
    SoundFontWriter w;
    w.addSample({1, 2, 3});
    w.addSample({4, 5});
    w.addSample({10, 20, 30, 40});
    for (auto& p : w.programs) p = pitched(2, 4, 0, 4);
    w.drumRegions.push_back(fixedStep(0, 3));
    return w;
}

std::vector<std::uint8_t> bytesOf(const SoundFontWriter& w) { return w.bytes(); }

bool load(SoundFont& font, const std::vector<std::uint8_t>& bytes, SoundFontDiagnostics* d = nullptr) {
    return font.loadSoundFontFromMemory(bytes.data(), bytes.size(), d);
}

void putLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

// Offset of the counts (region count, extra kit count) in a file with R-byte records.
std::size_t countsAt(std::uint32_t recordSize) { return 8 + 128 * recordSize; }

std::vector<std::uint8_t> sampleBytes(const SoundFont& font) {
    const std::uint8_t* start = reinterpret_cast<const std::uint8_t*>(font.sampleBlock.get()) + 4 * font.sampleCount;
    return std::vector<std::uint8_t>(start, start + (font.sampleBlockSize - 4 * font.sampleCount));
}

}  // namespace

// ------------------------------------------------------------------ formats

TEST(SoundFontFormat, Brf1RecordsLoadAsStored) {
    SoundFontWriter w = smallFont();
    w.programs[5].groupId = 77;
    w.programs[5].loopStart = 1;
    w.programs[5].lfoDelay = 1234;
    w.drumRegions[0].groupId = 300;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    EXPECT_EQ(std::memcmp(font.magic, "BRF1", 4), 0);
    EXPECT_EQ(font.programs[5].groupId, 77);
    EXPECT_EQ(font.programs[5].loopStart, 1u);
    EXPECT_EQ(font.programs[5].lfoDelay, 1234);
    EXPECT_EQ(font.drumRegions[0].groupId, 300);
    EXPECT_EQ(font.drumRegionCount, 1);
    EXPECT_EQ(font.drumKitCount, 1);
    EXPECT_EQ(font.sampleCount, 3u);
}

TEST(SoundFontFormat, Brf0RecordsGetLoopStartZeroAndTheirOwnGroup) {
    SoundFontWriter w = smallFont();
    w.brf0 = true;
    w.programs[5].groupId = 77;   // not in a BRF0 file
    w.programs[5].loopStart = 3;  // not in a BRF0 file
    w.programs[5].lfoDelay = 1234;
    w.drumRegions.push_back(fixedStep(1, 2));
    std::vector<std::uint8_t> bytes = bytesOf(w);
    // 64-byte records: the file is 8 bytes shorter per record than a BRF1 file.
    SoundFontWriter w1 = w;
    w1.brf0 = false;
    EXPECT_EQ(bytes.size() + 8 * 130, w1.bytes().size());

    SoundFont font;
    ASSERT_TRUE(load(font, bytes));
    EXPECT_EQ(std::memcmp(font.magic, "BRF0", 4), 0);
    for (int k = 0; k < 128; ++k) {
        EXPECT_EQ(font.programs[k].groupId, k);
        EXPECT_EQ(font.programs[k].loopStart, 0u);
    }
    EXPECT_EQ(font.programs[5].lfoDelay, 1234);
    EXPECT_EQ(font.drumRegions[0].groupId, 128);
    EXPECT_EQ(font.drumRegions[1].groupId, 129);
    EXPECT_EQ(font.drumRegions[1].cycleLength, 2u);
}

TEST(SoundFontFormat, OneKitEndsAfterTheSampleBlock) {
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    bytes.insert(bytes.end(), {1, 0, 0, 0});  // nothing after the block is read
    SoundFont font;
    font.programKits[3] = 9;
    ASSERT_TRUE(load(font, bytes));
    for (std::uint32_t kit : font.programKits) EXPECT_EQ(kit, 0u);
}

TEST(SoundFontFormat, SeveralKitsNeedTheProgramKitTable) {
    SoundFontWriter w = smallFont();
    w.drumRegions.push_back(fixedStep(1, 2));
    w.drumKitMaps.assign(2 * 128, 0);
    w.drumKitMaps[128 + 36] = 1;
    w.programKits[16] = 1;
    std::vector<std::uint8_t> bytes = bytesOf(w);

    SoundFont font;
    ASSERT_TRUE(load(font, bytes));
    EXPECT_EQ(font.drumKitCount, 2);
    EXPECT_EQ(font.programKits[16], 1u);
    EXPECT_EQ(font.programKits[15], 0u);
    EXPECT_EQ(&font.drumRegion(16, 36), &font.drumRegions[1]);
    EXPECT_EQ(&font.drumRegion(0, 36), &font.drumRegions[0]);

    bytes.resize(bytes.size() - 512);  // the table is missing
    EXPECT_FALSE(load(font, bytes));
    EXPECT_EQ(font.lastError, RESULT_FILE_IO_ERROR);
    EXPECT_FALSE(font.isLoaded());
}

TEST(SoundFontFormat, FileAndMemoryLoadsAgree) {
    TempDir dir;
    SoundFontWriter w = smallFont();
    w.programs[3].loopStart = 2;
    ASSERT_TRUE(w.save(dir.path("a.brf").c_str()));
    SoundFont fromFile, fromMemory;
    ASSERT_TRUE(fromFile.loadSoundFont(dir.path("a.brf").c_str()));
    ASSERT_TRUE(load(fromMemory, w.bytes()));
    EXPECT_EQ(std::memcmp(fromFile.programs, fromMemory.programs, sizeof fromFile.programs), 0);
    EXPECT_EQ(fromFile.sampleBlockSize, fromMemory.sampleBlockSize);
    EXPECT_EQ(std::memcmp(fromFile.sampleBlock.get(), fromMemory.sampleBlock.get(), fromFile.sampleBlockSize), 0);
}

// A file put together byte by byte, independently of the writer: every field
// lands where the format puts it.
TEST(SoundFontFormat, HandAssembledFileLandsFieldByField) {
    std::vector<std::uint8_t> f;
    auto u32 = [&](std::uint32_t v) {
        for (int b = 0; b < 4; ++b) f.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    f.insert(f.end(), {'B', 'R', 'F', '1'});
    const std::uint32_t blockLength = 4 + 5;
    u32(blockLength + 9224 + 72 * 1 + 512 * 1);
    for (std::uint32_t k = 0; k < 128; ++k) {
        // attackRate … lfoDelay: even values that need no sanitizing
        for (std::uint32_t i = 0; i < 9; ++i) u32(1000 * k + 10 * i + 4);
        u32(1000 * k + 90);   // lfoDepth
        u32(1000 * k + 100);  // lfoDepthStep
        u32(k % 13);          // lfoRateShift
        u32(0);               // fixedStep
        u32(3);               // cycleLength
        u32(5);               // loopEnd
        u32(0);               // sample
        u32(1);               // loopStart
        u32(500 + k);         // groupId
    }
    f.insert(f.end(), {1, 0, 0, 0});  // N = 1, extra kit count 0
    for (std::uint32_t i = 0; i < 18; ++i) u32(i == 12 ? 1 : i == 13 ? 4 : i == 14 ? 5 : i == 15 ? 0 : 7 + i);
    for (std::uint32_t key = 0; key < 128; ++key) u32(0);
    u32(1);  // S
    u32(5);  // length of sample 0
    f.insert(f.end(), {0x10, 0x20, 0x30, 0x40, 0x50});

    SoundFont font;
    ASSERT_TRUE(font.loadSoundFontFromMemory(f.data(), f.size()));
    const InstrumentRecord& p = font.programs[77];
    EXPECT_EQ(p.attackRate, 77004);
    EXPECT_EQ(p.attackLevel, 77014);
    EXPECT_EQ(p.decay1Rate, 77024);
    EXPECT_EQ(p.decay1Level, 77034);
    EXPECT_EQ(p.decay2Rate, 77044);
    EXPECT_EQ(p.decay2Level, 77054);
    EXPECT_EQ(p.decay3Rate, 77064);
    EXPECT_EQ(p.releaseRate, 77074);
    EXPECT_EQ(p.lfoDelay, 77084);
    EXPECT_EQ(p.lfoDepth, 77090);
    EXPECT_EQ(p.lfoDepthStep, 77100);
    EXPECT_EQ(p.lfoRateShift, 77 % 13);
    EXPECT_EQ(p.fixedStep, 0);
    EXPECT_EQ(p.cycleLength, 3u);
    EXPECT_EQ(p.loopEnd, 5u);
    EXPECT_EQ(p.loopStart, 1u);
    EXPECT_EQ(p.groupId, 577);
    const InstrumentRecord& d = font.drumRegions[0];
    EXPECT_EQ(d.attackRate, 7);
    EXPECT_EQ(d.fixedStep, 1);
    EXPECT_EQ(d.cycleLength, 4u);
    EXPECT_EQ(d.groupId, 7 + 17);
    const std::int8_t* sample = font.sampleData(p);
    EXPECT_EQ(sample, font.sampleBlock.get() + 4);
    EXPECT_EQ(sample[0], 0x10);
    EXPECT_EQ(sample[4], 0x50);
    EXPECT_EQ(sample[5], 0x20);  // guard byte: the value at loopStart 1
}

TEST(SoundFontFormat, WriterSizeFieldIsFileLengthMinusEightForOneKit) {
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    const std::uint32_t size = static_cast<std::uint32_t>(bytes[4] | bytes[5] << 8 | bytes[6] << 16) |
                               static_cast<std::uint32_t>(bytes[7]) << 24;
    EXPECT_EQ(size, bytes.size() - 8);
}

// ----------------------------------------------------------------- failures

TEST(SoundFontFailure, MissingFileCannotBeOpened) {
    TempDir dir;
    SoundFont font;
    EXPECT_FALSE(font.loadSoundFont(dir.path("none.brf").c_str()));
    EXPECT_EQ(font.lastError, RESULT_CANNOT_OPEN_FILE);
}

TEST(SoundFontFailure, UnknownMagicIsUnsupportedData) {
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    bytes[3] = '2';
    SoundFont font;
    EXPECT_FALSE(load(font, bytes));
    EXPECT_EQ(font.lastError, RESULT_UNSUPPORTED_DATA);
}

TEST(SoundFontFailure, EveryTruncationIsAShortRead) {
    const std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    SoundFont font;
    for (std::size_t length :
         {std::size_t{0}, std::size_t{6}, std::size_t{8}, std::size_t{100}, countsAt(72), countsAt(72) + 3,
          countsAt(72) + 4 + 40, countsAt(72) + 4 + 72 + 200, bytes.size() - 1}) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(load(font, cut)) << length;
        EXPECT_EQ(font.lastError, RESULT_FILE_IO_ERROR) << length;
        EXPECT_FALSE(font.isLoaded());
    }
}

TEST(SoundFontFailure, SizeFieldTooSmallGivesNegativeBlockLength) {
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    putLe32(bytes, 4, 9224 + 72 + 512 - 1);  // L = −1
    SoundFont font;
    EXPECT_FALSE(load(font, bytes));
    EXPECT_EQ(font.lastError, RESULT_OUT_OF_MEMORY);
}

TEST(SoundFontFailure, AbsurdCountsFailBeforeAnyHugeBlock) {
    SoundFont font;
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    // A negative region count.
    std::vector<std::uint8_t> negative = bytes;
    negative[countsAt(72)] = 0xFF;
    negative[countsAt(72) + 1] = 0xFF;
    EXPECT_FALSE(load(font, negative));
    EXPECT_EQ(font.lastError, RESULT_OUT_OF_MEMORY);
    // An extra kit count of −1: no kit at all.
    std::vector<std::uint8_t> noKit = bytes;
    noKit[countsAt(72) + 2] = 0xFF;
    noKit[countsAt(72) + 3] = 0xFF;
    EXPECT_FALSE(load(font, noKit));
    EXPECT_EQ(font.lastError, RESULT_OUT_OF_MEMORY);
    // A sample count whose length table is longer than the block.
    std::vector<std::uint8_t> manySamples = bytes;
    const std::size_t sampleCountAt = countsAt(72) + 4 + 72 + 512;
    putLe32(manySamples, sampleCountAt, 0xFFFFFFF0u);
    EXPECT_FALSE(load(font, manySamples));
    EXPECT_EQ(font.lastError, RESULT_OUT_OF_MEMORY);
    // A block of 4 GiB cannot be addressed by the records' 32-bit offsets.
    std::vector<std::uint8_t> hugeBlock = bytes;
    putLe32(hugeBlock, 4, 0xFFFFFFF0u);
    EXPECT_FALSE(load(font, hugeBlock));
    EXPECT_EQ(font.lastError, RESULT_OUT_OF_MEMORY);
    // A block of 112 MiB in a file of a few kilobytes: a short read, nothing obtained.
    std::vector<std::uint8_t> largeBlock = bytes;
    putLe32(largeBlock, 4, 0x7000000u);
    EXPECT_FALSE(load(font, largeBlock));
    EXPECT_EQ(font.lastError, RESULT_FILE_IO_ERROR);
    // The largest region count in a file that does not hold the regions.
    std::vector<std::uint8_t> manyRegions = bytes;
    manyRegions[countsAt(72)] = 0xFF;
    manyRegions[countsAt(72) + 1] = 0x7F;
    EXPECT_FALSE(load(font, manyRegions));
    EXPECT_EQ(font.lastError, RESULT_FILE_IO_ERROR);
}

TEST(SoundFontFailure, FailedLoadLeavesNoUsableFont) {
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(smallFont())));
    ASSERT_TRUE(font.isLoaded());
    std::vector<std::uint8_t> bytes = bytesOf(smallFont());
    bytes.pop_back();
    EXPECT_FALSE(load(font, bytes));
    EXPECT_FALSE(font.isLoaded());
    EXPECT_EQ(font.drumRegions, nullptr);
    EXPECT_EQ(font.drumKitMaps, nullptr);
}

// -------------------------------------------------------------- guard bytes

TEST(SoundFontGuardBytes, SamplesMoveApartByOneByteEach) {
    SoundFontWriter w = smallFont();
    for (auto& p : w.programs) p = pitched(1, 2, 2, 2);  // loopStart 2 = length of sample 1: guard 0
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    const std::vector<std::uint8_t> bytes = sampleBytes(font);
    ASSERT_EQ(bytes.size(), 3u + 2u + 4u + 3u);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 4, 5, 0, 10, 20, 30, 40, 0}));
    // Sample 0's guard repeats the first byte of sample 1; sample 1's guard is
    // 0 (its program's loopStart is not inside it); the last guard is 0.
    EXPECT_EQ(font.sampleOffset(0), 12u);
    EXPECT_EQ(font.sampleOffset(1), 16u);
    EXPECT_EQ(font.sampleOffset(2), 19u);
    EXPECT_EQ(font.sampleLength(2), 4u);
    EXPECT_EQ(font.sampleData(font.programs[0]), font.sampleBlock.get() + 16);
}

TEST(SoundFontGuardBytes, LoopStartValueContinuesTheLoop) {
    SoundFontWriter w = smallFont();
    w.programs[9].loopStart = 2;  // every program uses sample 2 = 10, 20, 30, 40
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    const std::int8_t* s = font.sampleData(font.programs[9]);
    EXPECT_EQ(s[4], 10);            // programs 10 … 127 come later with loopStart 0 …
    w.programs[127].loopStart = 2;  // … so the last program decides
    ASSERT_TRUE(load(font, bytesOf(w)));
    s = font.sampleData(font.programs[127]);
    EXPECT_EQ(s[4], 30);
    w.programs[127].loopStart = 0;
    ASSERT_TRUE(load(font, bytesOf(w)));
    EXPECT_EQ(font.sampleData(font.programs[127])[4], 10);
}

TEST(SoundFontGuardBytes, LoopStartAtOrBeyondTheSampleGivesZero) {
    SoundFontWriter w = smallFont();
    for (auto& p : w.programs) p = pitched(2, 4, 4, 4);
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    EXPECT_EQ(font.sampleData(font.programs[0])[4], 0);
}

TEST(SoundFontGuardBytes, DrumRegionsLeaveGuardBytesAlone) {
    SoundFontWriter w = smallFont();
    for (auto& p : w.programs) p = pitched(2, 4, 1, 4);
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    // Sample 0 is used only by the drum region: its guard is sample 1's first byte.
    EXPECT_EQ(font.sampleData(font.drumRegions[0])[3], 4);
    EXPECT_EQ(font.sampleData(font.programs[0])[4], 20);
}

// --------------------------------------------------------------- sanitizing

TEST(SoundFontSanitizing, RatesBecomeEvenWithMinimumAttackAndRelease) {
    SoundFontWriter w = smallFont();
    w.programs[0].releaseRate = 0;
    w.programs[1].releaseRate = 3;
    w.programs[2].attackRate = 7;
    w.programs[3].attackRate = 1;
    w.programs[4].decay1Rate = 11;
    w.programs[4].decay2Rate = 13;
    w.programs[4].decay3Rate = 15;
    w.programs[5].attackRate = -9;
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w), &diagnostics));
    EXPECT_EQ(font.programs[0].releaseRate, 4);
    EXPECT_EQ(font.programs[1].releaseRate, 4);
    EXPECT_EQ(font.programs[2].attackRate, 6);
    EXPECT_EQ(font.programs[3].attackRate, 4);
    EXPECT_EQ(font.programs[4].decay1Rate, 10);
    EXPECT_EQ(font.programs[4].decay2Rate, 12);
    EXPECT_EQ(font.programs[4].decay3Rate, 14);
    EXPECT_EQ(font.programs[5].attackRate, 4);
    EXPECT_EQ(font.programs[6].releaseRate, 10);  // untouched
    EXPECT_TRUE(diagnostics.problems.empty());
    EXPECT_FALSE(diagnostics.notes.empty());
}

TEST(SoundFontSanitizing, LevelsLoopAndTremoloShiftAreClamped) {
    SoundFontWriter w = smallFont();
    w.programs[0].attackLevel = -5;
    w.programs[0].decay1Level = -6;
    w.programs[0].decay2Level = -7;
    w.programs[1].loopStart = 9;  // beyond loopEnd 4
    w.programs[2].cycleLength = 9;
    w.programs[3].lfoRateShift = 20;
    w.programs[4].lfoRateShift = -3;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w)));
    EXPECT_EQ(font.programs[0].attackLevel, 0);
    EXPECT_EQ(font.programs[0].decay1Level, 0);
    EXPECT_EQ(font.programs[0].decay2Level, 0);
    EXPECT_EQ(font.programs[1].loopStart, 4u);
    EXPECT_EQ(font.programs[2].cycleLength, 4u);
    EXPECT_EQ(font.programs[3].lfoRateShift, 12);
    EXPECT_EQ(font.programs[4].lfoRateShift, 0);
}

TEST(SoundFontSanitizing, DrumRegionsAreUsedAsStored) {
    SoundFontWriter w = smallFont();
    InstrumentRecord& d = w.drumRegions[0];
    d.attackRate = 7;
    d.releaseRate = 3;
    d.lfoRateShift = 20;
    d.attackLevel = -5;
    d.loopStart = 9;  // beyond loopEnd 3
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w), &diagnostics));
    const InstrumentRecord& r = font.drumRegions[0];
    EXPECT_EQ(r.attackRate, 7);
    EXPECT_EQ(r.releaseRate, 3);
    EXPECT_EQ(r.lfoRateShift, 20);
    EXPECT_EQ(r.attackLevel, -5);
    EXPECT_EQ(r.loopStart, 9u);
    EXPECT_TRUE(diagnostics.problems.empty());
}

// ----------------------------------------------------------- safety repairs

TEST(SoundFontRepairs, SampleIndexOutOfRangeBecomesSilent) {
    SoundFontWriter w = smallFont();
    w.programs[7].sample = 3;
    w.programs[8].sample = -1;
    w.drumRegions[0].sample = 1000;
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w), &diagnostics));
    EXPECT_EQ(diagnostics.problems.size(), 3u);
    for (const InstrumentRecord* r : {&font.programs[7], &font.programs[8], &font.drumRegions[0]}) {
        EXPECT_EQ(r->loopEnd, 0u);
        EXPECT_EQ(r->cycleLength, 0u);
        // The silent spot and the byte after it are inside the block and zero.
        const std::int8_t* s = font.sampleData(*r);
        ASSERT_GE(s, font.sampleBlock.get());
        ASSERT_LE(s + 1, font.sampleBlock.get() + font.sampleBlockSize + SoundFont::BLOCK_PADDING - 1);
        EXPECT_EQ(s[0], 0);
        EXPECT_EQ(s[1], 0);
    }
    // The sound records keep their samples.
    EXPECT_EQ(font.sampleData(font.programs[6])[0], 10);
}

TEST(SoundFontRepairs, ReadPositionsStayInsideTheSample) {
    SoundFontWriter w = smallFont();
    w.programs[0] = pitched(1, 50, 0, 100);  // sample 1 has 2 bytes
    w.programs[1] = pitched(2, 4, 0, 4);
    w.drumRegions[0] = fixedStep(0, 70);  // sample 0 has 3 bytes
    w.drumRegions.push_back(pitched(2, 900, 1, 50));
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w), &diagnostics));
    EXPECT_EQ(font.programs[0].loopEnd, 2u);
    EXPECT_EQ(font.programs[0].cycleLength, 2u);
    EXPECT_EQ(font.programs[1].loopEnd, 4u);
    EXPECT_EQ(font.drumRegions[0].cycleLength, 3u);
    EXPECT_EQ(font.drumRegions[1].loopEnd, 4u);
    EXPECT_EQ(font.drumRegions[1].cycleLength, 900u);  // a drum region's pitch stays as stored
    EXPECT_EQ(font.drumRegions[1].loopStart, 1u);
    EXPECT_EQ(diagnostics.problems.size(), 3u);
}

TEST(SoundFontRepairs, KitMapAndProgramKitIndexesStayInTheirTables) {
    SoundFontWriter w = smallFont();
    w.drumKitMaps.assign(2 * 128, 0);
    w.drumKitMaps[40] = 5;  // only region 0 exists
    w.drumKitMaps[128 + 41] = 0xFFFFFFFFu;
    w.programKits[3] = 2;  // only kits 0 and 1 exist
    w.programKits[4] = 1;
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(w), &diagnostics));
    EXPECT_EQ(diagnostics.problems.size(), 3u);
    EXPECT_EQ(font.programKits[3], 0u);
    EXPECT_EQ(font.programKits[4], 1u);
    // Bad entries play the silent region kept after the file's regions.
    const InstrumentRecord& silent = font.drumRegion(0, 40);
    EXPECT_EQ(&silent, &font.drumRegions[1]);
    EXPECT_NE(silent.fixedStep, 0);
    EXPECT_EQ(silent.cycleLength, 0u);
    EXPECT_EQ(&font.drumRegion(4, 41), &font.drumRegions[1]);
    EXPECT_EQ(&font.drumRegion(4, 42), &font.drumRegions[0]);
}

TEST(SoundFontRepairs, SampleLengthsBeyondTheDataAreCut) {
    SoundFontWriter w = smallFont();
    std::vector<std::uint8_t> bytes = w.bytes();
    // Lengths 3, 2, 4 become 3, 5, 4: the second sample now claims bytes of the third.
    const std::size_t lengthsAt = countsAt(72) + 4 + 72 + 512 + 4;
    putLe32(bytes, lengthsAt + 4, 5);
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytes, &diagnostics));
    EXPECT_EQ(font.sampleLength(0), 3u);
    EXPECT_EQ(font.sampleLength(1), 5u);
    EXPECT_EQ(font.sampleLength(2), 1u);
    ASSERT_FALSE(diagnostics.problems.empty());
    EXPECT_NE(diagnostics.problems[0].find("sample 2"), std::string::npos);
    // The programs' loop over sample 2 now ends with the sample.
    EXPECT_EQ(font.programs[0].loopEnd, 1u);
    EXPECT_EQ(font.programs[0].cycleLength, 1u);
}

TEST(SoundFontRepairs, SoundFileNeedsNoRepair) {
    SoundFontDiagnostics diagnostics;
    SoundFont font;
    ASSERT_TRUE(load(font, bytesOf(smallFont()), &diagnostics));
    EXPECT_TRUE(diagnostics.problems.empty());
    EXPECT_TRUE(diagnostics.notes.empty());
}
