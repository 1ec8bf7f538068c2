#include "TonewheelGenerator.h"

#include "SampleRate.h"

#include <hwy/base.h>

#include <algorithm>

void TonewheelGenerator::prepare (double newSampleRate)
{
    sampleRate = usableSampleRate (newSampleRate);

    bank.prepare (sampleRate, mathMode);
    drift.reset();
    contacts.prepare (sampleRate);
    percussion.reset();
    mix.markStale();
    scanner.prepare (sampleRate);
    outputStage.prepare (sampleRate);
    heardStale = true;
}

void TonewheelGenerator::keysChanged() noexcept
{
    mix.markStale();
    heardStale = true;
}

void TonewheelGenerator::noteOn (int note, float velocity)
{
    if (note < lowestNote || note > highestNote)
        return;

    const int k = note - lowestNote;
    const bool anyKeyHeld = contacts.anyKeyHeld();
    contacts.noteOn (k, velocity);
    keysChanged();

    // Single trigger: only the first key of a phrase takes the percussion.
    auto& key = contacts.keys[(size_t) k];
    key.percussionTriggered = percussion.trigger (anyKeyHeld);
    key.percussionLevel = key.percussionTriggered ? 1.0f : 0.0f;
}

void TonewheelGenerator::noteOff (int note)
{
    if (note < lowestNote || note > highestNote)
        return;

    if (contacts.noteOff (note - lowestNote))
        mix.markStale();
}

void TonewheelGenerator::allNotesOff()
{
    contacts.allNotesOff();
    keysChanged();
}

float TonewheelGenerator::renderSample (const DrawbarLevels& drawbarLevels,
                                        float chorusDepth,
                                        int scannerMode,
                                        bool percussionOn,
                                        bool percThird,
                                        bool percFastOn,
                                        float keyClickLevel,
                                        bool percSoftOn,
                                        bool /*paradiseModOn*/)
{
    const float keyMix = renderKeys (drawbarLevels, percussionOn, percThird, percFastOn, keyClickLevel, percSoftOn);
    return processOutputStage (processScanner (keyMix, chorusDepth, scannerMode));
}

float TonewheelGenerator::renderKeys (const DrawbarLevels& drawbarLevels,
                                      bool percussionOn,
                                      bool percThird,
                                      bool percFastOn,
                                      float keyClickLevel,
                                      bool percSoftOn)
{
    float pitchFactor;
    drift.process (&pitchFactor, 1, 1.0 / sampleRate, mathMode);
    prepareMix (drawbarLevels, percussionOn, percThird);
    bank.process (&pitchFactor, 1, mathMode);

    const auto before = contacts.activeKeys;
    const float out = mix.mixSample (mixKeys(), bank.row (0), { percussionOn, percThird, percFastOn, keyClickLevel, percSoftOn });
    if (contacts.activeKeys != before)
        heardStale = true;
    return out;
}

void TonewheelGenerator::prepareMix (const DrawbarLevels& drawbarLevels, bool percussionOn, bool percThird)
{
    mix.setDrawbars (drawbarLevels);

    // Every pulled drawbar of every sounding key, whether or not its contact has
    // closed yet, and the wheel of each key that may still sound its percussion.
    const int* steps = mix.steps();
    if (! heardStale && std::equal (steps, steps + numDrawbars, heardSteps) && percussionOn == heardPercussionOn
        && percThird == heardPercThird)
        return;

    WheelSet heard;
    for (std::uint64_t m = contacts.activeKeys; m != 0; m &= m - 1)
    {
        const int k = hwy::Num0BitsBelowLS1Bit_Nonzero64 (m);
        for (int j = 0; j < numDrawbars; ++j)
            if (steps[j] > 0)
                heard.add (wheelIndexFor (k, j));

        if (percussionOn && contacts.keys[(size_t) k].percussionTriggered)
            heard.add (percussionWheelIndexFor (k, percThird));
    }
    bank.setHeard (heard);

    std::copy (steps, steps + numDrawbars, heardSteps);
    heardPercussionOn = percussionOn;
    heardPercThird = percThird;
    heardStale = false;
}

void TonewheelGenerator::advanceWheels (float pitchFactor)
{
    bank.processEveryWheel (pitchFactor, mathMode);
}

void TonewheelGenerator::renderBlock (float* out, int n, const Settings& s)
{
    constexpr int wheelPass = WheelBank::wheelPass;
    constexpr int maxPass = 256; // samples per pass of the scratch arrays
    alignas (64) float pitchFactor[maxPass];
    const KeyMix::Switches switches { s.percussionOn, s.percThird, s.percFastOn, s.keyClickLevel, s.percSoftOn };

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);
        drift.process (pitchFactor, count, 1.0 / sampleRate, mathMode);

        for (int first = 0; first < count; first += wheelPass)
        {
            const int length = std::min (wheelPass, count - first);
            prepareMix (s.drawbarLevels, s.percussionOn, s.percThird);
            bank.process (pitchFactor + first, length, mathMode);

            float* keyMix = out + start + first;
            if (! mix.mixSettled (mixKeys(), bank, keyMix, length, switches))
            {
                const auto before = contacts.activeKeys;
                for (int t = 0; t < length; ++t)
                    keyMix[t] = mix.mixSample (mixKeys(), bank.row (t), switches);
                if (contacts.activeKeys != before)
                    heardStale = true;
            }

            scanner.processBlock (keyMix, length, s.chorusDepth, s.scannerMode);
        }

        outputStage.processBlock (out + start, count, mathMode);
    }
}
