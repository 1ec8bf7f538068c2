// The wheel bank. Its pass (passWith) is compiled once per instruction set;
// the SIMD library picks the widest this processor runs.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "WheelBank.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "SineKernel-inl.h"
#include "WheelBank.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace wheelbank
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;
using Voicing = WheelBank::Voicing;

// The largest rest e, in radians, by which a pass turns a step further with
// cos e = 1 and sin e = e: each sample then lengthens the sines by less than
// e^2 / 2 < 1.3e-11 of themselves and turns them by less than e^3 / 6 < 3e-17
// too little, below 4e-10 over a whole pass, far below one single-precision
// unit. At 44.1 kHz and above the drift's rests stay below 4e-6.
constexpr double maxFurtherTurn = 5.0e-6;

// Names this instruction set's variant of WheelBank::passWith.
struct Here
{
};

// sin of every lane: the engines' kernel, or the C library's sine lane by lane.
template <class D>
HWY_INLINE hn::Vec<D> sinesOf (D d, hn::Vec<D> x, MathMode mode)
{
    if (mode == MathMode::fast)
        return sinekernel::HWY_NAMESPACE::Sine (d, x);

    HWY_ALIGN double lanes[hn::MaxLanes (d)];
    hn::Store (x, d, lanes);
    for (size_t i = 0; i < hn::Lanes (d); ++i)
        lanes[i] = std::sin (lanes[i]);
    return hn::Load (d, lanes);
}

// A wheel's sines at one sample, in every lane: its fundamental's sine and
// cosine (the cosine only where a second harmonic needs it) and its level
// term's sine.
template <class V>
struct WheelSines
{
    V sine, cosine, level;
};

// The one definition of a wheel's signal before crosstalk (wheels 13 to 91),
// from its sines, whether the lanes hold neighbouring wheels or one wheel's
// successive samples: the fundamental under a level term of +-0.5 %, and for
// the upper wheels a weak second harmonic, sin 2x = 2 sin x cos x.
template <Voicing voicing, class D>
HWY_INLINE hn::Vec<hn::Rebind<float, D>> voiceOf (D d, const WheelSines<hn::Vec<D>>& w)
{
    const hn::Rebind<float, D> df;
    const auto fundamental = hn::DemoteTo (df, w.sine);
    const auto level = hn::DemoteTo (df, w.level);
    auto s = hn::Mul (hn::Add (hn::Mul (level, hn::Set (df, 0.005f)), hn::Set (df, 1.0f)), fundamental);
    if constexpr (voicing == Voicing::filtered)
    {
        const auto second = hn::Mul (hn::Mul (hn::Set (d, 2.0), w.sine), w.cosine);
        s = hn::Add (s, hn::Mul (hn::DemoteTo (df, second), hn::Set (df, 0.012f)));
    }
    return s;
}

// Wheel i's level term sin (0.7 i + 0.13 phase) from its phase (cycles, 0 to
// 1), by the polynomial of tonewheel::levelSeries, whose coefficients
// coefficient(k) gives: the Taylor series to phase^5, whose first omitted
// term is below 0.13^6 / 720 < 7e-9. The term moves the level by 0.5 % of
// itself, so that is below 4e-11 of the wheel's signal, far below one
// single-precision unit.
template <class D, class Coefficients, class V = hn::Vec<D>>
HWY_INLINE V levelSine (D, V phase, const Coefficients& coefficient)
{
    static_assert (tonewheel::levelSeriesLength == 6, "Horner's rule from phase^5 down");
    V s = hn::MulAdd (coefficient (5), phase, coefficient (4));
    for (int k = 3; k >= 0; --k)
        s = hn::MulAdd (s, phase, coefficient (k));
    return s;
}

// The coefficients of levelSine for neighbouring wheels from wheel first on.
template <class D>
HWY_INLINE auto levelSeriesFrom (D d, int first)
{
    return [d, first] (int k) { return hn::LoadU (d, tonewheel::levelSeries[(size_t) k].data() + first); };
}

// A wheel's sines worked out afresh from its phase (cycles), in every lane:
// the engines' kernels, or the C library lane by lane.
template <bool withCosine, class D, class Coefficients, class V = hn::Vec<D>>
HWY_INLINE WheelSines<V> sinesAt (D d, V phase, const Coefficients& levelCoefficient, V offsetL, MathMode mode)
{
    const V x = hn::Mul (hn::Set (d, twoPi), phase);
    WheelSines<V> w { hn::Zero (d), hn::Zero (d), hn::Zero (d) };
    if (mode == MathMode::fast)
    {
        if constexpr (withCosine)
            sinekernel::HWY_NAMESPACE::SineCosine (d, x, w.sine, w.cosine);
        else
            w.sine = sinekernel::HWY_NAMESPACE::Sine (d, x);
        w.level = levelSine (d, phase, levelCoefficient);
        return w;
    }

    HWY_ALIGN double xs[hn::MaxLanes (d)], levels[hn::MaxLanes (d)], sines[hn::MaxLanes (d)], cosines[hn::MaxLanes (d)];
    hn::Store (x, d, xs);
    hn::Store (hn::Add (offsetL, hn::Mul (hn::Set (d, 0.13), phase)), d, levels);
    for (size_t i = 0; i < hn::Lanes (d); ++i)
    {
        sines[i] = std::sin (xs[i]);
        cosines[i] = std::cos (xs[i]);
        levels[i] = std::sin (levels[i]);
    }
    return { hn::Load (d, sines), hn::Load (d, cosines), hn::Load (d, levels) };
}

// The twelve lowest wheels' signal before crosstalk from the phase: band-limited
// and square-like, the fundamental and odd harmonics 3 to 11; weightOf(h) gives
// the weight of harmonic h, 0 at or above the alias limit, which leaves the
// sum exactly as if it were skipped. The harmonics' sines follow from the
// fundamental's sine s by sin (n + 2) a = 2 cos 2a sin na - sin (n - 2) a, with
// cos 2a = 1 - 2 s^2: within 2e-14 of the library's sin (h a) up to h = 11,
// far below one single-precision unit. In reference mode s is the library's.
static_assert (tonewheel::numHarmonics == 5 && tonewheel::lowWheelHarmonics[0] == 3 && tonewheel::lowWheelHarmonics[1] == 5
                   && tonewheel::lowWheelHarmonics[2] == 7 && tonewheel::lowWheelHarmonics[3] == 9 && tonewheel::lowWheelHarmonics[4] == 11,
               "the recurrence steps through the odd harmonics 3 to 11");

template <class D, class Weights>
HWY_INLINE hn::Vec<hn::Rebind<float, D>> lowVoice (D d, hn::Vec<D> phase, const Weights& weightOf, MathMode mode)
{
    const hn::Rebind<float, D> df;
    const auto sine = sinesOf (d, hn::Mul (hn::Set (d, twoPi), phase), mode);
    const auto twoCosine2a = hn::Mul (hn::Set (d, 2.0), hn::Sub (hn::Set (d, 1.0), hn::Mul (hn::Mul (hn::Set (d, 2.0), sine), sine)));

    auto s = hn::DemoteTo (df, sine);
    auto before = hn::Neg (sine); // sin -a
    auto current = sine;          // sin a
    for (int h = 0; h < tonewheel::numHarmonics; ++h)
    {
        // lowWheelHarmonics runs 3, 5, ... 11: each is the one after current.
        const auto next = hn::Sub (hn::Mul (twoCosine2a, current), before);
        before = current;
        current = next;
        s = hn::Add (s, hn::Mul (hn::DemoteTo (df, current), weightOf (h)));
    }
    return hn::Mul (s, hn::Set (df, 0.55f));
}

template <Voicing voicing>
using VoicingConstant = std::integral_constant<Voicing, voicing>;

// Calls work with v as a compile-time constant.
template <class Work>
HWY_INLINE void withVoicing (Voicing v, const Work& work)
{
    if (v == Voicing::low)
        work (VoicingConstant<Voicing::low> {});
    else if (v == Voicing::plain)
        work (VoicingConstant<Voicing::plain> {});
    else
        work (VoicingConstant<Voicing::filtered> {});
}
} // namespace HWY_NAMESPACE
} // namespace wheelbank

template <>
void WheelBank::passWith<wheelbank::HWY_NAMESPACE::Here> (const State& state, const Groups& groups, const float* pitchFactors, int count,
                                                          MathMode mode) noexcept
{
    namespace hn = hwy::HWY_NAMESPACE;
    using namespace wheelbank::HWY_NAMESPACE;
    using tonewheel::numWheelSlots;

    // Every wheel's phase, sample by sample, kept for the pass.
    const double interval = sampleInterval; // seconds
    const double* HWY_RESTRICT frequency = wheelTables.frequency.data();
    for (int t = 0; t < count; ++t)
    {
        const double* HWY_RESTRICT previous = t == 0 ? state.phase : passPhase[t - 1];
        double* HWY_RESTRICT next = passPhase[t];
        const double p = pitchFactors[t];
        for (int i = 0; i < numWheelSlots; ++i)
        {
            const double advanced = previous[i] + frequency[i] * p * interval;
            // Back into [0, 1): nothing below 1, subtracting 1 above it (or more, should
            // a wheel outrun the sample rate). Unconditional, so that it vectorises.
            next[i] = advanced - sinekernel::floorOf (advanced);
        }
    }
    std::memcpy (state.phase, passPhase[count - 1], numWheelSlots * sizeof (double));

    // Runs work on every group in order, with its width (in wheels) and its
    // voicing as compile-time constants, and its first wheel index.
    const auto forEachGroup = [&groups] (const auto& work) {
        for (int k = 0; k < groups.numGroups; ++k)
        {
            const int base = groups.first[k];
            withVoicing (voicingOf (base), [&] (auto voicing) {
                if (groups.width[k] == 16)
                    work (std::integral_constant<int, 16> {}, voicing, base);
                else if (groups.width[k] == 8)
                    work (std::integral_constant<int, 8> {}, voicing, base);
                else
                    work (std::integral_constant<int, 4> {}, voicing, base);
            });
        }
    };

    // Within a pass the fundamentals move on by rotation, from sines worked out
    // afresh at its first sample; that holds while the drift's share of a
    // step, at most the top wheel's step times the largest |p - 1|, stays small.
    // The drift moves slowly: within a pass p stays so close to its value at
    // the second sample, p1, that each rotation is that sample's, worked out
    // once, turned further by the tiny rest the difference leaves.
    const double p1 = pitchFactors[std::min (1, count - 1)];
    double largestDrift = 0.0;  // largest |p - 1|
    double largestChange = 0.0; // largest |p - p1|
    for (int t = 0; t < count; ++t)
    {
        largestDrift = std::max (largestDrift, std::abs (static_cast<double> (pitchFactors[t]) - 1.0));
        largestChange = std::max (largestChange, std::abs (static_cast<double> (pitchFactors[t]) - p1));
    }
    const double topStep = wheelTables.stepAngle[tonewheel::numWheels - 1]; // radians per sample
    const bool rotating = mode == MathMode::fast && topStep * largestDrift < 0.02;
    const bool turningFurther = topStep * largestChange < maxFurtherTurn;

    // Each group's signals before crosstalk through the pass, neighbouring
    // wheels side by side in the lanes; a group wider than a register is
    // worked as several registers side by side. Rotating, the registers move
    // on together, sample by sample: each rotation is a chain from one sample
    // to the next, and the processor overlaps the chains of the registers.
    forEachGroup ([&] (auto groupWidth, auto voicing, int base) {
        constexpr Voicing v = decltype (voicing)::value;
        const hn::CappedTag<double, decltype (groupWidth)::value> d;
        const hn::Rebind<float, decltype (d)> df;
        constexpr int lanes = static_cast<int> (hn::MaxLanes (d));
        if (v == Voicing::low || ! rotating)
        {
            for (int first = base; first < base + decltype (groupWidth)::value; first += lanes)
            {
                const auto weightOf = [&] (int h) { return hn::LoadU (df, wheelTables.harmonicWeight.data() + h * tonewheel::numLowWheels + first); };
                const auto levelCoefficient = levelSeriesFrom (d, first);
                const auto offsetL = hn::LoadU (d, tonewheel::levelOffsets.data() + first);
                for (int t = 0; t < count; ++t)
                {
                    const auto phase = hn::LoadU (d, passPhase[t] + first);
                    if constexpr (v == Voicing::low)
                        hn::StoreU (lowVoice (d, phase, weightOf, mode), df, passClean[t] + 1 + first);
                    else
                        hn::StoreU (voiceOf<v> (d, sinesAt<v == Voicing::filtered> (d, phase, levelCoefficient, offsetL, mode)), df,
                                    passClean[t] + 1 + first);
                }
            }
            return;
        }

        using V = hn::Vec<decltype (d)>;
        constexpr int registers = decltype (groupWidth)::value / lanes;
        WheelSines<V> w[registers];
        V step[registers], stepCosine[registers], stepSine[registers];
        for (int r = 0; r < registers; ++r)
        {
            const int first = base + r * lanes;
            step[r] = hn::LoadU (d, wheelTables.stepAngle.data() + first);
            stepCosine[r] = hn::LoadU (d, wheelTables.stepCosine.data() + first);
            stepSine[r] = hn::LoadU (d, wheelTables.stepSine.data() + first);
            w[r] = sinesAt<true> (d, hn::LoadU (d, passPhase[0] + first), levelSeriesFrom (d, first),
                                  hn::LoadU (d, tonewheel::levelOffsets.data() + first), mode);
            hn::StoreU (voiceOf<v> (d, w[r]), df, passClean[0] + 1 + first);
        }

        // Sample t's level term and signal, once its fundamental has turned.
        const auto finish = [&] (int t, int r) {
            const int first = base + r * lanes;
            w[r].level = levelSine (d, hn::LoadU (d, passPhase[t] + first), levelSeriesFrom (d, first));
            hn::StoreU (voiceOf<v> (d, w[r]), df, passClean[t] + 1 + first);
        };

        if (! turningFurther)
        {
            for (int t = 1; t < count; ++t)
            {
                // The step angle times the pitch factor p: the step, and its drift w (p - 1).
                const auto driftShare = hn::Set (d, static_cast<double> (pitchFactors[t]) - 1.0);
                for (int r = 0; r < registers; ++r)
                {
                    sinekernel::HWY_NAMESPACE::RotateBy (d, w[r].sine, w[r].cosine, stepCosine[r], stepSine[r], hn::Mul (step[r], driftShare));
                    finish (t, r);
                }
            }
            return;
        }

        // The step at p1, then each sample's rest e = w (p - p1) by cos e = 1 and
        // sin e = e; the step itself already holds the drift w (p1 - 1).
        V cosineAtP1[registers], sineAtP1[registers];
        for (int r = 0; r < registers; ++r)
            sinekernel::HWY_NAMESPACE::StepOf (d, stepCosine[r], stepSine[r], hn::Mul (step[r], hn::Set (d, p1 - 1.0)), cosineAtP1[r],
                                               sineAtP1[r]);
        for (int t = 1; t < count; ++t)
        {
            const auto change = hn::Set (d, static_cast<double> (pitchFactors[t]) - p1); // exact
            for (int r = 0; r < registers; ++r)
            {
                // (c - s e, s + c e): the step at p1 turned by e.
                const V e = hn::Mul (step[r], change);
                const V cosineStep = hn::NegMulAdd (sineAtP1[r], e, cosineAtP1[r]);
                const V sineStep = hn::MulAdd (cosineAtP1[r], e, sineAtP1[r]);
                sinekernel::HWY_NAMESPACE::Rotate (w[r].sine, w[r].cosine, cosineStep, sineStep);
                finish (t, r);
            }
        }
    });

    // The neighbours outside the groups, one at a time, successive samples side
    // by side in the lanes; a pass of one sample (the per-sample path) takes
    // one lane, rather than a whole register for one value.
    const auto loneSignals = [&] (auto d, int i, auto voicing) {
        constexpr Voicing v = decltype (voicing)::value;
        const hn::Rebind<float, decltype (d)> df;
        HWY_ALIGN double phases[wheelPass] = {};
        HWY_ALIGN float signal[wheelPass];
        for (int t = 0; t < count; ++t)
            phases[t] = passPhase[t][i];

        const auto levelCoefficient = [d, i] (int k) { return hn::Set (d, tonewheel::levelSeries[(size_t) k][(size_t) i]); };
        const auto offsetL = hn::Set (d, tonewheel::levelOffsets[(size_t) i]);
        const auto weightOf = [&] (int h) {
            return hn::Set (df, i < tonewheel::numLowWheels ? wheelTables.harmonicWeight[(size_t) (h * tonewheel::numLowWheels + i)] : 0.0f);
        };
        for (int t = 0; t < count; t += static_cast<int> (hn::Lanes (d)))
        {
            const auto phase = hn::Load (d, phases + t);
            if constexpr (v == Voicing::low)
                hn::Store (lowVoice (d, phase, weightOf, mode), df, signal + t);
            else
                hn::Store (voiceOf<v> (d, sinesAt<v == Voicing::filtered> (d, phase, levelCoefficient, offsetL, mode)), df, signal + t);
        }

        for (int t = 0; t < count; ++t)
            passClean[t][i + 1] = signal[t];
    };

    for (int j = 0; j < groups.numLone; ++j)
    {
        const int i = groups.lone[j];
        withVoicing (voicingOf (i), [&] (auto voicing) {
            if (count == 1)
                loneSignals (hn::CappedTag<double, 1> {}, i, voicing);
            else
                loneSignals (hn::ScalableTag<double> {}, i, voicing);
        });
    }

    // Crosstalk (1 % of each neighbour, from the signals before any leakage)
    // and the pickup filters, each group through the pass.
    forEachGroup ([&] (auto groupWidth, auto voicing, int base) {
        constexpr bool filtered = decltype (voicing)::value == Voicing::filtered;
        const hn::CappedTag<float, decltype (groupWidth)::value> df;
        for (int k = 0; k < decltype (groupWidth)::value; k += static_cast<int> (hn::Lanes (df)))
        {
            const int first = base + k;
            auto raw = hn::Zero (df);
            auto filter = filtered ? hn::LoadU (df, state.filterState + first) : hn::Zero (df);
            const auto coefficient = hn::LoadU (df, wheelTables.pickupCoefficient.data() + first);
            for (int t = 0; t < count; ++t)
            {
                const float* c = passClean[t] + 1 + first;
                raw = hn::Add (hn::LoadU (df, c), hn::Mul (hn::Add (hn::LoadU (df, c + 1), hn::LoadU (df, c - 1)), hn::Set (df, 0.01f)));
                if constexpr (filtered)
                {
                    filter = hn::Add (filter, hn::Mul (coefficient, hn::Sub (raw, filter)));
                    hn::StoreU (filter, df, passOutput[t] + first);
                }
                else
                {
                    hn::StoreU (raw, df, passOutput[t] + first);
                }
            }
            hn::StoreU (raw, df, state.raw + first);
            if constexpr (filtered)
                hn::StoreU (filter, df, state.filterState + first);
        }
        std::memcpy (state.output + base, passOutput[count - 1] + base, decltype (groupWidth)::value * sizeof (float));
    });

    // The groups' outputs again, one row per wheel, for the key mix that works
    // many samples at a time: turned around four wheels by four samples at a time.
    forEachGroup ([&] (auto groupWidth, auto, int base) {
        for (int w = base; w < base + decltype (groupWidth)::value; w += 4)
        {
            int t = 0;
#if HWY_TARGET != HWY_SCALAR
            const hn::FixedTag<float, 4> d4;
            for (; t + 4 <= count; t += 4)
            {
                const auto r0 = hn::LoadU (d4, passOutput[t] + w);     // sample t: wheels w to w + 3
                const auto r1 = hn::LoadU (d4, passOutput[t + 1] + w);
                const auto r2 = hn::LoadU (d4, passOutput[t + 2] + w);
                const auto r3 = hn::LoadU (d4, passOutput[t + 3] + w);
                const auto low01 = hn::InterleaveLower (d4, r0, r1);  // w: t, t + 1; w + 1: t, t + 1
                const auto low23 = hn::InterleaveLower (d4, r2, r3);  // w: t + 2, t + 3; w + 1: ...
                const auto high01 = hn::InterleaveUpper (d4, r0, r1); // w + 2 and w + 3 likewise
                const auto high23 = hn::InterleaveUpper (d4, r2, r3);
                hn::StoreU (hn::ConcatLowerLower (d4, low23, low01), d4, passColumn[w] + t);
                hn::StoreU (hn::ConcatUpperUpper (d4, low23, low01), d4, passColumn[w + 1] + t);
                hn::StoreU (hn::ConcatLowerLower (d4, high23, high01), d4, passColumn[w + 2] + t);
                hn::StoreU (hn::ConcatUpperUpper (d4, high23, high01), d4, passColumn[w + 3] + t);
            }
#endif
            for (; t < count; ++t)
                for (int k = 0; k < 4; ++k)
                    passColumn[w + k][t] = passOutput[t][w + k];
        }
    });
}

namespace wheelbank
{
namespace HWY_NAMESPACE
{
void pass (WheelBank& bank, const WheelBank::State& state, const WheelBank::Groups& groups, const float* pitchFactors, int count,
           MathMode mode)
{
    bank.passWith<Here> (state, groups, pitchFactors, count, mode);
}
} // namespace HWY_NAMESPACE
} // namespace wheelbank
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace wheelbank
{
HWY_EXPORT (pass);

void dispatchedPass (WheelBank& bank, const WheelBank::State& state, const WheelBank::Groups& groups, const float* pitchFactors,
                     int count, MathMode mode) noexcept
{
    HWY_DYNAMIC_DISPATCH (pass) (bank, state, groups, pitchFactors, count, mode);
}

const WheelBank::Groups everyWheel = WheelBank::groupsFor (WheelSet::all());
} // namespace wheelbank

using namespace tonewheel;

WheelBank::Groups WheelBank::groupsFor (WheelSet heard) noexcept
{
    Groups groups;
    bool groupHeard[maxGroups] {};
    for (int g = 0; g < maxGroups; ++g)
        for (int i = 4 * g; i < std::min (4 * g + 4, numWheels); ++i)
            groupHeard[g] = groupHeard[g] || heard.contains (i);

    // Neighbouring heard groups of one voicing are worked together, four or two at a time.
    const auto joinable = [&] (int first, int count) {
        for (int g = first; g < first + count; ++g)
            if (g >= maxGroups || ! groupHeard[g] || voicingOf (4 * g) != voicingOf (4 * first))
                return false;
        return true;
    };

    for (int g = 0; g < maxGroups; ++g)
    {
        if (! groupHeard[g])
            continue;

        const int joined = joinable (g, 4) ? 4 : joinable (g, 2) ? 2 : 1;
        groups.first[groups.numGroups] = 4 * g;
        groups.width[groups.numGroups] = 4 * joined;
        ++groups.numGroups;
        g += joined - 1;
    }

    const auto inHeardGroup = [&] (int i) { return i >= 0 && i < numWheels && groupHeard[i / 4]; };
    WheelSet lone;
    for (int g = 0; g < maxGroups; ++g)
    {
        if (! groupHeard[g])
            continue;

        const int before = 4 * g - 1;
        const int after = 4 * g + 4;
        if (before >= 0 && ! inHeardGroup (before))
            lone.add (before);
        if (after < numWheels && ! inHeardGroup (after))
            lone.add (after);
    }

    for (int i = 0; i < numWheels; ++i)
        if (lone.contains (i))
            groups.lone[groups.numLone++] = i;

    return groups;
}

void WheelBank::prepare (double sampleRate, MathMode mode)
{
    wake (filteredWheels() & ~awakeWheels, mode);

    wheelTables.prepare (sampleRate);
    sampleInterval = 1.0 / sampleRate;
    wheelPhase.fill (0.0);
    wheelRaw.fill (0.0f);
    wheelOutput.fill (0.0f);

    // Samples after which the slower pickup filter has forgotten its start to
    // below 1e-12; beyond the history's length the filtered wheels never sleep.
    const double forgetSamples = std::log (1.0e-12) / std::log1p (-static_cast<double> (wheelTables.darkCoefficient));
    warmUpLength = forgetSamples > 0.0 && forgetSamples <= historyLength ? static_cast<int> (std::ceil (forgetSamples)) : 0;

    preparedFilterState = wheelFilterState;
    historyWrite = 0;
    samplesSincePrepare = 0;
    awakeWheels = {};
    setHeard ({});
}

void WheelBank::setHeard (WheelSet heard) noexcept
{
    // At rates where the filters remember longer than the history reaches, the
    // filtered wheels run all the time.
    if (warmUpLength == 0)
        heard = heard | filteredWheels();

    heardWheels = heard;
    heardGroups = groupsFor (heard);
}

void WheelBank::process (const float* pitchFactors, int count, MathMode mode) noexcept
{
    // A filtered wheel heard again after a pause needs its filter rebuilt first.
    wake (heardWheels & filteredWheels() & ~awakeWheels, mode);
    pass (ownState(), heardGroups, pitchFactors, count, mode);
    recordPitchFactors (pitchFactors, count);
    awakeWheels = heardWheels & filteredWheels();
}

void WheelBank::processEveryWheel (float pitchFactor, MathMode mode) noexcept
{
    wake (filteredWheels() & ~awakeWheels, mode);
    pass (ownState(), wheelbank::everyWheel, &pitchFactor, 1, mode);
    recordPitchFactors (&pitchFactor, 1);
    awakeWheels = filteredWheels();
}

void WheelBank::pass (const State& state, const Groups& groups, const float* pitchFactors, int count, MathMode mode) noexcept
{
    wheelbank::dispatchedPass (*this, state, groups, pitchFactors, count, mode);
}

void WheelBank::recordPitchFactors (const float* pitchFactors, int count) noexcept
{
    for (int t = 0; t < count; ++t)
    {
        pitchHistory[(size_t) historyWrite] = pitchFactors[t];
        historyWrite = (historyWrite + 1) & (historyLength - 1);
    }
    samplesSincePrepare += count;
}

void WheelBank::wake (WheelSet waking, MathMode mode) noexcept
{
    if (waking.empty())
        return;

    // Replays the wheels' last samples on copies of the bank's state: from
    // prepare on when that is short enough (exact), otherwise from
    // warmUpLength samples back, with the phases stepped back from where they are now.
    const auto replayLength = static_cast<int> (std::min<std::int64_t> (warmUpLength, samplesSincePrepare));
    const bool fromPrepare = replayLength == samplesSincePrepare;

    alignas (64) std::array<double, numWheelSlots> phase {};
    alignas (64) std::array<float, numWheelSlots> raw {};
    alignas (64) std::array<float, numWheelSlots> output {};
    alignas (64) std::array<float, numWheelSlots> filterState {};

    if (fromPrepare)
    {
        filterState = preparedFilterState;
    }
    else
    {
        filterState = wheelFilterState;
        phase = wheelPhase;
        for (int n = 0; n < replayLength; ++n)
        {
            const double p = pitchHistory[(size_t) ((historyWrite - 1 - n) & (historyLength - 1))];
            for (int i = 0; i < numWheels; ++i)
            {
                double back = phase[(size_t) i] - wheelTables.frequency[(size_t) i] * p * sampleInterval;
                if (back < 0.0)
                    back += 1.0;
                phase[(size_t) i] = back;
            }
        }
    }

    const State replay { phase.data(), raw.data(), output.data(), filterState.data() };
    const Groups groups = groupsFor (waking);
    for (int done = 0; done < replayLength; done += wheelPass)
    {
        const int count = std::min (wheelPass, replayLength - done);
        float factors[wheelPass];
        for (int t = 0; t < count; ++t)
            factors[t] = pitchHistory[(size_t) ((historyWrite - replayLength + done + t) & (historyLength - 1))];
        pass (replay, groups, factors, count, mode);
    }

    for (int i = 0; i < numWheels; ++i)
        if (waking.contains (i))
            wheelFilterState[(size_t) i] = filterState[(size_t) i];

    awakeWheels = awakeWheels | waking;
}
#endif
