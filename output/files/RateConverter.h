// RateConverter: changes the sample rate of interleaved float frames by a
// fixed ratio up/down (Opus takes 12000, 24000 or 48000 Hz, our renders are
// 11025, 22050 or 44100 Hz: 160/147 each time) with a windowed-sinc
// polyphase filter: 32 taps (16 input frames either side of the output
// instant), Kaiser window, cut off at 0.45 of the input rate, each phase
// normalized to a gain of exactly 1 at 0 Hz.
//
// Output frame n lies at input position n · down / up; frames before the
// first input count as silence, and `drain` feeds silence after the last so
// that the output has ceil(inputFrames · up / down) frames in all.
//
// `setup` allocates; `convert` and `drain` do not. One thread at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace brellin {

class RateConverter {
public:
    static constexpr std::uint32_t HALF_TAPS = 16;

    // False for a ratio or channel count it cannot do (0, above 1024 phases,
    // channels outside 1 … 2).
    bool setup(std::uint32_t up, std::uint32_t down, std::uint32_t channels, std::uint32_t maxInputFrames);
    // The most frames one `convert` or `drain` writes.
    std::uint32_t maxOutputFrames() const { return outputCapacity; }
    // Takes up to maxInputFrames frames and writes the output frames that are
    // now complete; returns their count.
    std::uint32_t convert(const float* input, std::uint32_t frames, float* output) noexcept;
    // The output still owed after the last input; returns its frame count.
    std::uint32_t drain(float* output) noexcept;

private:
    std::uint32_t produce(float* output, std::uint64_t last) noexcept;

    std::uint32_t up = 1, down = 1, channels = 1;
    std::uint32_t inputCapacity = 0, outputCapacity = 0;
    std::vector<float> taps;        // up phases × 2·HALF_TAPS
    std::vector<float> history;     // frames from `historyStart` on, interleaved
    std::int64_t historyStart = 0;  // input frame index of history[0] (negative: the silence before)
    std::uint32_t historyFrames = 0;
    std::uint64_t inputFrames = 0;  // real input frames taken
    std::uint64_t nextOutput = 0;   // index of the next output frame
};

}  // namespace brellin
