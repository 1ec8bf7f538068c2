#pragma once

#include "DrawbarLevels.h"
#include "OrganVoice.h"
#include "RandomSource.h"

#include <array>

// The 16 voices of the oscillator organs. Voices are started and released for
// every note whatever the organ type, and rendered only for types 1 to 3.
class OrganVoicePool
{
public:
    static constexpr int numVoices = 16;

    void startVoice (int note, float velocity, bool percussionOn, double sampleRate, RandomSource& random);
    void releaseVoices (int note, double sampleRate);
    void clearVoices();

    // One sample: the sum of the active voices for organ type 1, 2 or 3.
    float renderVoices (int organType,
                        const DrawbarLevels& drawbarLevels,
                        float chorusDepth,
                        float modWheel,
                        float attackStep,
                        float releaseStep,
                        double sampleRate,
                        RandomSource& random);

    const std::array<OrganVoice, numVoices>& getVoices() const noexcept { return voices; }

private:
    std::array<OrganVoice, numVoices> voices {};
};
