#include "TonewheelGenerator.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr double twoPi = 6.283185307179586;

constexpr int numWheels = TonewheelGenerator::numWheels;
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

// Where each group of sine arguments sits in the per-sample batch: the 91
// fundamentals, the odd harmonics 3 to 11 of wheels 1 to 12 (harmonic by
// harmonic), the level terms of wheels 13 to 91 and the second harmonics of
// wheels 49 to 91.
constexpr int numLowWheels = 12;
constexpr int numHarmonics = 5;
constexpr int fundamentalArgs = 0;
constexpr int harmonicArgs = fundamentalArgs + numWheels;
constexpr int levelArgs = harmonicArgs + numHarmonics * numLowWheels;
constexpr int secondHarmonicArgs = levelArgs + (numWheels - numLowWheels);
constexpr int numWheelSines = secondHarmonicArgs + (numWheels - 48);

// 0.7 x i, radians: the fixed part of wheel i's level-term argument.
struct LevelOffsets
{
    double radians[numWheels] {};
};

constexpr LevelOffsets makeLevelOffsets()
{
    LevelOffsets offsets;
    for (int i = 0; i < numWheels; ++i)
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

// The wheels' arrays and this sample's constants, for the wheel-bank step.
struct WheelBank
{
    double* phase;             // cycles, [0, 1)
    const double* frequency;   // Hz
    float* raw;                // signal before the pickup filter
    float* output;             // signal the keys read
    float* filterState;        // pickup low-pass state
    const float* harmonicWeight; // per low wheel and odd harmonic, 0 above the alias limit
    double pitchFactor;        // common drift, near 1
    double sampleInterval;     // seconds
    double sampleRate;         // Hz
    MathMode mode;             // arithmetic of the sines
};

// Moves all 91 wheels one sample on: phases, every sine, crosstalk and pickup
// filter. Written as plain loops over the arrays so that the compiler can work
// on many wheels at a time; compiled once per instruction set below.
template <bool fused>
inline __attribute__ ((always_inline)) void stepWheels (const WheelBank& bank) noexcept
{
    double* __restrict wheelPhase = bank.phase;
    const double* __restrict wheelFrequency = bank.frequency;
    float* __restrict wheelRaw = bank.raw;
    float* __restrict wheelOutput = bank.output;
    float* __restrict wheelFilterState = bank.filterState;
    const double p = bank.pitchFactor;
    const double sampleInterval = bank.sampleInterval;

    // Every sine of this sample, argument first (radians), then all evaluated together.
    alignas (64) double arguments[numWheelSines];
    alignas (64) float sines[numWheelSines];

    for (int i = 0; i < numWheels; ++i)
    {
        const double phase = wheelPhase[i] + wheelFrequency[i] * p * sampleInterval;
        // Back into [0, 1): nothing below 1, subtracting 1 above it (or more, should
        // a wheel outrun the sample rate). Unconditional, so that it vectorises.
        wheelPhase[i] = phase - sinekernel::floorOf (phase);
    }

    for (int i = 0; i < numWheels; ++i)
        arguments[fundamentalArgs + i] = twoPi * wheelPhase[i];

    // Each wheel's own level offset within +-0.5 % and a slight shape, from the phase just updated.
    for (int i = numLowWheels; i < numWheels; ++i)
        arguments[levelArgs + i - numLowWheels] = levelOffsets.radians[i] + 0.13 * wheelPhase[i];

    for (int i = firstPickupFilteredWheel; i < numWheels; ++i)
        arguments[secondHarmonicArgs + i - firstPickupFilteredWheel] = 2.0 * arguments[fundamentalArgs + i];

    for (int h = 0; h < numHarmonics; ++h)
        for (int i = 0; i < numLowWheels; ++i)
            arguments[harmonicArgs + h * numLowWheels + i] = lowWheelHarmonics[h] * arguments[fundamentalArgs + i];

    if (bank.mode == MathMode::reference)
        sinekernel::referenceSinesToFloat (arguments, sines, numWheelSines);
    else
        for (int i = 0; i < numWheelSines; ++i)
            sines[i] = static_cast<float> (sinekernel::sineFor<fused> (arguments[i]));

    // The twelve lowest wheels: band-limited, square-like. A harmonic at or
    // above the limit has weight 0 here, which leaves the sum exactly as if it
    // were skipped.
    alignas (64) float clean[numWheels]; // this sample's signals before crosstalk
    for (int i = 0; i < numLowWheels; ++i)
    {
        float s = sines[fundamentalArgs + i];
        for (int h = 0; h < numHarmonics; ++h)
            s += sines[harmonicArgs + h * numLowWheels + i] * bank.harmonicWeight[h * numLowWheels + i];
        clean[i] = s * 0.55f;
    }

    for (int i = numLowWheels; i < firstPickupFilteredWheel; ++i)
        clean[i] = (sines[levelArgs + i - numLowWheels] * 0.005f + 1.0f) * sines[fundamentalArgs + i];

    // The upper wheels add a weak second harmonic.
    for (int i = firstPickupFilteredWheel; i < numWheels; ++i)
    {
        const float s = (sines[levelArgs + i - numLowWheels] * 0.005f + 1.0f) * sines[fundamentalArgs + i];
        clean[i] = s + sines[secondHarmonicArgs + i - firstPickupFilteredWheel] * 0.012f;
    }

    // Crosstalk: 1 % of each neighbour, from the signals before any leakage.
    wheelRaw[0] = clean[0] + clean[1] * 0.01f;
    for (int i = 1; i < numWheels - 1; ++i)
        wheelRaw[i] = clean[i] + (clean[i + 1] + clean[i - 1]) * 0.01f;
    wheelRaw[numWheels - 1] = clean[numWheels - 1] + clean[numWheels - 2] * 0.01f;

    // Pickup low-pass of the upper wheels.
    const float interval = static_cast<float> (sampleInterval);
    const float brightCoefficient = std::min (0.99f, interval * 4500.0f * 6.2832f);
    const float darkCoefficient = std::min (0.99f, interval * 3500.0f * 6.2832f);

    for (int i = 0; i < firstPickupFilteredWheel; ++i)
        wheelOutput[i] = wheelRaw[i];

    for (int i = firstPickupFilteredWheel; i < numWheels; ++i)
    {
        const float g = i < firstDarkPickupWheel ? brightCoefficient : darkCoefficient;
        wheelFilterState[i] += g * (wheelRaw[i] - wheelFilterState[i]);
        wheelOutput[i] = wheelFilterState[i];
    }
}

void stepWheelsPlain (const WheelBank& bank) noexcept { stepWheels<false> (bank); }
BRASSGATE_LANES_AVX2 void stepWheelsAvx2 (const WheelBank& bank) noexcept { stepWheels<true> (bank); }
BRASSGATE_LANES_AVX512 void stepWheelsAvx512 (const WheelBank& bank) noexcept { stepWheels<true> (bank); }

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

float TonewheelGenerator::renderKeys (const DrawbarLevels& drawbarLevels,
                                      bool percussionOn,
                                      bool percThird,
                                      bool percFast,
                                      float keyClick,
                                      bool percSoft)
{
    // Common pitch drift of the wheel motor: three slow sines, seamless over the 100 s wrap.
    driftTime += sampleInterval;
    if (driftTime > 100.0)
        driftTime -= 100.0;

    const double t = driftTime;
    const double driftArguments[3] = { t * 0.5 * twoPi, t * 6.3 * twoPi, t * 3.1 * twoPi }; // radians
    float drift[3];
    sinekernel::sinesToFloat (driftArguments, drift, 3, mathMode);
    float pitchFactor = drift[0] * 0.0003f + 1.0f;
    pitchFactor = pitchFactor + drift[1] * 0.00008f;
    pitchFactor = pitchFactor + drift[2] * 0.00012f;

    advanceWheels (pitchFactor);

    const float interval = static_cast<float> (sampleInterval); // seconds

    bool anyKeyHeld = false;
    for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
        anyKeyHeld = anyKeyHeld || ! keys[(size_t) __builtin_ctzll (m)].released;

    if (! anyKeyHeld)
        percussionArmed = std::min (percussionArmed + interval * 8.0f, 1.0f);

    if (activeKeys == 0)
        return 0.0f;

    // The pulled drawbars, lowest footage first.
    int steps[numDrawbars];
    int pulled[numDrawbars];
    int numPulled = 0;
    unsigned pulledMask = 0;
    bool drawbarsMoved = false;
    for (int j = 0; j < numDrawbars; ++j)
    {
        steps[j] = drawbarStepFor (drawbarLevels[(size_t) j]);
        drawbarsMoved = drawbarsMoved || steps[j] != mixSteps[j];
        if (steps[j] > 0)
        {
            pulled[numPulled++] = j;
            pulledMask |= 1u << j;
        }
    }

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
        for (std::uint64_t m = activeKeys; m != 0; m &= m - 1)
        {
            const int k = __builtin_ctzll (m);
            for (int p = 0; p < numPulled; ++p)
            {
                const int wheel = wheelMap.index[k][pulled[p]];
                mixWheel[k][p] = wheel;
                mixGain[k][p] = drawbarGains[steps[pulled[p]]] * shareScale.ofUses[wheelUsage[(size_t) wheel]];
            }
        }

        std::copy (std::begin (steps), std::end (steps), std::begin (mixSteps));
        mixStale = false;
    }

    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = keyClick > 0.01f;
    const float percussionRate = percFast ? 4.6f : 0.92f; // per second
    const float releaseClickLength = static_cast<float> (sampleRate * 0.004); // samples

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
            float term[numDrawbars];
            for (int p = 0; p < numPulled; ++p)
                term[p] = mixGain[k][p] * wheelOutput[(size_t) mixWheel[k][p]];
            for (int p = 0; p < numPulled; ++p)
                keySum += term[p];
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

                const float w = wheelOutput[(size_t) mixWheel[k][p]];

                // Contact bounce: a burst of the contact's own wheel as it closes.
                if (key.bounce[j] > 0.001f && clickOn)
                {
                    keySum += key.bounce[j] * w * 5.0f * keyClick;
                    key.bounce[j] = key.bounce[j] * 0.991f;
                    if (! (key.bounce[j] > 0.001f))
                        bouncingContacts[(size_t) k] &= static_cast<std::uint16_t> (~(1u << j));
                }

                keySum += mixGain[k][p] * w;
            }
        }

        if (percussionOn && key.percussionTriggered && key.percussionLevel > 0.001f)
        {
            const float w = wheelOutput[(size_t) percussionWheelIndexFor (k, percThird)];
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
    const WheelBank bank { wheelPhase.data(), wheelFrequency.data(), wheelRaw.data(), wheelOutput.data(),
                           wheelFilterState.data(), harmonicWeight.data(), static_cast<double> (pitchFactor), sampleInterval, sampleRate, mathMode };

    switch (sinekernel::laneSet())
    {
        case sinekernel::LaneSet::avx512: stepWheelsAvx512 (bank); break;
        case sinekernel::LaneSet::avx2: stepWheelsAvx2 (bank); break;
        default: stepWheelsPlain (bank); break;
    }
}

float TonewheelGenerator::processScanner (float input, float chorusAmount, int scannerMode)
{
    if (! (chorusAmount > 0.01f))
        return input;

    const auto shape = scannerModeShape (scannerMode);

    scannerLine[(size_t) scannerWriteIndex] = input;
    scannerWriteIndex = (scannerWriteIndex + 1) % scannerLength;

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

    const int i = static_cast<int> (readPosition) % scannerLength;
    const float f = readPosition - std::floor (readPosition);
    const float wet = (1.0f - f) * scannerLine[(size_t) i] + f * scannerLine[(size_t) ((i + 1) % scannerLength)];

    if (! shape.isChorus)
        return wet;

    const float mix = shape.depth * 0.25f + 0.35f;
    return (1.0f - mix) * input + mix * wet;
}

float TonewheelGenerator::processOutputStage (float input)
{
    const float x = input * 1.8f;
    // Asymmetric soft clip: the positive half a little harder, the negative a little louder.
    const float m = x > 0.0f ? sinekernel::hyperbolicTangent (x * 1.1f, mathMode)
                             : sinekernel::hyperbolicTangent (x * 0.9f, mathMode) * 1.05f;
    const float y = sinekernel::hyperbolicTangent (x * 2.0f, mathMode) * 0.04f + m;

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
