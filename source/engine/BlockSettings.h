#pragma once

#include "DrawbarLevels.h"
#include "ParameterTable.h"

// Snapshot of every parameter and of the values derived from them, taken once at
// the start of a block, before the block's MIDI is handled; read-only afterwards.
struct BlockSettings
{
    int organType = 0;           // 0 "B3", 1 "FARFISA", 2 "VOX", 3 "CHURCH"
    DrawbarLevels drawbarLevels {}; // drawbar position x 0.125, 0 to 1
    float leslieSpeedNorm = 0.0f; // 0 to 1
    float driveAmount = 0.0f;    // 0 to 1
    int driveType = 0;           // 0 "TUBE", 1 "FUZZ", 2 "CRUNCH"
    float volumeLevel = 0.0f;    // 0 to 1
    bool percussionOn = false;
    float keyClickLevel = 0.0f;  // 0 to 1
    float chorusDepth = 0.0f;    // 0 to 1
    float reverbAmount = 0.0f;   // 0 to 1
    bool focusModeOn = false;
    bool leslieBrakeOn = false;
    bool percSoftOn = false;
    bool percFastOn = false;
    bool percThird = false;
    bool paradiseModOn = false;
    float focusGainTarget = 1.0f; // linear gain, 0 or 1
    float hornTargetSpeed = 0.0f; // revolutions per second
    float drumTargetSpeed = 0.0f; // revolutions per second
    float driveMakeup = 1.0f;     // linear gain
    float voiceAttackStep = 0.0f; // envelope increment per sample (5 ms attack)
    float voiceReleaseStep = 0.0f; // envelope decrement per sample (25 ms release)

    static BlockSettings fromRawValues (const RawParameterValues& raw, bool editorAttention, double sampleRate) noexcept;

    struct RotorTargets
    {
        float horn; // revolutions per second
        float drum; // revolutions per second
    };

    // The leslieSpeed position is a three-way switch: slow below 0.46, stopped
    // from 0.46 to 0.54, fast above; the brake stops both rotors whatever it says.
    static RotorTargets rotorTargets (float leslieSpeedNorm, bool brakeOn) noexcept;
};
