#pragma once

#include "SineKernel.h"

#include <array>

// The rotary speaker: a horn and a drum rotor that turn the mono organ signal
// into moving stereo. A plain value type: no heap, no locks, audio thread only.
//
// The signal is split at 800 Hz; the high band goes to the horn lines and the
// low band to the drum lines. Each rotor reads its band back at a delay that
// swings with its angle (pitch wobble) and scales it with the angle's cosine
// (level and stereo movement); the sum then passes a small cabinet colour.
class LeslieSimulator
{
public:
    static constexpr int lineLength = 4096; // samples per delay line; holds 0.8 ms up to 5.12 MHz

    // Clears the delay lines, the write index and every filter state; the rotor
    // angles and speeds are kept so the rotors keep turning across a restart.
    void reset();

    // Moves both rotor speeds one sample toward their targets (Hz) and advances the angles.
    // A sample rate that is zero, negative or not finite runs as 44.1 kHz; a
    // non-finite target counts as 0.
    void advanceRotors (float hornTargetSpeed, float drumTargetSpeed, double sampleRate);

    // Turns one sample into a left/right pair; passes it to both sides while both
    // rotors stand still. The write index advances in either case. speedNorm is
    // the speed control's position, 0 to 1; a non-finite input sample counts as silence.
    void processSample (float input, float speedNorm, double sampleRate, float& left, float& right);

    // advanceRotors and processSample for n samples in a row: in[i] becomes
    // left[i] and right[i]. The same samples, with the cabinet's tangents and
    // the rotors' level cosines worked out many samples at a time.
    void processBlock (const float* in, float* left, float* right, int n,
                       float hornTargetSpeed, float drumTargetSpeed, float speedNorm, double sampleRate);

    // The arithmetic of the cabinet's saturation and, in processBlock, of the
    // rotors' level cosines: the engine's own kernels (the default) or the C
    // library's, for comparing the two. processSample takes the library's
    // cosines in both. The sines that place the taps have the library's bits
    // in both (the fast mode takes its steps many at a time): the taps'
    // positions are rounded to single precision, which would turn the
    // smallest difference there into an audible one.
    void setMathMode (MathMode mode) noexcept { mathMode = mode; }

    float getHornSpeed() const noexcept { return rotors.hornSpeed; }
    float getDrumSpeed() const noexcept { return rotors.drumSpeed; }
    float getHornAngle() const noexcept { return rotors.hornAngle; }
    float getDrumAngle() const noexcept { return rotors.drumAngle; }

    // Slot of the delay lines that the next processSample writes, 0 to lineLength - 1.
    int getWriteIndex() const noexcept { return writeIndex; }

private:
    using Line = std::array<float, lineLength>;

    // The rotors' angles as the taps and levels use them: cosines for the
    // levels, sines for the taps' delays.
    struct RotorTrig
    {
        float horn;         // cos (horn angle)
        float hornOpposite; // cos (horn angle + pi)
        float drum;         // cos (drum angle)
        float drumOpposite; // cos (drum angle + pi)
        float hornSine;     // sin (horn angle)
        float hornLaterSine; // sin (horn angle + 2.094), the second horn tap
        float drumSine;     // sin (drum angle)
    };

    // The three angles (radians) whose sines place the taps, from the rotors' angles.
    static void tapArguments (float hornAt, float drumAt, float* arguments) noexcept;

    // One sample from the band split to the rotors' sum, before the cabinet:
    // writes the lines, reads the taps, returns the two sides in sumLeft/sumRight.
    // What stays the same over a pass of samples: the rate and the filters' coefficients.
    struct PassConstants
    {
        float sampleRate; // Hz
        float drumGain;   // sum gain, 1.2 to 2, from the speed control's position
        float w800;       // crossover low-pass coefficient, 0 to 0.99
        float w4k;        // horn smoothing coefficient, 0 to 0.99
        float w3500;      // cabinet tone filter coefficient, 0 to 0.99
    };
    static PassConstants passConstants (float speedNorm, float sampleRateF) noexcept;

    void rotorSums (float x, const PassConstants& constants, const RotorTrig& trig, float& sumLeft, float& sumRight) noexcept;

    // rotorSums in three steps, for a pass that goes stage by stage: the band
    // split of x through the crossover states low1 and low2 into one slot of
    // each line; the taps' delays (ms) from the rotors' sines; the horn filters
    // and the sums from the three taps' readings.
    static void splitBands (float x, float w800, float& low1, float& low2, float& hornSlot, float& drumSlot) noexcept;
    struct TapDelays
    {
        float main;   // ms, horn main tap
        float second; // ms, horn second tap
        float drum;   // ms, drum tap
    };
    static TapDelays tapDelays (const RotorTrig& trig) noexcept;
    void mixTaps (float mainTap, float secondTap, float drumTap, const PassConstants& constants, const RotorTrig& trig, float& sumLeft,
                  float& sumRight) noexcept;

    // The cabinet's body resonance and tone filter of one side, after its saturation.
    static float cabinetFilters (float saturated, float& body, float& tone, float w3500) noexcept;

    // A rotor's angle step, speed x 2 pi / rate (radians per sample), worked out
    // again only when the speed or the rate has changed: a rotor at its target
    // speed keeps the same speed, to the bit, sample after sample.
    struct AngleStep
    {
        float speed = 0.0f; // revolutions per second the step was worked out for
        float rate = 0.0f;  // Hz it was worked out for; 0 before the first
        float step = 0.0f;  // radians per sample

        float of (float newSpeed, float newRate) noexcept;
    };

    // Both rotors' motion: a value of its own, so that a block can move it on
    // in registers, sample after sample, and store it once.
    struct Rotors
    {
        float hornAngle = 0.0f; // radians, 0 to 2 pi
        float drumAngle = 0.0f; // radians, 0 to 2 pi
        float hornSpeed = 0.0f; // revolutions per second
        float drumSpeed = 0.0f; // revolutions per second
        AngleStep hornStep;
        AngleStep drumStep;

        // One sample on, the targets (Hz) already made usable, with the rate's
        // reciprocal (seconds) and the rate itself (Hz) as single-precision values.
        void step (float hornTarget, float drumTarget, float invRate, float sampleRateF) noexcept;
        bool atRest() const noexcept;
    };
    Rotors rotors;

    float crossoverLow1 = 0.0f; // first 800 Hz one-pole low-pass state, signal units
    float crossoverLow2 = 0.0f; // second 800 Hz one-pole low-pass state (the low band), signal units

    // One line per rotor: the two sides read the same samples and differ only
    // in their modulation phase.
    Line hornLine {};   // high band, one slot per sample
    Line drumLine {};   // low band, one slot per sample
    int writeIndex = 0; // slot written this sample, shared by both lines, 0 to 4095

    float bodyLeft = 0.0f;  // cabinet body resonance state, signal units
    float bodyRight = 0.0f; // cabinet body resonance state, signal units
    float toneLeft = 0.0f;  // 3.5 kHz one-pole tone filter state, signal units
    float toneRight = 0.0f; // 3.5 kHz one-pole tone filter state, signal units
    float hornFilterLeft = 0.0f;  // 4 kHz one-pole smoothing of the horn tap, signal units
    float hornFilterRight = 0.0f; // 4 kHz one-pole smoothing of the horn tap, signal units

    MathMode mathMode = MathMode::fast; // arithmetic of the cabinet's saturation
};
