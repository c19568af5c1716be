#include "output/Converters.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace brellin {
namespace {

// The filter sum and the reverb product are 32-bit machine arithmetic: they
// wrap instead of saturating (the accumulator stays far below that range in
// practice). Computing in unsigned and converting back gives that wrap
// without undefined behaviour; >> on a negative value is an arithmetic shift.
inline std::int32_t wrap(std::uint32_t value) noexcept { return static_cast<std::int32_t>(value); }

inline void storeLittle32(std::uint8_t* out, std::uint32_t word) noexcept {
    if constexpr (std::endian::native == std::endian::big) {
        word = (word >> 24) | ((word >> 8) & 0xFF00u) | ((word << 8) & 0xFF0000u) | (word << 24);
    }
    std::memcpy(out, &word, 4);
}

// 8-bit output: unsigned, silence 128.
inline std::uint32_t clip8(std::int32_t y) noexcept {
    std::int32_t z = wrap(static_cast<std::uint32_t>(y) + 128u);
    if (static_cast<std::uint32_t>(z) > 255u) z = z >= 0 ? 255 : 0;
    return static_cast<std::uint32_t>(z);
}

// 16-bit output: signed, returned as the 16-bit pattern.
inline std::uint32_t clip16(std::int32_t y) noexcept {
    if (y < -32768 || y > 32767) y = y >= 0 ? 32767 : -32768;
    return static_cast<std::uint32_t>(y) & 0xFFFFu;
}

// One routine per combination. Channels only matters for the filter: its
// taps reach back 1, 2, 3, 4 values (mono) or 2, 4, 6, 8 values (stereo, so
// that only values of the same channel are combined).
template <unsigned Bits, bool Reverb, bool Filter, unsigned Channels>
std::uint8_t* convert(ConversionState& state, std::uint8_t* out, const std::int32_t* accumulator,
                      std::int32_t count) noexcept {
    if (count <= 0) return out;

    constexpr std::uint32_t historyMask = ConversionState::FILTER_HISTORY_LENGTH - 1;
    constexpr std::uint32_t tap = Channels == 2 ? 2 : 1;
    // Read once per slice: a change of the level takes effect from the next slice.
    const std::uint32_t level = static_cast<std::uint32_t>(state.reverbLevel.load(std::memory_order_relaxed));
    const std::uint32_t last = std::min(state.reverbLast, ConversionState::REVERB_LINE_LENGTH - 1);
    std::uint32_t reverbIndex = state.reverbIndex <= last ? state.reverbIndex : 0;
    std::uint32_t filterIndex = state.filterIndex & historyMask;
    std::int32_t* const line = state.reverbLine;
    std::int32_t* const history = state.filterHistory;

    auto next = [&](std::int32_t x) noexcept -> std::int32_t {
        std::int32_t y;
        if constexpr (Filter) {
            history[filterIndex] = x;
            const std::uint32_t h0 = static_cast<std::uint32_t>(x);
            const std::uint32_t h1 = static_cast<std::uint32_t>(history[(filterIndex - 1 * tap) & historyMask]);
            const std::uint32_t h2 = static_cast<std::uint32_t>(history[(filterIndex - 2 * tap) & historyMask]);
            const std::uint32_t h3 = static_cast<std::uint32_t>(history[(filterIndex - 3 * tap) & historyMask]);
            const std::uint32_t h4 = static_cast<std::uint32_t>(history[(filterIndex - 4 * tap) & historyMask]);
            filterIndex = (filterIndex + 1) & historyMask;
            // Taps 1 8 23 8 1 sum to 41; × 4 >> 7 is the sum / 32 (floor), so a
            // constant input comes out 41/32 louder, two frames late. With the
            // reverb the filter's output is halved as the dry signal is: >> 8.
            const std::int32_t sum4 = wrap((h0 + 8u * h1 + 23u * h2 + 8u * h3 + h4) * 4u);
            y = Reverb ? (sum4 >> 8) : (sum4 >> 7);
        } else if constexpr (Reverb) {
            y = x >> 1;  // the dry signal is halved
        } else {
            y = x;
        }
        if constexpr (Reverb) {
            // y[n] = dry[n] + (level / 8) × y[n − L], L = reverbLast + 1.
            y = wrap(static_cast<std::uint32_t>(y) + static_cast<std::uint32_t>(line[reverbIndex]));
            line[reverbIndex] = wrap(level * static_cast<std::uint32_t>(y)) >> 3;
            reverbIndex = reverbIndex == last ? 0 : reverbIndex + 1;
        }
        return y;
    };

    const std::int32_t* in = accumulator;
    std::int32_t left = count;
    if constexpr (Bits == 8) {
        for (; left >= 4; left -= 4, in += 4, out += 4) {
            const std::uint32_t b0 = clip8(next(in[0]));
            const std::uint32_t b1 = clip8(next(in[1]));
            const std::uint32_t b2 = clip8(next(in[2]));
            const std::uint32_t b3 = clip8(next(in[3]));
            storeLittle32(out, b0 | (b1 << 8) | (b2 << 16) | (b3 << 24));
        }
        for (; left > 0; --left, ++in, ++out) *out = static_cast<std::uint8_t>(clip8(next(*in)));
    } else {
        for (; left >= 2; left -= 2, in += 2, out += 4) {
            const std::uint32_t s0 = clip16(next(in[0]));
            const std::uint32_t s1 = clip16(next(in[1]));
            storeLittle32(out, s0 | (s1 << 16));
        }
        if (left > 0) {
            const std::uint32_t s0 = clip16(next(*in));
            out[0] = static_cast<std::uint8_t>(s0);
            out[1] = static_cast<std::uint8_t>(s0 >> 8);
            out += 2;
        }
    }

    if constexpr (Reverb) state.reverbIndex = reverbIndex;
    if constexpr (Filter) state.filterIndex = filterIndex;
    return out;
}

// The selection table, in its order.
const ConverterEntry table[] = {
    {"filterStereoReverb8", 8, true, true, 2, convert<8, true, true, 2>},
    {"filterMonoReverb8", 8, true, true, 1, convert<8, true, true, 1>},
    {"reverb8", 8, true, false, 0, convert<8, true, false, 1>},
    {"filterStereo8", 8, false, true, 2, convert<8, false, true, 2>},
    {"filterMono8", 8, false, true, 1, convert<8, false, true, 1>},
    {"plain8", 8, false, false, 0, convert<8, false, false, 1>},
    {"filterStereoReverb16", 16, true, true, 2, convert<16, true, true, 2>},
    {"filterMonoReverb16", 16, true, true, 1, convert<16, true, true, 1>},
    {"reverb16", 16, true, false, 0, convert<16, true, false, 1>},
    {"filterStereo16", 16, false, true, 2, convert<16, false, true, 2>},
    {"filterMono16", 16, false, true, 1, convert<16, false, true, 1>},
    {"plain16", 16, false, false, 0, convert<16, false, false, 1>},
};

}  // namespace

ConverterRoutine selectConverter(std::uint32_t bitsPerSample, bool reverbOn, bool lowPassOn,
                                 std::uint32_t channels) noexcept {
    const bool stereo = channels == 2;
    int index = bitsPerSample == 8 ? 0 : 6;
    if (reverbOn) {
        index += lowPassOn ? (stereo ? 0 : 1) : 2;
    } else {
        index += lowPassOn ? (stereo ? 3 : 4) : 5;
    }
    return table[index].routine;
}

const ConverterEntry* converterTable(int* count) noexcept {
    if (count) *count = static_cast<int>(sizeof table / sizeof table[0]);
    return table;
}

}  // namespace brellin
