#include "LinearCongruentialDraws.h"

#include <cfloat>
#include <cstring>

namespace
{
using Draws = LinearCongruentialDraws;

// Draws worked out side by side: 16 measured fastest with every instruction
// set (enough independent multiplies in flight to hide their latency).
constexpr int lanes = 16;

// Jump-ahead constants: j steps take state s to (multiplier[j] s + increment[j]) mod 2^48.
// Kept mod 2^64, which they may be since 2^48 divides 2^64; masked where used.
struct Jumps
{
    std::uint64_t multiplier[lanes + 1];
    std::uint64_t increment[lanes + 1];
};

constexpr Jumps makeJumps() noexcept
{
    Jumps j {};
    j.multiplier[0] = 1;
    j.increment[0] = 0;
    for (int i = 1; i <= lanes; ++i)
    {
        j.multiplier[i] = j.multiplier[i - 1] * Draws::multiplier;
        j.increment[i] = j.increment[i - 1] * Draws::multiplier + Draws::increment;
    }
    return j;
}

constexpr Jumps jumps = makeJumps();

// One draw from a state just stepped: bits 47 to 16 over 2^32, written so that
// it vectorises on every instruction set. The 32 draw bits
// become an exact double (placed in the mantissa of 2^52 and the 2^52 taken
// away), and the one rounding to single precision is the conversion's, as in
// a direct conversion of the 32-bit integer. The scaling by 2^-32 is exact.
inline __attribute__ ((always_inline)) float drawOfState (std::uint64_t state) noexcept
{
    constexpr std::uint64_t twoTo52Bits = 0x4330000000000000ull; // 2^52 as a double
    const std::uint64_t bits = ((state >> 16) & 0xFFFFFFFFull) | twoTo52Bits;
    double exact;
    std::memcpy (&exact, &bits, sizeof exact);
    const float r = static_cast<float> (exact - 4503599627370496.0) * 2.3283064365386963e-10f; // x 2^-32
    return r == 1.0f ? 1.0f - FLT_EPSILON : r;
}

// The states side by side, lane j holding the state of draw j of the current
// block of `lanes` draws; every block steps each lane `lanes` draws ahead.
inline __attribute__ ((always_inline)) std::int64_t drawLoop (std::int64_t seed, float* __restrict out, int count) noexcept
{
    if (count <= 0)
        return seed;

    const std::uint64_t start = static_cast<std::uint64_t> (seed);
    alignas (64) std::uint64_t state[lanes]; // 48-bit generator state after each lane's draw of this block
    for (int j = 0; j < lanes; ++j)
        state[j] = (jumps.multiplier[j + 1] * start + jumps.increment[j + 1]) & Draws::stateMask;

    const std::uint64_t blockMultiplier = jumps.multiplier[lanes];
    const std::uint64_t blockIncrement = jumps.increment[lanes];

    int done = 0;
    for (; count - done > lanes; done += lanes)
    {
        for (int j = 0; j < lanes; ++j)
            out[done + j] = drawOfState (state[j]);
        for (int j = 0; j < lanes; ++j)
            state[j] = (state[j] * blockMultiplier + blockIncrement) & Draws::stateMask;
    }

    const int rest = count - done; // 1 to lanes
    for (int j = 0; j < rest; ++j)
        out[done + j] = drawOfState (state[j]);

    return static_cast<std::int64_t> (state[rest - 1]);
}

std::int64_t plainDraws (std::int64_t seed, float* out, int count) noexcept { return drawLoop (seed, out, count); }
BRASSGATE_LANES_AVX2 std::int64_t avx2Draws (std::int64_t seed, float* out, int count) noexcept { return drawLoop (seed, out, count); }
BRASSGATE_LANES_AVX512 std::int64_t avx512Draws (std::int64_t seed, float* out, int count) noexcept { return drawLoop (seed, out, count); }
} // namespace

std::int64_t LinearCongruentialDraws::nextFloats (std::int64_t seed, float* out, int count) noexcept
{
    return nextFloats (seed, out, count, sinekernel::laneSet());
}

std::int64_t LinearCongruentialDraws::nextFloats (std::int64_t seed, float* out, int count, sinekernel::LaneSet variant) noexcept
{
    switch (variant)
    {
        case sinekernel::LaneSet::avx512: return avx512Draws (seed, out, count);
        case sinekernel::LaneSet::avx2: return avx2Draws (seed, out, count);
        default: return plainDraws (seed, out, count);
    }
}
