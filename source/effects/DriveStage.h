#pragma once

#include "SineKernel.h"

// The drive stage: a pre-gain and one of three saturation characters. It keeps
// no state; the caller applies the make-up gain and the 1 % threshold.
class DriveStage
{
public:
    enum Character
    {
        tube = 0,
        fuzz = 1,
        crunch = 2
    };

    // sample times the pre-gain (1 + 15 amount), shaped by the character `type`.
    // `mode` picks the arithmetic of the tube character's tangents: the engines'
    // own kernel (the default) or the C library's single-precision tanh.
    static float applyDrive (float sample, float amount, int type, MathMode mode = MathMode::fast) noexcept;

    // The same for n samples in place, each then times `makeup`; the tube
    // character's tangents are worked out many samples at a time.
    static void applyDrive (float* samples, int n, float amount, int type, float makeup, MathMode mode = MathMode::fast) noexcept;

    // Samples per pass of the block version's scratch arrays.
    static constexpr int maxPass = 256;

private:
    // The tube character: a soft clip of the pre-gained sample x whose
    // negative half is flattened harder, plus a touch of its own second stage.
    static float tubeArgument (float x) noexcept { return x > 0.0f ? x : 1.3f * x; }
    static float tubeFirst (float x, float tangent) noexcept { return x > 0.0f ? tangent : tangent / 1.3f; }
    static float tubeSecond (float y, float tangent) noexcept { return y + 0.1f * tangent; }
};
