#pragma once

#include <cstdint>

// Uniform draws in [0, 1) from a 48-bit linear congruential generator, many at
// a time: state' = (state x 0x5DEECE66D + 11) mod 2^48, and each draw is bits
// 47 to 16 of the new state over 2^32, rounded to single precision (a draw
// that rounds up to 1 becomes 1 - FLT_EPSILON). The sequence is exactly that
// of stepping the generator once per draw; the draws are worked out in
// independent lanes, each a fixed number of steps ahead of the one before.
// No heap, no locks: safe on the audio thread.
class LinearCongruentialDraws
{
public:
    static constexpr std::uint64_t multiplier = 0x5DEECE66Dull; // per step
    static constexpr std::uint64_t increment = 11;              // per step
    static constexpr std::uint64_t stateMask = 0xFFFFFFFFFFFFull; // the 48 bits of state

    // `count` draws into out[0] to out[count - 1], starting from `seed`.
    // Returns the seed after the last draw (always below 2^48), or `seed`
    // itself, unchanged, when count <= 0. Bits of `seed` above the 48th play
    // no part: the first step drops them.
    static std::int64_t nextFloats (std::int64_t seed, float* out, int count) noexcept;
};
