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
};
