#pragma once

// The one rule for a sample rate a host should never send: anything outside
// 1 Hz to 10 MHz (0, negative, NaN, infinite, absurdly high) plays as 44100 Hz.
// The upper bound keeps every count of samples well inside an int.
constexpr double fallbackSampleRate = 44100.0; // Hz

inline double usableSampleRate (double sampleRate) noexcept
{
    return sampleRate >= 1.0 && sampleRate <= 1.0e7 ? sampleRate : fallbackSampleRate;
}
