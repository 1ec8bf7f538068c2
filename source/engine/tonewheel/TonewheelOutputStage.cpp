#include "TonewheelOutputStage.h"

#include "WheelTables.h"

#include <algorithm>

void TonewheelOutputStage::prepare (double sampleRate) noexcept
{
    const float interval = static_cast<float> (1.0 / sampleRate);
    lowPassCoefficient = std::min (0.99f, interval * 3500.0f * voicedTwoPi);
    highPassCoefficient = std::min (0.99f, interval * 80.0f * voicedTwoPi);
    filterStates = {};
}

float TonewheelOutputStage::process (float input, MathMode mode) noexcept
{
    const float x = drive (input);
    const float clipTangent = sinekernel::hyperbolicTangent (clipArgument (x), mode);
    const float brightTangent = sinekernel::hyperbolicTangent (brightArgument (x), mode);
    return filters (softClip (x, clipTangent, brightTangent), filterStates);
}

void TonewheelOutputStage::processBlock (float* samples, int n, MathMode mode) noexcept
{
    constexpr int maxPass = 256; // samples per pass of the scratch arrays
    alignas (64) float x[maxPass];
    alignas (64) float clipTangent[maxPass];
    alignas (64) float brightTangent[maxPass];

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);
        for (int i = 0; i < count; ++i)
        {
            x[i] = drive (samples[start + i]);
            clipTangent[i] = clipArgument (x[i]);
            brightTangent[i] = brightArgument (x[i]);
        }

        sinekernel::hyperbolicTangents (clipTangent, clipTangent, count, mode);
        sinekernel::hyperbolicTangents (brightTangent, brightTangent, count, mode);

        // The states in registers: the samples could otherwise alias them.
        auto states = filterStates;
        for (int i = 0; i < count; ++i)
            samples[start + i] = filters (softClip (x[i], clipTangent[i], brightTangent[i]), states);
        filterStates = states;
    }
}

float TonewheelOutputStage::filters (float y, FilterStates& s) const noexcept
{
    s.follower = s.follower + 0.999f * (y - s.follower);
    const float u = (y - s.follower * 0.02f) * 0.55f;

    s.lowPass1 += lowPassCoefficient * (u - s.lowPass1);
    s.lowPass2 += lowPassCoefficient * (s.lowPass1 - s.lowPass2);
    s.highPassState += highPassCoefficient * (s.lowPass2 - s.highPassState);

    return s.lowPass2 - s.highPassState;
}
