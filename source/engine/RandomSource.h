#pragma once

// The random draws the voice organs make. The processor backs this with its own
// generator; tests can substitute a seeded one so that renders are repeatable.
class RandomSource
{
public:
    virtual ~RandomSource() = default;

    // Uniform in [0, 1).
    virtual float nextFloat() = 0;
    virtual bool nextBool() = 0;

    // rows x columns draws of nextFloat in a row, stored column by column:
    // draw r x columns + c goes to out[c x rows + r]. The church organ takes
    // one per sounding oscillator per sample, voice by voice, and uses them
    // oscillator by oscillator; a generator that overrides this (with the same
    // sequence) spares it a call per draw.
    virtual void nextFloatsByColumns (float* out, int rows, int columns)
    {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                out[c * rows + r] = nextFloat();
    }
};
