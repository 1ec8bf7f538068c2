#pragma once

#include <cmath>

// The output saturation: volume and MIDI expression into a soft limiter that
// never exceeds 0.75 in magnitude (gain 1.125 x volume x expression when quiet).
struct OutputStage
{
    static float process (float sample, float volumeLevel, float expression) noexcept
    {
        return std::tanh (volumeLevel * expression * sample * 1.5f) * 0.75f;
    }
};
