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
};
