#pragma once

#include "TwoPi.h"

#include <array>
#include <cstdint>

// The tone-wheel organ's fixed numbers and tables: how many wheels, keys and
// drawbars; which wheel each key's drawbar sounds; the drawbar gains; and,
// per sample rate, each wheel's frequency, the low wheels' harmonic weights
// and the pickup filters' coefficients.
//
// Numbering: wheel n (1 to 91, lowest pitch first) lives at index n - 1; key k
// (0 to 60) is MIDI note k + 36; drawbars 0 to 8 are the footages
// 16', 5 1/3', 8', 4', 2 2/3', 2', 1 3/5', 1 1/3', 1'.
namespace tonewheel
{
constexpr int numWheels = 91;
constexpr int numWheelSlots = 92; // wheel arrays, padded to whole groups of four wheels
constexpr int numKeys = 61;
constexpr int numDrawbars = 9;
constexpr int lowestNote = 36;
constexpr int numLowWheels = 12;             // wheels 1 to 12: square-like, with odd harmonics
constexpr int numHarmonics = 5;              // odd harmonics 3 to 11 of the low wheels
constexpr int firstPickupFilteredWheel = 48; // index of wheel 49, the first with a pickup low-pass
constexpr int firstDarkPickupWheel = 54;     // index of wheel 55, the first with the darker low-pass

constexpr int lowWheelHarmonics[numHarmonics] = { 3, 5, 7, 9, 11 };
constexpr float lowWheelHarmonicWeights[numHarmonics] = { 1.0f / 3.0f, 1.0f / 5.0f, 1.0f / 7.0f, 1.0f / 9.0f, 1.0f / 11.0f };

// Drawbar gain by drawbar step 0 to 8.
constexpr float drawbarGains[9] = { 0.0f, 0.09375f, 0.125f, 0.171875f, 0.25f, 0.34375f, 0.5f, 0.703125f, 1.0f };

// Index of the wheel that key k (0 to 60) sounds on drawbar j.
int wheelIndexFor (int key, int drawbar) noexcept;

// Index of the wheel that key k's percussion reads: the second harmonic
// (12 semitones above the 8' wheel) or the third (19 semitones above).
int percussionWheelIndexFor (int key, bool thirdHarmonic) noexcept;

// The drawbar step (0 to 8) of a level (0 to 1): trunc(level x 8 + 0.5), kept
// inside the gain table whatever the level, NaN included.
int drawbarStepFor (float level) noexcept;

// The scale of a drawbar gain by the number of closed contacts that share its
// wheel: 1 / sqrt(uses) for shared wheels, exactly 1 for one use or none.
float shareScale (int uses) noexcept;

// 0.7 x i, radians: the fixed part of wheel i's level-term argument.
extern const std::array<double, numWheelSlots> levelOffsets;

// Wheel i's level term sin (0.7 i + 0.13 phase) as a polynomial in its phase
// (cycles, 0 to 1): levelSeries[k][i] is the coefficient of phase^k, the
// Taylor series about phase 0, 0.13^k / k! times the k-th derivative of sin at 0.7 i.
constexpr int levelSeriesLength = 6;
extern const std::array<std::array<double, numWheelSlots>, levelSeriesLength> levelSeries;

// The tables that follow from the sample rate.
struct WheelTables
{
    // Works the tables out for a sample rate (Hz, already a usable one).
    void prepare (double sampleRate);

    alignas (64) std::array<double, numWheelSlots> frequency {};          // Hz; all zero until prepare, so silent
    alignas (64) std::array<float, numHarmonics * numLowWheels> harmonicWeight {}; // harmonic by harmonic: weight, or 0 where it would alias
    alignas (64) std::array<float, numWheelSlots> pickupCoefficient {};   // one-pole coefficient, 0 to 0.99 (0 below wheel 49)
    alignas (64) std::array<double, numWheelSlots> stepAngle {};          // 2 pi f / rate: radians per sample without drift
    alignas (64) std::array<double, numWheelSlots> stepCosine {};         // cos of stepAngle
    alignas (64) std::array<double, numWheelSlots> stepSine {};           // sin of stepAngle
    float darkCoefficient = 0.0f;                                          // the slower pickup filter's coefficient
};
} // namespace tonewheel
