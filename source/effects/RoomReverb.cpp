#include "RoomReverb.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr short combTunings[RoomReverb::numCombs] = { 1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617 }; // samples at 44.1 kHz
constexpr short allPassTunings[RoomReverb::numAllPasses] = { 556, 441, 341, 225 };                        // samples at 44.1 kHz
constexpr int stereoSpread = 23;                                                                          // samples at 44.1 kHz
constexpr double glideSeconds = 0.01;

// Pushes a value through a float addition and back: values too small to show
// beside 0.1 become 0, so the filters' states never turn denormal.
inline float flushTiny (float x) noexcept
{
    x += 0.1f;
    x -= 0.1f;
    return x;
}
} // namespace

RoomReverb::RoomReverb()
{
    setSettings (ReverbSettings {});
    prepare (44100.0);
}

void RoomReverb::prepare (double sampleRate)
{
    const int rate = static_cast<int> (sampleRate);
    int combSizes[2][numCombs];
    int allPassSizes[2][numAllPasses];
    size_t total = 0;
    for (int side = 0; side < 2; ++side)
    {
        const int spread = side * stereoSpread;
        for (int i = 0; i < numCombs; ++i)
            total += (size_t) (combSizes[side][i] = std::max (1, (rate * (combTunings[i] + spread)) / 44100));
        for (int i = 0; i < numAllPasses; ++i)
            total += (size_t) (allPassSizes[side][i] = std::max (1, (rate * (allPassTunings[i] + spread)) / 44100));
    }

    storage.assign (total, 0.0f);
    float* next = storage.data();
    auto place = [&next] (Line& line, int size) {
        line = { next, size, 0 };
        next += size;
    };
    for (int side = 0; side < 2; ++side)
    {
        for (int i = 0; i < numCombs; ++i)
            place (combs[(size_t) side][(size_t) i].line, combSizes[side][i]);
        for (int i = 0; i < numAllPasses; ++i)
            place (allPasses[(size_t) side][(size_t) i].line, allPassSizes[side][i]);
    }
    reset();

    const int glideLength = static_cast<int> (std::floor (glideSeconds * sampleRate));
    for (auto* glide : { &damping, &feedback, &dryGain, &wetGain1, &wetGain2 })
        glide->setLength (glideLength);
}

void RoomReverb::reset() noexcept
{
    std::fill (storage.begin(), storage.end(), 0.0f);
    for (auto& side : combs)
        for (auto& comb : side)
            comb.last = 0.0f;
}

void RoomReverb::setSettings (const ReverbSettings& settings) noexcept
{
    const float wet = settings.wetLevel * 3.0f;
    dryGain.setTarget (settings.dryLevel * 2.0f);
    wetGain1.setTarget (0.5f * wet * (1.0f + settings.width));
    wetGain2.setTarget (0.5f * wet * (1.0f - settings.width));
    damping.setTarget (settings.damping * 0.4f);
    feedback.setTarget (settings.roomSize * 0.28f + 0.7f);
}

void RoomReverb::process (float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numSamples <= 0)
        return;
    if (numChannels == 1)
        processMono (channels[0], numSamples);
    else if (numChannels == 2)
        processStereo (channels[0], channels[1], numSamples);
}

void RoomReverb::processStereo (float* left, float* right, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const float input = (left[i] + right[i]) * inputGain;
        float outL = 0.0f, outR = 0.0f;
        const float damp = damping.next();
        const float fb = feedback.next();

        for (int j = 0; j < numCombs; ++j)
        {
            outL += combs[0][(size_t) j].process (input, damp, fb);
            outR += combs[1][(size_t) j].process (input, damp, fb);
        }
        for (int j = 0; j < numAllPasses; ++j)
        {
            outL = allPasses[0][(size_t) j].process (outL);
            outR = allPasses[1][(size_t) j].process (outR);
        }

        const float dry = dryGain.next();
        const float wet1 = wetGain1.next();
        const float wet2 = wetGain2.next();
        left[i] = outL * wet1 + outR * wet2 + left[i] * dry;
        right[i] = outR * wet1 + outL * wet2 + right[i] * dry;
    }
}

void RoomReverb::processMono (float* samples, int numSamples) noexcept
{
    for (int i = 0; i < numSamples; ++i)
    {
        const float input = samples[i] * inputGain;
        float out = 0.0f;
        const float damp = damping.next();
        const float fb = feedback.next();

        for (int j = 0; j < numCombs; ++j)
            out += combs[0][(size_t) j].process (input, damp, fb);
        for (int j = 0; j < numAllPasses; ++j)
            out = allPasses[0][(size_t) j].process (out);

        const float dry = dryGain.next();
        const float wet1 = wetGain1.next(); // the other side's gain stands still in mono
        samples[i] = out * wet1 + samples[i] * dry;
    }
}

float RoomReverb::Comb::process (float input, float damp, float feedbackLevel) noexcept
{
    float& slot = line.samples[line.index];
    const float output = slot;
    last = flushTiny ((output * (1.0f - damp)) + (last * damp));
    slot = flushTiny (input + (last * feedbackLevel));
    line.advance();
    return output;
}

float RoomReverb::AllPass::process (float input) noexcept
{
    float& slot = line.samples[line.index];
    const float buffered = slot;
    slot = flushTiny (input + (buffered * 0.5f));
    line.advance();
    return buffered - input;
}

void RoomReverb::Glide::setLength (int samples) noexcept
{
    length = samples;
    current = target;
    countdown = 0;
}

void RoomReverb::Glide::setTarget (float newTarget) noexcept
{
    if (newTarget == target)
        return;

    if (length <= 0)
    {
        current = target = newTarget;
        countdown = 0;
        return;
    }

    target = newTarget;
    countdown = length;
    step = (target - current) / static_cast<float> (countdown);
}

float RoomReverb::Glide::next() noexcept
{
    if (countdown <= 0)
        return target;

    --countdown;
    current = countdown > 0 ? current + step : target;
    return current;
}
