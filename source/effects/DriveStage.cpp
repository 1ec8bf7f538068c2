#include "DriveStage.h"

#include <algorithm>
#include <cmath>

float DriveStage::applyDrive (float sample, float amount, int type, MathMode mode) noexcept
{
    const float x = sample * (1.0f + 15.0f * amount);

    switch (type)
    {
        case tube:
        {
            const float y = tubeFirst (x, sinekernel::hyperbolicTangent (tubeArgument (x), mode));
            return tubeSecond (y, sinekernel::hyperbolicTangent (2.0f * y, mode));
        }

        case fuzz:
        {
            const float y = x < -0.8f ? -0.8f : (x > 0.8f ? 0.8f : x);
            return y - 0.33f * (y * y * y);
        }

        case crunch:
        {
            constexpr float knee = 0.6f;
            constexpr float span = 1.0f - knee; // 0.39999998 in single precision
            float y = x;

            if (x > knee)
            {
                const float e = x - knee;
                y = knee + e / (1.0f + e / span);
            }
            else if (x < -knee)
            {
                const float e = -x - knee;
                y = -(knee + e / (1.0f + e / span));
            }

            // 6-bit-style quantiser: whole multiples of 1/64, halves away from zero.
            return std::round (y * 64.0f) * 0.015625f;
        }

        default:
            return x;
    }
}

void DriveStage::applyDrive (float* samples, int n, float amount, int type, float makeup, MathMode mode) noexcept
{
    if (type != tube)
    {
        for (int i = 0; i < n; ++i)
            samples[i] = applyDrive (samples[i], amount, type, mode) * makeup;
        return;
    }

    const float preGain = 1.0f + 15.0f * amount;
    alignas (64) float x[maxPass];
    alignas (64) float arguments[maxPass];
    alignas (64) float tangents[maxPass];

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);
        float* s = samples + start;

        for (int i = 0; i < count; ++i)
        {
            x[i] = s[i] * preGain;
            arguments[i] = tubeArgument (x[i]);
        }
        sinekernel::hyperbolicTangents (arguments, tangents, count, mode);

        for (int i = 0; i < count; ++i)
        {
            s[i] = tubeFirst (x[i], tangents[i]);
            arguments[i] = 2.0f * s[i];
        }
        sinekernel::hyperbolicTangents (arguments, tangents, count, mode);

        for (int i = 0; i < count; ++i)
            s[i] = tubeSecond (s[i], tangents[i]) * makeup;
    }
}
