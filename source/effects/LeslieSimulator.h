#pragma once

// The rotary speaker: a horn and a drum rotor that turn the mono organ signal
// into moving stereo. A plain value type: no heap, no locks, audio thread only.
class LeslieSimulator
{
public:
    // Clears the delay lines, the write index and every filter state; the rotor
    // angles and speeds are kept so the rotors keep turning across a restart.
    void reset();

    // Moves both rotor speeds one sample toward their targets (Hz) and advances the angles.
    void advanceRotors (float hornTargetSpeed, float drumTargetSpeed, double sampleRate);

    // Turns one sample into a left/right pair; passes it to both sides while both
    // rotors stand still. The write index advances in either case.
    void processSample (float input, float speedNorm, double sampleRate, float& left, float& right);

    float getHornSpeed() const noexcept { return hornSpeed; }
    float getDrumSpeed() const noexcept { return drumSpeed; }
    float getHornAngle() const noexcept { return hornAngle; }
    float getDrumAngle() const noexcept { return drumAngle; }

private:
    float hornAngle = 0.0f; // radians, 0 to 2 pi
    float drumAngle = 0.0f; // radians, 0 to 2 pi
    float hornSpeed = 0.0f; // revolutions per second
    float drumSpeed = 0.0f; // revolutions per second
};
