#pragma once

#include "DrawbarLevels.h"
#include "KeyContacts.h"
#include "KeyMix.h"
#include "Percussion.h"
#include "Scanner.h"
#include "SineKernel.h"
#include "TonewheelKey.h"
#include "TonewheelOutputStage.h"
#include "WheelBank.h"
#include "WheelDrift.h"
#include "WheelTables.h"

#include <array>

// The tone-wheel organ: 91 always-spinning wheels, 61 keys with nine drawbar
// contacts each, percussion, key click and the vibrato/chorus scanner. It
// wires its units together along the signal path: drift -> wheel bank -> key
// mix (key contacts, percussion) -> scanner -> output stage.
// A plain value type: no heap, no locks, audio thread only.
//
// Numbering: wheel n (1 to 91, lowest pitch first) lives at index n - 1; key k
// (0 to 60) is MIDI note k + 36; drawbars 0 to 8 are the footages
// 16', 5 1/3', 8', 4', 2 2/3', 2', 1 3/5', 1 1/3', 1'.
class TonewheelGenerator
{
public:
    static constexpr int numWheels = tonewheel::numWheels;
    static constexpr int numWheelSlots = tonewheel::numWheelSlots;
    static constexpr int numKeys = tonewheel::numKeys;
    static constexpr int numDrawbars = TonewheelKey::numDrawbars;
    static constexpr int scannerLength = Scanner::length;
    static constexpr int lowestNote = tonewheel::lowestNote;
    static constexpr int highestNote = lowestNote + numKeys - 1;

    // Everything a block is rendered with, under the names of the block's
    // settings. The paradise switch is accepted for the processor's sake and
    // has no effect here: the single-trigger percussion cannot re-arm while a
    // key is held anyway.
    struct Settings
    {
        DrawbarLevels drawbarLevels {}; // 0 to 1 each
        float chorusDepth = 0.0f;       // 0 to 1
        int scannerMode = 3;            // 0 to 5, see scannerModeFor
        bool percussionOn = false;
        bool percThird = false;
        bool percFastOn = false;
        float keyClickLevel = 0.0f;     // 0 to 1
        bool percSoftOn = false;
        bool paradiseModOn = false;
    };

    // Builds the wheel tables for a sample rate (Hz) and resets the sound state.
    // The key-timing random sequence runs on; it is never reseeded.
    void prepare (double sampleRate);

    void noteOn (int note, float velocity);
    void noteOff (int note);
    void allNotesOff();

    // One output sample. Drawbars are read afresh on every call.
    float renderSample (const DrawbarLevels& drawbarLevels,
                        float chorusDepth,
                        int scannerMode,
                        bool percussionOn,
                        bool percThird,
                        bool percFastOn,
                        float keyClickLevel,
                        bool percSoftOn,
                        bool paradiseModOn);

    // renderSample for n samples in a row, into out[0] to out[n - 1]: the same
    // samples, with whole wheel passes mixed at once where the keys allow and
    // the output stage's tangents worked out many at a time.
    void renderBlock (float* out, int n, const Settings& settings);

    // Moves all 91 wheels one sample on and works out every wheel's signal.
    // renderSample does the same, but only for the wheels that sounding keys
    // can hear; the result is the same.
    void advanceWheels (float pitchFactor);

    // The arithmetic of the sines and tangents: the engine's own kernels (the
    // default) or the C library's, for comparing the two. Either may be chosen
    // at any time; the sound is the same within rounding.
    void setMathMode (MathMode mode) noexcept { mathMode = mode; }

    // The scanner mode (0 to 5) for a chorus amount (0 to 1).
    static int scannerModeFor (float chorusDepth) { return Scanner::modeFor (chorusDepth); }

    // --- The three stages of renderSample, callable on their own so each can be
    // checked against its own expectation. renderSample is exactly
    // processOutputStage (processScanner (renderKeys (...), ...)).

    // Drift, wheels, percussion re-arm and the key loop: the sum of all sounding
    // keys after the 0.08 mix gain.
    float renderKeys (const DrawbarLevels& drawbarLevels, bool percussionOn, bool percThird, bool percFastOn, float keyClickLevel, bool percSoftOn);

    // The vibrato/chorus scanner; passes the input through untouched, and stands
    // still, while the chorus amount is 0.01 or less.
    float processScanner (float input, float chorusDepth, int scannerMode) { return scanner.process (input, chorusDepth, scannerMode); }

    // Asymmetric soft clip, two-pole low-pass near 3.5 kHz, one-pole high-pass near 80 Hz.
    float processOutputStage (float input) { return outputStage.process (input, mathMode); }

    // --- Read-only views for tests and displays.
    const std::array<TonewheelKey, numKeys>& getKeys() const noexcept { return contacts.keys; }
    // Indexed by wheel number - 1; the entry past the last wheel is padding, always 0.
    const std::array<double, numWheelSlots>& getWheelFrequencies() const noexcept { return bank.tables().frequency; }
    const std::array<float, numWheelSlots>& getWheelOutputs() const noexcept { return bank.outputs(); }
    float getPercussionArmed() const noexcept { return percussion.getArmed(); }
    int getScannerWriteIndex() const noexcept { return scanner.getWriteIndex(); }
    double getScannerLfoPhase() const noexcept { return scanner.getLfoPhase(); }
    double getSampleRate() const noexcept { return sampleRate; }

    // Index (wheel number - 1) of the wheel that key k (0 to 60) sounds on drawbar j.
    static int wheelIndexFor (int key, int drawbar) noexcept { return tonewheel::wheelIndexFor (key, drawbar); }

    // Index of the wheel that key k's percussion reads: the second harmonic
    // (12 semitones above the 8' wheel) or the third (19 semitones above).
    static int percussionWheelIndexFor (int key, bool thirdHarmonic) noexcept
    {
        return tonewheel::percussionWheelIndexFor (key, thirdHarmonic);
    }

private:
    // Takes in the drawbars and switches before a run of samples and, when the
    // heard wheels may have changed, tells the bank.
    void prepareMix (const DrawbarLevels& drawbarLevels, bool percussionOn, bool percThird);
    KeyMix::Keys mixKeys() noexcept { return { contacts, percussion, static_cast<float> (1.0 / sampleRate), mathMode }; }
    void keysChanged() noexcept;

    double sampleRate = 44100.0; // Hz
    WheelDrift drift;
    WheelBank bank;
    KeyContacts contacts;
    Percussion percussion;
    KeyMix mix;
    Scanner scanner;
    TonewheelOutputStage outputStage;

    // What the bank's heard wheels were last worked out for.
    bool heardStale = true;                         // the keys have changed since
    int heardSteps[numDrawbars] {};                 // drawbar steps, 0 to 8
    bool heardPercussionOn = false;                 // percussion switch
    bool heardPercThird = false;                    // third-harmonic switch

    MathMode mathMode = MathMode::fast;             // arithmetic of the sines and tangents
};
