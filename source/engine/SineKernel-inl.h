// The engines' sine, sine-and-cosine and tanh kernels on the SIMD library's
// vectors, in double precision, compiled once per instruction set.
//
// Included by every translation unit that works on many values at a time,
// inside its per-instruction-set region; the include guard toggles with the
// library's target so that each target gets its own copy.

#if defined(BRASSGATE_SINE_KERNEL_INL_H_) == defined(HWY_TARGET_TOGGLE)
  #ifdef BRASSGATE_SINE_KERNEL_INL_H_
    #undef BRASSGATE_SINE_KERNEL_INL_H_
  #else
    #define BRASSGATE_SINE_KERNEL_INL_H_
  #endif

  #include <hwy/highway.h>

  #include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace sinekernel
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// Whether MulAdd is one fused instruction on this target. Without it (SSE4 and
// the portable fallbacks) a multiply-add rounds twice, and the argument
// reduction takes pi in four short parts whose products stay exact.
  #if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SSSE3 || HWY_TARGET == HWY_SSE4
constexpr bool fusedMulAdd = false;
  #else
constexpr bool fusedMulAdd = true;
  #endif

namespace detail
{
constexpr double invPi = 0.318309886183790671538; // 1 / pi
// pi in four parts; the first three carry few enough bits that q x part is
// exact for every |q| below 2^24.
constexpr double piA = 3.1415926218032836914;
constexpr double piB = 3.1786509424591713469e-08;
constexpr double piC = 1.2246467864107188502e-16;
constexpr double piD = 1.2736634327021899816e-24;
// pi as a double and the rest of it.
constexpr double piHigh = 3.141592653589793;
constexpr double piLow = 1.2246467991473532e-16;
// Adding 1.5 x 2^52 rounds to the nearest integer and leaves it in the low mantissa bits.
constexpr double roundMagic = 6755399441055744.0;

// sin(r) = r + r t P(t), t = r^2, |r| <= pi/2: a near-minimax fit, error below 4e-19.
constexpr double sinePolynomial[8] = { 2.7314447669863995e-15, -7.643970296798572e-13, 1.6058977312464087e-10, -2.5052107616996182e-08,
                                       2.7557319219163234e-06, -0.00019841269841254974, 0.008333333333333316, -0.16666666666666666 };

// sin r = r + r t S(t) and cos r = 1 + t (-1/2 + t C(t)), t = r^2, |r| <= pi/4:
// the Taylor series to r^17 and r^16, whose first omitted terms stay below
// 1e-19 and 3e-18 there. Both end on a step that adds a small term to r or 1
// (cos r stays above 0.7), which keeps the rounding errors of the earlier
// steps well below a unit in the last place.
constexpr double quarterSine[8] = { 1.0 / 355687428096000.0, -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
                                    1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0 };
constexpr double quarterCosine[8] = { 1.0 / 20922789888000.0, -1.0 / 87178291200.0, 1.0 / 479001600.0, -1.0 / 3628800.0,
                                      1.0 / 40320.0, -1.0 / 720.0, 1.0 / 24.0, -0.5 };

// A polynomial in t by Horner's rule, coefficients from the highest power down.
template <class D, class V>
HWY_INLINE V polynomial (D d, V t, const double (&c)[8])
{
    V p = hn::MulAdd (t, hn::Set (d, c[0]), hn::Set (d, c[1]));
    for (int i = 2; i < 8; ++i)
        p = hn::MulAdd (p, t, hn::Set (d, c[i]));
    return p;
}

// x less the nearest whole number n of steps of `fraction` x pi (1 or 1/2),
// with n left in the low mantissa bits of `shifted`. With a fused
// multiply-add the first step is exact, since x and n pi_high are multiples
// of 2^-51 once |x| >= 2 and within a factor 2 of each other below.
template <class D, class V>
HWY_INLINE V reduced (D d, V x, double fraction, V& shifted)
{
    shifted = hn::MulAdd (x, hn::Set (d, invPi / fraction), hn::Set (d, roundMagic));
    const V n = hn::Sub (shifted, hn::Set (d, roundMagic));
    if constexpr (fusedMulAdd)
    {
        const V r = hn::NegMulAdd (n, hn::Set (d, fraction * piHigh), x);
        return hn::NegMulAdd (n, hn::Set (d, fraction * piLow), r);
    }
    else
    {
        V r = hn::Sub (x, hn::Mul (n, hn::Set (d, fraction * piA)));
        r = hn::Sub (r, hn::Mul (n, hn::Set (d, fraction * piB)));
        r = hn::Sub (r, hn::Mul (n, hn::Set (d, fraction * piC)));
        return hn::Sub (r, hn::Mul (n, hn::Set (d, fraction * piD)));
    }
}
} // namespace detail

// sin(x) in every lane, |x| <= maxArgument, within two units in the last
// place: reduced by half turns, whose parity signs the result.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V Sine (D d, V x)
{
    const hn::RebindToUnsigned<D> du;
    V shifted;
    V r = detail::reduced (d, x, 1.0, shifted); // in [-pi/2, pi/2]
    // sin(r + n pi) = (-1)^n sin(r): the parity of n, in the low mantissa bit, becomes the sign.
    r = hn::BitCast (d, hn::Xor (hn::BitCast (du, r), hn::ShiftLeft<63> (hn::BitCast (du, shifted))));
    const V t = hn::Mul (r, r);
    const V p = detail::polynomial (d, t, detail::sinePolynomial);
    return hn::MulAdd (hn::Mul (r, t), p, r);
}

// sin(x) and cos(x) in every lane from one reduction by quarter turns,
// x = q pi/2 + r with |r| <= pi/4, where both series converge fast and cos r
// stays above 0.7; the quadrant q then picks and signs them. Within two units
// in the last place of each.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void SineCosine (D d, V x, V& sine, V& cosine)
{
    const hn::RebindToUnsigned<D> du;
    V shifted;
    const V r = detail::reduced (d, x, 0.5, shifted); // in [-pi/4, pi/4]
    const V t = hn::Mul (r, r);
    const V sr = hn::MulAdd (hn::Mul (r, t), detail::polynomial (d, t, detail::quarterSine), r);
    const V cr = hn::MulAdd (detail::polynomial (d, t, detail::quarterCosine), t, hn::Set (d, 1.0));

    // Odd quadrants swap the two, quadrants 2 and 3 negate the sine, 1 and 2 the cosine.
    const auto q = hn::BitCast (du, shifted);
    const auto one = hn::Set (du, 1);
    const auto two = hn::Set (du, 2);
    const auto swap = hn::RebindMask (d, hn::Eq (hn::And (q, one), one));
    const auto sineSign = hn::ShiftLeft<62> (hn::And (q, two));
    const auto cosineSign = hn::ShiftLeft<62> (hn::And (hn::Add (q, one), two));
    sine = hn::BitCast (d, hn::Xor (hn::BitCast (du, hn::IfThenElse (swap, cr, sr)), sineSign));
    cosine = hn::BitCast (d, hn::Xor (hn::BitCast (du, hn::IfThenElse (swap, sr, cr)), cosineSign));
}

// tanh(x) in every lane, within a few units in the last place: from
// e^(2|x|) - 1 = 2^k (e^r - 1) + (2^k - 1), r = 2|x| - k ln 2, which keeps its
// relative accuracy for small x as well as large. e^r - 1 is the Taylor series
// to r^13 (error below 5e-18 for |r| <= ln 2 / 2), summed in a tree for a short
// dependency chain. Small signals (a quiet or fading organ) take the Taylor
// series of tanh to x^11, whose next term is below 1e-24 of the result. Both
// are worked out and one is picked per lane. Only separate multiplies and adds,
// never fused ones, so every instruction set gives the same bits.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V HyperbolicTangent (D d, V x)
{
    const hn::RebindToUnsigned<D> du;
    const auto c = [d] (double value) { return hn::Set (d, value); };
    const auto mulAdd = [] (V a, V b, V addend) { return hn::Add (hn::Mul (a, b), addend); };

    const V a = hn::Abs (x);
    const V clamped = hn::Min (a, c (22.0)); // tanh is 1 to double precision beyond

    const V t = hn::Mul (a, a);
    V q = c (-1382.0 / 155925.0);
    q = mulAdd (q, t, c (62.0 / 2835.0));
    q = mulAdd (q, t, c (-17.0 / 315.0));
    q = mulAdd (q, t, c (2.0 / 15.0));
    q = mulAdd (q, t, c (-1.0 / 3.0));
    const V small = hn::Add (a, hn::Mul (hn::Mul (a, t), q));

    constexpr double ln2High = 6.93147180369123816490e-01; // few enough bits that k x ln2High is exact
    constexpr double ln2Low = 1.90821492927058770002e-10;
    constexpr double invLn2 = 1.4426950408889634;

    const V y = hn::Add (clamped, clamped);
    const V k = hn::Sub (mulAdd (y, c (invLn2), c (detail::roundMagic)), c (detail::roundMagic)); // 0 to 64
    const V r = hn::Sub (hn::Sub (y, hn::Mul (k, c (ln2High))), hn::Mul (k, c (ln2Low)));

    const V r2 = hn::Mul (r, r), r4 = hn::Mul (r2, r2), r8 = hn::Mul (r4, r4);
    const V p0 = mulAdd (c (0.16666666666666666), r, c (0.5));                  // 1/2!, 1/3!
    const V p1 = mulAdd (c (0.008333333333333333), r, c (0.041666666666666664)); // 1/4!, 1/5!
    const V p2 = mulAdd (c (0.0001984126984126984), r, c (0.001388888888888889)); // 1/6!, 1/7!
    const V p3 = mulAdd (c (2.7557319223985893e-06), r, c (2.48015873015873e-05)); // 1/8!, 1/9!
    const V p4 = mulAdd (c (2.505210838544172e-08), r, c (2.755731922398589e-07)); // 1/10!, 1/11!
    const V p5 = mulAdd (c (1.6059043836821613e-10), r, c (2.08767569878681e-09)); // 1/12!, 1/13!
    const V tail = hn::Add (hn::Add (mulAdd (p1, r2, p0), hn::Mul (mulAdd (p3, r2, p2), r4)), hn::Mul (mulAdd (p5, r2, p4), r8));
    const V expm1r = mulAdd (r2, tail, r); // e^r - 1

    // 2^k, exact: k + 1023 sits in the low mantissa bits of the shifted sum.
    const V biased = hn::Add (k, c (detail::roundMagic + 1023.0));
    const V scale = hn::BitCast (d, hn::ShiftLeft<52> (hn::BitCast (du, biased)));
    const V em = mulAdd (scale, expm1r, hn::Sub (scale, c (1.0))); // e^y - 1
    const V large = hn::Div (em, hn::Add (em, c (2.0)));

    V result = hn::IfThenElse (hn::Lt (a, c (0.015625)), small, large);
    result = hn::IfThenElse (hn::Gt (a, c (22.0)), c (1.0), result);
    result = hn::IfThenElse (hn::Eq (a, a), result, a); // NaN passes on
    return hn::CopySign (result, x);
}

// tanh(x) in every lane for single-precision results: the same e^2|x| route
// as above without the small-argument branch (e^r - 1 keeps its relative
// accuracy down to the smallest r) and with e^r - 1 to r^9, whose next term
// is below 3e-11 of it. That is 1/2000 of a single-precision unit, so the
// rounded result is the correctly rounded tanh but for the rarest arguments.
// Beyond |x| = 10, tanh rounds to 1. Multiply-adds are fused where the
// instruction set has them; the one-value path (hyperbolicTangentRounded)
// runs this same code, so the two agree on any one processor.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V HyperbolicTangentToRound (D d, V x)
{
    const hn::RebindToUnsigned<D> du;
    const auto c = [d] (double value) { return hn::Set (d, value); };
    const auto mulAdd = [] (V a, V b, V addend) { return hn::MulAdd (a, b, addend); };

    constexpr double ln2High = 6.93147180369123816490e-01; // few enough bits that k x ln2High is exact
    constexpr double ln2Low = 1.90821492927058770002e-10;
    constexpr double invLn2 = 1.4426950408889634;

    const V a = hn::Abs (x);
    const V clamped = hn::Min (a, c (10.0));
    const V y = hn::Add (clamped, clamped);
    const V k = hn::Sub (mulAdd (y, c (invLn2), c (detail::roundMagic)), c (detail::roundMagic)); // 0 to 29
    const V r = hn::NegMulAdd (k, c (ln2Low), hn::NegMulAdd (k, c (ln2High), y));

    const V r2 = hn::Mul (r, r), r4 = hn::Mul (r2, r2);
    const V p0 = mulAdd (c (0.16666666666666666), r, c (0.5));                  // 1/2!, 1/3!
    const V p1 = mulAdd (c (0.008333333333333333), r, c (0.041666666666666664)); // 1/4!, 1/5!
    const V p2 = mulAdd (c (0.0001984126984126984), r, c (0.001388888888888889)); // 1/6!, 1/7!
    const V p3 = mulAdd (c (2.755731922398589e-06), r, c (2.48015873015873e-05)); // 1/8!, 1/9!
    const V tail = hn::Add (mulAdd (p1, r2, p0), hn::Mul (mulAdd (p3, r2, p2), r4));
    const V expm1r = mulAdd (r2, tail, r); // e^r - 1, summed in a tree for a short dependency chain

    const V biased = hn::Add (k, c (detail::roundMagic + 1023.0));
    const V scale = hn::BitCast (d, hn::ShiftLeft<52> (hn::BitCast (du, biased)));
    const V em = mulAdd (scale, expm1r, hn::Sub (scale, c (1.0))); // e^y - 1
    V result = hn::Div (em, hn::Add (em, c (2.0)));
    result = hn::IfThenElse (hn::Eq (a, a), result, a); // NaN passes on
    return hn::CopySign (result, x);
}

// sin x and cos x moved on by an angle whose cosine and sine are given.
template <class V>
HWY_INLINE void Rotate (V& sine, V& cosine, V cosineStep, V sineStep)
{
    const V nextSine = hn::MulAdd (sine, cosineStep, hn::Mul (cosine, sineStep));
    cosine = hn::NegMulAdd (sine, sineStep, hn::Mul (cosine, cosineStep));
    sine = nextSine;
}

// The cosine and sine of an angle w + e: w exactly, by its cosine and sine,
// and a small e (|e| <= 0.02 rad, the drift or modulation of a step) by the
// series of cos e to e^4 and sin e to e^5, which leave out less than 1e-13
// there (e^6 / 720), and far less for the smaller rests the wheels' drift gives.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void StepOf (D d, V stepCosine, V stepSine, V e, V& cosineStep, V& sineStep)
{
    const V e2 = hn::Mul (e, e);
    const V cosineE = hn::MulAdd (e2, hn::MulAdd (e2, hn::Set (d, 1.0 / 24.0), hn::Set (d, -0.5)), hn::Set (d, 1.0));
    const V sineE = hn::MulAdd (hn::Mul (e, e2), hn::MulAdd (e2, hn::Set (d, 1.0 / 120.0), hn::Set (d, -1.0 / 6.0)), e);
    cosineStep = hn::NegMulAdd (stepSine, sineE, hn::Mul (stepCosine, cosineE));
    sineStep = hn::MulAdd (stepCosine, sineE, hn::Mul (stepSine, cosineE));
}

// sin x and cos x in every lane moved on by an angle w + e as StepOf takes
// it. In double precision a run of such steps stays far below one
// single-precision unit from the exact sines.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void RotateBy (D d, V& sine, V& cosine, V stepCosine, V stepSine, V e)
{
    V cosineStep, sineStep;
    StepOf (d, stepCosine, stepSine, e, cosineStep, sineStep);
    Rotate (sine, cosine, cosineStep, sineStep);
}

// The array loops below: whole vectors first, then the last few values one
// lane at a time (the same arithmetic lane by lane, so the same results), so
// any count works and a short array costs no more than its values.
template <class D, class In, class Out, class Work>
HWY_INLINE void forEachVector (D d, const In* in, Out* out, int n, const Work& work)
{
    const int lanes = static_cast<int> (hn::Lanes (d));
    int i = 0;
    for (; i + lanes <= n; i += lanes)
        work (d, in + i, out + i);

    const hn::CappedTag<hn::TFromD<D>, 1> one;
    for (; i < n; ++i)
        work (one, in + i, out + i);
}

namespace detail
{
// The steps and constants of the C library's single-precision sine below
// 120 (glibc's algorithm, which the Windows build links too): the quadrant from
// x 2^24 / (pi/2), truncated; the rest by one fused multiply-add with pi/2 as
// a double; then short polynomials for the sine or the cosine of the rest.
constexpr double libraryQuadrantScale = 0x1.45f306dc9c883p+23; // 2^24 x 2 / pi
constexpr double libraryHalfPi = 0x1.921fb54442d18p0;          // pi / 2
constexpr double libraryCosine[5] = { 0x1p0, -0x1.ffffffd0c621cp-2, 0x1.55553e1068f19p-5, -0x1.6c087e89a359dp-10,
                                      0x1.99343027bf8c3p-16 };
constexpr double librarySine[3] = { -0x1.555545995a603p-3, 0x1.1107605230bc4p-7, -0x1.994eb3774cf24p-13 };
} // namespace detail

// sin y of single-precision arguments y (given as doubles), |y| < 120, by the
// C library's own steps in the same order, before the rounding to single
// precision: the same bits once rounded wherever the library fuses its
// multiply-adds as this target does. Below 0.75 the quadrant comes out 0 and
// the rest is y itself, the library's direct path.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V LibrarySine (D d, V x)
{
    using namespace detail;
    const hn::RebindToSigned<D> di;
    const auto r = hn::Mul (x, hn::Set (d, libraryQuadrantScale));
    // (int32) r + 2^23, shifted right by 24: exact in double precision.
    const V n = hn::Floor (hn::Mul (hn::Add (hn::Trunc (r), hn::Set (d, 0x1p23)), hn::Set (d, 0x1p-24)));
    const V rest = hn::NegMulAdd (n, hn::Set (d, libraryHalfPi), x);
    const auto quadrant = hn::ConvertTo (di, n);
    const auto bitSet = [&] (int value, int bit) {
        return hn::RebindMask (d, hn::Ne (hn::And (hn::Add (quadrant, hn::Set (di, value)), hn::Set (di, bit)), hn::Zero (di)));
    };

    const V r2 = hn::Mul (rest, rest);
    // Quadrants 1 and 2 take the sine of -rest; the cosine is even.
    const V signedRest = hn::IfThenElse (bitSet (1, 2), hn::Neg (rest), rest);
    const V r3 = hn::Mul (signedRest, r2);
    const V sineTail = hn::MulAdd (r2, hn::Set (d, librarySine[2]), hn::Set (d, librarySine[1]));
    const V r7 = hn::Mul (r3, r2);
    const V sine = hn::MulAdd (r7, sineTail, hn::MulAdd (r3, hn::Set (d, librarySine[0]), signedRest));

    const V r4 = hn::Mul (r2, r2);
    const V cosineTail = hn::MulAdd (r2, hn::Set (d, libraryCosine[4]), hn::Set (d, libraryCosine[3]));
    const V cosineHead = hn::MulAdd (r2, hn::Set (d, libraryCosine[1]), hn::Set (d, libraryCosine[0]));
    const V r6 = hn::Mul (r4, r2);
    const V cosine = hn::MulAdd (r6, cosineTail, hn::MulAdd (r4, hn::Set (d, libraryCosine[2]), cosineHead));
    // Quadrants 2 and 3 negate the cosine's coefficients, which negates it exactly.
    const V signedCosine = hn::IfThenElse (bitSet (0, 2), hn::Neg (cosine), cosine);

    return hn::IfThenElse (bitSet (0, 1), signedCosine, sine);
}

// out[i] = sinf (x[i]) as the C library works it out, for |x[i]| < 120.
HWY_INLINE void LibrarySinesOfFloats (const float* x, float* out, int n)
{
    forEachVector (hn::ScalableTag<double> {}, x, out, n, [] (auto d, const float* in, float* o) {
        const hn::Rebind<float, decltype (d)> df;
        const auto y = hn::LoadU (df, in);
        // Lanes from 120 on, infinities and NaN (which the caller hands to the
        // library) take 0 here, so that no quadrant falls outside the integers.
        const auto wide = hn::PromoteTo (d, y);
        const auto sine = hn::DemoteTo (df, LibrarySine (d, hn::IfThenElseZero (hn::Lt (hn::Abs (wide), hn::Set (d, 120.0)), wide)));
        // Below 2^-12 the library returns the argument itself.
        hn::StoreU (hn::IfThenElse (hn::Lt (hn::Abs (y), hn::Set (df, 0x1p-12f)), y, sine), df, o);
    });
}

// out[i] = float(sin(x[i])) for |x[i]| <= maxArgument.
HWY_INLINE void SinesToFloat (const double* x, float* out, int n)
{
    forEachVector (hn::ScalableTag<double> {}, x, out, n, [] (auto d, const double* in, float* o) {
        const hn::Rebind<float, decltype (d)> df;
        hn::StoreU (hn::DemoteTo (df, Sine (d, hn::LoadU (d, in))), df, o);
    });
}

// out[i] = float(sin(x[i])) or float(cos(x[i])) of single-precision arguments.
template <bool cosine>
HWY_INLINE void SinesOfFloats (const float* x, float* out, int n)
{
    forEachVector (hn::ScalableTag<double> {}, x, out, n, [] (auto d, const float* in, float* o) {
        const hn::Rebind<float, decltype (d)> df;
        const auto wide = hn::PromoteTo (d, hn::LoadU (df, in));
        if constexpr (cosine)
        {
            // cos x = sin (x + pi/2): one polynomial instead of two. The sum's
            // rounding (below 1e-10 rad across the kernel's range) stays far
            // below a single-precision unit of the result.
            hn::StoreU (hn::DemoteTo (df, Sine (d, hn::Add (wide, hn::Set (d, 1.5707963267948966)))), df, o);
        }
        else
        {
            hn::StoreU (hn::DemoteTo (df, Sine (d, wide)), df, o);
        }
    });
}

// out[i] = float(tanh(x[i])), element by element, so the output may be the input.
HWY_INLINE void TangentsOfFloats (const float* x, float* out, int n)
{
    forEachVector (hn::ScalableTag<double> {}, x, out, n, [] (auto d, const float* in, float* o) {
        const hn::Rebind<float, decltype (d)> df;
        hn::StoreU (hn::DemoteTo (df, HyperbolicTangentToRound (d, hn::PromoteTo (d, hn::LoadU (df, in)))), df, o);
    });
}
} // namespace HWY_NAMESPACE
} // namespace sinekernel
HWY_AFTER_NAMESPACE();

#endif
