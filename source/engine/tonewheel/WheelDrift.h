#pragma once

#include "SineKernel.h"

// The wheel motor's drift: a common pitch factor near 1 from three slow sines
// (0.5, 3.1 and 6.3 Hz), seamless over its 100 s wrap. A plain value type.
class WheelDrift
{
public:
    void reset() noexcept { time = 0.0; }

    // The pitch factors of the next n samples (sampleInterval in seconds) into out.
    void process (float* out, int n, double sampleInterval, MathMode mode) noexcept;

private:
    double time = 0.0; // seconds, wraps from above 100 back by 100
};
