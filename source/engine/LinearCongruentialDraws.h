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

    // Draws for a table of rows x columns places filled row by row and stored
    // column by column: draw r x columns + c of the sequence goes to
    // out[c x rows + r]. Each place's draw is worked out straight from the seed
    // by a jump of its own, prepared once per shape, so no draw waits for
    // another and none needs moving afterwards.
    class ByColumns
    {
    public:
        static constexpr int maxDraws = 256;

        // Prepares the jumps for this shape. False, with nothing prepared, for
        // a shape of fewer than 1 or more than maxDraws places.
        bool prepare (int rows, int columns) noexcept;

        bool isPreparedFor (int rows, int columns) const noexcept { return rows == numRows && columns == numColumns; }

        // The prepared table's draws from `seed` into out[0] to
        // out[rows x columns - 1]; returns the seed after the last draw.
        std::int64_t nextFloats (std::int64_t seed, float* out) const noexcept;

    private:
        int numRows = 0;
        int numColumns = 0;
        std::uint64_t multiplier[maxDraws] {}; // place k draws the state (multiplier[k] x seed + increment[k]) mod 2^48
        std::uint64_t increment[maxDraws] {};
        std::uint64_t lastMultiplier = 1;      // the same for the state after the whole table
        std::uint64_t lastIncrement = 0;
    };
};
