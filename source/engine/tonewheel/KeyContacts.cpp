#include "KeyContacts.h"

#include <algorithm>

void KeyContacts::prepare (double newSampleRate) noexcept
{
    sampleRate = newSampleRate;
    keys.fill (TonewheelKey {});
    activeKeys = 0;
    closed.fill (0);
    bouncing.fill (0);
}

float KeyContacts::nextRandom() noexcept
{
    // Minimal standard: state x 48271 mod (2^31 - 1), the product formed exactly.
    randomState = static_cast<std::uint32_t> ((static_cast<std::uint64_t> (randomState) * 48271u) % 2147483647u);
    return static_cast<float> (randomState) * (1.0f / 2147483648.0f);
}

bool KeyContacts::anyKeyHeld() const noexcept
{
    return std::any_of (keys.begin(), keys.end(), [] (const TonewheelKey& k) { return k.isHeld(); });
}

void KeyContacts::noteOn (int k, float velocity) noexcept
{
    auto& key = keys[(size_t) k];
    activeKeys |= std::uint64_t { 1 } << k;
    key.velocity = velocity >= 0.0f ? std::min (velocity, 1.0f) : 0.0f; // NaN and negatives give silence
    key.active = true;
    key.released = false;
    key.envelope = 0.0f;
    key.clickRemaining = 0;

    // Each contact closes at its own moment within 2.5 ms, with its own bounce.
    closed[(size_t) k] = 0;
    bouncing[(size_t) k] = 0;
    for (int j = 0; j < tonewheel::numDrawbars; ++j)
    {
        const float contactRandom = nextRandom();
        key.contactDelay[j] = static_cast<int> (static_cast<double> (contactRandom) * 0.0025 * sampleRate);
        key.contactClosed[j] = false;
        const float bounceRandom = nextRandom();
        key.bounce[j] = bounceRandom * 0.25f + 0.25f;
        if (key.bounce[j] > 0.001f)
            bouncing[(size_t) k] |= static_cast<std::uint16_t> (1u << j);
    }
}

bool KeyContacts::noteOff (int k) noexcept
{
    auto& key = keys[(size_t) k];
    if (! key.isHeld())
        return false;

    key.released = true;
    key.clickRemaining = static_cast<int> (sampleRate * 0.004); // 4 ms
    key.clickPhase = 0.0f;

    // The delays are kept: contacts whose delay has run out close again on the next sample.
    std::fill (std::begin (key.contactClosed), std::end (key.contactClosed), false);
    closed[(size_t) k] = 0;
    return true;
}

void KeyContacts::allNotesOff() noexcept
{
    for (auto& key : keys)
    {
        key.active = false;
        std::fill (std::begin (key.contactClosed), std::end (key.contactClosed), false);
    }

    activeKeys = 0;
    closed.fill (0);
}

float KeyContacts::contactSum (int k, const int* pulled, int numPulled, const float* gain, const int* wheel, const float* wheelOut,
                               float keyClick, bool& contactsChanged) noexcept
{
    auto& key = keys[(size_t) k];
    const bool clickOn = keyClick > 0.01f;
    float sum = 0.0f;

    for (int p = 0; p < numPulled; ++p)
    {
        const int j = pulled[p]; // a pushed-in drawbar's contact does not count down

        if (! key.contactClosed[j])
        {
            if (key.contactDelay[j] > 0)
            {
                --key.contactDelay[j];
                continue;
            }
            key.contactClosed[j] = true;
            closed[(size_t) k] |= static_cast<std::uint16_t> (1u << j);
            contactsChanged = true; // the wheel's usage counts from the next sample on
        }

        const float w = wheelOut[wheel[p]];

        // Contact bounce: a burst of the contact's own wheel as it closes.
        if (key.bounce[j] > 0.001f && clickOn)
        {
            sum += key.bounce[j] * w * 5.0f * keyClick;
            key.bounce[j] = key.bounce[j] * 0.991f;
            if (! (key.bounce[j] > 0.001f))
                bouncing[(size_t) k] &= static_cast<std::uint16_t> (~(1u << j));
        }

        sum += gain[p] * w;
    }

    return sum;
}

float KeyContacts::releaseClick (int k, float keySum, float keyClick, MathMode mode) noexcept
{
    auto& key = keys[(size_t) k];
    const float interval = static_cast<float> (1.0 / sampleRate); // seconds
    const float releaseClickLength = static_cast<float> (sampleRate * 0.004); // samples
    key.clickPhase = key.clickPhase + interval * 3000.0f;
    const double s = sinekernel::sine (twoPi * static_cast<double> (key.clickPhase), mode);
    const int n = key.clickRemaining;
    key.clickRemaining = n - 1;
    const float e = static_cast<float> (n) / releaseClickLength;
    return static_cast<float> (s * static_cast<double> (e) * static_cast<double> (0.12f) * static_cast<double> (keyClick)
                               + static_cast<double> (keySum));
}
