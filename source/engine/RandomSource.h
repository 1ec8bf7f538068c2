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

    // `count` draws of nextFloat in a row, into out[0] to out[count - 1]. The
    // church organ takes one per sounding oscillator per sample; a generator
    // that overrides this (with the same sequence) spares it a call per draw.
    virtual void nextFloats (float* out, int count)
    {
        for (int i = 0; i < count; ++i)
            out[i] = nextFloat();
    }
};
