#include "OrganEngine.h"

#include "ChannelMessage.h"
#include "DriveStage.h"
#include "OutputStage.h"
#include "SampleRate.h"

#include <algorithm>

namespace
{
constexpr int maxPass = DriveStage::maxPass; // samples per pass of the scratch arrays

TonewheelGenerator::Settings tonewheelSettingsOf (const BlockSettings& s) noexcept
{
    return { s.drawbarLevels, s.chorusDepth, TonewheelGenerator::scannerModeFor (s.chorusDepth), s.percussionOn, s.percThird,
             s.percFastOn,    s.keyClickLevel, s.percSoftOn, s.paradiseModOn };
}

OrganVoicePool::Settings voiceSettingsOf (const BlockSettings& s, float modWheel) noexcept
{
    return { s.organType, s.drawbarLevels, s.chorusDepth, modWheel, s.voiceAttackStep, s.voiceReleaseStep };
}
} // namespace

void OrganEngine::prepare (double newSampleRate)
{
    sampleRate = usableSampleRate (newSampleRate);
    voicePool.clearVoices();
    leslie.reset();
    tonewheels.prepare (sampleRate);
    reverb.prepare (sampleRate);
}

void OrganEngine::setMathMode (MathMode mode) noexcept
{
    mathMode = mode;
    tonewheels.setMathMode (mode);
    voicePool.setMathMode (mode);
    leslie.setMathMode (mode);
}

void OrganEngine::handleMidi (const unsigned char* data, int size, const BlockSettings& settings)
{
    ChannelMessage message;
    if (! ChannelMessage::decode (data, size, message))
        return;

    const int note = message.number;
    switch (message.kind)
    {
        case ChannelMessage::controller:
            if (message.number == 1)
                modWheel = static_cast<float> (message.value) / 127.0f;
            else if (message.number == 11)
                expression = static_cast<float> (message.value) / 127.0f;
            else if (message.number == 120 || message.number == 123)
            {
                tonewheels.allNotesOff();
                voicePool.clearVoices();
            }
            return;

        case ChannelMessage::noteOn:
            if (message.value != 0)
            {
                const float velocity = static_cast<float> (message.value) * (1.0f / 127.0f);
                if (settings.organType == 0)
                    tonewheels.noteOn (note, velocity);
                voicePool.startVoice (note, velocity, settings.percussionOn, sampleRate, random);
                return;
            }
            break; // velocity 0: a note-off

        case ChannelMessage::noteOff:
            break;
    }

    // A note-off reaches both engines whatever the organ type: a key pressed
    // before a change of type must still be released after it. An engine that
    // does not hold the key ignores it.
    tonewheels.noteOff (note);
    voicePool.releaseVoices (note, sampleRate);
}

void OrganEngine::render (const BlockSettings& settings, float* const* channels, int numChannels, int start, int end,
                          const StageTaps& taps)
{
    if (start >= end)
        return;

    float* left = numChannels > 0 ? channels[0] : nullptr;
    float* right = numChannels > 1 ? channels[1] : nullptr;
    const auto tonewheelSettings = tonewheelSettingsOf (settings);
    const auto voiceSettings = voiceSettingsOf (settings, modWheel);

    // Stage by stage, a pass of samples at a time: each stage keeps its own
    // per-sample order, and none reads another's later samples, so where the
    // passes begin and end changes nothing in the sound.
    alignas (64) float mono[maxPass];
    alignas (64) float sideLeft[maxPass];
    alignas (64) float sideRight[maxPass];
    alignas (64) float gain[maxPass];

    for (int pass = start; pass < end; pass += maxPass)
    {
        const int count = std::min (maxPass, end - pass);

        if (settings.organType == 0)
            tonewheels.renderBlock (mono, count, tonewheelSettings);
        else
            voicePool.renderVoices (mono, count, voiceSettings, sampleRate, random);
        if (taps.engine != nullptr)
            std::copy (mono, mono + count, taps.engine + pass);

        if (settings.driveAmount > 0.01f)
            DriveStage::applyDrive (mono, count, settings.driveAmount, settings.driveType, settings.driveMakeup, mathMode);
        OutputStage::process (mono, count, settings.volumeLevel, expression, mathMode);
        if (taps.saturated != nullptr)
            std::copy (mono, mono + count, taps.saturated + pass);

        leslie.processBlock (mono, sideLeft, sideRight, count, settings.hornTargetSpeed, settings.drumTargetSpeed,
                             settings.leslieSpeedNorm, sampleRate);

        // A gain that has reached its target stays there exactly (each step adds
        // 0), so the chain of steps, one after another, is skipped.
        if (focusGain == settings.focusGainTarget)
        {
            std::fill (gain, gain + count, focusGain);
        }
        else
        {
            for (int i = 0; i < count; ++i)
            {
                focusGain = focusGain + (settings.focusGainTarget - focusGain) * 0.001f;
                gain[i] = focusGain;
            }
        }

        if (right != nullptr)
        {
            for (int i = 0; i < count; ++i)
            {
                left[pass + i] += sideLeft[i] * gain[i];
                right[pass + i] += sideRight[i] * gain[i];
            }
        }
        else if (left != nullptr)
        {
            for (int i = 0; i < count; ++i)
                left[pass + i] += (sideLeft[i] * gain[i] + sideRight[i] * gain[i]) * 0.5f;
        }
    }
}
