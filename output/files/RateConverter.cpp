#include "output/files/RateConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brellin {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double CUTOFF = 0.45;  // cycles per input frame (0.5 is the input's Nyquist frequency)
constexpr double KAISER_BETA = 8.0;

// The modified Bessel function of order 0, by its power series.
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

}  // namespace

bool RateConverter::setup(std::uint32_t newUp, std::uint32_t newDown, std::uint32_t newChannels,
                          std::uint32_t maxInputFrames) {
    if (newUp == 0 || newDown == 0 || newUp > 1024 || newChannels < 1 || newChannels > 2 || maxInputFrames == 0)
        return false;
    up = newUp;
    down = newDown;
    channels = newChannels;
    constexpr std::uint32_t width = 2 * HALF_TAPS;
    taps.assign(static_cast<std::size_t>(up) * width, 0.0f);
    const double windowNorm = besselI0(KAISER_BETA);
    for (std::uint32_t phase = 0; phase < up; ++phase) {
        // Input frame c + j (j = k - HALF_TAPS + 1) lies (j - phase/up) input frames from the output instant.
        double row[width];
        double sum = 0.0;
        for (std::uint32_t k = 0; k < width; ++k) {
            const double t = static_cast<double>(k) - (HALF_TAPS - 1) - static_cast<double>(phase) / up;
            const double x = 2.0 * CUTOFF * t;
            const double sinc = x == 0.0 ? 1.0 : std::sin(PI * x) / (PI * x);
            const double edge = t / HALF_TAPS;
            const double window =
                std::fabs(edge) >= 1.0 ? 0.0 : besselI0(KAISER_BETA * std::sqrt(1.0 - edge * edge)) / windowNorm;
            row[k] = sinc * window;
            sum += row[k];
        }
        for (std::uint32_t k = 0; k < width; ++k) taps[phase * width + k] = static_cast<float>(row[k] / sum);
    }
    inputCapacity = maxInputFrames;
    outputCapacity =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(maxInputFrames) + HALF_TAPS) * up / down + 2);
    // The filter's reach either side, the input of one call, and the silence `drain` adds.
    history.assign(static_cast<std::size_t>(2 * width + maxInputFrames) * channels, 0.0f);
    // HALF_TAPS frames of silence before the first input.
    historyStart = -static_cast<std::int64_t>(HALF_TAPS);
    historyFrames = HALF_TAPS;
    inputFrames = 0;
    nextOutput = 0;
    return true;
}

std::uint32_t RateConverter::produce(float* output, std::uint64_t last) noexcept {
    constexpr std::uint32_t width = 2 * HALF_TAPS;
    std::uint32_t written = 0;
    const std::int64_t available = historyStart + historyFrames;  // one past the last frame held
    while (nextOutput < last) {
        const std::uint64_t position = nextOutput * down;
        const auto centre = static_cast<std::int64_t>(position / up);
        const auto phase = static_cast<std::uint32_t>(position % up);
        if (centre + static_cast<std::int64_t>(HALF_TAPS) >= available) break;
        const float* row = &taps[static_cast<std::size_t>(phase) * width];
        const float* x = &history[static_cast<std::size_t>(centre - (HALF_TAPS - 1) - historyStart) * channels];
        for (std::uint32_t c = 0; c < channels; ++c) {
            float sum = 0.0f;
            for (std::uint32_t k = 0; k < width; ++k) sum += row[k] * x[k * channels + c];
            output[written * channels + c] = sum;
        }
        ++written;
        ++nextOutput;
    }
    // Keep what the next output frame still reaches back to.
    const std::int64_t keepFrom = static_cast<std::int64_t>(nextOutput * down / up) - (HALF_TAPS - 1);
    if (keepFrom > historyStart) {
        const auto drop = static_cast<std::uint32_t>(std::min<std::int64_t>(keepFrom - historyStart, historyFrames));
        std::memmove(history.data(), history.data() + static_cast<std::size_t>(drop) * channels,
                     static_cast<std::size_t>(historyFrames - drop) * channels * sizeof(float));
        historyFrames -= drop;
        historyStart += drop;
    }
    return written;
}

std::uint32_t RateConverter::convert(const float* input, std::uint32_t frames, float* output) noexcept {
    frames = std::min(frames, inputCapacity);
    std::memcpy(history.data() + static_cast<std::size_t>(historyFrames) * channels, input,
                static_cast<std::size_t>(frames) * channels * sizeof(float));
    historyFrames += frames;
    inputFrames += frames;
    return produce(output, UINT64_MAX);
}

std::uint32_t RateConverter::drain(float* output) noexcept {
    std::fill(history.begin() + static_cast<std::ptrdiff_t>(historyFrames) * channels,
              history.begin() + static_cast<std::ptrdiff_t>(historyFrames + HALF_TAPS + 1) * channels, 0.0f);
    historyFrames += HALF_TAPS + 1;
    const std::uint64_t owed = (inputFrames * up + down - 1) / down;
    return produce(output, owed);
}

}  // namespace brellin
