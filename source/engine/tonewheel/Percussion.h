#pragma once

#include <algorithm>

// The single-trigger percussion: only the first key of a phrase takes it, as
// a decaying burst of its second or third harmonic wheel, and it re-arms only
// after every key has been up for a while. The per-key level lives in the
// key's record; this unit owns the trigger, the decay and the term a key adds
// to its sum, the same for every key loop. A plain value type.
class Percussion
{
public:
    void reset() noexcept { armed = 1.0f; }

    // A key goes down: true if it takes the percussion (nothing held before, and armed).
    bool trigger (bool anyKeyHeld) noexcept
    {
        if (anyKeyHeld || ! (armed > 0.5f))
            return false;

        armed = 0.0f;
        return true;
    }

    // One sample with no key held re-arms by 8 per second, up to 1 (interval in seconds).
    void rearm (float interval) noexcept { armed = std::min (armed + interval * 8.0f, 1.0f); }

    float getArmed() const noexcept { return armed; }

    // A triggered key's level sounds while above 0.001.
    static bool sounds (float level) noexcept { return level > 0.001f; }

    // Falls per second: normal 0.92, fast 4.6.
    static float rate (bool fast) noexcept { return fast ? 4.6f : 0.92f; }

    // The level one sample on (rate per second, interval in seconds).
    static float decayed (float level, float rate, float interval) noexcept { return level - level * rate * interval; }

    // What a sounding level adds to its key's sum from its harmonic wheel's signal.
    static float term (float level, float wheel, bool soft) noexcept
    {
        float t = level * wheel * 0.45f;
        if (soft)
            t = t * 0.5f;
        return t;
    }

private:
    float armed = 1.0f; // 0 to 1; a key may take the percussion above 0.5
};
