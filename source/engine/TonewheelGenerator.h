#pragma once

#include "DrawbarLevels.h"
#include "SineKernel.h"
#include "TonewheelKey.h"
#include "WheelSet.h"

#include <array>
#include <cstdint>

// The tone-wheel organ: 91 always-spinning wheels, 61 keys with nine drawbar
// contacts each, percussion, key click and the vibrato/chorus scanner.
// A plain value type: no heap, no locks, audio thread only.
//
// Numbering: wheel n (1 to 91, lowest pitch first) lives at index n - 1; key k
// (0 to 60) is MIDI note k + 36; drawbars 0 to 8 are the footages
// 16', 5 1/3', 8', 4', 2 2/3', 2', 1 3/5', 1 1/3', 1'.
class TonewheelGenerator
{
public:
    static constexpr int numWheels = 91;
    static constexpr int numWheelSlots = 92; // the wheel arrays, padded to whole groups of four wheels from wheel 13 on
    static constexpr int numKeys = 61;
    static constexpr int numDrawbars = TonewheelKey::numDrawbars;
    static constexpr int scannerLength = 512; // slots of the scanner delay line
    static constexpr int lowestNote = 36;
    static constexpr int highestNote = lowestNote + numKeys - 1;

    TonewheelGenerator();

    // Builds the wheel tables for a sample rate (Hz) and resets the sound state.
    // The key-timing random sequence runs on; it is never reseeded.
    void prepare (double sampleRate);

    void noteOn (int note, float velocity);
    void noteOff (int note);
    void allNotesOff();

    // One output sample. Drawbars are read afresh on every call. The paradise
    // switch is accepted for the processor's sake and has no effect here: the
    // single-trigger percussion cannot re-arm while a key is held anyway.
    float renderSample (const DrawbarLevels& drawbarLevels,
                        float chorusAmount,
                        int scannerMode,
                        bool percussionOn,
                        bool percThird,
                        bool percFast,
                        float keyClick,
                        bool percSoft,
                        bool paradise);

    // renderSample for n samples in a row, into out[0] to out[n - 1]; the same
    // samples, with the output stage's tangents worked out many at a time.
    void renderBlock (float* out,
                      int n,
                      const DrawbarLevels& drawbarLevels,
                      float chorusAmount,
                      int scannerMode,
                      bool percussionOn,
                      bool percThird,
                      bool percFast,
                      float keyClick,
                      bool percSoft,
                      bool paradise);

    // Moves all 91 wheels one sample on and works out every wheel's signal.
    // renderSample does the same, but only for the wheels that sounding keys
    // can hear (see the wheel bank's notes below); the result is the same.
    void advanceWheels (float pitchFactor);

    // The arithmetic of the sines and tangents: the engine's own kernels (the
    // default) or the C library's, for comparing the two. Either may be chosen
    // at any time; the sound is the same within rounding.
    void setMathMode (MathMode mode) noexcept { mathMode = mode; }

    // The scanner mode (0 to 5) for a chorus amount (0 to 1).
    static int scannerModeFor (float chorusAmount);

    // --- The three stages of renderSample, callable on their own so each can be
    // checked against its own expectation. renderSample is exactly
    // processOutputStage (processScanner (renderKeys (...), ...)).

    // Drift, wheels, percussion re-arm and the key loop: the sum of all sounding
    // keys after the 0.08 mix gain.
    float renderKeys (const DrawbarLevels& drawbarLevels,
                      bool percussionOn,
                      bool percThird,
                      bool percFast,
                      float keyClick,
                      bool percSoft);

    // The vibrato/chorus scanner; passes the input through untouched, and stands
    // still, while the chorus amount is 0.01 or less.
    float processScanner (float input, float chorusAmount, int scannerMode);

    // Asymmetric soft clip, two-pole low-pass near 3.5 kHz, one-pole high-pass near 80 Hz.
    float processOutputStage (float input);

    // --- Read-only views for tests and displays.
    const std::array<TonewheelKey, numKeys>& getKeys() const noexcept { return keys; }
    // Indexed by wheel number - 1; the entry past the last wheel is padding, always 0.
    const std::array<double, numWheelSlots>& getWheelFrequencies() const noexcept { return wheelFrequency; }
    const std::array<float, numWheelSlots>& getWheelOutputs() const noexcept { return wheelOutput; }
    float getPercussionArmed() const noexcept { return percussionArmed; }
    int getScannerWriteIndex() const noexcept { return scannerWriteIndex; }
    double getScannerLfoPhase() const noexcept { return scannerLfoPhase; }
    double getSampleRate() const noexcept { return sampleRate; }

    // Index (wheel number - 1) of the wheel that key k (0 to 60) sounds on drawbar j.
    static int wheelIndexFor (int key, int drawbar) noexcept;

    // Index of the wheel that key k's percussion reads: the second harmonic
    // (12 semitones above the 8' wheel) or the third (19 semitones above).
    static int percussionWheelIndexFor (int key, bool thirdHarmonic) noexcept;

private:
    static constexpr int historyLength = 1024; // samples of pitch-factor history kept for waking wheels

    // The output stage in its two halves: the soft clip, which keeps no state
    // and takes the tangents of clipArgument and brightArgument, and the filters.
    static float clipArgument (float x) noexcept { return x > 0.0f ? x * 1.1f : x * 0.9f; }
    static float brightArgument (float x) noexcept { return x * 2.0f; }
    static float softClip (float x, float clipTangent, float brightTangent) noexcept
    {
        const float m = x > 0.0f ? clipTangent : clipTangent * 1.05f;
        return brightTangent * 0.04f + m;
    }
    float outputFilters (float clipped) noexcept;

    // The wheel motor's drift for the next n samples: pitch factors near 1.
    void nextPitchFactors (float* out, int n);

    // Takes in the drawbars and switches before a run of samples: the pulled
    // drawbars and, when they or the sounding keys have changed, the heard wheels.
    void prepareMix (const DrawbarLevels& drawbarLevels, bool percussionOn, bool percThird);

    // The percussion and key-click switches, as the key loop reads them.
    struct KeySwitches
    {
        bool percussionOn;
        bool percThird;
        bool percFast;
        float keyClick; // 0 to 1
        bool percSoft;
    };

    // One sample of the key loop after the 0.08 mix gain, reading the wheels'
    // outputs from wheelOut (indexed by wheel index) and the drawbars as
    // prepareMix last took them in.
    float mixKeys (const float* wheelOut, const KeySwitches& switches);

    // The key loop for the whole wheel pass at once, into mix[0] to
    // mix[count - 1], when every sounding key is settled: its pulled contacts
    // closed and quiet, no release click, and (if released) far enough from
    // silence not to stop within the pass. Then nothing changes from sample to
    // sample but the envelopes and percussion levels, and every key's sum is
    // worked out many samples at a time, in the same order and so to the same
    // values as mixKeys. Returns false, having changed nothing, otherwise.
    bool mixSettledKeys (float* mix, int count, const KeySwitches& switches);

    // What mixSettledKeys hands to its arithmetic, which is compiled once per
    // instruction set: the sum of all keys for each sample of the pass, before
    // the mix gain.
    struct SettledPass
    {
        int count;              // samples, 1 to wheelPass
        KeySwitches switches;
        float percussionRate;   // per second
        float interval;         // seconds per sample
        float attackIncrement;  // envelope per sample
        float releaseDecrement; // envelope per sample
    };
    template <int registerLanes>
    inline __attribute__ ((always_inline)) void settledTotals (const SettledPass& pass, float* total) noexcept;
    void settledTotalsPlain (const SettledPass& pass, float* total) noexcept;
    void settledTotalsAvx2 (const SettledPass& pass, float* total) noexcept;
    void settledTotalsAvx512 (const SettledPass& pass, float* total) noexcept;

    // The wheels' outputs for sample t of the current wheel pass: in reference
    // mode all 91 wheels are moved on here, otherwise stepHeardWheels has
    // already worked out the pass.
    const float* wheelOutputsFor (int t, float pitchFactor);

    // Wheels 49 to 91, which carry a pickup low-pass.
    static constexpr WheelSet filteredWheels() noexcept { return { ~std::uint64_t { 0 } << 48, (std::uint64_t { 1 } << 27) - 1 }; }

    float nextRandom() noexcept;
    void updateHeardWheels (const int* steps, bool percussionOn, bool percThird);
    void wakeWheels (WheelSet waking);
    void stepAllWheels (float pitchFactor);
    void recordPitchFactor (float pitchFactor) noexcept;

    // Moves every wheel on by count samples (1 to wheelPass), one pitch factor
    // each, and works out the heard wheels' outputs into passOutput and
    // passColumn.
    void stepHeardWheels (const float* pitchFactors, int count);

    // stepHeardWheels' arithmetic, compiled once per instruction set, with the
    // number of doubles one register of that set holds.
    template <bool fused, int registerLanes>
    inline __attribute__ ((always_inline)) void stepHeardPass (const float* pitchFactors, int count) noexcept;
    void stepHeardPassPlain (const float* pitchFactors, int count) noexcept;
    void stepHeardPassAvx2 (const float* pitchFactors, int count) noexcept;
    void stepHeardPassAvx512 (const float* pitchFactors, int count) noexcept;

    double sampleRate = 44100.0;                    // Hz
    double sampleInterval = 1.0 / 44100.0;          // seconds per sample
    // The wheel bank: plain aligned arrays, one entry per wheel, worked on many
    // wheels at a time.
    alignas (64) std::array<double, numWheelSlots> wheelFrequency {}; // Hz; all zero until prepare, so silent
    alignas (64) std::array<double, numWheelSlots> wheelPhase {};     // cycles, [0, 1)
    alignas (64) std::array<float, numWheelSlots> wheelRaw {};        // this sample, crosstalk included, before the pickup filter
    alignas (64) std::array<float, numWheelSlots> wheelOutput {};     // this sample, after the pickup filter: what keys read
    alignas (64) std::array<float, numWheelSlots> wheelFilterState {}; // pickup low-pass state of wheels 49 to 91
    alignas (64) std::array<float, 5 * 12> harmonicWeight {};     // odd harmonics 3 to 11 of wheels 1 to 12, harmonic by harmonic: weight, or 0 where they would alias
    alignas (64) std::array<float, numWheelSlots> pickupCoefficient {}; // one-pole coefficient of each wheel's pickup low-pass, 0 to 0.99 (unused below wheel 49)

    // Only the wheels that some sounding key can hear are worked out on each
    // sample; every phase still moves on every sample, exactly as always.
    // Wheels 1 to 48 have no memory beyond their phase, so they cost nothing
    // while unheard. A pickup-filtered wheel (49 to 91) that starts to be heard
    // again is woken first: its filter is rebuilt by replaying the last
    // warmUpLength samples from the recorded pitch factors, long enough for
    // the filter to forget where it started (below 1e-12 of full scale), or
    // replaying everything since prepare, which is exact.
    std::array<float, historyLength> pitchHistory {}; // pitch factor of each recent sample, near 1; newest at historyWrite - 1
    int historyWrite = 0;                           // next slot of pitchHistory, 0 to historyLength - 1
    std::int64_t samplesSincePrepare = 0;           // samples the wheels have moved since prepare
    int warmUpLength = 0;                           // samples replayed to wake a filtered wheel; 0 when they must never sleep
    std::array<float, numWheelSlots> preparedFilterState {}; // pickup filter states as prepare left them, signal units
    WheelSet heardWheels;                           // wheels that some sounding key may read

    // The heard wheels in groups of four from wheel 13 on (group g holds wheel
    // indices 12 + 4 g to 15 + 4 g; groups 9 and up carry pickup filters),
    // neighbouring heard groups worked two or four at a time, and the neighbours
    // the crosstalk needs from outside those groups, one by one.
    static constexpr int maxGroups = 20;
    static constexpr int maxLone = 2 * maxGroups; // each group has two neighbours at most
    static constexpr int firstFilteredGroup = 9;
    struct HeardGroups
    {
        bool lowWheel = false;      // wheel 12's signal is needed (as wheel 13's neighbour)
        int numGroups = 0;          // groups holding a heard wheel, neighbouring ones joined by two or four
        int numPlainGroups = 0;     // the first numPlainGroups of them carry no pickup filter
        int group[maxGroups] {};    // their first wheel indices, ascending
        int width[maxGroups] {};    // their widths in wheels, 4, 8 or 16
        int numLone = 0;            // neighbours outside the groups (wheels 14 and up)
        int numPlainLone = 0;       // the first numPlainLone of them carry no pickup filter
        int lone[maxLone] {};       // their wheel indices, ascending
    };
    HeardGroups heardGroups;

    // The wheels are moved on wheelPass samples at a time, all phases first;
    // then each heard group of wheels goes through the whole pass before the
    // next, its sines in registers, and the keys read one row per sample.
    static constexpr int wheelPass = 32;  // samples
    static constexpr int rowLength = 96;  // floats per row: the 92 wheel slots, one either side, padding
    alignas (64) double passPhase[wheelPass][rowLength] {}; // cycles, [0, 1), wheel i at i, one row per sample
    alignas (64) float passClean[wheelPass][rowLength] {};  // signals before crosstalk, wheel i at i + 1; slots 0 and 93 stay 0
    alignas (64) float passOutput[wheelPass][rowLength] {}; // what the keys read, wheel i at i, one row per sample
    alignas (64) float passColumn[rowLength][wheelPass] {}; // the same turned around: one row per wheel, sample after sample
    WheelSet awakeWheels;                           // filtered wheels whose filter state is current
    bool heardStale = true;                         // heardWheels needs rebuilding
    int heardSteps[numDrawbars] {};                 // drawbar steps (0 to 8) heardWheels was built for
    bool heardPercussionOn = false;                 // percussion switch heardWheels was built for
    bool heardPercThird = false;                    // third-harmonic switch heardWheels was built for
    std::array<float, scannerLength> scannerLine {}; // circular delay line, samples of the key mix
    int scannerWriteIndex = 0;                      // next slot to write, 0 to 511
    double scannerLfoPhase = 0.0;                   // cycles of the 7 Hz triangle, [0, 1)
    double driftTime = 0.0;                         // seconds, wraps from above 100 back by 100
    float outputFollower = 0.0f;                    // output stage: level follower
    float outputLowPass1 = 0.0f;                    // output stage: first low-pass section
    float outputLowPass2 = 0.0f;                    // output stage: second low-pass section
    float outputHighPassState = 0.0f;               // output stage: low-passed copy removed by the high-pass
    std::array<TonewheelKey, numKeys> keys {};
    std::uint64_t activeKeys = 0;                   // bit k set while keys[k] is active, so the loops visit only sounding keys

    // The key mix's bookkeeping, so that a key whose contacts have all settled
    // costs one multiply and add per pulled drawbar. Rebuilt whenever a key
    // starts, stops, opens or closes a contact, or a drawbar moves.
    std::array<std::uint16_t, numKeys> closedContacts {};   // bit j set while keys[k].contactClosed[j]
    std::array<std::uint16_t, numKeys> bouncingContacts {}; // bit j set while keys[k].bounce[j] > 0.001
    // The drawbars as last seen, and what follows from them.
    struct Registration
    {
        DrawbarLevels levels {};         // 0 to 1 each
        bool valid = false;              // the fields below follow from levels
        int steps[numDrawbars] {};       // drawbar steps, 0 to 8
        int pulled[numDrawbars] {};      // the drawbars with a step above 0, lowest footage first
        int numPulled = 0;               // how many there are
        unsigned pulledMask = 0;         // bit j set while drawbar j is pulled
    };
    Registration registration;

    bool mixStale = true;                           // the usage counts and mix gains below need rebuilding
    int mixSteps[numDrawbars] {};                   // drawbar steps (0 to 8) the mix was built for
    std::array<int, numWheels> wheelUsage {};       // closed contacts of sounding keys on each wheel
    // The sounding keys in slots, in key order, each with its pulled drawbars'
    // wheels and gains side by side.
    int numSlots = 0;                               // sounding keys when the mix was built
    int slotOfKey[numKeys] {};                      // each sounding key's slot
    int mixWheel[numKeys][numDrawbars] {};          // per slot, the wheel index of each pulled drawbar, lowest footage first
    float mixGain[numKeys][numDrawbars] {};         // per slot, the same drawbars' gains scaled for shared wheels, linear
    float percussionArmed = 1.0f;                   // 0 to 1; percussion may trigger above 0.5
    std::uint32_t randomState = 48271;              // minimal-standard generator for contact timing
    MathMode mathMode = MathMode::fast;             // arithmetic of the sines and tangents
};
