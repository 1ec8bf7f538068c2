// The key mix. The settled loop's arithmetic (settledTotalsWith) is compiled
// once per instruction set; the SIMD library picks the widest this processor runs.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "KeyMix.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "KeyMix.h"

#include <algorithm>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace keymix
{
namespace HWY_NAMESPACE
{
// Names this instruction set's variant of KeyMix::settledTotalsWith.
struct Here
{
};
} // namespace HWY_NAMESPACE
} // namespace keymix

template <>
void KeyMix::settledTotalsWith<keymix::HWY_NAMESPACE::Here> (const SettledPass& pass, KeyContacts& contacts, const WheelBank& bank,
                                                             float* total) noexcept
{
    namespace hn = hwy::HWY_NAMESPACE;
    constexpr int wheelPass = WheelBank::wheelPass;

    // Each key's drawbar sum a register of samples at a time, kept there
    // while the drawbars are added in order.
    const hn::ScalableTag<float> df;
    const int lanes = static_cast<int> (hn::Lanes (df));
    const int count = pass.count;
    const int numPulled = registration.numPulled;
    HWY_ALIGN float keySum[wheelPass];
    HWY_ALIGN float envelope[wheelPass];
    HWY_ALIGN float percussionLevel[wheelPass];
    std::fill (total, total + wheelPass, 0.0f);

    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        auto& key = contacts.keys[(size_t) k];
        const int slot = slotOfKey[k];

        // A held key at full level stays there: each step gives exactly 1, so
        // the chain of steps, one after another, is skipped.
        const bool full = ! key.released && key.envelope >= 1.0f;
        float e = key.envelope;
        for (int t = 0; t < count && ! full; ++t)
        {
            e = envelopeStep (e, key.released, pass.attackIncrement, pass.releaseDecrement);
            envelope[t] = e;
        }
        key.envelope = full ? 1.0f : e;

        for (int t = 0; t < count; t += lanes)
        {
            auto sum = hn::Zero (df);
            for (int p = 0; p < numPulled; ++p)
                sum = hn::Add (sum, hn::Mul (hn::Set (df, slotGain[slot][p]), hn::LoadU (df, bank.column (slotWheel[slot][p]) + t)));
            hn::Store (sum, df, keySum + t);
        }

        if (pass.switches.percussionOn && key.percussionTriggered && Percussion::sounds (key.percussionLevel))
        {
            // The level falls on every sample it sounds, and the term stops once it no longer does.
            float level = key.percussionLevel;
            for (int t = 0; t < count; ++t)
            {
                const bool sounding = Percussion::sounds (level);
                percussionLevel[t] = sounding ? level : 0.0f;
                if (sounding)
                    level = Percussion::decayed (level, pass.percussionRate, pass.interval);
            }
            key.percussionLevel = level;

            const float* HWY_RESTRICT wheel = bank.column (tonewheel::percussionWheelIndexFor (k, pass.switches.percThird));
            for (int t = 0; t < count; ++t)
            {
                const float term = Percussion::term (percussionLevel[t], wheel[t], pass.switches.percSoftOn);
                keySum[t] = percussionLevel[t] > 0.0f ? keySum[t] + term : keySum[t];
            }
        }

        const float velocity = key.velocity;
        if (full)
            for (int t = 0; t < count; ++t)
                total[t] += weighted (keySum[t], 1.0f, velocity);
        else
            for (int t = 0; t < count; ++t)
                total[t] += weighted (keySum[t], envelope[t], velocity);
    }
}

namespace keymix
{
namespace HWY_NAMESPACE
{
void settledTotals (KeyMix& mix, const KeyMix::SettledPass& pass, KeyContacts& contacts, const WheelBank& bank, float* total)
{
    mix.settledTotalsWith<Here> (pass, contacts, bank, total);
}
} // namespace HWY_NAMESPACE
} // namespace keymix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace keymix
{
HWY_EXPORT (settledTotals);

void dispatchedTotals (KeyMix& mix, const KeyMix::SettledPass& pass, KeyContacts& contacts, const WheelBank& bank, float* total) noexcept
{
    HWY_DYNAMIC_DISPATCH (settledTotals) (mix, pass, contacts, bank, total);
}
} // namespace keymix

using namespace tonewheel;

void KeyMix::setDrawbars (const DrawbarLevels& levels) noexcept
{
    if (registration.valid && std::memcmp (&levels, &registration.levels, sizeof levels) == 0)
        return;

    registration.levels = levels;
    registration.valid = true;
    registration.numPulled = 0;
    registration.pulledMask = 0;
    for (int j = 0; j < numDrawbars; ++j)
    {
        registration.steps[j] = drawbarStepFor (levels[(size_t) j]);
        if (registration.steps[j] > 0)
        {
            registration.pulled[registration.numPulled++] = j;
            registration.pulledMask |= 1u << j;
        }
    }
}

void KeyMix::rebuild (const KeyContacts& contacts) noexcept
{
    const int* pulled = registration.pulled;
    const int numPulled = registration.numPulled;

    // Wheels connected through more than one closed contact are shared, and scaled down.
    std::array<int, numWheels> wheelUsage {}; // closed contacts of sounding keys on each wheel
    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        for (int p = 0; p < numPulled; ++p)
            wheelUsage[(size_t) wheelIndexFor (k, pulled[p])] += (contacts.closed[(size_t) k] >> pulled[p]) & 1;
    }

    // A wheel used once keeps its gain exactly (scale 1).
    numSlots = 0;
    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1, ++numSlots)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        slotOfKey[k] = numSlots;
        for (int p = 0; p < numPulled; ++p)
        {
            const int wheel = wheelIndexFor (k, pulled[p]);
            slotWheel[numSlots][p] = wheel;
            slotGain[numSlots][p] = drawbarGains[registration.steps[pulled[p]]] * shareScale (wheelUsage[(size_t) wheel]);
        }
    }

    std::copy (registration.steps, registration.steps + numDrawbars, std::begin (builtSteps));
    stale = false;
}

float KeyMix::mixSample (const Keys& keys, const float* wheelOut, const Switches& switches) noexcept
{
    auto& contacts = keys.contacts;
    const float interval = keys.interval;
    const int numPulled = registration.numPulled;

    bool anyKeyHeld = false;
    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
        anyKeyHeld = anyKeyHeld || ! contacts.keys[(size_t) hwy::Num0BitsBelowLS1Bit_Nonzero64 (m)].released;

    if (! anyKeyHeld)
        keys.percussion.rearm (interval);

    if (contacts.activeKeys == 0)
        return 0.0f;

    if (stale || ! std::equal (registration.steps, registration.steps + numDrawbars, builtSteps))
        rebuild (contacts);

    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = switches.keyClickLevel > 0.01f;
    const float percussionRate = Percussion::rate (switches.percFastOn);

    // Every sounding key's drawbar sum, in drawbar order. A settled key sounds
    // exactly this sum. The keys' sums are independent, so the processor overlaps them.
    float drawbarSum[numKeys];
    for (int slot = 0; slot < numSlots; ++slot)
    {
        float sum = 0.0f;
        for (int p = 0; p < numPulled; ++p)
            sum += slotGain[slot][p] * wheelOut[slotWheel[slot][p]];
        drawbarSum[slot] = sum;
    }

    float total = 0.0f;

    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        auto& key = contacts.keys[(size_t) k];

        key.envelope = envelopeStep (key.envelope, key.released, attackIncrement, releaseDecrement);
        if (key.released && key.envelope <= 0.0f)
        {
            key.active = false;
            contacts.activeKeys &= ~(std::uint64_t { 1 } << k);
            stale = true;
            continue;
        }

        const int slot = slotOfKey[k];
        float keySum;
        if (contacts.contactsQuiet (k, registration.pulledMask, clickOn))
        {
            keySum = drawbarSum[slot];
        }
        else
        {
            bool contactsChanged = false;
            keySum = contacts.contactSum (k, registration.pulled, numPulled, slotGain[slot], slotWheel[slot], wheelOut, switches.keyClickLevel,
                                          contactsChanged);
            stale = stale || contactsChanged;
        }

        if (switches.percussionOn && key.percussionTriggered && Percussion::sounds (key.percussionLevel))
        {
            keySum += Percussion::term (key.percussionLevel, wheelOut[percussionWheelIndexFor (k, switches.percThird)], switches.percSoftOn);
            key.percussionLevel = Percussion::decayed (key.percussionLevel, percussionRate, interval);
        }

        keySum = contacts.withReleaseClick (k, keySum, switches.keyClickLevel, keys.mode);
        total += weighted (keySum, key.envelope, key.velocity);
    }

    return total * 0.08f;
}

bool KeyMix::mixSettled (const Keys& keys, const WheelBank& bank, float* mix, int count, const Switches& switches) noexcept
{
    auto& contacts = keys.contacts;
    const float interval = keys.interval;
    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = switches.keyClickLevel > 0.01f;

    if (contacts.activeKeys == 0 || stale || ! std::equal (registration.steps, registration.steps + numDrawbars, builtSteps))
        return false;

    bool anyKeyHeld = false;
    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        const auto& key = contacts.keys[(size_t) k];
        if (! contacts.settled (k, registration.pulledMask, clickOn))
            return false;
        // One decrement to spare covers the rounding of the running subtraction.
        if (key.released && ! (key.envelope > releaseDecrement * static_cast<float> (count + 1)))
            return false;
        anyKeyHeld = anyKeyHeld || ! key.released;
    }

    if (! anyKeyHeld)
        for (int t = 0; t < count; ++t)
            keys.percussion.rearm (interval);

    const SettledPass pass { count, switches, Percussion::rate (switches.percFastOn), interval, attackIncrement, releaseDecrement };
    alignas (64) float total[WheelBank::wheelPass];
    keymix::dispatchedTotals (*this, pass, contacts, bank, total);

    for (int t = 0; t < count; ++t)
        mix[t] = total[t] * 0.08f;
    return true;
}
#endif
