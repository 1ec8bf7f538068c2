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

float Scanner::process (float input, float chorusDepth, int mode) noexcept
{
    processBlock (&input, 1, chorusDepth, mode);
    return input;
}

void Scanner::processBlock (float* samples, int n, float chorusDepth, int mode) noexcept
{
    if (! (chorusDepth > 0.01f))
        return;

    const auto shape = shapeOf (mode);
    static_assert ((length & (length - 1)) == 0, "the line wraps by masking");
    const float rate = static_cast<float> (sampleRate); // Hz
    const double lfoStep = (1.0 / sampleRate) * 7.0;    // cycles per sample, 7 Hz

    // A pass writes all its samples into the line before it reads any back. A
    // read reaches at most the longest delay (plus two slots) behind its own
    // sample, so a pass shorter than the line less that reach never reads a
    // slot that a later sample of the same pass has written.
    const float reach = std::min (rate * 0.001f * shape.depth * chorusDepth * 1.001f + 2.0f, static_cast<float> (length)); // samples
    const int passLength = std::clamp (length - 1 - static_cast<int> (reach), 1, maxPass);

    for (int start = 0; start < n; start += passLength)
    {
        const int count = std::min (passLength, n - start);
        float* x = samples + start;

        float triangle[maxPass]; // 0 to 1
        for (int i = 0; i < count; ++i)
        {
            lfoPhase += lfoStep;
            if (lfoPhase >= 1.0)
                lfoPhase -= 1.0;

            float tri = static_cast<float> (lfoPhase) * 2.0f;
            if (tri > 1.0f)
                tri = 2.0f - tri;
            triangle[i] = tri;
        }

        const int firstWrite = writeIndex;
        for (int i = 0; i < count; ++i)
            line[(size_t) ((firstWrite + i) & (length - 1))] = x[i];
        writeIndex = (firstWrite + count) & (length - 1);

        float wet[maxPass];
        for (int i = 0; i < count; ++i)
        {
            // Largest delay 1 ms x depth x amount. The line holds 1 ms up to 512 kHz; above
            // that (or with an amount above 1) the delay is held inside the line.
            float delay = rate * 0.001f * triangle[i] * shape.depth * chorusDepth; // samples
            delay = std::min (delay, static_cast<float> (length - 1));

            // From the slot after sample i's, as if it alone had been written.
            const int after = (firstWrite + i + 1) & (length - 1);
            float readPosition = static_cast<float> (after) - 1.0f - delay;
            if (readPosition < 0.0f)
                readPosition += static_cast<float> (length);

            // readPosition is 0 to 512 here, so truncation is its floor.
            const int whole = static_cast<int> (readPosition);
            const int slot = whole & (length - 1);
            const float f = readPosition - static_cast<float> (whole);
            wet[i] = (1.0f - f) * line[(size_t) slot] + f * line[(size_t) ((slot + 1) & (length - 1))];
        }

        if (! shape.isChorus)
        {
            std::copy (wet, wet + count, x);
            continue;
        }

        const float mix = shape.depth * 0.25f + 0.35f;
        for (int i = 0; i < count; ++i)
            x[i] = (1.0f - mix) * x[i] + mix * wet[i];
    }
}

int Scanner::modeFor (float chorusDepth) noexcept
{
    if (chorusDepth < 0.34f)
        return 3;
    if (chorusDepth < 0.51f)
        return 4;
    if (chorusDepth < 0.68f)
        return 5;
    if (chorusDepth < 0.84f)
        return 1;
    return 2;
}
