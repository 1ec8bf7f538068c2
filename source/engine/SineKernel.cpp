#include "SineKernel.h"

#include <algorithm>
#include <atomic>

// The lane width is picked once, when the program starts: AVX-512 or AVX2 with
// fused multiply-adds where the processor has them, plain SSE2 otherwise. The
// loops are written for the compiler to vectorise; each variant below is the
// same loop compiled for its instruction set.
namespace sinekernel
{
namespace
{
template <bool fused>
inline __attribute__ ((always_inline)) void sineLoop (const double* __restrict x, float* __restrict out, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float> (sineFor<fused> (x[i]));
}

template <bool fused>
inline __attribute__ ((always_inline)) void floatSineLoop (const float* __restrict x, float* __restrict out, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float> (sineFor<fused> (static_cast<double> (x[i])));
}

template <bool fused>
inline __attribute__ ((always_inline)) void floatCosineLoop (const float* __restrict x, float* __restrict out, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float> (sineCosineFor<fused> (static_cast<double> (x[i])).cosine);
}

// Element by element, so the output may be the input.
inline __attribute__ ((always_inline)) void tanhLoop (const float* x, float* out, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float> (hyperbolicTangent (static_cast<double> (x[i])));
}

void plainFloatCosines (const float* x, float* out, int n) noexcept { floatCosineLoop<false> (x, out, n); }
BRASSGATE_LANES_AVX2 void avx2FloatCosines (const float* x, float* out, int n) noexcept { floatCosineLoop<true> (x, out, n); }
BRASSGATE_LANES_AVX512 void avx512FloatCosines (const float* x, float* out, int n) noexcept { floatCosineLoop<true> (x, out, n); }

void plainTangents (const float* x, float* out, int n) noexcept { tanhLoop (x, out, n); }
BRASSGATE_LANES_AVX2 void avx2Tangents (const float* x, float* out, int n) noexcept { tanhLoop (x, out, n); }
BRASSGATE_LANES_AVX512 void avx512Tangents (const float* x, float* out, int n) noexcept { tanhLoop (x, out, n); }

void plainSines (const double* x, float* out, int n) noexcept { sineLoop<false> (x, out, n); }
BRASSGATE_LANES_AVX2 void avx2Sines (const double* x, float* out, int n) noexcept { sineLoop<true> (x, out, n); }
BRASSGATE_LANES_AVX512 void avx512Sines (const double* x, float* out, int n) noexcept { sineLoop<true> (x, out, n); }

void plainFloatSines (const float* x, float* out, int n) noexcept { floatSineLoop<false> (x, out, n); }
BRASSGATE_LANES_AVX2 void avx2FloatSines (const float* x, float* out, int n) noexcept { floatSineLoop<true> (x, out, n); }
BRASSGATE_LANES_AVX512 void avx512FloatSines (const float* x, float* out, int n) noexcept { floatSineLoop<true> (x, out, n); }

LaneSet pickLaneSet() noexcept
{
#if BRASSGATE_HAVE_WIDE_LANES
    __builtin_cpu_init();
    const bool fma = __builtin_cpu_supports ("fma");
    if (fma && __builtin_cpu_supports ("avx512f") && __builtin_cpu_supports ("avx512dq")
        && __builtin_cpu_supports ("avx512vl") && __builtin_cpu_supports ("avx512bw") && __builtin_cpu_supports ("avx512cd"))
        return LaneSet::avx512;
    if (fma && __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("bmi2"))
        return LaneSet::avx2;
#endif
    return LaneSet::plain;
}

std::atomic<LaneSet> widestAllowed { LaneSet::avx512 };
} // namespace

LaneSet laneSet() noexcept
{
    static const LaneSet best = pickLaneSet();
    return std::min (best, widestAllowed.load (std::memory_order_relaxed));
}

void limitLaneSet (LaneSet widest) noexcept
{
    widestAllowed.store (widest, std::memory_order_relaxed);
}

void sinesToFloat (const double* x, float* out, int n) noexcept
{
    switch (laneSet())
    {
        case LaneSet::avx512: avx512Sines (x, out, n); break;
        case LaneSet::avx2: avx2Sines (x, out, n); break;
        default: plainSines (x, out, n); break;
    }
}

void sinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::sin (x[i]);
        return;
    }

    switch (laneSet())
    {
        case LaneSet::avx512: avx512FloatSines (x, out, n); break;
        case LaneSet::avx2: avx2FloatSines (x, out, n); break;
        default: plainFloatSines (x, out, n); break;
    }

    // Arguments beyond the kernel's range (a modulation clock left running for
    // days at a very low sample rate) go to the library.
    for (int i = 0; i < n; ++i)
        if (! (std::abs (x[i]) <= static_cast<float> (maxArgument)))
            out[i] = std::sin (x[i]);
}

void cosinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::cos (x[i]);
        return;
    }

    switch (laneSet())
    {
        case LaneSet::avx512: avx512FloatCosines (x, out, n); break;
        case LaneSet::avx2: avx2FloatCosines (x, out, n); break;
        default: plainFloatCosines (x, out, n); break;
    }

    // Arguments beyond the kernel's range go to the library.
    for (int i = 0; i < n; ++i)
        if (! (std::abs (x[i]) <= static_cast<float> (maxArgument)))
            out[i] = std::cos (x[i]);
}

void hyperbolicTangents (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::tanh (x[i]);
        return;
    }

    switch (laneSet())
    {
        case LaneSet::avx512: avx512Tangents (x, out, n); break;
        case LaneSet::avx2: avx2Tangents (x, out, n); break;
        default: plainTangents (x, out, n); break;
    }
}

void referenceSinesToFloat (const double* x, float* out, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float> (std::sin (x[i]));
}
} // namespace sinekernel
