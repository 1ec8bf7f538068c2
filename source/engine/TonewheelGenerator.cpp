#include "TonewheelGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace
{
constexpr double twoPi = 6.283185307179586;

constexpr int numWheels = TonewheelGenerator::numWheels;
constexpr int numWheelSlots = TonewheelGenerator::numWheelSlots;
constexpr int numKeys = TonewheelGenerator::numKeys;
constexpr int numDrawbars = TonewheelGenerator::numDrawbars;
constexpr int scannerLength = TonewheelGenerator::scannerLength;
static_assert (numKeys <= 64, "the sounding keys are kept as bits of one 64-bit word");

// Wheel tuning: 20 Hz times an octave multiplier times one of twelve gear ratios.
constexpr double wheelBaseFrequency = 20.0; // Hz
constexpr int octaveMultipliers[7] = { 2, 4, 8, 16, 32, 64, 128 }; // wheels 1-12, 13-24, ... 73-84
constexpr int topOctaveMultiplier = 192;                          // wheels 85 to 91
constexpr double semitoneRatios[12] = {
    85.0 / 104.0, 71.0 / 82.0, 67.0 / 73.0, 35.0 / 36.0, 103.0 / 100.0, 12.0 / 11.0,
    37.0 / 32.0,  49.0 / 40.0, 48.0 / 37.0, 11.0 / 8.0,  67.0 / 46.0,   54.0 / 35.0,
};

// Semitones of each drawbar above the key's 8' wheel.
constexpr int drawbarOffsets[numDrawbars] = { -12, 7, 0, 12, 19, 24, 28, 31, 36 };

// Drawbar gain by drawbar step 0 to 8.
constexpr float drawbarGains[9] = { 0.0f, 0.09375f, 0.125f, 0.171875f, 0.25f, 0.34375f, 0.5f, 0.703125f, 1.0f };

// Odd harmonics of the twelve lowest wheels, which are square-like.
constexpr int lowWheelHarmonics[5] = { 3, 5, 7, 9, 11 };
constexpr float lowWheelHarmonicWeights[5] = { 1.0f / 3.0f, 1.0f / 5.0f, 1.0f / 7.0f, 1.0f / 9.0f, 1.0f / 11.0f };

constexpr int firstPickupFilteredWheel = 48; // index of wheel 49
constexpr int firstDarkPickupWheel = 54;     // index of wheel 55

// Wheel numbers above 91 fold back into the top octave, wheels 80 to 91.
constexpr int foldIntoTopOctave (int wheelNumber)
{
    return wheelNumber > numWheels ? 80 + (wheelNumber - 92) % 12 : wheelNumber;
}

struct WheelMap
{
    int index[numKeys][numDrawbars] {};
};

constexpr WheelMap makeWheelMap()
{
    WheelMap map;

    for (int k = 0; k < numKeys; ++k)
    {
        for (int j = 0; j < numDrawbars; ++j)
        {
            const int e = k + drawbarOffsets[j];
            // Below the lowest octave the 16' borrows the 8' wheel of the same key.
            const int wheel = e >= 0 ? e + 13 : e + 25;
            map.index[k][j] = foldIntoTopOctave (wheel) - 1;
        }
    }

    return map;
}

constexpr WheelMap wheelMap = makeWheelMap();

// The sines of one sample of the whole bank: the 91 fundamentals, the odd
// harmonics 3 to 11 of wheels 1 to 12, the level terms of wheels 13 to 91 and
// the second harmonics of wheels 49 to 91.
constexpr int numLowWheels = 12;
constexpr int numHarmonics = 5;
constexpr int numWheelSines = numWheels + numHarmonics * numLowWheels + (numWheels - numLowWheels) + (numWheels - 48);

// 0.7 x i, radians: the fixed part of wheel i's level-term argument.
struct LevelOffsets
{
    double radians[numWheelSlots] {};
};

constexpr LevelOffsets makeLevelOffsets()
{
    LevelOffsets offsets;
    for (int i = 0; i < numWheelSlots; ++i)
        offsets.radians[i] = 0.7 * i;
    return offsets;
}

constexpr LevelOffsets levelOffsets = makeLevelOffsets();

// The scale of a drawbar gain by the number n of closed contacts that share its
// wheel, worked out once: 1 / sqrt(n) for shared wheels, exactly 1 for n <= 1.
struct ShareScale
{
    float ofUses[numKeys * numDrawbars + 1] {};

    ShareScale()
    {
        ofUses[0] = 1.0f;
        ofUses[1] = 1.0f;
        for (int n = 2; n <= numKeys * numDrawbars; ++n)
            ofUses[n] = 1.0f / std::sqrt (static_cast<float> (n));
    }
};

const ShareScale shareScale;

// One sample of the wheel bank, on the generator's own arrays or on a replay's.
struct WheelStep
{
    double* phase;                  // cycles, [0, 1)
    const double* frequency;        // Hz
    float* raw;                     // signal before the pickup filter
    float* output;                  // signal the keys read
    float* filterState;             // pickup low-pass state
    const float* harmonicWeight;    // per low wheel and odd harmonic, 0 above the alias limit
    const float* pickupCoefficient; // per wheel, one-pole coefficient
    const WheelSet::Runs* runs;     // the wheels to work out
    double pitchFactor;             // common drift, near 1
    double sampleInterval;          // seconds
    MathMode mode;                  // arithmetic of the sines
};

// The signals of wheels a to b - 1: every sine of the run and of its two
// neighbours (for the crosstalk), crosstalk and pickup filter. Written as plain
// loops over the arrays so that the compiler can work on many wheels at a time.
template <bool fused>
inline __attribute__ ((always_inline)) void evaluateRun (const WheelStep& step, int a, int b) noexcept
{
    const double* __restrict phase = step.phase;

    // Wheels lo to hi - 1: the run and its neighbours.
    const int lo = std::max (a - 1, 0);
    const int hi = std::min (b + 1, numWheels);
    const int numFundamentals = hi - lo;
    const int levelLo = std::max (lo, numLowWheels);
    const int numLevels = std::max (hi - levelLo, 0);
    const int secondLo = std::max (lo, firstPickupFilteredWheel);
    const int numSeconds = std::max (hi - secondLo, 0);
    const int lowHi = std::min (hi, numLowWheels);
    const int numLow = std::max (lowHi - lo, 0);
    const int numSines = numFundamentals + numLevels + numSeconds + numHarmonics * numLow;

    // Every sine of the run, argument first (radians), then all evaluated together:
    // fundamentals, level terms (wheels 13 to 91), second harmonics (49 to 91),
    // odd harmonics of the low wheels (harmonic by harmonic).
    alignas (64) double arguments[numWheelSines];
    alignas (64) float sines[numWheelSines];
    double* fundamentalArgument = arguments;
    double* levelArgument = fundamentalArgument + numFundamentals;
    double* secondArgument = levelArgument + numLevels;
    double* oddArgument = secondArgument + numSeconds;

    for (int i = 0; i < numFundamentals; ++i)
        fundamentalArgument[i] = twoPi * phase[lo + i];

    // Each wheel's own level offset within +-0.5 % and a slight shape, from the phase just updated.
    for (int i = 0; i < numLevels; ++i)
        levelArgument[i] = levelOffsets.radians[levelLo + i] + 0.13 * phase[levelLo + i];

    for (int i = 0; i < numSeconds; ++i)
        secondArgument[i] = 2.0 * fundamentalArgument[secondLo - lo + i];

    for (int h = 0; h < numHarmonics; ++h)
        for (int i = 0; i < numLow; ++i)
            oddArgument[h * numLow + i] = lowWheelHarmonics[h] * fundamentalArgument[i];

    if (step.mode == MathMode::reference)
        sinekernel::referenceSinesToFloat (arguments, sines, numSines);
    else
        for (int i = 0; i < numSines; ++i)
            sines[i] = static_cast<float> (sinekernel::sineFor<fused> (arguments[i]));

    const float* fundamental = sines;
    const float* levelTerm = fundamental + numFundamentals;
    const float* second = levelTerm + numLevels;
    const float* odd = second + numSeconds;

    // This sample's signals before crosstalk, clean[i + 1] for wheel i; the
    // ends stand for the missing neighbours of wheels 1 and 91.
    alignas (64) float clean[numWheels + 2];
    clean[0] = 0.0f;
    clean[numWheels + 1] = 0.0f;
    float* c = clean + 1;

    // The twelve lowest wheels: band-limited, square-like. A harmonic at or
    // above the limit has weight 0 here, which leaves the sum exactly as if it
    // were skipped.
    for (int i = lo; i < lowHi; ++i)
    {
        float s = fundamental[i - lo];
        for (int h = 0; h < numHarmonics; ++h)
            s += odd[h * numLow + i - lo] * step.harmonicWeight[h * numLowWheels + i];
        c[i] = s * 0.55f;
    }

    const int plainHi = std::min (hi, firstPickupFilteredWheel);
    for (int i = levelLo; i < plainHi; ++i)
        c[i] = (levelTerm[i - levelLo] * 0.005f + 1.0f) * fundamental[i - lo];

    // The upper wheels add a weak second harmonic.
    for (int i = secondLo; i < hi; ++i)
    {
        const float s = (levelTerm[i - levelLo] * 0.005f + 1.0f) * fundamental[i - lo];
        c[i] = s + second[i - secondLo] * 0.012f;
    }

    // Crosstalk: 1 % of each neighbour, from the signals before any leakage.
    float* __restrict raw = step.raw;
    for (int i = a; i < b; ++i)
        raw[i] = c[i] + (c[i + 1] + c[i - 1]) * 0.01f;

    // Pickup low-pass of the upper wheels.
    float* __restrict output = step.output;
    float* __restrict filterState = step.filterState;
    const int filteredLo = std::max (a, firstPickupFilteredWheel);

    for (int i = a; i < std::min (b, firstPickupFilteredWheel); ++i)
        output[i] = raw[i];

    for (int i = filteredLo; i < b; ++i)
    {
        filterState[i] += step.pickupCoefficient[i] * (raw[i] - filterState[i]);
        output[i] = filterState[i];
    }
}

// Moves every wheel's phase one sample on, then works out the signals of the
// step's runs.
template <bool fused>
inline __attribute__ ((always_inline)) void stepWheels (const WheelStep& step) noexcept
{
    double* __restrict wheelPhase = step.phase;
    const double* __restrict wheelFrequency = step.frequency;
    const double p = step.pitchFactor;
    const double sampleInterval = step.sampleInterval;

    for (int i = 0; i < numWheels; ++i)
    {
        const double phase = wheelPhase[i] + wheelFrequency[i] * p * sampleInterval;
        // Back into [0, 1): nothing below 1, subtracting 1 above it (or more, should
        // a wheel outrun the sample rate). Unconditional, so that it vectorises.
        wheelPhase[i] = phase - sinekernel::floorOf (phase);
    }

    for (int r = 0; r < step.runs->count; ++r)
        evaluateRun<fused> (step, step.runs->start[r], step.runs->end[r]);
}

void stepWheelsPlain (const WheelStep& step) noexcept { stepWheels<false> (step); }
BRASSGATE_LANES_AVX2 void stepWheelsAvx2 (const WheelStep& step) noexcept { stepWheels<true> (step); }
BRASSGATE_LANES_AVX512 void stepWheelsAvx512 (const WheelStep& step) noexcept { stepWheels<true> (step); }

void stepWheelsDispatched (const WheelStep& step) noexcept
{
    switch (sinekernel::laneSet())
    {
        case sinekernel::LaneSet::avx512: stepWheelsAvx512 (step); break;
        case sinekernel::LaneSet::avx2: stepWheelsAvx2 (step); break;
        default: stepWheelsPlain (step); break;
    }
}

const WheelSet::Runs everyWheel = WheelSet::all().runs();

// A group's wheels side by side, four or eight of them: one or two vector
// registers on every instruction set.
template <int width>
struct Lanes
{
    typedef double Double __attribute__ ((vector_size (width * sizeof (double))));
    typedef float Float __attribute__ ((vector_size (width * sizeof (float))));
};

// Passed by reference rather than returned, so that no function takes or
// gives a wide vector by value (which would depend on the instruction set).
template <typename Lanes, typename T>
inline __attribute__ ((always_inline)) Lanes& loadLanes (Lanes& lanes, const T* source) noexcept
{
    std::memcpy (&lanes, source, sizeof lanes);
    return lanes;
}

template <typename Lanes, typename T>
inline __attribute__ ((always_inline)) void storeLanes (T* destination, const Lanes& lanes) noexcept
{
    std::memcpy (destination, &lanes, sizeof lanes);
}

// trunc(level x 8 + 0.5), kept inside the gain table whatever the level.
inline int drawbarStepFor (float level)
{
    const float position = level * 8.0f + 0.5f;

    if (! (position >= 1.0f)) // also catches NaN
        return 0;

    return position >= 8.0f ? 8 : static_cast<int> (position);
}

struct ScannerModeShape
{
    float depth;   // scales the largest delay of 1 ms
    bool isChorus; // chorus mixes the swept signal with the dry one; vibrato is swept only
};

ScannerModeShape scannerModeShape (int mode)
{
    switch (mode)
    {
        case 0: return { 0.33f, false };
        case 1: return { 0.66f, false };
        case 2: return { 1.0f, false };
        case 3: return { 0.33f, true };
        case 4: return { 0.66f, true };
        case 5: return { 1.0f, true };
        default: return { 0.66f, true };
    }
}
} // namespace

TonewheelGenerator::TonewheelGenerator() = default;

void TonewheelGenerator::prepare (double newSampleRate)
{
    // A host never sends these; treat them as the default rate rather than divide by zero.
    if (! (newSampleRate > 0.0) || ! std::isfinite (newSampleRate))
        newSampleRate = 44100.0;

    // The pickup filters carry their state across a prepare; bring the sleeping
    // ones up to date first, at the old rate.
    wakeWheels (filteredWheels() & ~awakeWheels);

    sampleRate = newSampleRate;
    sampleInterval = 1.0 / newSampleRate;

    wheelPhase.fill (0.0);
    wheelRaw.fill (0.0f);
    wheelOutput.fill (0.0f);
    scannerLine.fill (0.0f);

    percussionArmed = 1.0f;
    scannerWriteIndex = 0;
    scannerLfoPhase = 0.0;
    driftTime = 0.0;
    outputFollower = 0.0f;
    outputLowPass1 = 0.0f;
    outputLowPass2 = 0.0f;
    outputHighPassState = 0.0f;

    keys.fill (TonewheelKey {});
    activeKeys = 0;
    closedContacts.fill (0);
    bouncingContacts.fill (0);
    mixStale = true;

    for (int i = 0; i < numWheels; ++i)
    {
        const int multiplier = i < 84 ? octaveMultipliers[i / 12] : topOctaveMultiplier;
        const int ratio = i < 84 ? i % 12 : i - 79; // wheels 85 to 91 use ratios 5 to 11
        wheelFrequency[(size_t) i] = static_cast<double> (multiplier) * wheelBaseFrequency * semitoneRatios[ratio];
    }

    // Harmonics of the low wheels that would alias at this rate stay out.
    const double harmonicLimit = 0.45 * sampleRate; // Hz
    for (int h = 0; h < numHarmonics; ++h)
        for (int i = 0; i < numLowWheels; ++i)
            harmonicWeight[(size_t) (h * numLowWheels + i)] =
                harmonicLimit > lowWheelHarmonics[h] * wheelFrequency[(size_t) i] ? lowWheelHarmonicWeights[h] : 0.0f;

    const float interval = static_cast<float> (sampleInterval);
    const float brightCoefficient = std::min (0.99f, interval * 4500.0f * 6.2832f);
    const float darkCoefficient = std::min (0.99f, interval * 3500.0f * 6.2832f);
    for (int i = 0; i < numWheels; ++i)
        pickupCoefficient[(size_t) i] = i < firstPickupFilteredWheel ? 0.0f
                                        : i < firstDarkPickupWheel   ? brightCoefficient
                                                                     : darkCoefficient;

    // Samples after which the slower pickup filter has forgotten its start to
    // below 1e-12; beyond the history's length the filtered wheels never sleep.
    const double forgetSamples = std::log (1.0e-12) / std::log1p (-static_cast<double> (darkCoefficient));
    warmUpLength = forgetSamples > 0.0 && forgetSamples <= historyLength ? static_cast<int> (std::ceil (forgetSamples)) : 0;

    preparedFilterState = wheelFilterState;
    historyWrite = 0;
    samplesSincePrepare = 0;
    heardWheels = {};
    awakeWheels = {};
    heardStale = true;
}

float TonewheelGenerator::nextRandom() noexcept
{
    // Minimal standard: state x 48271 mod (2^31 - 1), the product formed exactly.
    randomState = static_cast<std::uint32_t> ((static_cast<std::uint64_t> (randomState) * 48271u) % 2147483647u);
    return static_cast<float> (randomState) * (1.0f / 2147483648.0f);
}

void TonewheelGenerator::noteOn (int note, float velocity)
{
    if (note < lowestNote || note > highestNote)
        return;

    const bool anyKeyHeld = std::any_of (keys.begin(), keys.end(), [] (const TonewheelKey& k) { return k.isHeld(); });

    auto& key = keys[(size_t) (note - lowestNote)];
    activeKeys |= std::uint64_t { 1 } << (note - lowestNote);
    key.velocity = velocity >= 0.0f ? std::min (velocity, 1.0f) : 0.0f; // NaN and negatives give silence
    key.active = true;
    key.released = false;
    key.envelope = 0.0f;
    key.clickRemaining = 0;

    // Each contact closes at its own moment within 2.5 ms, with its own bounce.
    for (int j = 0; j < numDrawbars; ++j)
    {
        const float contactRandom = nextRandom();
        key.contactDelay[j] = static_cast<int> (static_cast<double> (contactRandom) * 0.0025 * sampleRate);
        key.contactClosed[j] = false;
        const float bounceRandom = nextRandom();
        key.bounce[j] = bounceRandom * 0.25f + 0.25f;
    }

    closedContacts[(size_t) (note - lowestNote)] = 0;
    bouncingContacts[(size_t) (note - lowestNote)] = 0;
    for (int j = 0; j < numDrawbars; ++j)
        if (key.bounce[j] > 0.001f)
            bouncingContacts[(size_t) (note - lowestNote)] |= static_cast<std::uint16_t> (1u << j);
    mixStale = true;
    heardStale = true;

    // Single trigger: only the first key of a phrase takes the percussion.
    if (! anyKeyHeld && percussionArmed > 0.5f)
    {
        key.percussionTriggered = true;
        key.percussionLevel = 1.0f;
        percussionArmed = 0.0f;
    }
    else
    {
        key.percussionTriggered = false;
        key.percussionLevel = 0.0f;
    }
}

void TonewheelGenerator::noteOff (int note)
{
    if (note < lowestNote || note > highestNote)
        return;

    auto& key = keys[(size_t) (note - lowestNote)];

    if (! key.isHeld())
        return;

    key.released = true;
    key.clickRemaining = static_cast<int> (sampleRate * 0.004); // 4 ms
    key.clickPhase = 0.0f;

    // The delays are kept: contacts whose delay has run out close again on the next sample.
    std::fill (std::begin (key.contactClosed), std::end (key.contactClosed), false);
    closedContacts[(size_t) (note - lowestNote)] = 0;
    mixStale = true;
}

void TonewheelGenerator::allNotesOff()
{
    for (auto& key : keys)
    {
        key.active = false;
        std::fill (std::begin (key.contactClosed), std::end (key.contactClosed), false);
    }

    activeKeys = 0;
    closedContacts.fill (0);
    mixStale = true;
    heardStale = true;
}

float TonewheelGenerator::renderSample (const DrawbarLevels& drawbarLevels,
                                        float chorusAmount,
                                        int scannerMode,
                                        bool percussionOn,
                                        bool percThird,
                                        bool percFast,
                                        float keyClick,
                                        bool percSoft,
                                        bool /*paradise*/)
{
    const float keyMix = renderKeys (drawbarLevels, percussionOn, percThird, percFast, keyClick, percSoft);
    return processOutputStage (processScanner (keyMix, chorusAmount, scannerMode));
}

void TonewheelGenerator::nextPitchFactors (float* out, int n)
{
    // Common pitch drift of the wheel motor: three slow sines, seamless over the 100 s wrap.
    constexpr int maxPass = 256; // samples per pass of the scratch arrays
    alignas (64) double arguments[3 * maxPass]; // radians, three per sample
    alignas (64) float drift[3 * maxPass];

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);

        for (int i = 0; i < count; ++i)
        {
            driftTime += sampleInterval;
            if (driftTime > 100.0)
                driftTime -= 100.0;

            const double t = driftTime;
            arguments[i] = t * 0.5 * twoPi;
            arguments[count + i] = t * 6.3 * twoPi;
            arguments[2 * count + i] = t * 3.1 * twoPi;
        }

        sinekernel::sinesToFloat (arguments, drift, 3 * count, mathMode);

        for (int i = 0; i < count; ++i)
        {
            float pitchFactor = drift[i] * 0.0003f + 1.0f;
            pitchFactor = pitchFactor + drift[count + i] * 0.00008f;
            pitchFactor = pitchFactor + drift[2 * count + i] * 0.00012f;
            out[start + i] = pitchFactor;
        }
    }
}

float TonewheelGenerator::renderKeys (const DrawbarLevels& drawbarLevels,
                                      bool percussionOn,
                                      bool percThird,
                                      bool percFast,
                                      float keyClick,
                                      bool percSoft)
{
    float pitchFactor;
    nextPitchFactors (&pitchFactor, 1);
    prepareMix (drawbarLevels, percussionOn, percThird);
    if (mathMode != MathMode::reference)
        stepHeardWheels (&pitchFactor, 1);
    return mixKeys (wheelOutputsFor (0, pitchFactor), { percussionOn, percThird, percFast, keyClick, percSoft });
}

void TonewheelGenerator::prepareMix (const DrawbarLevels& drawbarLevels, bool percussionOn, bool percThird)
{
    // The pulled drawbars, lowest footage first, worked out again only when a
    // level has changed.
    if (std::memcmp (&drawbarLevels, &registration.levels, sizeof drawbarLevels) != 0 || ! registration.valid)
    {
        registration.levels = drawbarLevels;
        registration.valid = true;
        registration.numPulled = 0;
        registration.pulledMask = 0;
        for (int j = 0; j < numDrawbars; ++j)
        {
            registration.steps[j] = drawbarStepFor (drawbarLevels[(size_t) j]);
            if (registration.steps[j] > 0)
            {
                registration.pulled[registration.numPulled++] = j;
                registration.pulledMask |= 1u << j;
            }
        }
    }

    // In reference mode every wheel is worked out on every sample instead.
    const int* steps = registration.steps;
    const bool heardDrawbarsMoved = ! std::equal (steps, steps + numDrawbars, heardSteps);
    if (mathMode != MathMode::reference
        && (heardStale || heardDrawbarsMoved || percussionOn != heardPercussionOn || percThird != heardPercThird))
        updateHeardWheels (steps, percussionOn, percThird);
}

bool TonewheelGenerator::mixSettledKeys (float* mix, int count, const KeySwitches& switches)
{
    const int* steps = registration.steps;
    const unsigned pulledMask = registration.pulledMask;
    const float interval = static_cast<float> (sampleInterval); // seconds
    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = switches.keyClick > 0.01f;

    if (mathMode == MathMode::reference || activeKeys == 0 || mixStale
        || ! std::equal (steps, steps + numDrawbars, mixSteps))
        return false;

    bool anyKeyHeld = false;
    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
    {
        const int k = __builtin_ctzll (m);
        const auto& key = keys[(size_t) k];
        if ((pulledMask & ~closedContacts[(size_t) k]) != 0)
            return false;
        if (clickOn && ((pulledMask & bouncingContacts[(size_t) k]) != 0 || key.clickRemaining > 0))
            return false;
        // One decrement to spare covers the rounding of the running subtraction.
        if (key.released && ! (key.envelope > releaseDecrement * static_cast<float> (count + 1)))
            return false;
        anyKeyHeld = anyKeyHeld || ! key.released;
    }

    if (! anyKeyHeld)
        for (int t = 0; t < count; ++t)
            percussionArmed = std::min (percussionArmed + interval * 8.0f, 1.0f);

    const SettledPass pass { count, switches, switches.percFast ? 4.6f : 0.92f, interval, attackIncrement, releaseDecrement };
    alignas (64) float total[wheelPass];
    switch (sinekernel::laneSet())
    {
        case sinekernel::LaneSet::avx512: settledTotalsAvx512 (pass, total); break;
        case sinekernel::LaneSet::avx2: settledTotalsAvx2 (pass, total); break;
        default: settledTotalsPlain (pass, total); break;
    }

    for (int t = 0; t < count; ++t)
        mix[t] = total[t] * 0.08f;
    return true;
}

template <int registerLanes>
inline __attribute__ ((always_inline)) void TonewheelGenerator::settledTotals (const SettledPass& pass, float* total) noexcept
{
    // Each key's drawbar sum in pieces of one register of samples, kept there
    // while the drawbars are added in order.
    constexpr int lanes = 2 * registerLanes; // floats per register
    using Float = typename Lanes<lanes>::Float;
    static_assert (wheelPass % lanes == 0, "the pass is worked in whole registers");

    const int count = pass.count;
    const int numPulled = registration.numPulled;
    alignas (64) float keySum[wheelPass];
    alignas (64) float envelope[wheelPass];
    alignas (64) float percussionLevel[wheelPass];
    std::fill (total, total + wheelPass, 0.0f);

    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
    {
        const int k = __builtin_ctzll (m);
        auto& key = keys[(size_t) k];
        const int slot = slotOfKey[k];

        float e = key.envelope;
        for (int t = 0; t < count; ++t)
        {
            e = key.released ? e - pass.releaseDecrement : std::min (e + pass.attackIncrement, 1.0f);
            envelope[t] = e;
        }
        key.envelope = e;

        for (int t = 0; t < count; t += lanes)
        {
            Float sum {}, wheel;
            for (int p = 0; p < numPulled; ++p)
                sum += mixGain[slot][p] * loadLanes (wheel, passColumn[mixWheel[slot][p]] + t);
            storeLanes (keySum + t, sum);
        }

        if (pass.switches.percussionOn && key.percussionTriggered && key.percussionLevel > 0.001f)
        {
            // The level falls on every sample it sounds, and the term stops once it is 0.001 or less.
            float level = key.percussionLevel;
            for (int t = 0; t < count; ++t)
            {
                const bool sounding = level > 0.001f;
                percussionLevel[t] = sounding ? level : 0.0f;
                if (sounding)
                    level = level - level * pass.percussionRate * pass.interval;
            }
            key.percussionLevel = level;

            const float* __restrict wheel = passColumn[percussionWheelIndexFor (k, pass.switches.percThird)];
            for (int t = 0; t < count; ++t)
            {
                float term = percussionLevel[t] * wheel[t] * 0.45f;
                if (pass.switches.percSoft)
                    term = term * 0.5f;
                keySum[t] = percussionLevel[t] > 0.0f ? keySum[t] + term : keySum[t];
            }
        }

        const float velocity = key.velocity;
        for (int t = 0; t < count; ++t)
            total[t] += keySum[t] * envelope[t] * velocity;
    }
}

void TonewheelGenerator::settledTotalsPlain (const SettledPass& p, float* total) noexcept { settledTotals<2> (p, total); }
BRASSGATE_LANES_AVX2 void TonewheelGenerator::settledTotalsAvx2 (const SettledPass& p, float* total) noexcept { settledTotals<4> (p, total); }
BRASSGATE_LANES_AVX512 void TonewheelGenerator::settledTotalsAvx512 (const SettledPass& p, float* total) noexcept { settledTotals<8> (p, total); }

const float* TonewheelGenerator::wheelOutputsFor (int t, float pitchFactor)
{
    if (mathMode != MathMode::reference)
        return passOutput[t];

    advanceWheels (pitchFactor);
    return wheelOutput.data();
}

float TonewheelGenerator::mixKeys (const float* wheelOut, const KeySwitches& switches)
{
    const auto [percussionOn, percThird, percFast, keyClick, percSoft] = switches;
    const int* steps = registration.steps;
    const int* pulled = registration.pulled;
    const int numPulled = registration.numPulled;
    const unsigned pulledMask = registration.pulledMask;
    const bool drawbarsMoved = ! std::equal (steps, steps + numDrawbars, mixSteps);

    const float interval = static_cast<float> (sampleInterval); // seconds

    bool anyKeyHeld = false;
    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
        anyKeyHeld = anyKeyHeld || ! keys[(size_t) __builtin_ctzll (m)].released;

    if (! anyKeyHeld)
        percussionArmed = std::min (percussionArmed + interval * 8.0f, 1.0f);

    if (activeKeys == 0)
        return 0.0f;

    if (mixStale || drawbarsMoved)
    {
        // Wheels connected through more than one closed contact are shared, and scaled down.
        wheelUsage.fill (0);
        for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
        {
            const int k = __builtin_ctzll (m);
            for (int p = 0; p < numPulled; ++p)
                wheelUsage[(size_t) wheelMap.index[k][pulled[p]]] += (closedContacts[(size_t) k] >> pulled[p]) & 1;
        }

        // A wheel used once keeps its gain exactly (scale 1).
        numSlots = 0;
        for (std::uint64_t m = activeKeys; m != 0; m &= m - 1, ++numSlots)
        {
            const int k = __builtin_ctzll (m);
            slotOfKey[k] = numSlots;
            for (int p = 0; p < numPulled; ++p)
            {
                const int wheel = wheelMap.index[k][pulled[p]];
                mixWheel[numSlots][p] = wheel;
                mixGain[numSlots][p] = drawbarGains[steps[pulled[p]]] * shareScale.ofUses[wheelUsage[(size_t) wheel]];
            }
        }

        std::copy (steps, steps + numDrawbars, std::begin (mixSteps));
        mixStale = false;
    }

    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = keyClick > 0.01f;
    const float percussionRate = percFast ? 4.6f : 0.92f; // per second
    const float releaseClickLength = static_cast<float> (sampleRate * 0.004); // samples

    // Every sounding key's drawbar sum, in drawbar order. A key whose contacts
    // are all closed and quiet sounds exactly this sum. The keys' sums are
    // independent, so the processor overlaps them.
    float drawbarSum[numKeys];
    for (int slot = 0; slot < numSlots; ++slot)
    {
        float sum = 0.0f;
        for (int p = 0; p < numPulled; ++p)
            sum += mixGain[slot][p] * wheelOut[mixWheel[slot][p]];
        drawbarSum[slot] = sum;
    }

    float total = 0.0f;

    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
    {
        const int k = __builtin_ctzll (m);
        auto& key = keys[(size_t) k];

        if (key.released)
        {
            key.envelope -= releaseDecrement;
            if (key.envelope <= 0.0f)
            {
                key.active = false;
                activeKeys &= ~(std::uint64_t { 1 } << k);
                mixStale = true;
                heardStale = true;
                continue;
            }
        }
        else
        {
            key.envelope = std::min (key.envelope + attackIncrement, 1.0f);
        }

        float keySum = 0.0f;
        const bool contactsPending = (pulledMask & ~closedContacts[(size_t) k]) != 0;
        const bool bouncing = clickOn && (pulledMask & bouncingContacts[(size_t) k]) != 0;

        if (! contactsPending && ! bouncing)
        {
            // Every pulled contact closed and quiet: the drawbar sum alone.
            keySum = drawbarSum[slotOfKey[k]];
        }
        else
        {
            for (int p = 0; p < numPulled; ++p)
            {
                const int j = pulled[p]; // a pushed-in drawbar's contact does not count down

                if (! key.contactClosed[j])
                {
                    if (key.contactDelay[j] > 0)
                    {
                        --key.contactDelay[j];
                        continue;
                    }
                    key.contactClosed[j] = true;
                    closedContacts[(size_t) k] |= static_cast<std::uint16_t> (1u << j);
                    mixStale = true; // the wheel's usage counts from the next sample on
                }

                const float w = wheelOut[mixWheel[slotOfKey[k]][p]];

                // Contact bounce: a burst of the contact's own wheel as it closes.
                if (key.bounce[j] > 0.001f && clickOn)
                {
                    keySum += key.bounce[j] * w * 5.0f * keyClick;
                    key.bounce[j] = key.bounce[j] * 0.991f;
                    if (! (key.bounce[j] > 0.001f))
                        bouncingContacts[(size_t) k] &= static_cast<std::uint16_t> (~(1u << j));
                }

                keySum += mixGain[slotOfKey[k]][p] * w;
            }
        }

        if (percussionOn && key.percussionTriggered && key.percussionLevel > 0.001f)
        {
            const float w = wheelOut[percussionWheelIndexFor (k, percThird)];
            float term = key.percussionLevel * w * 0.45f;
            if (percSoft)
                term = term * 0.5f;
            keySum += term;
            key.percussionLevel = key.percussionLevel - key.percussionLevel * percussionRate * interval;
        }

        // Release click: a 4 ms burst of 3 kHz falling linearly.
        if (key.clickRemaining > 0 && clickOn)
        {
            key.clickPhase = key.clickPhase + interval * 3000.0f;
            const double s = sinekernel::sine (twoPi * static_cast<double> (key.clickPhase), mathMode);
            const int n = key.clickRemaining;
            key.clickRemaining = n - 1;
            const float e = static_cast<float> (n) / releaseClickLength;
            keySum = static_cast<float> (s * static_cast<double> (e) * static_cast<double> (0.12f) * static_cast<double> (keyClick)
                                         + static_cast<double> (keySum));
        }

        total += keySum * key.envelope * key.velocity;
    }

    return total * 0.08f;
}

void TonewheelGenerator::advanceWheels (float pitchFactor)
{
    stepAllWheels (pitchFactor);
}

void TonewheelGenerator::updateHeardWheels (const int* steps, bool percussionOn, bool percThird)
{
    // Every pulled drawbar of every sounding key, whether or not its contact has
    // closed yet, and the wheel of each key that may still sound its percussion.
    WheelSet heard;
    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
    {
        const int k = __builtin_ctzll (m);
        for (int j = 0; j < numDrawbars; ++j)
            if (steps[j] > 0)
                heard.add (wheelMap.index[k][j]);

        if (percussionOn && keys[(size_t) k].percussionTriggered)
            heard.add (percussionWheelIndexFor (k, percThird));
    }

    // At rates where the filters remember longer than the history reaches, the
    // filtered wheels run all the time.
    if (warmUpLength == 0)
        heard = heard | filteredWheels();

    heardWheels = heard;

    // The heard wheels' groups, and the neighbours outside them whose signals
    // the crosstalk needs.
    auto& groups = heardGroups;
    groups = {};
    bool groupHeard[maxGroups] {};
    for (int g = 0; g < maxGroups; ++g)
    {
        const int base = numLowWheels + 4 * g;
        for (int i = base; i < std::min (base + 4, numWheels); ++i)
            groupHeard[g] = groupHeard[g] || heard.contains (i);
    }

    // Neighbouring heard groups on the same side of the filtered ones are
    // worked together, four or two of them at a time.
    const auto joinable = [&] (int first, int count) {
        for (int g = first; g < first + count; ++g)
            if (g >= maxGroups || ! groupHeard[g] || (g > first && g == firstFilteredGroup))
                return false;
        return true;
    };

    for (int g = 0; g < maxGroups; ++g)
    {
        if (! groupHeard[g])
            continue;

        const int joined = joinable (g, 4) ? 4 : joinable (g, 2) ? 2 : 1;
        groups.group[groups.numGroups] = numLowWheels + 4 * g;
        groups.width[groups.numGroups] = 4 * joined;
        ++groups.numGroups;
        groups.numPlainGroups += g < firstFilteredGroup ? 1 : 0;
        g += joined - 1;
    }

    const auto inHeardGroup = [&] (int i) { return i >= numLowWheels && i < numWheels && groupHeard[(i - numLowWheels) / 4]; };
    WheelSet lone;
    for (int g = 0; g < maxGroups; ++g)
    {
        if (! groupHeard[g])
            continue;

        const int before = numLowWheels + 4 * g - 1;
        const int after = numLowWheels + 4 * g + 4;
        if (before == numLowWheels - 1)
            groups.lowWheel = true;
        else if (! inHeardGroup (before))
            lone.add (before);
        if (after < numWheels && ! inHeardGroup (after))
            lone.add (after);
    }

    for (int i = 0; i < numWheels; ++i)
    {
        if (lone.contains (i))
        {
            groups.lone[groups.numLone++] = i;
            groups.numPlainLone += i < firstPickupFilteredWheel ? 1 : 0;
        }
    }

    std::copy (steps, steps + numDrawbars, heardSteps);
    heardPercussionOn = percussionOn;
    heardPercThird = percThird;
    heardStale = false;
}

void TonewheelGenerator::stepAllWheels (float pitchFactor)
{
    // A filtered wheel that slept needs its filter rebuilt first.
    wakeWheels (filteredWheels() & ~awakeWheels);

    const WheelStep step { wheelPhase.data(), wheelFrequency.data(), wheelRaw.data(), wheelOutput.data(),
                           wheelFilterState.data(), harmonicWeight.data(), pickupCoefficient.data(), &everyWheel,
                           static_cast<double> (pitchFactor), sampleInterval, mathMode };
    stepWheelsDispatched (step);

    recordPitchFactor (pitchFactor);
    awakeWheels = filteredWheels();
}

void TonewheelGenerator::stepHeardWheels (const float* pitchFactors, int count)
{
    // A filtered wheel heard again after a pause needs its filter rebuilt first.
    wakeWheels (heardWheels & filteredWheels() & ~awakeWheels);

    switch (sinekernel::laneSet())
    {
        case sinekernel::LaneSet::avx512: stepHeardPassAvx512 (pitchFactors, count); break;
        case sinekernel::LaneSet::avx2: stepHeardPassAvx2 (pitchFactors, count); break;
        default: stepHeardPassPlain (pitchFactors, count); break;
    }

    for (int t = 0; t < count; ++t)
        recordPitchFactor (pitchFactors[t]);
    awakeWheels = heardWheels & filteredWheels();
}

void TonewheelGenerator::recordPitchFactor (float pitchFactor) noexcept
{
    pitchHistory[(size_t) historyWrite] = pitchFactor;
    historyWrite = (historyWrite + 1) & (historyLength - 1);
    ++samplesSincePrepare;
}

template <bool fused, int registerLanes>
inline __attribute__ ((always_inline)) void TonewheelGenerator::stepHeardPass (const float* pitchFactors, int count) noexcept
{
    const auto& groups = heardGroups;
    const double interval = sampleInterval; // seconds
    double* __restrict phase = wheelPhase.data();
    const double* __restrict frequency = wheelFrequency.data();

    // Every wheel's phase, sample by sample, kept for the pass.
    for (int t = 0; t < count; ++t)
    {
        const double* __restrict previous = t == 0 ? phase : passPhase[t - 1];
        double* __restrict next = passPhase[t];
        const double p = pitchFactors[t];
        for (int i = 0; i < numWheelSlots; ++i)
        {
            const double advanced = previous[i] + frequency[i] * p * interval;
            // Back into [0, 1): nothing below 1, subtracting 1 above it (or more, should
            // a wheel outrun the sample rate). Unconditional, so that it vectorises.
            next[i] = advanced - sinekernel::floorOf (advanced);
        }
    }
    std::memcpy (phase, passPhase[count - 1], numWheelSlots * sizeof (double));

    // Runs `work` on every heard group in order, with the group's width and
    // whether it carries pickup filters as compile-time constants, and its
    // first wheel index.
    const auto forEachGroup = [&groups] (const auto& work) __attribute__ ((always_inline)) {
        const auto withWidth = [&] (auto filtered, int k) __attribute__ ((always_inline)) {
            if (groups.width[k] == 16)
                work (std::integral_constant<int, 16> {}, groups.group[k], filtered);
            else if (groups.width[k] == 8)
                work (std::integral_constant<int, 8> {}, groups.group[k], filtered);
            else
                work (std::integral_constant<int, 4> {}, groups.group[k], filtered);
        };

        for (int k = 0; k < groups.numPlainGroups; ++k)
            withWidth (std::false_type {}, k);
        for (int k = groups.numPlainGroups; k < groups.numGroups; ++k)
            withWidth (std::true_type {}, k);
    };

    // Each group's signals before crosstalk through the pass, from the phases
    // above: fundamentals and level terms, and for the upper wheels a weak
    // second harmonic. A group wider than a register is worked as several
    // registers side by side.
    const auto groupSignals = [&] (auto groupWidth, int base, auto filtered) __attribute__ ((always_inline)) {
        constexpr int lanes = std::min (decltype (groupWidth)::value, registerLanes);
        constexpr int parts = decltype (groupWidth)::value / lanes;
        using Double = typename Lanes<lanes>::Double;
        using Float = typename Lanes<lanes>::Float;

        for (int k = 0; k < parts; ++k)
        {
            Double p, offset;
            loadLanes (offset, levelOffsets.radians + base + k * lanes);

            for (int t = 0; t < count; ++t)
            {
                loadLanes (p, passPhase[t] + base + k * lanes);
                const Double fundamentalArgument = twoPi * p;

                const Float fundamental = __builtin_convertvector (sinekernel::detail::sineOf<fused> (fundamentalArgument), Float);
                const Float level = __builtin_convertvector (sinekernel::detail::sineOf<fused> (offset + 0.13 * p), Float);
                Float s = (level * 0.005f + 1.0f) * fundamental;
                if constexpr (decltype (filtered)::value)
                    s = s + __builtin_convertvector (sinekernel::detail::sineOf<fused> (2.0 * fundamentalArgument), Float) * 0.012f;
                storeLanes (&passClean[t][base + 1 + k * lanes], s);
            }
        }
    };

    forEachGroup (groupSignals);

    // The lone neighbours, one at a time, many samples at a time.
    alignas (64) double arguments[6 * wheelPass];
    alignas (64) float sines[6 * wheelPass] {};
    const auto sinesOfArguments = [&] (int n) __attribute__ ((always_inline)) {
        for (int k = 0; k < n; ++k)
            sines[k] = static_cast<float> (sinekernel::sineFor<fused> (arguments[k]));
    };

    for (int j = 0; j < groups.numLone; ++j)
    {
        const int i = groups.lone[j];
        const bool filtered = j >= groups.numPlainLone;
        for (int t = 0; t < count; ++t)
        {
            arguments[t] = twoPi * passPhase[t][i];
            arguments[count + t] = levelOffsets.radians[i] + 0.13 * passPhase[t][i];
            arguments[2 * count + t] = 2.0 * arguments[t];
        }
        sinesOfArguments (filtered ? 3 * count : 2 * count);

        for (int t = 0; t < count; ++t)
        {
            float s = (sines[count + t] * 0.005f + 1.0f) * sines[t];
            if (filtered)
                s = s + sines[2 * count + t] * 0.012f;
            passClean[t][i + 1] = s;
        }
    }

    // Wheel 12, the first group's neighbour: band-limited, square-like. A
    // harmonic at or above the alias limit has weight 0 here, which leaves the
    // sum exactly as if it were skipped.
    if (groups.lowWheel)
    {
        for (int t = 0; t < count; ++t)
        {
            const double a = twoPi * passPhase[t][numLowWheels - 1];
            arguments[t] = a;
            for (int h = 0; h < numHarmonics; ++h)
                arguments[(1 + h) * count + t] = lowWheelHarmonics[h] * a;
        }
        sinesOfArguments ((1 + numHarmonics) * count);

        for (int t = 0; t < count; ++t)
        {
            float s = sines[t];
            for (int h = 0; h < numHarmonics; ++h)
                s += sines[(1 + h) * count + t] * harmonicWeight[(size_t) (h * numLowWheels + numLowWheels - 1)];
            passClean[t][numLowWheels] = s * 0.55f;
        }
    }

    // Crosstalk (1 % of each neighbour, from the signals before any leakage)
    // and the pickup filters, each group through the pass.
    const auto groupOutputs = [&] (auto groupWidth, int base, auto filtered) __attribute__ ((always_inline)) {
        constexpr int lanes = std::min (decltype (groupWidth)::value, 2 * registerLanes);
        constexpr int parts = decltype (groupWidth)::value / lanes;
        using Float = typename Lanes<lanes>::Float;

        Float raw[parts] {}, state[parts] {}, coefficient[parts] {};
        if constexpr (decltype (filtered)::value)
        {
            for (int k = 0; k < parts; ++k)
            {
                loadLanes (state[k], wheelFilterState.data() + base + k * lanes);
                loadLanes (coefficient[k], pickupCoefficient.data() + base + k * lanes);
            }
        }

        for (int t = 0; t < count; ++t)
        {
#pragma GCC unroll 4
            for (int k = 0; k < parts; ++k)
            {
                const float* c = passClean[t] + 1 + base + k * lanes;
                Float own, above, below;
                loadLanes (own, c);
                loadLanes (above, c + 1);
                loadLanes (below, c - 1);
                raw[k] = own + (above + below) * 0.01f;

                if constexpr (decltype (filtered)::value)
                {
                    state[k] += coefficient[k] * (raw[k] - state[k]);
                    storeLanes (passOutput[t] + base + k * lanes, state[k]);
                }
                else
                {
                    storeLanes (passOutput[t] + base + k * lanes, raw[k]);
                }
            }
        }

        for (int k = 0; k < parts; ++k)
        {
            storeLanes (wheelRaw.data() + base + k * lanes, raw[k]);
            if constexpr (decltype (filtered)::value)
                storeLanes (wheelFilterState.data() + base + k * lanes, state[k]);
        }
        std::memcpy (wheelOutput.data() + base, passOutput[count - 1] + base, decltype (groupWidth)::value * sizeof (float));
    };

    forEachGroup (groupOutputs);

    // The heard groups' outputs again, one row per wheel, for the key loop that
    // works many samples at a time: blocks of eight wheels by eight samples
    // turned around in registers. Beyond a group of four and past the pass's
    // last sample the blocks carry stale values, which nothing reads.
    const auto groupColumns = [&] (auto groupWidth, int base, auto) __attribute__ ((always_inline)) {
        using Float = Lanes<8>::Float;

        for (int w = base; w < base + decltype (groupWidth)::value; w += 8)
        {
            for (int t = 0; t < count; t += 8)
            {
                Float r[8];
                for (int i = 0; i < 8; ++i)
                    loadLanes (r[i], passOutput[t + i] + w);

                Float a[8], b[8];
                for (int i = 0; i < 8; i += 2)
                {
                    a[i] = __builtin_shufflevector (r[i], r[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
                    a[i + 1] = __builtin_shufflevector (r[i], r[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
                }
                for (int i = 0; i < 8; i += 4)
                {
                    b[i] = __builtin_shufflevector (a[i], a[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
                    b[i + 1] = __builtin_shufflevector (a[i], a[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
                    b[i + 2] = __builtin_shufflevector (a[i + 1], a[i + 3], 0, 1, 8, 9, 4, 5, 12, 13);
                    b[i + 3] = __builtin_shufflevector (a[i + 1], a[i + 3], 2, 3, 10, 11, 6, 7, 14, 15);
                }
                // b[j] holds wheels j and j + 4 of samples 0 to 3; b[j + 4] of samples 4 to 7.
                for (int j = 0; j < 4; ++j)
                {
                    storeLanes (passColumn[w + j] + t, Float (__builtin_shufflevector (b[j], b[j + 4], 0, 1, 2, 3, 8, 9, 10, 11)));
                    storeLanes (passColumn[w + j + 4] + t, Float (__builtin_shufflevector (b[j], b[j + 4], 4, 5, 6, 7, 12, 13, 14, 15)));
                }
            }
        }
    };

    forEachGroup (groupColumns);
}

void TonewheelGenerator::stepHeardPassPlain (const float* f, int n) noexcept { stepHeardPass<false, 2> (f, n); }
BRASSGATE_LANES_AVX2 void TonewheelGenerator::stepHeardPassAvx2 (const float* f, int n) noexcept { stepHeardPass<true, 4> (f, n); }
BRASSGATE_LANES_AVX512 void TonewheelGenerator::stepHeardPassAvx512 (const float* f, int n) noexcept { stepHeardPass<true, 8> (f, n); }

void TonewheelGenerator::wakeWheels (WheelSet waking)
{
    if (waking.empty())
        return;

    // Replays the wheels' last samples on copies of the bank: from prepare on
    // when that is short enough (exact), otherwise from warmUpLength samples
    // back, with the phases stepped back from where they are now.
    const auto replayLength = static_cast<int> (std::min<std::int64_t> (warmUpLength, samplesSincePrepare));
    const bool fromPrepare = replayLength == samplesSincePrepare;

    alignas (64) std::array<double, numWheelSlots> phase {};
    alignas (64) std::array<float, numWheelSlots> raw {};
    alignas (64) std::array<float, numWheelSlots> output {};
    alignas (64) std::array<float, numWheelSlots> filterState {};

    if (fromPrepare)
    {
        filterState = preparedFilterState;
    }
    else
    {
        filterState = wheelFilterState;
        phase = wheelPhase;
        for (int n = 0; n < replayLength; ++n)
        {
            const double p = pitchHistory[(size_t) ((historyWrite - 1 - n) & (historyLength - 1))];
            for (int i = 0; i < numWheels; ++i)
            {
                double back = phase[(size_t) i] - wheelFrequency[(size_t) i] * p * sampleInterval;
                if (back < 0.0)
                    back += 1.0;
                phase[(size_t) i] = back;
            }
        }
    }

    const WheelSet::Runs runs = waking.runs();
    const WheelStep step { phase.data(), wheelFrequency.data(), raw.data(), output.data(), filterState.data(),
                           harmonicWeight.data(), pickupCoefficient.data(), &runs, 1.0, sampleInterval, mathMode };

    for (int n = replayLength; n > 0; --n)
    {
        auto replayStep = step;
        replayStep.pitchFactor = pitchHistory[(size_t) ((historyWrite - n) & (historyLength - 1))];
        stepWheelsDispatched (replayStep);
    }

    for (int i = 0; i < numWheels; ++i)
        if (waking.contains (i))
            wheelFilterState[(size_t) i] = filterState[(size_t) i];

    awakeWheels = awakeWheels | waking;
}

float TonewheelGenerator::processScanner (float input, float chorusAmount, int scannerMode)
{
    if (! (chorusAmount > 0.01f))
        return input;

    const auto shape = scannerModeShape (scannerMode);

    static_assert ((scannerLength & (scannerLength - 1)) == 0, "the scanner line wraps by masking");
    scannerLine[(size_t) scannerWriteIndex] = input;
    scannerWriteIndex = (scannerWriteIndex + 1) & (scannerLength - 1);

    scannerLfoPhase += sampleInterval * 7.0; // 7 Hz
    if (scannerLfoPhase >= 1.0)
        scannerLfoPhase -= 1.0;

    float triangle = static_cast<float> (scannerLfoPhase) * 2.0f;
    if (triangle > 1.0f)
        triangle = 2.0f - triangle;

    // Largest delay 1 ms x depth x amount. The line holds 1 ms up to 512 kHz; above
    // that (or with an amount above 1) the delay is held inside the line.
    float delay = static_cast<float> (sampleRate) * 0.001f * triangle * shape.depth * chorusAmount; // samples
    delay = std::min (delay, static_cast<float> (scannerLength - 1));

    float readPosition = static_cast<float> (scannerWriteIndex) - 1.0f - delay;
    if (readPosition < 0.0f)
        readPosition += static_cast<float> (scannerLength);

    // readPosition is 0 to 512 here, so truncation is its floor.
    const int whole = static_cast<int> (readPosition);
    const int i = whole & (scannerLength - 1);
    const float f = readPosition - static_cast<float> (whole);
    const float wet = (1.0f - f) * scannerLine[(size_t) i] + f * scannerLine[(size_t) ((i + 1) & (scannerLength - 1))];

    if (! shape.isChorus)
        return wet;

    const float mix = shape.depth * 0.25f + 0.35f;
    return (1.0f - mix) * input + mix * wet;
}

float TonewheelGenerator::processOutputStage (float input)
{
    // Asymmetric soft clip: the positive half a little harder, the negative a little louder.
    const float x = input * 1.8f;
    const float clipTangent = sinekernel::hyperbolicTangent (clipArgument (x), mathMode);
    const float brightTangent = sinekernel::hyperbolicTangent (brightArgument (x), mathMode);
    return outputFilters (softClip (x, clipTangent, brightTangent));
}

float TonewheelGenerator::outputFilters (float y) noexcept
{
    outputFollower = outputFollower + 0.999f * (y - outputFollower);
    const float u = (y - outputFollower * 0.02f) * 0.55f;

    const float interval = static_cast<float> (sampleInterval);
    const float a = std::min (0.99f, interval * 3500.0f * 6.2832f);
    outputLowPass1 += a * (u - outputLowPass1);
    outputLowPass2 += a * (outputLowPass1 - outputLowPass2);

    const float b = std::min (0.99f, interval * 80.0f * 6.2832f);
    outputHighPassState += b * (outputLowPass2 - outputHighPassState);

    return outputLowPass2 - outputHighPassState;
}

void TonewheelGenerator::renderBlock (float* out,
                                      int n,
                                      const DrawbarLevels& drawbarLevels,
                                      float chorusAmount,
                                      int scannerMode,
                                      bool percussionOn,
                                      bool percThird,
                                      bool percFast,
                                      float keyClick,
                                      bool percSoft,
                                      bool /*paradise*/)
{
    constexpr int maxPass = 256; // samples per pass of the scratch arrays
    alignas (64) float pitchFactor[maxPass];
    alignas (64) float x[maxPass];
    alignas (64) float clipTangent[maxPass];
    alignas (64) float brightTangent[maxPass];

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);
        nextPitchFactors (pitchFactor, count);

        for (int first = 0; first < count; first += wheelPass)
        {
            const int length = std::min (wheelPass, count - first);
            prepareMix (drawbarLevels, percussionOn, percThird);
            if (mathMode != MathMode::reference)
                stepHeardWheels (pitchFactor + first, length);

            alignas (64) float keyMix[wheelPass];
            const KeySwitches switches { percussionOn, percThird, percFast, keyClick, percSoft };
            if (! mixSettledKeys (keyMix, length, switches))
            {
                for (int t = 0; t < length; ++t)
                {
                    const float* wheels = wheelOutputsFor (t, pitchFactor[first + t]);
                    keyMix[t] = mixKeys (wheels, switches);
                }
            }

            for (int i = first; i < first + length; ++i)
            {
                x[i] = processScanner (keyMix[i - first], chorusAmount, scannerMode) * 1.8f;
                clipTangent[i] = clipArgument (x[i]);
                brightTangent[i] = brightArgument (x[i]);
            }
        }

        sinekernel::hyperbolicTangents (clipTangent, clipTangent, count, mathMode);
        sinekernel::hyperbolicTangents (brightTangent, brightTangent, count, mathMode);

        for (int i = 0; i < count; ++i)
            out[start + i] = outputFilters (softClip (x[i], clipTangent[i], brightTangent[i]));
    }
}

int TonewheelGenerator::scannerModeFor (float chorusAmount)
{
    if (chorusAmount < 0.34f)
        return 3;
    if (chorusAmount < 0.51f)
        return 4;
    if (chorusAmount < 0.68f)
        return 5;
    if (chorusAmount < 0.84f)
        return 1;
    return 2;
}

int TonewheelGenerator::wheelIndexFor (int key, int drawbar) noexcept
{
    return wheelMap.index[key][drawbar];
}

int TonewheelGenerator::percussionWheelIndexFor (int key, bool thirdHarmonic) noexcept
{
    // k + 13 is the key's 8' wheel; +12 or +19 semitones above it.
    return foldIntoTopOctave (key + (thirdHarmonic ? 32 : 25)) - 1;
}
