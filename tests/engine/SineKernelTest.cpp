// The kernels are compiled here once per instruction set, as the engines
// compile them, so each variant's double-precision results can be checked.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "SineKernelTest.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "SineKernel-inl.h"

HWY_BEFORE_NAMESPACE();
namespace sinekerneltest
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// sin x and cos x into sine[i] and cosine[i] for n values, n a multiple of 16.
void sinesAndCosines (const double* x, double* sine, double* cosine, double* sineAlone, int n)
{
    const hn::ScalableTag<double> d;
    for (int i = 0; i < n; i += static_cast<int> (hn::Lanes (d)))
    {
        hn::Vec<decltype (d)> s, c;
        sinekernel::HWY_NAMESPACE::SineCosine (d, hn::LoadU (d, x + i), s, c);
        hn::StoreU (s, d, sine + i);
        hn::StoreU (c, d, cosine + i);
        hn::StoreU (sinekernel::HWY_NAMESPACE::Sine (d, hn::LoadU (d, x + i)), d, sineAlone + i);
    }
}
} // namespace HWY_NAMESPACE
} // namespace sinekerneltest
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

#include "InstructionSets.h"
#include "SineKernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace sinekerneltest
{
HWY_EXPORT (sinesAndCosines);
}

namespace
{
// Distance between two doubles in units in the last place of the exact value's neighbourhood.
double ulpsBetween (double value, double exact)
{
    if (value == exact)
        return 0.0;
    const double ulp = std::abs (std::nextafter (exact, INFINITY) - exact);
    return std::abs (value - exact) / ulp;
}

// sin x and cos x, correctly rounded but for a sliver of a unit in the last
// place, whatever the C library: some (MinGW-w64's, on the x87 instruction) lose
// thousands of units for large arguments. x is reduced by the nearest multiple
// k of pi/2 in extended precision, pi/2 in three parts whose products with k
// (|k| < 2^21) are exact, so the library only sees |r| <= pi/4, where each is
// accurate to extended precision.
struct SineAndCosine
{
    double sine, cosine;
};

SineAndCosine exactSineAndCosine (double x)
{
    const long double halfPi[3] = { 0x3243f6a8885p-41L, 0x14611a62633p-82L, 0xa2e03707344a4093p-149L };
    const long double k = std::nearbyint (static_cast<long double> (x) / (halfPi[0] + halfPi[1]));
    const long double r = ((static_cast<long double> (x) - k * halfPi[0]) - k * halfPi[1]) - k * halfPi[2];
    const long double s = std::sin (r), c = std::cos (r);
    switch (static_cast<long long> (k) & 3)
    {
        case 0: return { static_cast<double> (s), static_cast<double> (c) };
        case 1: return { static_cast<double> (c), static_cast<double> (-s) };
        case 2: return { static_cast<double> (-s), static_cast<double> (-c) };
        default: return { static_cast<double> (-c), static_cast<double> (s) };
    }
}

struct Range
{
    double low, high; // radians
    const char* what;
};

// The arguments the engines produce, and well beyond.
const Range ranges[] = {
    { 0.0, 6.283185307179586, "one turn (wheel and oscillator fundamentals)" },
    { 0.0, 70.0, "odd harmonics and level terms of the wheels" },
    { -1.0e-6, 1.0e-6, "near zero" },
    { -4000.0, 4000.0, "drift and modulation clocks" },
    { -sinekernel::maxArgument, sinekernel::maxArgument, "the whole range" },
};

std::vector<double> samplesOf (const Range& r, int count)
{
    std::mt19937_64 engine (12345);
    std::uniform_real_distribution<double> uniform (r.low, r.high);
    std::vector<double> x ((size_t) count);
    for (auto& v : x)
        v = uniform (engine);
    return x;
}
} // namespace

TEST (SineKernel, EveryInstructionSetStaysWithinTwoUnitsInTheLastPlace)
{
    // The variants with fused multiply-adds and those without, sine alone and
    // sine with cosine; sin 2x as 2 sin x cos x, whose relative error is the
    // sum of the factors', stays within a few units everywhere, zero crossings included.
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            const auto name = instructionsets::nameOf (target);
            for (const auto& r : ranges)
            {
                const auto x = samplesOf (r, 100000);
                std::vector<double> sine (x.size()), cosine (x.size()), sineAlone (x.size());
                HWY_DYNAMIC_DISPATCH (sinekerneltest::sinesAndCosines) (x.data(), sine.data(), cosine.data(), sineAlone.data(), (int) x.size());

                double worst[4] = {}; // sine alone, sine, cosine, double angle
                for (size_t i = 0; i < x.size(); ++i)
                {
                    const auto exact = exactSineAndCosine (x[i]);
                    worst[0] = std::max (worst[0], ulpsBetween (sineAlone[i], exact.sine));
                    worst[1] = std::max (worst[1], ulpsBetween (sine[i], exact.sine));
                    worst[2] = std::max (worst[2], ulpsBetween (cosine[i], exact.cosine));
                    worst[3] = std::max (worst[3], ulpsBetween (2.0 * sine[i] * cosine[i], exactSineAndCosine (2.0 * x[i]).sine));
                }
                EXPECT_LE (worst[0], 2.0) << r.what << ", " << name << " sine";
                EXPECT_LE (worst[1], 2.0) << r.what << ", " << name << " sine with cosine";
                EXPECT_LE (worst[2], 2.0) << r.what << ", " << name << " cosine";
                EXPECT_LE (worst[3], 5.0) << r.what << ", " << name << " double angle";
            }

            // Exact points.
            const double x[16] = { 0.0, 1.0e-300 };
            double sine[16], cosine[16], sineAlone[16];
            HWY_DYNAMIC_DISPATCH (sinekerneltest::sinesAndCosines) (x, sine, cosine, sineAlone, 16);
            EXPECT_EQ (sineAlone[0], 0.0) << name;
            EXPECT_EQ (sineAlone[1], 1.0e-300) << name;
            EXPECT_EQ (sine[0], 0.0) << name;
            EXPECT_EQ (cosine[0], 1.0) << name;
        });
    }

    EXPECT_EQ (sinekernel::sine (0.0), 0.0);
    EXPECT_EQ (sinekernel::sine (1.0e-300), 1.0e-300);
}

TEST (SineKernel, BatchesRoundLikeTheLibraryOnEveryInstructionSetAndReferenceModeIsTheLibrary)
{
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            SCOPED_TRACE (instructionsets::nameOf (target));
            // Wide batches (with a tail that is not a whole vector) must give what one
            // value at a time gives: float(sin x), which a 2-unit double error changes
            // only where the exact value sits on a float rounding boundary.
            const auto x = samplesOf (ranges[1], 100003);
            std::vector<float> fast (x.size()), reference (x.size());
            sinekernel::sinesToFloat (x.data(), fast.data(), (int) x.size(), MathMode::fast);
            sinekernel::sinesToFloat (x.data(), reference.data(), (int) x.size(), MathMode::reference);

            int differing = 0;
            for (size_t i = 0; i < x.size(); ++i)
            {
                EXPECT_EQ (reference[i], static_cast<float> (std::sin (x[i])));
                if (fast[i] != reference[i])
                {
                    ++differing;
                    EXPECT_LE (std::abs (fast[i] - reference[i]), std::abs (std::nextafter (reference[i], 2.0f) - reference[i]));
                }
            }
            EXPECT_LE (differing, 2) << "of " << x.size();

            // Single-precision arguments, including ones beyond the kernel's range.
            std::vector<float> xf = { 0.0f, 1.0e-20f, 0.5f, -3.0f, 1234.5f, 5.0e6f, -3.0e9f, 1.0e30f };
            std::vector<float> sf (xf.size()), rf (xf.size());
            sinekernel::sinesOfFloats (xf.data(), sf.data(), (int) xf.size(), MathMode::fast);
            sinekernel::sinesOfFloats (xf.data(), rf.data(), (int) xf.size(), MathMode::reference);
            for (size_t i = 0; i < xf.size(); ++i)
            {
                EXPECT_EQ (rf[i], std::sin (xf[i])) << xf[i];
                EXPECT_NEAR (sf[i], std::sin (xf[i]), 1.0e-7) << xf[i];
            }
        });
    }
}

// The rotary speaker places its taps with these sines and rounds the result
// again, so they must keep the library's bits across its angles (0 to 8.4
// rad; this sweep takes every 61st float of either sign from 2^-12, below
// which the library returns the argument, to 8.5, on every instruction set),
// and beyond the vector path's reach (120 and up, infinities and NaN) hand
// over to the library itself.
TEST (SineKernel, LibrarySinesHaveTheLibrarysBits)
{
    std::vector<float> x;
    const auto bitsOf = [] (float v) {
        std::uint32_t bits;
        std::memcpy (&bits, &v, sizeof bits);
        return bits;
    };
    for (std::uint32_t bits = bitsOf (0x1p-12f); bits < bitsOf (8.5f); bits += 61)
    {
        float v;
        std::memcpy (&v, &bits, sizeof v);
        x.push_back (v);
        x.push_back (-v);
    }
    for (float v : { 0.0f, -0.0f, 1.0e-30f, 0x1p-12f, std::nextafter (0x1p-12f, 0.0f), 0.75f, std::nextafter (0.75f, 0.0f), 119.99999f,
                     120.0f, -120.0f, 1.0e10f, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                     std::numeric_limits<float>::quiet_NaN() })
        x.push_back (v);

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            std::vector<float> out (x.size());
            sinekernel::librarySines (x.data(), out.data(), (int) x.size(), MathMode::fast);
            int differing = 0;
            for (size_t i = 0; i < x.size(); ++i)
            {
                const float expected = std::sin (x[i]);
                const bool same = std::isnan (expected) ? std::isnan (out[i]) : std::memcmp (&expected, &out[i], sizeof (float)) == 0;
                if (! same && ++differing <= 5)
                    ADD_FAILURE() << instructionsets::nameOf (target) << ": sin " << std::hexfloat << x[i] << " = " << expected << ", not "
                                  << out[i];
            }
            EXPECT_EQ (differing, 0) << instructionsets::nameOf (target) << ", of " << x.size();
        });
    }
}

TEST (SineKernel, FloorOfMatchesTheLibraryFloor)
{
    for (double x : { 0.0, 0.25, 0.999999999, 1.0, 1.0000001, 1.5, 2.5, 3.0, 12345.75, 2147483647.5 })
        EXPECT_EQ (sinekernel::floorOf (x), std::floor (x)) << x;
}

TEST (SineKernel, TangentStaysWithinAFewUnitsInTheLastPlaceAndSaturates)
{
    // Magnitudes from the smallest signals the stages see to deep saturation.
    std::mt19937_64 engine (777);
    double worst = 0.0;
    for (int e = -40; e <= 5; ++e)
    {
        std::uniform_real_distribution<double> mantissa (1.0, 2.0);
        for (int i = 0; i < 20000; ++i)
        {
            const double x = std::ldexp (mantissa (engine), e) * (i % 2 == 0 ? 1.0 : -1.0);
            worst = std::max (worst, ulpsBetween (sinekernel::hyperbolicTangent (x), std::tanh (x)));
        }
    }
    EXPECT_LE (worst, 4.0);

    const struct
    {
        double x, expected;
    } exact[] = { { 0.0, 0.0 }, { 23.0, 1.0 }, { -23.0, -1.0 }, { INFINITY, 1.0 }, { -INFINITY, -1.0 } };
    for (const auto& c : exact)
        EXPECT_EQ (sinekernel::hyperbolicTangent (c.x), c.expected) << c.x;
    EXPECT_TRUE (std::signbit (sinekernel::hyperbolicTangent (-0.0)));
    EXPECT_TRUE (std::isnan (sinekernel::hyperbolicTangent (NAN)));

    // Many at a time: the same bits as one at a time on every instruction set.
    std::vector<float> xs;
    for (int e = -30; e <= 5; ++e)
        for (float m : { 1.0f, 1.37f, -1.81f })
            xs.push_back (std::ldexp (m, e));
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            std::vector<float> batch (xs.size());
            sinekernel::hyperbolicTangents (xs.data(), batch.data(), (int) xs.size(), MathMode::fast);
            for (size_t i = 0; i < xs.size(); ++i)
                ASSERT_EQ (batch[i], sinekernel::hyperbolicTangent (xs[i], MathMode::fast)) << xs[i] << ", " << instructionsets::nameOf (target);
        });
    }

    // Single precision: the reference mode is the library's tanhf; the kernel rounds to within one unit of it.
    for (float x : { -3.0f, -0.4f, 1.0e-6f, 0.3f, 0.7f, 2.5f, 9.5f })
    {
        EXPECT_EQ (sinekernel::hyperbolicTangent (x, MathMode::reference), std::tanh (x));
        EXPECT_NEAR (sinekernel::hyperbolicTangent (x, MathMode::fast), std::tanh (x),
                     std::abs (std::nextafter (std::tanh (x), 2.0f) - std::tanh (x))) << x;
    }
}
#endif
