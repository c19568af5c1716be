// The twelve conversion routines: clipping, the filter, the reverb, their
// order, the selection table, and a bit-for-bit comparison with a plain
// per-sample reference written from the algorithm.
#include "output/Converters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace brellin {
namespace {

ConverterRoutine routineNamed(const std::string& name) {
    int count = 0;
    const ConverterEntry* table = converterTable(&count);
    for (int i = 0; i < count; ++i) {
        if (name == table[i].name) return table[i].routine;
    }
    ADD_FAILURE() << "no routine " << name;
    return nullptr;
}

// Runs `routine` over `values` in calls of `chunk` values; returns the bytes.
std::vector<std::uint8_t> run(ConverterRoutine routine, ConversionState& state, const std::vector<std::int32_t>& values,
                              unsigned bits, std::size_t chunk = 0) {
    const std::size_t bytes = bits / 8;
    std::vector<std::uint8_t> out(values.size() * bytes + 16, 0xEE);
    if (chunk == 0) chunk = values.size();
    std::uint8_t* at = out.data();
    for (std::size_t i = 0; i < values.size(); i += chunk) {
        const std::size_t n = std::min(chunk, values.size() - i);
        std::uint8_t* end = routine(state, at, values.data() + i, static_cast<std::int32_t>(n));
        EXPECT_EQ(end, at + n * bytes);
        at = end;
    }
    for (std::size_t i = values.size() * bytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the end";
    out.resize(values.size() * bytes);
    return out;
}

std::vector<std::int32_t> samples16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int32_t> v;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        v.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return v;
}

// ---- a plain reference: one value at a time, 64-bit arithmetic cut to 32 bits ----

std::int32_t cut32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

std::int32_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return static_cast<std::int32_t>(q);
}

struct Reference {
    std::int32_t line[8192] = {};
    std::int32_t history[16] = {};
    std::uint32_t reverbIndex = 0, filterIndex = 0, mask = 511;
    std::int32_t level = 4;

    void convert(unsigned bits, bool reverb, bool filter, unsigned channels, const std::vector<std::int32_t>& in,
                 std::vector<std::uint8_t>& out) {
        for (std::int32_t x : in) {
            std::int32_t y;
            if (filter) {
                history[filterIndex] = x;
                const unsigned step = channels == 2 ? 2 : 1;
                const std::int64_t taps[5] = {1, 8, 23, 8, 1};
                std::int64_t sum = 0;
                for (unsigned k = 0; k < 5; ++k) sum += taps[k] * history[(filterIndex + 16 * 4 - k * step) % 16];
                filterIndex = (filterIndex + 1) % 16;
                const std::int32_t times4 = cut32(cut32(sum) * std::int64_t{4});
                y = floorDiv(times4, reverb ? 256 : 128);
            } else {
                y = reverb ? floorDiv(x, 2) : x;
            }
            if (reverb) {
                y = cut32(std::int64_t{y} + line[reverbIndex]);
                line[reverbIndex] = floorDiv(cut32(std::int64_t{level} * y), 8);
                reverbIndex = reverbIndex == mask ? 0 : reverbIndex + 1;
            }
            if (bits == 8) {
                std::int32_t z = cut32(std::int64_t{y} + 128);
                if (z < 0) z = 0;
                if (z > 255) z = 255;
                out.push_back(static_cast<std::uint8_t>(z));
            } else {
                std::int32_t s = y < -32768 ? -32768 : (y > 32767 ? 32767 : y);
                out.push_back(static_cast<std::uint8_t>(s & 0xFF));
                out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
            }
        }
    }
};

// ---- selection ----

TEST(ConverterSelection, FollowsTheTableForEveryCombination) {
    struct Row {
        unsigned bits;
        bool reverb, filter;
        unsigned channels;
        const char* name;
    };
    // clang-format off
    const Row rows[] = {
        {8, true, true, 2, "filterStereoReverb8"}, {8, true, true, 1, "filterMonoReverb8"},
        {8, true, false, 2, "reverb8"},            {8, true, false, 1, "reverb8"},
        {8, false, true, 2, "filterStereo8"},      {8, false, true, 1, "filterMono8"},
        {8, false, false, 2, "plain8"},            {8, false, false, 1, "plain8"},
        {16, true, true, 2, "filterStereoReverb16"}, {16, true, true, 1, "filterMonoReverb16"},
        {16, true, false, 2, "reverb16"},          {16, true, false, 1, "reverb16"},
        {16, false, true, 2, "filterStereo16"},    {16, false, true, 1, "filterMono16"},
        {16, false, false, 2, "plain16"},          {16, false, false, 1, "plain16"},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(selectConverter(row.bits, row.reverb, row.filter, row.channels), routineNamed(row.name))
            << row.bits << " bit, reverb " << row.reverb << ", filter " << row.filter << ", " << row.channels << " ch";
    }
}

TEST(ConverterSelection, AnyWidthOtherThan8IsTreatedAs16Bit) {
    EXPECT_EQ(selectConverter(24, false, false, 1), routineNamed("plain16"));
    EXPECT_EQ(selectConverter(0, true, true, 2), routineNamed("filterStereoReverb16"));
}

TEST(ConverterSelection, TwelveDistinctRoutines) {
    int count = 0;
    const ConverterEntry* table = converterTable(&count);
    ASSERT_EQ(count, 12);
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            EXPECT_NE(table[i].routine, table[j].routine) << table[i].name;
        }
    }
}

// ---- clipping ----

TEST(ConverterClipping, EightBitEdges) {
    ConversionState state;
    const std::vector<std::int32_t> in = {-200, -128, 0, 127, 200, -129, 128, 1000000};
    const std::vector<std::uint8_t> expected = {0, 0, 128, 255, 255, 0, 255, 255};
    EXPECT_EQ(run(routineNamed("plain8"), state, in, 8), expected);
}

TEST(ConverterClipping, EightBitEdgesWithACountThatIsNoMultipleOfFour) {
    ConversionState state;
    EXPECT_EQ(run(routineNamed("plain8"), state, {-200, -128, 0, 127, 200}, 8),
              (std::vector<std::uint8_t>{0, 0, 128, 255, 255}));
}

TEST(ConverterClipping, SixteenBitEdges) {
    ConversionState state;
    const std::vector<std::int32_t> in = {32768, -32769, -32768, 32767, 0, -1, 2000000000, -2000000000};
    EXPECT_EQ(samples16(run(routineNamed("plain16"), state, in, 16)),
              (std::vector<std::int32_t>{32767, -32768, -32768, 32767, 0, -1, 32767, -32768}));
}

TEST(ConverterClipping, SixteenBitIsLittleEndian) {
    ConversionState state;
    EXPECT_EQ(run(routineNamed("plain16"), state, {0x1234, -2}, 16),
              (std::vector<std::uint8_t>{0x34, 0x12, 0xFE, 0xFF}));
}

TEST(ConverterCount, ZeroOrNegativeWritesNothing) {
    ConversionState state;
    int count = 0;
    const ConverterEntry* table = converterTable(&count);
    std::int32_t acc[4] = {1, 2, 3, 4};
    for (int i = 0; i < count; ++i) {
        std::uint8_t out[8];
        std::memset(out, 0xEE, sizeof out);
        EXPECT_EQ(table[i].routine(state, out, acc, 0), out) << table[i].name;
        EXPECT_EQ(table[i].routine(state, out, acc, -4), out) << table[i].name;
        for (std::uint8_t b : out) EXPECT_EQ(b, 0xEE);
    }
    EXPECT_EQ(state.reverbIndex, 0u);
    EXPECT_EQ(state.filterIndex, 0u);
}

// ---- reverb ----

TEST(ConverterReverb, ImpulseDecaysByHalfEveryDelayLength) {
    // Mono 22050 Hz: the delay is 1024 samples; level 4 feeds back half.
    ConversionState state;
    state.reverbLast = 1023;
    state.reverbLevel = 4;
    std::vector<std::int32_t> in(4096, 0);
    in[0] = 1000;
    const auto out = samples16(run(routineNamed("reverb16"), state, in, 16, 88));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::int32_t expected = i == 0 ? 500 : i == 1024 ? 250 : i == 2048 ? 125 : i == 3072 ? 62 : 0;
        ASSERT_EQ(out[i], expected) << "sample " << i;
    }
}

TEST(ConverterReverb, LevelIsFeedbackInEighths) {
    ConversionState state;
    state.reverbLast = 511;
    state.reverbLevel = 6;
    std::vector<std::int32_t> in(1030, 0);
    in[0] = 800;
    const auto out = samples16(run(routineNamed("reverb16"), state, in, 16, 44));
    EXPECT_EQ(out[0], 400);
    EXPECT_EQ(out[512], 300);   // 400 × 6 / 8
    EXPECT_EQ(out[1024], 225);  // 300 × 6 / 8
}

TEST(ConverterReverb, StereoFeedsEachChannelIntoItself) {
    ConversionState state;
    state.reverbLast = 1023;  // stereo 11025 Hz: 512 frames
    state.reverbLevel = 4;
    std::vector<std::int32_t> in(2048, 0);
    in[0] = 1000;  // first channel only
    const auto out = samples16(run(routineNamed("reverb16"), state, in, 16, 88));
    for (std::size_t i = 1; i < out.size(); i += 2) ASSERT_EQ(out[i], 0) << "second channel, sample " << i;
    EXPECT_EQ(out[1024], 250);
}

TEST(ConverterReverb, SwitchingOffLeavesTheTailForLater) {
    ConversionState state;
    state.reverbLast = 511;
    std::vector<std::int32_t> impulse(512, 0);
    impulse[0] = 1000;
    run(routineNamed("reverb16"), state, impulse, 16, 44);
    // Plain output in between touches neither the line nor its position.
    run(routineNamed("plain16"), state, std::vector<std::int32_t>(176, 7), 16, 44);
    const auto out = samples16(run(routineNamed("reverb16"), state, std::vector<std::int32_t>(4, 0), 16));
    EXPECT_EQ(out[0], 250);
}

TEST(ConverterReverb, EightBitOutputIsOffsetAndClipped) {
    ConversionState state;
    state.reverbLast = 511;
    const std::vector<std::uint8_t> out = run(routineNamed("reverb8"), state, {100, -100, 400, -400}, 8);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{178, 78, 255, 0}));
}

// ---- filter ----

TEST(ConverterFilter, ConstantSettlesAt41Over32) {
    ConversionState state;
    const auto out = samples16(run(routineNamed("filterMono16"), state, std::vector<std::int32_t>(44, 32), 16));
    EXPECT_EQ(out[0], 1);   // 32 × 1 / 32
    EXPECT_EQ(out[1], 9);   // 32 × 9 / 32
    EXPECT_EQ(out[2], 32);  // 32 × 32 / 32
    EXPECT_EQ(out[3], 40);
    for (std::size_t i = 4; i < out.size(); ++i) EXPECT_EQ(out[i], 41) << i;
    ConversionState state8;
    const auto out8 = run(routineNamed("filterMono8"), state8, std::vector<std::int32_t>(44, 32), 8);
    EXPECT_EQ(out8.back(), 128 + 41);
}

TEST(ConverterFilter, DelaysByTwoFrames) {
    ConversionState state;
    std::vector<std::int32_t> in(16, 0);
    in[0] = 3200;
    const auto out = samples16(run(routineNamed("filterMono16"), state, in, 16));
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[1], 800);
    EXPECT_EQ(out[2], 2300);  // the peak, two frames late
    EXPECT_EQ(out[3], 800);
    EXPECT_EQ(out[4], 100);
    EXPECT_EQ(out[5], 0);
}

TEST(ConverterFilter, StereoNeverMixesTheChannels) {
    ConversionState state;
    std::vector<std::int32_t> in(88, 0);
    for (std::size_t i = 0; i < in.size(); i += 2) in[i] = (i % 8 == 0) ? 3200 : -1600;  // first channel only
    const auto out = samples16(run(routineNamed("filterStereo16"), state, in, 16, 44));
    for (std::size_t i = 1; i < out.size(); i += 2) ASSERT_EQ(out[i], 0) << "second channel, sample " << i;
    EXPECT_NE(out[0], 0);
    ConversionState state3;
    const auto out3 = run(routineNamed("filterStereoReverb8"), state3, in, 8, 44);
    for (std::size_t i = 1; i < out3.size(); i += 2) ASSERT_EQ(out3[i], 128) << "second channel, sample " << i;
}

TEST(ConverterFilter, MonoFilterCombinesNeighbours) {
    // The counterpart of the stereo case: in mono, alternate values do mix.
    ConversionState state;
    std::vector<std::int32_t> in(8, 0);
    in[0] = 3200;
    const auto out = samples16(run(routineNamed("filterMono16"), state, in, 16));
    EXPECT_NE(out[1], 0);
}

TEST(ConverterFilter, SwitchedOnWithStaleHistoryUsesIt) {
    ConversionState state;
    run(routineNamed("filterMono16"), state, std::vector<std::int32_t>(44, 1000), 16);
    // The plain routine in between leaves the history alone.
    run(routineNamed("plain16"), state, std::vector<std::int32_t>(44, -5), 16);
    const auto out = samples16(run(routineNamed("filterMono16"), state, std::vector<std::int32_t>(8, 0), 16));
    EXPECT_EQ(out[0], 1250);  // (8 + 23 + 8 + 1) × 1000 / 32
    EXPECT_EQ(out[1], 1000);  // (23 + 8 + 1) × 1000 / 32
    EXPECT_EQ(out[2], 281);   // 9000 / 32, floored
    EXPECT_EQ(out[3], 31);
    EXPECT_EQ(out[4], 0);
}

TEST(ConverterFilter, FilterThenReverbHalvesTheFilterOutput) {
    ConversionState state;
    state.reverbLast = 511;
    const auto out = samples16(run(routineNamed("filterMonoReverb16"), state, std::vector<std::int32_t>(44, 32), 16));
    EXPECT_EQ(out.back(), 20);  // 1312 × 4 >> 8
    // One delay length later the feedback adds half of that.
    ConversionState state2;
    state2.reverbLast = 511;
    const auto longer =
        samples16(run(routineNamed("filterMonoReverb16"), state2, std::vector<std::int32_t>(600, 32), 16, 44));
    EXPECT_EQ(longer[512 + 10], 30);
}

// ---- bit for bit against the reference ----

TEST(ConverterReference, AllTwelveMatchTheReferenceBitForBit) {
    std::mt19937 random(1234);
    int count = 0;
    const ConverterEntry* table = converterTable(&count);
    // The classic rates' lines and 48000 Hz stereo's, which is no power of two.
    const std::uint32_t masks[] = {511, 1023, 2047, 4095, 4457};
    for (int r = 0; r < count; ++r) {
        const ConverterEntry& entry = table[r];
        const unsigned channels = entry.channels == 0 ? 1 : entry.channels;
        for (std::uint32_t mask : masks) {
            for (std::int32_t level = 1; level <= 6; level += 5) {
                ConversionState state;
                state.reverbLast = mask;
                state.reverbLevel = level;
                Reference reference;
                reference.mask = mask;
                reference.level = level;
                // Ordinary signals, loud ones that clip, and a few extremes that wrap.
                std::uniform_int_distribution<std::int32_t> ordinary(-40000, 40000);
                std::uniform_int_distribution<std::int32_t> extreme(INT32_MIN, INT32_MAX);
                const std::size_t chunks[] = {44, 88, 176, 352, 7, 3, 1};
                std::vector<std::uint8_t> produced, expected;
                for (int pass = 0; pass < 40; ++pass) {
                    const std::size_t n = chunks[pass % 7];
                    std::vector<std::int32_t> in(n);
                    for (auto& v : in) v = (random() % 50 == 0) ? extreme(random) : ordinary(random);
                    const auto out = run(entry.routine, state, in, entry.bitsPerSample);
                    produced.insert(produced.end(), out.begin(), out.end());
                    reference.convert(entry.bitsPerSample, entry.reverb, entry.filter, channels, in, expected);
                }
                ASSERT_EQ(produced, expected) << entry.name << " mask " << mask << " level " << level;
                if (entry.reverb) {
                    EXPECT_EQ(state.reverbIndex, reference.reverbIndex) << entry.name;
                }
                if (entry.filter) {
                    EXPECT_EQ(state.filterIndex, reference.filterIndex) << entry.name;
                }
            }
        }
    }
}

TEST(ConverterReference, ALevelChangeTakesEffectFromTheNextCall) {
    ConversionState state;
    state.reverbLast = 511;
    std::vector<std::int32_t> impulse(512, 0);
    impulse[0] = 1000;
    run(routineNamed("reverb16"), state, impulse, 16, 44);  // the line holds 500 × 4 / 8 = 250 at index 0
    state.reverbLevel = 2;
    const auto out = samples16(run(routineNamed("reverb16"), state, std::vector<std::int32_t>(512, 0), 16, 44));
    EXPECT_EQ(out[0], 250);
    const auto later = samples16(run(routineNamed("reverb16"), state, std::vector<std::int32_t>(4, 0), 16));
    EXPECT_EQ(later[0], 62);  // 250 × 2 / 8
}

}  // namespace
}  // namespace brellin
