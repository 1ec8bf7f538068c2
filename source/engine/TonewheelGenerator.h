#pragma once

#include "DrawbarLevels.h"
#include "TonewheelKey.h"

// The tone-wheel organ: 91 always-spinning wheels, 61 keys with nine drawbar
// contacts each, percussion, key click and the vibrato/chorus scanner.
// A plain value type: no heap, no locks, audio thread only.
class TonewheelGenerator
{
public:
    TonewheelGenerator();

    // Builds the wheel tables for a sample rate (Hz) and resets the sound state.
    void prepare (double sampleRate);

    void noteOn (int note, float velocity);
    void noteOff (int note);
    void allNotesOff();

    // One output sample. Drawbars are read afresh on every call.
    float renderSample (const DrawbarLevels& drawbarLevels,
                        float chorusAmount,
                        int scannerMode,
                        bool percussionOn,
                        bool percThird,
                        bool percFast,
                        float keyClick,
                        bool percSoft,
                        bool paradise);

    // Moves all 91 wheels one sample on; the first step of renderSample.
    void advanceWheels (float pitchFactor);

    // The scanner mode (0 to 5) for a chorus amount (0 to 1).
    static int scannerModeFor (float chorusAmount);
};
