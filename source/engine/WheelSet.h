#pragma once

#include <cstdint>

// A set of the tone-wheel organ's 91 wheels, one bit per wheel index (wheel
// number - 1), and the contiguous runs that cover it.
struct WheelSet
{
    static constexpr int numWheels = 91;

    std::uint64_t low = 0;  // wheels 1 to 64
    std::uint64_t high = 0; // wheels 65 to 91 (and unused bits above)

    static constexpr WheelSet all() noexcept { return { ~std::uint64_t { 0 }, ~std::uint64_t { 0 } }; }

    bool contains (int i) const noexcept { return ((i < 64 ? low >> i : high >> (i - 64)) & 1) != 0; }
    void add (int i) noexcept { (i < 64 ? low : high) |= std::uint64_t { 1 } << (i & 63); }
    bool empty() const noexcept { return (low | high) == 0; }

    constexpr WheelSet operator& (const WheelSet& other) const noexcept { return { low & other.low, high & other.high }; }
    constexpr WheelSet operator| (const WheelSet& other) const noexcept { return { low | other.low, high | other.high }; }
    constexpr WheelSet operator~() const noexcept { return { ~low, ~high }; }

    // Ranges [start, end) of wheel indices, worked on one range at a time.
    struct Runs
    {
        int count = 0;
        int start[numWheels] {};
        int end[numWheels] {};
    };

    // The runs that cover the set. Runs less than four wheels apart are merged:
    // the wheels between them are mostly worked out anyway, as neighbours for
    // the crosstalk, and one longer run keeps the vector loops full.
    Runs runs() const noexcept
    {
        constexpr int mergeGap = 3; // wheels

        Runs r;
        for (int i = 0; i < numWheels; ++i)
        {
            if (! contains (i))
                continue;

            if (r.count > 0 && i - r.end[r.count - 1] <= mergeGap)
            {
                r.end[r.count - 1] = i + 1;
            }
            else
            {
                r.start[r.count] = i;
                r.end[r.count] = i + 1;
                ++r.count;
            }
        }
        return r;
    }
};
