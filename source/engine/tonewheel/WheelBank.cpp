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

// A wheel's signal before crosstalk from its phase (cycles), in every lane:
// the one definition of the wheels' voicing, whether the lanes hold
// neighbouring wheels or one wheel's successive samples. levelOffset is the
// wheel's fixed level-term argument (radians); weightOf(h) gives the low
// wheels' weight of odd harmonic h, 0 at or above the alias limit, which
// leaves the sum exactly as if that harmonic were skipped.
template <Voicing voicing, class D, class Weights>
HWY_INLINE hn::Vec<hn::Rebind<float, D>> voice (D d, hn::Vec<D> phase, hn::Vec<D> levelOffset, const Weights& weightOf, MathMode mode)
{
    const hn::Rebind<float, D> df;
    const auto fundamentalArgument = hn::Mul (hn::Set (d, twoPi), phase);
    const auto fundamental = hn::DemoteTo (df, sinesOf (d, fundamentalArgument, mode));

    if constexpr (voicing == Voicing::low)
    {
        // Band-limited and square-like.
        auto s = fundamental;
        for (int h = 0; h < tonewheel::numHarmonics; ++h)
        {
            const auto harmonicArgument = hn::Mul (hn::Set (d, static_cast<double> (tonewheel::lowWheelHarmonics[h])), fundamentalArgument);
            s = hn::Add (s, hn::Mul (hn::DemoteTo (df, sinesOf (d, harmonicArgument, mode)), weightOf (h)));
        }
        return hn::Mul (s, hn::Set (df, 0.55f));
    }
    else
    {
        // Each wheel's own level offset within +-0.5 % and a slight shape, from its phase.
        const auto level = hn::DemoteTo (df, sinesOf (d, hn::Add (levelOffset, hn::Mul (hn::Set (d, 0.13), phase)), mode));
        auto s = hn::Mul (hn::Add (hn::Mul (level, hn::Set (df, 0.005f)), hn::Set (df, 1.0f)), fundamental);
        if constexpr (voicing == Voicing::filtered) // the upper wheels add a weak second harmonic
            s = hn::Add (s, hn::Mul (hn::DemoteTo (df, sinesOf (d, hn::Mul (hn::Set (d, 2.0), fundamentalArgument), mode)), hn::Set (df, 0.012f)));
        return s;
    }
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

    // Each group's signals before crosstalk through the pass, neighbouring
    // wheels side by side in the lanes; a group wider than a register is
    // worked as several registers side by side.
    forEachGroup ([&] (auto groupWidth, auto voicing, int base) {
        const hn::CappedTag<double, decltype (groupWidth)::value> d;
        const hn::Rebind<float, decltype (d)> df;
        for (int k = 0; k < decltype (groupWidth)::value; k += static_cast<int> (hn::Lanes (d)))
        {
            const int first = base + k;
            const auto offset = hn::LoadU (d, tonewheel::levelOffsets.data() + first);
            const auto weightOf = [&] (int h) { return hn::LoadU (df, wheelTables.harmonicWeight.data() + h * tonewheel::numLowWheels + first); };
            for (int t = 0; t < count; ++t)
                hn::StoreU (voice<decltype (voicing)::value> (d, hn::LoadU (d, passPhase[t] + first), offset, weightOf, mode), df,
                            passClean[t] + 1 + first);
        }
    });

    // The neighbours outside the groups, one at a time, successive samples side
    // by side in the lanes; a pass of one sample (the per-sample path) takes
    // one lane, rather than a whole register for one value.
    const auto loneSignals = [&] (auto d, int i, auto voicing) {
        const hn::Rebind<float, decltype (d)> df;
        HWY_ALIGN double phases[wheelPass] = {};
        HWY_ALIGN float signal[wheelPass];
        for (int t = 0; t < count; ++t)
            phases[t] = passPhase[t][i];

        const auto offset = hn::Set (d, tonewheel::levelOffsets[(size_t) i]);
        const auto weightOf = [&] (int h) {
            return hn::Set (df, i < tonewheel::numLowWheels ? wheelTables.harmonicWeight[(size_t) (h * tonewheel::numLowWheels + i)] : 0.0f);
        };
        for (int t = 0; t < count; t += static_cast<int> (hn::Lanes (d)))
            hn::Store (voice<decltype (voicing)::value> (d, hn::Load (d, phases + t), offset, weightOf, mode), df, signal + t);

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
    // many samples at a time.
    forEachGroup ([&] (auto groupWidth, auto, int base) {
        for (int w = base; w < base + decltype (groupWidth)::value; ++w)
            for (int t = 0; t < count; ++t)
                passColumn[w][t] = passOutput[t][w];
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
