#pragma once

#include "SineKernel.h"

// The output saturation: volume and MIDI expression into a soft limiter that
// never exceeds 0.75 in magnitude (gain 1.125 x volume x expression when quiet).
// `mode` picks the tangent: the engines' own kernel (the default) or the C
// library's single-precision tanh.
struct OutputStage
{
    static float process (float sample, float volumeLevel, float expression, MathMode mode = MathMode::fast) noexcept
    {
        return sinekernel::hyperbolicTangent (volumeLevel * expression * sample * 1.5f, mode) * 0.75f;
    }

    // The same for n samples in place, the tangents many at a time.
    static void process (float* samples, int n, float volumeLevel, float expression, MathMode mode = MathMode::fast) noexcept
    {
        for (int i = 0; i < n; ++i)
            samples[i] = volumeLevel * expression * samples[i] * 1.5f;
        sinekernel::hyperbolicTangents (samples, samples, n, mode);
        for (int i = 0; i < n; ++i)
            samples[i] = samples[i] * 0.75f;
    }
};
