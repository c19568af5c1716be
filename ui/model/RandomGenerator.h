// RandomGenerator: the play list's own pseudo-random numbers, 0 to 32767.
//
// A linear congruential generator (multiplier 214013, increment 2531011,
// modulo 2^32) that hands out bits 16 to 30 of its state, the classic 15-bit
// runtime generator. Seeded once at start-up with the millisecond tick count;
// tests seed it to repeat a sequence.
#pragma once

#include <cstdint>

namespace brellin {

class RandomGenerator {
public:
    static constexpr std::int32_t MAX = 32767;

    explicit RandomGenerator(std::uint32_t seed = 1) : state(seed) {}
    void seed(std::uint32_t value) { state = value; }
    // The next number from 0 to 32767 inclusive.
    std::int32_t next() {
        state = state * 214013u + 2531011u;
        return static_cast<std::int32_t>((state >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state;
};

}  // namespace brellin
