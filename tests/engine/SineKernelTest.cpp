#include "SineKernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

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

TEST (SineKernel, BothVariantsStayWithinTwoUnitsInTheLastPlace)
{
    for (const auto& r : ranges)
    {
        double worstPlain = 0.0, worstFused = 0.0;

        for (double x : samplesOf (r, 200000))
        {
            worstPlain = std::max (worstPlain, ulpsBetween (sinekernel::sineFor<false> (x), std::sin (x)));
            worstFused = std::max (worstFused, ulpsBetween (sinekernel::sineFor<true> (x), std::sin (x)));
        }

        EXPECT_LE (worstPlain, 2.0) << r.what;
        EXPECT_LE (worstFused, 2.0) << r.what;
    }

    // Exact points.
    EXPECT_EQ (sinekernel::sine (0.0), 0.0);
    EXPECT_EQ (sinekernel::sineFor<true> (0.0), 0.0);
    EXPECT_EQ (sinekernel::sine (1.0e-300), 1.0e-300);
}

TEST (SineKernel, SineCosineStaysWithinTwoUnitsInTheLastPlaceAndGivesTheDoubleAngle)
{
    // sin 2x as 2 sin x cos x: the product's relative error is the sum of the
    // factors', so it stays within a few units everywhere, zero crossings included.
    for (const auto& r : ranges)
    {
        double worst[2][3] = {}; // variant (plain, fused) x (sine, cosine, double angle)

        for (double x : samplesOf (r, 200000))
        {
            const sinekernel::SineCosine results[2] = { sinekernel::sineCosineFor<false> (x), sinekernel::sineCosineFor<true> (x) };
            for (int v = 0; v < 2; ++v)
            {
                const auto& sc = results[v];
                worst[v][0] = std::max (worst[v][0], ulpsBetween (sc.sine, std::sin (x)));
                worst[v][1] = std::max (worst[v][1], ulpsBetween (sc.cosine, std::cos (x)));
                worst[v][2] = std::max (worst[v][2], ulpsBetween (2.0 * sc.sine * sc.cosine, std::sin (2.0 * x)));
            }
        }

        for (int v = 0; v < 2; ++v)
        {
            const char* variant = v == 0 ? "plain" : "fused";
            EXPECT_LE (worst[v][0], 2.0) << r.what << ", " << variant << " sine";
            EXPECT_LE (worst[v][1], 2.0) << r.what << ", " << variant << " cosine";
            EXPECT_LE (worst[v][2], 5.0) << r.what << ", " << variant << " double angle";
        }
    }

    for (const auto& sc : { sinekernel::sineCosineFor<false> (0.0), sinekernel::sineCosineFor<true> (0.0) })
    {
        EXPECT_EQ (sc.sine, 0.0);
        EXPECT_EQ (sc.cosine, 1.0);
    }
}

TEST (SineKernel, BatchesRoundLikeTheLibraryAndReferenceModeIsTheLibrary)
{
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

    // Single precision: the reference mode is the library's tanhf; the kernel rounds to within one unit of it.
    for (float x : { -3.0f, -0.4f, 1.0e-6f, 0.3f, 0.7f, 2.5f, 9.5f })
    {
        EXPECT_EQ (sinekernel::hyperbolicTangent (x, MathMode::reference), std::tanh (x));
        EXPECT_NEAR (sinekernel::hyperbolicTangent (x, MathMode::fast), std::tanh (x),
                     std::abs (std::nextafter (std::tanh (x), 2.0f) - std::tanh (x))) << x;
    }
}
