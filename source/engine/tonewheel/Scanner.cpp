#include "Scanner.h"

#include <algorithm>

namespace
{
struct ModeShape
{
    float depth;   // scales the largest delay of 1 ms
    bool isChorus; // chorus mixes the swept signal with the dry one; vibrato is swept only
};

ModeShape shapeOf (int mode) noexcept
{
    switch (mode)
    {
        case 0: return { 0.33f, false };
        case 1: return { 0.66f, false };
        case 2: return { 1.0f, false };
        case 3: return { 0.33f, true };
        case 4: return { 0.66f, true };
        case 5: return { 1.0f, true };
        default: return { 0.66f, true };
    }
}
} // namespace

void Scanner::prepare (double newSampleRate) noexcept
{
    sampleRate = newSampleRate;
    line.fill (0.0f);
    writeIndex = 0;
    lfoPhase = 0.0;
}

float Scanner::process (float input, float chorusAmount, int mode) noexcept
{
    if (! (chorusAmount > 0.01f))
        return input;

    const auto shape = shapeOf (mode);

    static_assert ((length & (length - 1)) == 0, "the line wraps by masking");
    line[(size_t) writeIndex] = input;
    writeIndex = (writeIndex + 1) & (length - 1);

    lfoPhase += (1.0 / sampleRate) * 7.0; // 7 Hz
    if (lfoPhase >= 1.0)
        lfoPhase -= 1.0;

    float triangle = static_cast<float> (lfoPhase) * 2.0f;
    if (triangle > 1.0f)
        triangle = 2.0f - triangle;

    // Largest delay 1 ms x depth x amount. The line holds 1 ms up to 512 kHz; above
    // that (or with an amount above 1) the delay is held inside the line.
    float delay = static_cast<float> (sampleRate) * 0.001f * triangle * shape.depth * chorusAmount; // samples
    delay = std::min (delay, static_cast<float> (length - 1));

    float readPosition = static_cast<float> (writeIndex) - 1.0f - delay;
    if (readPosition < 0.0f)
        readPosition += static_cast<float> (length);

    // readPosition is 0 to 512 here, so truncation is its floor.
    const int whole = static_cast<int> (readPosition);
    const int i = whole & (length - 1);
    const float f = readPosition - static_cast<float> (whole);
    const float wet = (1.0f - f) * line[(size_t) i] + f * line[(size_t) ((i + 1) & (length - 1))];

    if (! shape.isChorus)
        return wet;

    const float mix = shape.depth * 0.25f + 0.35f;
    return (1.0f - mix) * input + mix * wet;
}

int Scanner::modeFor (float chorusAmount) noexcept
{
    if (chorusAmount < 0.34f)
        return 3;
    if (chorusAmount < 0.51f)
        return 4;
    if (chorusAmount < 0.68f)
        return 5;
    if (chorusAmount < 0.84f)
        return 1;
    return 2;
}
