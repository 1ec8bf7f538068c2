#include "WheelDrift.h"

#include "WheelTables.h"

#include <algorithm>

void WheelDrift::process (float* out, int n, double sampleInterval, MathMode mode) noexcept
{
    constexpr int maxPass = 256; // samples per pass of the scratch arrays
    alignas (64) double arguments[3 * maxPass]; // radians, three per sample
    alignas (64) float drift[3 * maxPass];

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);

        for (int i = 0; i < count; ++i)
        {
            time += sampleInterval;
            if (time > 100.0)
                time -= 100.0;

            arguments[i] = time * 0.5 * twoPi;
            arguments[count + i] = time * 6.3 * twoPi;
            arguments[2 * count + i] = time * 3.1 * twoPi;
        }

        sinekernel::sinesToFloat (arguments, drift, 3 * count, mode);

        for (int i = 0; i < count; ++i)
        {
            float pitchFactor = drift[i] * 0.0003f + 1.0f;
            pitchFactor = pitchFactor + drift[count + i] * 0.00008f;
            pitchFactor = pitchFactor + drift[2 * count + i] * 0.00012f;
            out[start + i] = pitchFactor;
        }
    }
}
