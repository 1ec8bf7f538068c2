// The array functions of the sine kernel, compiled once per instruction set;
// the SIMD library picks the widest this processor runs, once per process.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "SineKernel.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "SineKernel-inl.h"
#include "SineKernel.h"

HWY_BEFORE_NAMESPACE();
namespace sinekernel
{
namespace HWY_NAMESPACE
{
void sinesToFloatHere (const double* x, float* out, int n) { SinesToFloat (x, out, n); }
void sinesOfFloatsHere (const float* x, float* out, int n) { SinesOfFloats<false> (x, out, n); }
void cosinesOfFloatsHere (const float* x, float* out, int n) { SinesOfFloats<true> (x, out, n); }
void tangentsHere (const float* x, float* out, int n) { TangentsOfFloats (x, out, n); }
void librarySinesHere (const float* x, float* out, int n) { LibrarySinesOfFloats (x, out, n); }
} // namespace HWY_NAMESPACE
} // namespace sinekernel
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace sinekernel
{
HWY_EXPORT (sinesToFloatHere);
HWY_EXPORT (sinesOfFloatsHere);
HWY_EXPORT (cosinesOfFloatsHere);
HWY_EXPORT (tangentsHere);
HWY_EXPORT (librarySinesHere);

namespace hn = hwy::HWY_NAMESPACE; // the instruction set the whole program is compiled for

double sine (double x) noexcept
{
    const hn::CappedTag<double, 1> d;
    return hn::GetLane (HWY_NAMESPACE::Sine (d, hn::Set (d, x)));
}

double hyperbolicTangent (double x) noexcept
{
    const hn::CappedTag<double, 1> d;
    return hn::GetLane (HWY_NAMESPACE::HyperbolicTangent (d, hn::Set (d, x)));
}

void sinesToFloat (const double* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = static_cast<float> (std::sin (x[i]));
        return;
    }

    HWY_DYNAMIC_DISPATCH (sinesToFloatHere) (x, out, n);
}

// Whether any argument lies beyond a kernel's range (or is NaN): one pass
// without branches, which vectorises, before any value is looked at again.
static bool anyBeyondKernel (const float* x, int n, float limit = static_cast<float> (maxArgument)) noexcept
{
    int beyond = 0;
    for (int i = 0; i < n; ++i)
        beyond |= ! (std::abs (x[i]) <= limit);
    return beyond != 0;
}

void sinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::sin (x[i]);
        return;
    }

    HWY_DYNAMIC_DISPATCH (sinesOfFloatsHere) (x, out, n);

    // Arguments beyond the kernel's range (a modulation clock left running for
    // days at a very low sample rate) go to the library.
    if (anyBeyondKernel (x, n))
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

    HWY_DYNAMIC_DISPATCH (cosinesOfFloatsHere) (x, out, n);

    if (anyBeyondKernel (x, n))
        for (int i = 0; i < n; ++i)
            if (! (std::abs (x[i]) <= static_cast<float> (maxArgument)))
                out[i] = std::cos (x[i]);
}

void librarySines (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::sin (x[i]);
        return;
    }

    HWY_DYNAMIC_DISPATCH (librarySinesHere) (x, out, n);

    // From 120 on (and for NaN) the library itself, with its exact reduction.
    constexpr float limit = 0x1.dffffep6f; // the float below 120
    if (anyBeyondKernel (x, n, limit))
        for (int i = 0; i < n; ++i)
            if (! (std::abs (x[i]) <= limit))
                out[i] = std::sin (x[i]);
}

void hyperbolicTangents (const float* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = std::tanh (x[i]);
        return;
    }

    HWY_DYNAMIC_DISPATCH (tangentsHere) (x, out, n);
}

float hyperbolicTangentRounded (float x) noexcept
{
    float tangent;
    HWY_DYNAMIC_DISPATCH (tangentsHere) (&x, &tangent, 1);
    return tangent;
}

const char* instructionSetName() noexcept
{
    const std::int64_t supported = hwy::SupportedTargets() & HWY_TARGETS;
    const std::int64_t best = supported & -supported; // lower bits are wider sets
  #if HWY_ARCH_X86
    if (best == HWY_AVX3 || best == HWY_AVX3_DL)
        return "AVX-512";
  #endif
    return hwy::TargetName (best);
}
} // namespace sinekernel
#endif
