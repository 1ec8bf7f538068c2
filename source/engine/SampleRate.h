#pragma once

// The one rule for a sample rate a host should never send: anything outside
// 1 kHz to 1 MHz (0, negative, NaN, infinite, absurdly low or high) plays as
// 44100 Hz. Every stage of the chain is prepared with the rate this gives.
//
// The range is what the whole chain survives, with a margin, and it holds
// every rate a host really runs at (8 kHz to 768 kHz). The reverb sets the
// bounds: its shortest all-pass line is 225 samples at 44.1 kHz, scaled with
// the rate and rounded down, and a line of no samples divides by zero, which
// happens below 196 Hz; its longest comb line is worked out as the rate times
// 1640 in a 32-bit int, which overflows above 1.309 MHz.
constexpr double fallbackSampleRate = 44100.0; // Hz
constexpr double lowestSampleRate = 1000.0;     // Hz
constexpr double highestSampleRate = 1.0e6;     // Hz

inline double usableSampleRate (double sampleRate) noexcept
{
    return sampleRate >= lowestSampleRate && sampleRate <= highestSampleRate ? sampleRate : fallbackSampleRate;
}
