#pragma once

#include <array>

// The vibrato/chorus scanner: a 1 ms delay line swept by a 7 Hz triangle,
// alone (vibrato) or mixed with the dry signal (chorus), at three depths.
// Modes 0 to 2 are vibrato at depths 1 to 3, 3 to 5 chorus at depths 1 to 3.
// A plain value type.
class Scanner
{
public:
    static constexpr int length = 512; // slots of the delay line

    void prepare (double sampleRate) noexcept;

    // One sample. Passes the input through untouched, and stands still, while
    // the chorus amount (0 to 1) is 0.01 or less.
    float process (float input, float chorusDepth, int mode) noexcept;

    // The same for n samples in place.
    void processBlock (float* samples, int n, float chorusDepth, int mode) noexcept;

    // The mode (0 to 5) for a chorus amount (0 to 1).
    static int modeFor (float chorusDepth) noexcept;

    int getWriteIndex() const noexcept { return writeIndex; }
    double getLfoPhase() const noexcept { return lfoPhase; }

private:
    static constexpr int maxPass = 64; // samples per pass of the scratch arrays

    double sampleRate = 44100.0;       // Hz
    std::array<float, length> line {}; // circular delay line, samples of the key mix
    int writeIndex = 0;                // next slot to write, 0 to 511
    double lfoPhase = 0.0;             // cycles of the 7 Hz triangle, [0, 1)
};
