#pragma once

#include <cmath>
#include <cstdint>

// The engines' sine and tanh kernels, evaluated in double precision on many
// values at a time, and the switch between them and the C library. The vector
// kernels themselves are in SineKernel-inl.h; the functions here run them on
// arrays with the instruction set the SIMD library chose for this processor.

// Which arithmetic the engines use for their sines and hyperbolic tangents.
// `fast` is the engines' own polynomial kernels, evaluated many lanes at a
// time; `reference` calls the C library for every value, one at a time. Both
// give the same sound within rounding (the double kernels agree with the
// library to within a couple of units in the last place of a double, the
// kernels for single-precision results to far below one unit of a single,
// and the engines round every sine and tangent to single precision). The two
// differ in nothing else, so the engines can be compared against the library.
enum class MathMode
{
    fast,
    reference
};

namespace sinekernel
{
// Arguments up to this magnitude (radians) are reduced exactly enough for the
// result to stay within two units in the last place. The engines' arguments
// stay far below it; callers whose arguments are unbounded check it.
constexpr double maxArgument = 1.0e6;

// floor(x) for 0 <= x < 2^31 (where it equals truncation), in a form that
// vectorises on every instruction set, where the library's floor does not.
inline double floorOf (double x) noexcept
{
    return static_cast<double> (static_cast<std::int32_t> (x));
}

// sin(x) of one value, |x| <= maxArgument, by the engines' own kernel.
double sine (double x) noexcept;

// sin(x) of a single value for either mode; arguments beyond maxArgument go to the C library.
inline double sine (double x, MathMode mode) noexcept
{
    if (mode == MathMode::reference || ! (std::abs (x) <= maxArgument))
        return std::sin (x);

    return sine (x);
}

// tanh(x) of one value in double precision, within a few units in the last
// place; the same bits as the many-values-at-a-time kernel on every processor.
double hyperbolicTangent (double x) noexcept;

// tanh(x) of one single-precision value: a shorter double kernel, rounded (a
// correctly rounded result but for the rarest arguments), as compiled for the
// instruction set the SIMD library chose; the same bits as hyperbolicTangents.
float hyperbolicTangentRounded (float x) noexcept;

// Single-precision tanh of a single-precision argument for either mode: the
// kernel above, or the C library's single-precision tanh.
inline float hyperbolicTangent (float x, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
        return std::tanh (x);

    return hyperbolicTangentRounded (x);
}

// out[i] = float(sin(x[i])) for n values with |x[i]| <= maxArgument, many lanes
// at a time; in reference mode the C library's sine, rounded.
void sinesToFloat (const double* x, float* out, int n, MathMode mode) noexcept;

// Single-precision sines of single-precision arguments: out[i] = sin(x[i]),
// the double kernel rounded; arguments beyond maxArgument, and every argument
// in reference mode, go to the C library's single-precision sine.
void sinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept;

// The same for cosines.
void cosinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept;

// out[i] = sinf (x[i]) for n values with the C library's bits, many lanes at
// a time: glibc's algorithm (which the Windows build links too), step by step
// below 120, and the library itself from 120 on. For callers that round a
// result again (a delay in samples), where a difference of one unit would
// show. In reference mode the library for every value.
void librarySines (const float* x, float* out, int n, MathMode mode) noexcept;

// out[i] = float(tanh(x[i])) for n values, many lanes at a time: the kernel of
// hyperbolicTangentRounded, or in reference mode the C library's single-precision tanh.
// The output may be the input.
void hyperbolicTangents (const float* x, float* out, int n, MathMode mode) noexcept;

// The name of the instruction set the SIMD library chose for the engines'
// wide loops on this processor: "AVX-512", "AVX2", "SSE4", or the name of the
// portable fallback or of another architecture's set ("NEON" on ARM).
const char* instructionSetName() noexcept;

} // namespace sinekernel
