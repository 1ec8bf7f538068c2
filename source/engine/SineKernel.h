#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The engines' sine and tanh kernels, evaluated in double precision and worked
// on many values at a time, and the switch between them and the C library.

// Which arithmetic the engines use for their sines and hyperbolic tangents.
// `fast` is the engines' own polynomial kernels, evaluated many lanes at a
// time; `reference` calls the C library for every value, one at a time. Both
// give the same sound within rounding (the kernels agree with the library to
// within a couple of units in the last place of a double, and the engines
// round every sine and tangent to single precision); `reference` exists so
// the engines can be compared against the library.
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

// A sine and a cosine of the same argument.
struct SineCosine
{
    double sine;
    double cosine;
};

namespace detail
{
constexpr double invPi = 0.318309886183790671538; // 1 / pi
// pi in four parts; the first three carry few enough bits that q x part is
// exact for every |q| below 2^24.
constexpr double piA = 3.1415926218032836914;
constexpr double piB = 3.1786509424591713469e-08;
constexpr double piC = 1.2246467864107188502e-16;
constexpr double piD = 1.2736634327021899816e-24;
// Adding 1.5 x 2^52 rounds to the nearest integer and leaves it in the low mantissa bits.
constexpr double roundMagic = 6755399441055744.0;

// sin(r) = r + r t P(t), t = r^2, |r| <= pi/2: a near-minimax fit, error below 4e-19.
constexpr double c0 = -0.16666666666666666;
constexpr double c1 = 0.008333333333333316;
constexpr double c2 = -0.00019841269841254974;
constexpr double c3 = 2.7557319219163234e-06;
constexpr double c4 = -2.5052107616996182e-08;
constexpr double c5 = 1.6058977312464087e-10;
constexpr double c6 = -7.643970296798572e-13;
constexpr double c7 = 2.7314447669863995e-15;

// v itself if it is already a vector of type T, otherwise v in every lane.
template <typename T, typename V>
inline __attribute__ ((always_inline)) T asLanes (const V& v) noexcept
{
    if constexpr (std::is_same_v<T, V>)
    {
        return v;
    }
    else
    {
        T lanes;
        for (int i = 0; i < static_cast<int> (sizeof (T) / sizeof (double)); ++i)
            lanes[i] = v;
        return lanes;
    }
}

// A multiply-add on one double or on every lane of a vector of doubles (a
// GCC vector type), fused or not; b and c may be plain doubles, which then
// stand for every lane.
template <bool fused, typename T, typename B, typename C>
inline __attribute__ ((always_inline)) T mulAdd (const T& a, const B& b, const C& c) noexcept
{
    if constexpr (! fused)
    {
        return a * b + c;
    }
    else if constexpr (std::is_arithmetic_v<T>)
    {
        return __builtin_fma (a, b, c);
    }
    else
    {
        // Every operand as a whole vector first: lane by lane on mixed
        // operands, the optimiser may leave some lanes scalar.
        const T bLanes = asLanes<T> (b), cLanes = asLanes<T> (c);
        T result;
        for (int i = 0; i < static_cast<int> (sizeof (T) / sizeof (double)); ++i)
            result[i] = __builtin_fma (a[i], bLanes[i], cLanes[i]);
        return result;
    }
}

// The bits of one double, or of every lane of a vector of doubles, as
// unsigned integers of the same width, and back.
template <typename T, bool = std::is_arithmetic_v<T>>
struct BitsFor
{
    using Type = std::uint64_t;
};

template <typename T>
struct BitsFor<T, false>
{
    typedef std::uint64_t Type __attribute__ ((vector_size (sizeof (T))));
};

template <typename T>
inline __attribute__ ((always_inline)) typename BitsFor<T>::Type bitsOf (const T& x) noexcept
{
    typename BitsFor<T>::Type bits;
    std::memcpy (&bits, &x, sizeof bits);
    return bits;
}

template <typename T, typename Bits>
inline __attribute__ ((always_inline)) T fromBits (const Bits& bits) noexcept
{
    T x;
    std::memcpy (&x, &bits, sizeof x);
    return x;
}

// Moves the parity of n (held in the low mantissa bit of `shifted`) into the
// sign of r: sin(r + n pi) = (-1)^n sin(r).
template <typename T>
inline __attribute__ ((always_inline)) T withParitySign (const T& r, const T& shifted) noexcept
{
    return fromBits<T> (bitsOf (r) ^ (bitsOf (shifted) << 63));
}

// pi as a double and the rest of it.
constexpr double piHigh = 3.141592653589793;
constexpr double piLow = 1.2246467991473532e-16;

// p t + c for each coefficient c in turn, from p = highest t + next on: a
// polynomial in t by Horner's rule, coefficients from the highest power down.
template <bool fused, typename T, typename... Rest>
inline __attribute__ ((always_inline)) T hornerFrom (const T& p, const T& t, double next, Rest... rest) noexcept
{
    const T q = mulAdd<fused> (p, t, next);
    if constexpr (sizeof... (rest) == 0)
        return q;
    else
        return hornerFrom<fused> (q, t, rest...);
}

template <bool fused, typename T, typename... Rest>
inline __attribute__ ((always_inline)) T polynomial (const T& t, double highest, double next, Rest... rest) noexcept
{
    const T p = mulAdd<fused> (t, highest, next);
    if constexpr (sizeof... (rest) == 0)
        return p;
    else
        return hornerFrom<fused> (p, t, rest...);
}

// x less the nearest whole number n of steps of `fraction` x pi (1 or 1/2),
// with n left in the low mantissa bits of `shifted`. Without fused
// multiply-adds (for processors that lack them, where each would be a slow
// library call) pi is taken in four parts, the first three short enough for
// their products to be exact; halving them keeps them so. With them, the
// first step is exact, since x and n pi_high are multiples of 2^-51 once
// |x| >= 2 and within a factor 2 of each other below.
template <bool fused, typename T>
inline __attribute__ ((always_inline)) T reduced (const T& x, double fraction, T& shifted) noexcept
{
    shifted = mulAdd<fused> (x, invPi / fraction, roundMagic);
    const T n = shifted - roundMagic;
    if constexpr (fused)
    {
        const T r = mulAdd<true> (-n, fraction * piHigh, x);
        return mulAdd<true> (-n, fraction * piLow, r);
    }
    else
    {
        T r = x - n * (fraction * piA);
        r = r - n * (fraction * piB);
        r = r - n * (fraction * piC);
        return r - n * (fraction * piD);
    }
}

// sin(x) for |x| <= maxArgument, of one double or of every lane of a vector:
// reduced by half turns, whose parity signs the result.
template <bool fused, typename T>
inline __attribute__ ((always_inline)) T sineOf (const T& x) noexcept
{
    T shifted;
    const T r = withParitySign (reduced<fused> (x, 1.0, shifted), shifted); // in [-pi/2, pi/2]
    const T t = r * r;
    const T p = polynomial<fused> (t, c7, c6, c5, c4, c3, c2, c1, c0);
    return mulAdd<fused> (r * t, p, r);
}

// sin and cos of one argument from one reduction, by quarter turns:
// x = q pi/2 + r with |r| <= pi/4, where both series converge fast and cos r
// stays above 0.7 (no cancellation), then the quadrant q picks and signs them.

// sin r = r + r t S(t) and cos r = 1 + t (-1/2 + t C(t)), t = r^2, |r| <= pi/4:
// the Taylor series to r^17 and r^16, whose first omitted terms stay below
// 1e-19 and 3e-18 there. Both end on a step that adds a small term to r or 1
// (cos r stays above 0.7), which keeps the rounding errors of the earlier
// steps well below a unit in the last place.
constexpr double s1 = -1.0 / 6.0;                 // -1/3!
constexpr double s2 = 1.0 / 120.0;                // 1/5!
constexpr double s3 = -1.0 / 5040.0;              // -1/7!
constexpr double s4 = 1.0 / 362880.0;             // 1/9!
constexpr double s5 = -1.0 / 39916800.0;          // -1/11!
constexpr double s6 = 1.0 / 6227020800.0;         // 1/13!
constexpr double s7 = -1.0 / 1307674368000.0;     // -1/15!
constexpr double s8 = 1.0 / 355687428096000.0;    // 1/17!
constexpr double k1 = 1.0 / 24.0;                 // 1/4!
constexpr double k2 = -1.0 / 720.0;               // -1/6!
constexpr double k3 = 1.0 / 40320.0;              // 1/8!
constexpr double k4 = -1.0 / 3628800.0;           // -1/10!
constexpr double k5 = 1.0 / 479001600.0;          // 1/12!
constexpr double k6 = -1.0 / 87178291200.0;       // -1/14!
constexpr double k7 = 1.0 / 20922789888000.0;     // 1/16!

// sin(x + q pi/2) and cos(x + q pi/2) from sin r = sr and cos r = cr, q
// being held in the low mantissa bits of `shifted`: odd quadrants swap the
// two, quadrants 2 and 3 negate the sine, 1 and 2 the cosine.
template <typename T>
inline __attribute__ ((always_inline)) void inQuadrant (const T& sr, const T& cr, const T& shifted, T& sine, T& cosine) noexcept
{
    const auto q = bitsOf (shifted);
    const auto sBits = bitsOf (sr);
    const auto cBits = bitsOf (cr);
    const auto swap = 0 - (q & 1); // all ones in odd quadrants
    sine = fromBits<T> (((sBits & ~swap) | (cBits & swap)) ^ ((q & 2) << 62));
    cosine = fromBits<T> (((cBits & ~swap) | (sBits & swap)) ^ (((q + 1) & 2) << 62));
}

// sin(x) and cos(x), |x| <= maxArgument, of one double or of every lane of a
// vector, reduced by quarter turns.
template <bool fused, typename T>
inline __attribute__ ((always_inline)) void sineCosineOf (const T& x, T& sine, T& cosine) noexcept
{
    T shifted;
    const T r = reduced<fused> (x, 0.5, shifted); // in [-pi/4, pi/4]
    const T t = r * r;
    const T ps = polynomial<fused> (t, s8, s7, s6, s5, s4, s3, s2, s1);
    const T pc = polynomial<fused> (t, k7, k6, k5, k4, k3, k2, k1, -0.5);
    inQuadrant (mulAdd<fused> (r * t, ps, r), mulAdd<fused> (pc, t, 1.0), shifted, sine, cosine);
}
} // namespace detail

// floor(x) for 0 <= x < 2^31 (where it equals truncation), in a form that
// vectorises on every instruction set, where the library's floor does not.
inline double floorOf (double x) noexcept
{
    return static_cast<double> (static_cast<std::int32_t> (x));
}

// The kernel for code compiled with (true) or without fused multiply-adds.
template <bool fused>
inline __attribute__ ((always_inline)) double sineFor (double x) noexcept
{
    return detail::sineOf<fused> (x);
}

// sin(x) and cos(x) together, |x| <= maxArgument, for code compiled with (true)
// or without fused multiply-adds; within two units in the last place of each.
template <bool fused>
inline __attribute__ ((always_inline)) SineCosine sineCosineFor (double x) noexcept
{
    SineCosine result;
    detail::sineCosineOf<fused> (x, result.sine, result.cosine);
    return result;
}

// Instruction sets the engines' wide loops are compiled for, widest last.
enum class LaneSet
{
    plain,  // SSE2, which every x86-64 processor has; no fused multiply-add
    avx2,   // AVX2 with fused multiply-add
    avx512  // AVX-512 with fused multiply-add
};

// The set the engines use: the widest this processor runs (found once), or
// a narrower one after limitLaneSet.
LaneSet laneSet() noexcept;

// Keeps every engine in the process to `widest` or narrower from the next
// block on, so that the narrower variants can be run and compared on a
// processor that has wider ones; LaneSet::avx512 lifts the limit.
void limitLaneSet (LaneSet widest) noexcept;

// Compiles a function for one of the sets; its caller picks it by laneSet().
#if defined(__x86_64__) && defined(__GNUC__)
  #define BRASSGATE_LANES_AVX512 __attribute__ ((target ("arch=x86-64-v4")))
  #define BRASSGATE_LANES_AVX2 __attribute__ ((target ("arch=x86-64-v3")))
  #define BRASSGATE_HAVE_WIDE_LANES 1
#else
  #define BRASSGATE_LANES_AVX512
  #define BRASSGATE_LANES_AVX2
  #define BRASSGATE_HAVE_WIDE_LANES 0
#endif

// sin(x), radians, |x| <= maxArgument.
inline double sine (double x) noexcept
{
    return detail::sineOf<false> (x);
}

// tanh(x) in double precision, within a few units in the last place: from
// e^(2|x|) - 1 = 2^k (e^r - 1) + (2^k - 1), r = 2|x| - k ln 2, which keeps its
// relative accuracy for small x as well as large. e^r - 1 is the Taylor
// series to r^13 (error below 5e-18 for |r| <= ln 2 / 2), summed in a tree
// rather than one term after another, for a short dependency chain. Small
// signals (a quiet or fading organ) take the Taylor series of tanh to x^11,
// whose next term is below 1e-24 of the result. Both are worked out and one
// is picked, without branches, so that loops over many values vectorise.
inline __attribute__ ((always_inline)) double hyperbolicTangent (double x) noexcept
{
    const double a = std::abs (x);
    const double clamped = a < 22.0 ? a : 22.0; // tanh is 1 to double precision beyond; also takes NaN

    const double t = a * a;
    double q = -1382.0 / 155925.0;
    q = q * t + 62.0 / 2835.0;
    q = q * t - 17.0 / 315.0;
    q = q * t + 2.0 / 15.0;
    q = q * t - 1.0 / 3.0;
    const double small = a + (a * t) * q;

    constexpr double ln2High = 6.93147180369123816490e-01; // few enough bits that k x ln2High is exact
    constexpr double ln2Low = 1.90821492927058770002e-10;
    constexpr double invLn2 = 1.4426950408889634;

    const double y = clamped + clamped;
    const double k = (y * invLn2 + detail::roundMagic) - detail::roundMagic; // 0 to 64
    const double r = (y - k * ln2High) - k * ln2Low;

    const double r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    const double p0 = 0.5 + 0.16666666666666666 * r;                      // 1/2!, 1/3!
    const double p1 = 0.041666666666666664 + 0.008333333333333333 * r;    // 1/4!, 1/5!
    const double p2 = 0.001388888888888889 + 0.0001984126984126984 * r;   // 1/6!, 1/7!
    const double p3 = 2.48015873015873e-05 + 2.7557319223985893e-06 * r;  // 1/8!, 1/9!
    const double p4 = 2.755731922398589e-07 + 2.505210838544172e-08 * r;  // 1/10!, 1/11!
    const double p5 = 2.08767569878681e-09 + 1.6059043836821613e-10 * r;  // 1/12!, 1/13!
    const double tail = (p0 + p1 * r2) + (p2 + p3 * r2) * r4 + (p4 + p5 * r2) * r8;
    const double expm1r = r + r2 * tail;                                   // e^r - 1

    // 2^k, exact: k + 1023 sits in the low mantissa bits of the shifted sum.
    const double biased = k + (detail::roundMagic + 1023.0);
    std::uint64_t scaleBits;
    std::memcpy (&scaleBits, &biased, sizeof scaleBits);
    scaleBits <<= 52;
    double scale;
    std::memcpy (&scale, &scaleBits, sizeof scale);
    const double em = scale * expm1r + (scale - 1.0);                      // e^y - 1
    const double large = em / (em + 2.0);

    double result = a < 0.015625 ? small : large;
    result = a > 22.0 ? 1.0 : result;
    result = a == a ? result : a; // NaN passes on
    return std::copysign (result, x);
}

// Single-precision cosines of single-precision arguments: out[i] = cos(x[i])
// for n values with |x[i]| <= maxArgument, the double kernel rounded, many
// lanes at a time; in reference mode the C library's single-precision cosine.
void cosinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept;

// out[i] = float(tanh(x[i])) for n values, many lanes at a time: the double
// kernel rounded, or in reference mode the C library's single-precision tanh.
void hyperbolicTangents (const float* x, float* out, int n, MathMode mode) noexcept;

// Single-precision tanh of a single-precision argument for either mode: the
// double kernel rounded (a correctly rounded result but for the rarest
// arguments), or the C library's single-precision tanh.
inline float hyperbolicTangent (float x, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
        return std::tanh (x);

    return static_cast<float> (hyperbolicTangent (static_cast<double> (x)));
}

// out[i] = float(sin(x[i])) for n values with |x[i]| <= maxArgument; many lanes at a time.
void sinesToFloat (const double* x, float* out, int n) noexcept;

// The same with the C library's sine.
void referenceSinesToFloat (const double* x, float* out, int n) noexcept;

// Single-precision sines of single-precision arguments: out[i] = sin(x[i]) for
// n values with |x[i]| <= maxArgument, the double kernel rounded, many lanes at
// a time; in reference mode the C library's single-precision sine.
void sinesOfFloats (const float* x, float* out, int n, MathMode mode) noexcept;

inline void sinesToFloat (const double* x, float* out, int n, MathMode mode) noexcept
{
    if (mode == MathMode::reference)
        referenceSinesToFloat (x, out, n);
    else
        sinesToFloat (x, out, n);
}

// sin(x) of a single value for either mode; arguments beyond maxArgument go to the C library.
inline double sine (double x, MathMode mode) noexcept
{
    if (mode == MathMode::reference || ! (std::abs (x) <= maxArgument))
        return std::sin (x);

    return sine (x);
}

} // namespace sinekernel
