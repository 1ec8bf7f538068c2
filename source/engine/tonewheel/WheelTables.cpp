#include "WheelTables.h"

#include <algorithm>
#include <cmath>

namespace tonewheel
{
namespace
{
// Wheel tuning: 20 Hz times an octave multiplier times one of twelve gear ratios.
constexpr double wheelBaseFrequency = 20.0;                       // Hz
constexpr int octaveMultipliers[7] = { 2, 4, 8, 16, 32, 64, 128 }; // wheels 1-12, 13-24, ... 73-84
constexpr int topOctaveMultiplier = 192;                          // wheels 85 to 91
constexpr double semitoneRatios[12] = {
    85.0 / 104.0, 71.0 / 82.0, 67.0 / 73.0, 35.0 / 36.0, 103.0 / 100.0, 12.0 / 11.0,
    37.0 / 32.0,  49.0 / 40.0, 48.0 / 37.0, 11.0 / 8.0,  67.0 / 46.0,   54.0 / 35.0,
};

// Semitones of each drawbar above the key's 8' wheel.
constexpr int drawbarOffsets[numDrawbars] = { -12, 7, 0, 12, 19, 24, 28, 31, 36 };

// Wheel numbers above 91 fold back into the top octave, wheels 80 to 91.
constexpr int foldIntoTopOctave (int wheelNumber)
{
    return wheelNumber > numWheels ? 80 + (wheelNumber - 92) % 12 : wheelNumber;
}

struct WheelMap
{
    int index[numKeys][numDrawbars] {};
};

constexpr WheelMap makeWheelMap()
{
    WheelMap map;
    for (int k = 0; k < numKeys; ++k)
    {
        for (int j = 0; j < numDrawbars; ++j)
        {
            const int e = k + drawbarOffsets[j];
            // Below the lowest octave the 16' borrows the 8' wheel of the same key.
            const int wheel = e >= 0 ? e + 13 : e + 25;
            map.index[k][j] = foldIntoTopOctave (wheel) - 1;
        }
    }
    return map;
}

constexpr WheelMap wheelMap = makeWheelMap();

struct ShareScales
{
    float ofUses[numKeys * numDrawbars + 1] {};

    ShareScales()
    {
        ofUses[0] = 1.0f;
        ofUses[1] = 1.0f;
        for (int n = 2; n <= numKeys * numDrawbars; ++n)
            ofUses[n] = 1.0f / std::sqrt (static_cast<float> (n));
    }
};

const ShareScales shareScales;

// f (0.7 x i) for every wheel slot i.
template <class F>
std::array<double, numWheelSlots> ofLevelOffsets (F f)
{
    std::array<double, numWheelSlots> values {};
    for (int i = 0; i < numWheelSlots; ++i)
        values[(size_t) i] = f (0.7 * i);
    return values;
}
} // namespace

const std::array<double, numWheelSlots> levelOffsets = ofLevelOffsets ([] (double x) { return x; });

const std::array<std::array<double, numWheelSlots>, levelSeriesLength> levelSeries = [] {
    std::array<std::array<double, numWheelSlots>, levelSeriesLength> series {};
    double scale = 1.0; // 0.13^k / k!
    for (int k = 0; k < levelSeriesLength; ++k)
    {
        // The k-th derivative of sin: sin, cos, -sin, -cos, then again.
        const double sign = k % 4 < 2 ? 1.0 : -1.0;
        const bool even = k % 2 == 0;
        series[(size_t) k] = ofLevelOffsets ([&] (double x) { return sign * scale * (even ? std::sin (x) : std::cos (x)); });
        scale *= 0.13 / (k + 1);
    }
    return series;
}();

int wheelIndexFor (int key, int drawbar) noexcept
{
    return wheelMap.index[key][drawbar];
}

int percussionWheelIndexFor (int key, bool thirdHarmonic) noexcept
{
    // k + 13 is the key's 8' wheel; +12 or +19 semitones above it.
    return foldIntoTopOctave (key + (thirdHarmonic ? 32 : 25)) - 1;
}

int drawbarStepFor (float level) noexcept
{
    const float position = level * 8.0f + 0.5f;

    if (! (position >= 1.0f)) // also catches NaN
        return 0;

    return position >= 8.0f ? 8 : static_cast<int> (position);
}

float shareScale (int uses) noexcept
{
    return shareScales.ofUses[uses];
}

void WheelTables::prepare (double sampleRate)
{
    for (int i = 0; i < numWheels; ++i)
    {
        const int multiplier = i < 84 ? octaveMultipliers[i / 12] : topOctaveMultiplier;
        const int ratio = i < 84 ? i % 12 : i - 79; // wheels 85 to 91 use ratios 5 to 11
        frequency[(size_t) i] = static_cast<double> (multiplier) * wheelBaseFrequency * semitoneRatios[ratio];
    }

    // Harmonics of the low wheels that would alias at this rate stay out.
    const double harmonicLimit = 0.45 * sampleRate; // Hz
    for (int h = 0; h < numHarmonics; ++h)
        for (int i = 0; i < numLowWheels; ++i)
            harmonicWeight[(size_t) (h * numLowWheels + i)] =
                harmonicLimit > lowWheelHarmonics[h] * frequency[(size_t) i] ? lowWheelHarmonicWeights[h] : 0.0f;

    for (int i = 0; i < numWheelSlots; ++i)
    {
        stepAngle[(size_t) i] = twoPi * frequency[(size_t) i] * (1.0 / sampleRate);
        stepCosine[(size_t) i] = std::cos (stepAngle[(size_t) i]);
        stepSine[(size_t) i] = std::sin (stepAngle[(size_t) i]);
    }

    const float interval = static_cast<float> (1.0 / sampleRate);
    const float brightCoefficient = std::min (0.99f, interval * 4500.0f * voicedTwoPi);
    darkCoefficient = std::min (0.99f, interval * 3500.0f * voicedTwoPi);
    for (int i = 0; i < numWheels; ++i)
        pickupCoefficient[(size_t) i] = i < firstPickupFilteredWheel ? 0.0f
                                        : i < firstDarkPickupWheel   ? brightCoefficient
                                                                     : darkCoefficient;
}
} // namespace tonewheel
