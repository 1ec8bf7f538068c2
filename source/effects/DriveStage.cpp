#include "DriveStage.h"

#include <cmath>

float DriveStage::applyDrive (float sample, float amount, int type, MathMode mode) noexcept
{
    const float x = sample * (1.0f + 15.0f * amount);

    switch (type)
    {
        case tube:
        {
            // Asymmetric soft clip: the negative half is flattened harder.
            float y = x > 0.0f ? sinekernel::hyperbolicTangent (x, mode) : sinekernel::hyperbolicTangent (1.3f * x, mode) / 1.3f;
            return y + 0.1f * sinekernel::hyperbolicTangent (2.0f * y, mode);
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
