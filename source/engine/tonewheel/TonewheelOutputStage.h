#pragma once

#include "SineKernel.h"

// The tone-wheel organ's output stage: an asymmetric soft clip, a two-pole
// low-pass near 3.5 kHz and a one-pole high-pass near 80 Hz. The clip keeps
// no state and takes two tangents per sample, which the block path works out
// many at a time. A plain value type.
class TonewheelOutputStage
{
public:
    void prepare (double sampleRate) noexcept;

    // One sample.
    float process (float input, MathMode mode) noexcept;

    // n samples in place, with the tangents worked out many at a time: the same samples as process.
    void processBlock (float* samples, int n, MathMode mode) noexcept;

private:
    // The clip's input and the arguments of its two tangents.
    static float drive (float input) noexcept { return input * 1.8f; }
    static float clipArgument (float x) noexcept { return x > 0.0f ? x * 1.1f : x * 0.9f; }
    static float brightArgument (float x) noexcept { return x * 2.0f; }
    // The positive half a little harder, the negative a little louder.
    static float softClip (float x, float clipTangent, float brightTangent) noexcept
    {
        const float m = x > 0.0f ? clipTangent : clipTangent * 1.05f;
        return brightTangent * 0.04f + m;
    }

    // The filters' states, a value a block keeps in registers.
    struct FilterStates
    {
        float follower = 0.0f;      // level follower, signal units
        float lowPass1 = 0.0f;      // first low-pass section's state
        float lowPass2 = 0.0f;      // second low-pass section's state
        float highPassState = 0.0f; // low-passed copy the high-pass removes
    };
    float filters (float clipped, FilterStates& states) const noexcept;

    float lowPassCoefficient = 0.0f;  // one-pole coefficient of each low-pass section, 0 to 0.99
    float highPassCoefficient = 0.0f; // one-pole coefficient of the high-pass, 0 to 0.99
    FilterStates filterStates;
};
