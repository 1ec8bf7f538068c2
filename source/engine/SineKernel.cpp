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

// out[i] = f (x[i]) of single-precision values: in reference mode the C
// library's f, value by value; otherwise the vector kernel, with the arguments
// beyond its reach (above limit in magnitude, or NaN) handed to the library.
// Whether any lies beyond is one pass without branches, which vectorises,
// before any value is looked at again.
template <class Library>
static void floatsThrough (const float* x, float* out, int n, MathMode mode, float limit, Library library,
                           void (*kernel) (const float*, float*, int)) noexcept
{
    if (mode == MathMode::reference)
    {
        for (int i = 0; i < n; ++i)
            out[i] = library (x[i]);
        return;
    }

    kernel (x, out, n);

    int beyond = 0;
    for (int i = 0; i < n; ++i)
        beyond |= ! (std::abs (x[i]) <= limit);
    if (beyond != 0)
        for (int i = 0; i < n; ++i)
            if (! (std::abs (x[i]) <= limit))
                out[i] = library (x[i]);
}

// The engines' kernels reach maxArgument (a modulation clock left running for
// days at a very low sample rate goes beyond); the library's own steps reach
// the float below 120, beyond which the library reduces the argument exactly.
constexpr float kernelLimit = static_cast<float> (maxArgument);
constexpr float libraryStepsLimit = 0x1.dffffep6f;
const auto librarySine = [] (float v) { return std::sin (v); };

void sinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept
{
    floatsThrough (x, out, n, mode, kernelLimit, librarySine, HWY_DYNAMIC_DISPATCH (sinesOfFloatsHere));
}

void cosinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept
{
    floatsThrough (x, out, n, mode, kernelLimit, [] (float v) { return std::cos (v); }, HWY_DYNAMIC_DISPATCH (cosinesOfFloatsHere));
}

void librarySines (const float* x, float* out, int n, MathMode mode) noexcept
{
    floatsThrough (x, out, n, mode, libraryStepsLimit, librarySine, HWY_DYNAMIC_DISPATCH (librarySinesHere));
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
