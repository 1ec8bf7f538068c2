// The draws' loop is compiled once per instruction set; the SIMD library
// picks the widest this processor runs. The loop is written for the compiler
// to vectorise with whatever the set offers.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "LinearCongruentialDraws.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "LinearCongruentialDraws.h"

#include <cfloat>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace lcgdraws
{
namespace HWY_NAMESPACE
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
HWY_INLINE float drawOfState (std::uint64_t state) noexcept
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
std::int64_t drawLoop (std::int64_t seed, float* HWY_RESTRICT out, int count)
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

// Each place's draw straight from the seed by its own jump; the places are
// independent, so the loop vectorises like the one above.
void jumpLoop (std::int64_t seed, const std::uint64_t* HWY_RESTRICT multiplier, const std::uint64_t* HWY_RESTRICT increment,
               float* HWY_RESTRICT out, int count)
{
    const std::uint64_t start = static_cast<std::uint64_t> (seed);
    for (int k = 0; k < count; ++k)
        out[k] = drawOfState ((multiplier[k] * start + increment[k]) & Draws::stateMask);
}

} // namespace HWY_NAMESPACE
} // namespace lcgdraws
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lcgdraws
{
HWY_EXPORT (drawLoop);
HWY_EXPORT (jumpLoop);

std::int64_t dispatchedDraws (std::int64_t seed, float* out, int count) noexcept
{
    return HWY_DYNAMIC_DISPATCH (drawLoop) (seed, out, count);
}

void dispatchedJumps (std::int64_t seed, const std::uint64_t* multiplier, const std::uint64_t* increment, float* out, int count) noexcept
{
    HWY_DYNAMIC_DISPATCH (jumpLoop) (seed, multiplier, increment, out, count);
}
} // namespace lcgdraws

std::int64_t LinearCongruentialDraws::nextFloats (std::int64_t seed, float* out, int count) noexcept
{
    return lcgdraws::dispatchedDraws (seed, out, count);
}

bool LinearCongruentialDraws::ByColumns::prepare (int rows, int columns) noexcept
{
    if (rows < 1 || columns < 1 || rows > maxDraws / columns)
        return false;

    // Draw j of the sequence is the state j + 1 steps on, at place
    // (j mod columns) x rows + j / columns.
    std::uint64_t m = 1;
    std::uint64_t c = 0;
    for (int j = 0; j < rows * columns; ++j)
    {
        m *= LinearCongruentialDraws::multiplier;
        c = c * LinearCongruentialDraws::multiplier + LinearCongruentialDraws::increment;
        const int place = (j % columns) * rows + j / columns;
        multiplier[place] = m;
        increment[place] = c;
    }

    lastMultiplier = m;
    lastIncrement = c;
    numRows = rows;
    numColumns = columns;
    return true;
}

std::int64_t LinearCongruentialDraws::ByColumns::nextFloats (std::int64_t seed, float* out) const noexcept
{
    lcgdraws::dispatchedJumps (seed, multiplier, increment, out, numRows * numColumns);
    return static_cast<std::int64_t> ((lastMultiplier * static_cast<std::uint64_t> (seed) + lastIncrement) & stateMask);
}
#endif
