#include "BlockSettings.h"

BlockSettings BlockSettings::fromRawValues (const RawParameterValues& raw, bool editorAttention, double sampleRate) noexcept
{
    BlockSettings s;
    s.organType = static_cast<int> (raw[ParameterIndex::organType]);

    for (int i = 0; i < numDrawbars; ++i)
        s.drawbarLevels[(size_t) i] = raw[(size_t) (ParameterIndex::drawbar0 + i)] * 0.125f;

    s.leslieSpeedNorm = raw[ParameterIndex::leslieSpeed] / 100.0f;
    s.driveAmount = raw[ParameterIndex::drive] / 100.0f;
    s.driveType = static_cast<int> (raw[ParameterIndex::driveType]);
    s.volumeLevel = raw[ParameterIndex::volume] / 100.0f;
    s.percussionOn = raw[ParameterIndex::percussion] > 0.5f;
    s.keyClickLevel = raw[ParameterIndex::keyClick] / 100.0f;
    s.chorusDepth = raw[ParameterIndex::chorus] / 100.0f;
    s.reverbAmount = raw[ParameterIndex::reverb] / 100.0f;
    s.focusModeOn = raw[ParameterIndex::focusMode] > 0.5f;
    s.leslieBrakeOn = raw[ParameterIndex::leslieBrake] > 0.5f;
    s.percSoftOn = raw[ParameterIndex::percSoft] > 0.5f;
    s.percFastOn = raw[ParameterIndex::percFast] > 0.5f;
    s.percThird = static_cast<int> (raw[ParameterIndex::percHarmonic]) == 1;
    s.paradiseModOn = raw[ParameterIndex::paradiseMod] > 0.5f;

    s.focusGainTarget = (s.focusModeOn && ! editorAttention) ? 0.0f : 1.0f;

    const auto targets = rotorTargets (s.leslieSpeedNorm, s.leslieBrakeOn);
    s.hornTargetSpeed = targets.horn;
    s.drumTargetSpeed = targets.drum;

    s.driveMakeup = 1.0f / (s.driveAmount * 6.0f + 1.0f);

    const float rate = static_cast<float> (sampleRate);
    s.voiceAttackStep = 1.0f / (rate * 0.005f);
    s.voiceReleaseStep = 1.0f / (rate * 0.025f);
    return s;
}

BlockSettings::RotorTargets BlockSettings::rotorTargets (float leslieSpeedNorm, bool brakeOn) noexcept
{
    if (brakeOn)
        return { 0.0f, 0.0f };

    if (leslieSpeedNorm >= 0.46f && leslieSpeedNorm <= 0.54f)
        return { 0.0f, 0.0f };

    if (leslieSpeedNorm < 0.46f)
        return { 0.8f, 0.67f };

    return { 6.7f, 5.7f };
}
