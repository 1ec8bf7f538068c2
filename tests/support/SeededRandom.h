#pragma once

#include "RandomSource.h"

#include <cstdint>

// Repeatable random draws (xorshift32) for the voice organs in tests and
// benchmarks, with a count of the draws made.
class SeededRandom : public RandomSource
{
public:
    explicit SeededRandom (std::uint32_t seed = 0x2545F491u) : state (seed) {}

    float nextFloat() override
    {
        ++draws;
        return static_cast<float> (next() >> 8) * (1.0f / 16777216.0f); // [0, 1)
    }

    bool nextBool() override
    {
        ++draws;
        return (next() & 0x80000000u) != 0;
    }

    void nextFloatsByColumns (float* out, int rows, int columns) override
    {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                out[c * rows + r] = SeededRandom::nextFloat();
    }

    int draws = 0;

private:
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }

    std::uint32_t state;
};
