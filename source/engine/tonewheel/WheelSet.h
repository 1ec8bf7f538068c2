#pragma once

#include <cstdint>

// A set of the tone-wheel organ's 91 wheels, one bit per wheel index (wheel
// number - 1).
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
};
