#pragma once

// What the tone-wheel organ's tests share: their settings, render helpers and
// a partial's amplitude by Fourier sum.

#include "TonewheelGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace tonewheeltest
{
constexpr double pi = 3.141592653589793;

// Drawbar indices by footage.
constexpr int bar16 = 0;
constexpr int bar8 = 2;
constexpr int bar4 = 3;

struct Settings
{
    DrawbarLevels drawbars {};
    float chorus = 0.0f;
    bool percussion = false;
    bool third = false;
    bool fast = false;
    float keyClick = 0.0f;
    bool soft = false;
};

inline Settings withDrawbars (std::initializer_list<int> pulled)
{
    Settings s;
    for (int j : pulled)
        s.drawbars[(size_t) j] = 1.0f;
    return s;
}

inline float renderKeys (TonewheelGenerator& g, const Settings& s)
{
    return g.renderKeys (s.drawbars, s.percussion, s.third, s.fast, s.keyClick, s.soft);
}

inline float renderSample (TonewheelGenerator& g, const Settings& s)
{
    return g.renderSample (s.drawbars, s.chorus, TonewheelGenerator::scannerModeFor (s.chorus), s.percussion, s.third,
                           s.fast, s.keyClick, s.soft, false);
}

// The same settings as renderBlock takes them, in the order of its fields
// (drawbars, chorus, scanner mode, percussion, third, fast, key click, soft).
inline TonewheelGenerator::Settings blockSettingsOf (const Settings& s)
{
    return { s.drawbars, s.chorus, TonewheelGenerator::scannerModeFor (s.chorus), s.percussion, s.third, s.fast, s.keyClick, s.soft };
}

inline void renderKeys (TonewheelGenerator& g, const Settings& s, int samples)
{
    for (int n = 0; n < samples; ++n)
        renderKeys (g, s);
}

inline int samplesFor (double seconds, double sampleRate)
{
    return (int) std::lround (seconds * sampleRate);
}

inline const TonewheelKey& keyOf (const TonewheelGenerator& g, int note)
{
    return g.getKeys()[(size_t) (note - TonewheelGenerator::lowestNote)];
}

inline float wheelOutput (const TonewheelGenerator& g, int wheelNumber)
{
    return g.getWheelOutputs()[(size_t) (wheelNumber - 1)];
}

// Amplitude of the partial at `hz` in `signal`, through a Blackman-Harris window
// (side lobes below -92 dB, so a loud neighbour four bins away does not leak in).
inline double partialAmplitude (const std::vector<float>& signal, double hz, double sampleRate)
{
    std::complex<double> sum;
    double windowSum = 0.0;
    const auto n = signal.size();

    for (size_t i = 0; i < n; ++i)
    {
        const double x = 2.0 * pi * (double) i / (double) n;
        const double w = 0.35875 - 0.48829 * std::cos (x) + 0.14128 * std::cos (2.0 * x) - 0.01168 * std::cos (3.0 * x);
        sum += w * (double) signal[i] * std::polar (1.0, -2.0 * pi * hz * (double) i / sampleRate);
        windowSum += w;
    }

    return 2.0 * std::abs (sum) / windowSum;
}

struct PreparedTonewheel : ::testing::Test
{
    PreparedTonewheel() { g.prepare (48000.0); }
    TonewheelGenerator g;
};
} // namespace tonewheeltest
