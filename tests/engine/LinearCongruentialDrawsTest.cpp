#include "InstructionSets.h"
#include "LinearCongruentialDraws.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
// The generator stepped once per draw, written the plain way.
struct ScalarGenerator
{
    std::int64_t seed;

    int nextInt()
    {
        seed = static_cast<std::int64_t> ((static_cast<std::uint64_t> (seed) * 0x5deece66dULL + 11) & 0xffffffffffffULL);
        return static_cast<int> (seed >> 16);
    }

    float nextFloat()
    {
        const float r = static_cast<float> (static_cast<std::uint32_t> (nextInt())) / (static_cast<float> (UINT32_MAX) + 1.0f);
        return r == 1.0f ? 1.0f - FLT_EPSILON : r;
    }
};

constexpr std::uint64_t mask48 = 0xffffffffffffULL;

// The seed `steps` draws before `state`: each step undone by (s - 11) / multiplier mod 2^48.
std::int64_t seedBefore (std::uint64_t state, int steps)
{
    std::uint64_t inverse = 0x5deece66dULL; // Newton's iteration doubles the correct low bits each time
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - 0x5deece66dULL * inverse;

    for (int i = 0; i < steps; ++i)
        state = ((state - 11) * inverse) & mask48;
    return static_cast<std::int64_t> (state);
}

bool sameBits (float a, float b)
{
    return std::memcmp (&a, &b, sizeof a) == 0;
}
} // namespace

TEST (LinearCongruentialDraws, EveryVariantGivesTheScalarSequenceAndSeedForAnySeedAndCount)
{
    // A draw that rounds up to 1 at several places in the sequence (so in
    // different lanes and blocks): the state after it is 0xFFFFFFFF in bits 47 to 16.
    const std::uint64_t roundsToOne = 0xFFFFFFFFABCDULL;

    const std::int64_t seeds[] = {
        0,
        1,
        0x5DEECE66DLL,
        static_cast<std::int64_t> (mask48),       // all 48 bits of state
        -1,                                       // every bit set, including those above the 48th
        INT64_MIN,                                // only the top bit: plays as 0
        static_cast<std::int64_t> (0x123456789ABCDEF0ULL),
        seedBefore (roundsToOne, 1),              // first draw
        seedBefore (roundsToOne, 8),
        seedBefore (roundsToOne, 17),
        seedBefore (roundsToOne, 143),            // last of 144
        seedBefore (roundsToOne, 500),
    };
    const int counts[] = { 0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 144, 1000 };

    // The constructed seeds really do draw a 1 rounded down.
    ScalarGenerator probe { seeds[7] };
    ASSERT_EQ (probe.nextFloat(), 1.0f - FLT_EPSILON);

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (std::int64_t seed : seeds)
            {
                for (int count : counts)
                {
                    ScalarGenerator scalar { seed };
                    std::vector<float> expected ((size_t) count + 1, -1.0f);
                    for (int i = 0; i < count; ++i)
                        expected[(size_t) i] = scalar.nextFloat();

                    std::vector<float> got ((size_t) count + 1, -1.0f); // one beyond, which must stay untouched
                    const std::int64_t next = LinearCongruentialDraws::nextFloats (seed, got.data(), count);

                    const auto where = ::testing::Message() << instructionsets::nameOf (target) << ", seed " << seed
                                                            << ", count " << count;
                    ASSERT_EQ (next, scalar.seed) << where;
                    for (size_t i = 0; i < got.size(); ++i)
                        ASSERT_TRUE (sameBits (got[i], expected[i])) << where << ", draw " << i << ": " << got[i]
                                                                     << " instead of " << expected[i];
                }
            }
        });
    }
}

TEST (LinearCongruentialDraws, DefaultVariantMatchesTheScalarSequenceAcrossCalls)
{
    // Calls of varying length, each starting from the seed the last returned.
    ScalarGenerator scalar { 0x2545F491 };
    std::int64_t seed = scalar.seed;
    std::vector<float> block (200);

    for (int count : { 144, 3, 0, 200, 1, 64, 144 })
    {
        seed = LinearCongruentialDraws::nextFloats (seed, block.data(), count);
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE (sameBits (block[(size_t) i], scalar.nextFloat())) << "count " << count << ", draw " << i;
        ASSERT_EQ (seed, scalar.seed);
    }
}

TEST (LinearCongruentialDraws, TablesByColumnsHoldTheSequenceTransposedOnEveryInstructionSet)
{
    // Draw r x columns + c of the sequence at place c x rows + r; the seed
    // after the table is the sequence's; a shape beyond the limit is refused.
    struct Shape
    {
        int rows, columns;
    };
    const Shape shapes[] = { { 1, 1 }, { 16, 9 }, { 9, 16 }, { 3, 7 }, { 1, 256 }, { 256, 1 }, { 5, 1 } };

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            LinearCongruentialDraws::ByColumns table;
            for (const std::int64_t seed : { std::int64_t { 0 }, std::int64_t { -1 }, std::int64_t { 0x2545F491 } })
            {
                for (const auto& shape : shapes)
                {
                    ASSERT_TRUE (table.prepare (shape.rows, shape.columns));
                    ASSERT_TRUE (table.isPreparedFor (shape.rows, shape.columns));
                    const int count = shape.rows * shape.columns;
                    std::vector<float> got ((size_t) count + 1, -1.0f); // one beyond, which must stay untouched
                    const std::int64_t next = table.nextFloats (seed, got.data());

                    ScalarGenerator scalar { seed };
                    for (int r = 0; r < shape.rows; ++r)
                        for (int c = 0; c < shape.columns; ++c)
                            ASSERT_TRUE (sameBits (got[(size_t) (c * shape.rows + r)], scalar.nextFloat()))
                                << instructionsets::nameOf (target) << ", " << shape.rows << " x " << shape.columns << ", row " << r
                                << ", column " << c;
                    EXPECT_EQ (got.back(), -1.0f);
                    EXPECT_EQ (next, scalar.seed) << shape.rows << " x " << shape.columns;
                }
            }

            for (const Shape refused : { Shape { 0, 9 }, Shape { 16, 0 }, Shape { -1, -1 }, Shape { 16, 17 }, Shape { 257, 1 } })
            {
                ASSERT_FALSE (table.prepare (refused.rows, refused.columns));
                EXPECT_TRUE (table.isPreparedFor (5, 1)) << "a refused shape keeps the last one";
            }
        });
    }
}
