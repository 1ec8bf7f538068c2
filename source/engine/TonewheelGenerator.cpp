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

// 64-bit sine rounded to 32 bits, the precision every sine of the engine uses.
inline float sine32 (double radians)
{
    return static_cast<float> (std::sin (radians));
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

    for (int i = 0; i < numWheels; ++i)
    {
        const int multiplier = i < 84 ? octaveMultipliers[i / 12] : topOctaveMultiplier;
        const int ratio = i < 84 ? i % 12 : i - 79; // wheels 85 to 91 use ratios 5 to 11
        wheelFrequency[(size_t) i] = static_cast<double> (multiplier) * wheelBaseFrequency * semitoneRatios[ratio];
    }
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
}

void TonewheelGenerator::allNotesOff()
{
    for (auto& key : keys)
    {
        key.active = false;
        std::fill (std::begin (key.contactClosed), std::end (key.contactClosed), false);
    }
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
    float pitchFactor = sine32 (t * 0.5 * twoPi) * 0.0003f + 1.0f;
    pitchFactor = pitchFactor + sine32 (t * 6.3 * twoPi) * 0.00008f;
    pitchFactor = pitchFactor + sine32 (t * 3.1 * twoPi) * 0.00012f;

    advanceWheels (pitchFactor);

    const float interval = static_cast<float> (sampleInterval); // seconds

    const bool anyKeyHeld = std::any_of (keys.begin(), keys.end(), [] (const TonewheelKey& k) { return k.isHeld(); });
    if (! anyKeyHeld)
        percussionArmed = std::min (percussionArmed + interval * 8.0f, 1.0f);

    int drawbarSteps[numDrawbars];
    for (int j = 0; j < numDrawbars; ++j)
        drawbarSteps[j] = drawbarStepFor (drawbarLevels[(size_t) j]);

    // Wheels connected through more than one closed contact are shared, and scaled down.
    int wheelUsage[numWheels] = {};
    for (int k = 0; k < numKeys; ++k)
    {
        const auto& key = keys[(size_t) k];
        if (! key.active)
            continue;

        for (int j = 0; j < numDrawbars; ++j)
            if (drawbarSteps[j] > 0 && key.contactClosed[j])
                ++wheelUsage[wheelMap.index[k][j]];
    }

    const float attackIncrement = interval / 0.005f;  // 5 ms from 0 to full
    const float releaseDecrement = interval / 0.025f; // 25 ms from full to 0
    const bool clickOn = keyClick > 0.01f;
    const float percussionRate = percFast ? 4.6f : 0.92f; // per second
    const float releaseClickLength = static_cast<float> (sampleRate * 0.004); // samples

    float total = 0.0f;

    for (int k = 0; k < numKeys; ++k)
    {
        auto& key = keys[(size_t) k];
        if (! key.active)
            continue;

        if (key.released)
        {
            key.envelope -= releaseDecrement;
            if (key.envelope <= 0.0f)
            {
                key.active = false;
                continue;
            }
        }
        else
        {
            key.envelope = std::min (key.envelope + attackIncrement, 1.0f);
        }

        float keySum = 0.0f;

        for (int j = 0; j < numDrawbars; ++j)
        {
            const int step = drawbarSteps[j];
            if (step == 0)
                continue; // a pushed-in drawbar's contact does not count down

            if (! key.contactClosed[j])
            {
                if (key.contactDelay[j] > 0)
                {
                    --key.contactDelay[j];
                    continue;
                }
                key.contactClosed[j] = true;
            }

            const int wheel = wheelMap.index[k][j];
            const float w = wheelOutput[(size_t) wheel];

            // Contact bounce: a burst of the contact's own wheel as it closes.
            if (key.bounce[j] > 0.001f && clickOn)
            {
                keySum += key.bounce[j] * w * 5.0f * keyClick;
                key.bounce[j] = key.bounce[j] * 0.991f;
            }

            float gain = drawbarGains[step];
            const int usage = wheelUsage[wheel];
            if (usage > 1)
                gain = gain * (1.0f / std::sqrt (static_cast<float> (usage)));

            keySum += gain * w;
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
            const double s = std::sin (twoPi * static_cast<double> (key.clickPhase));
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
    const double p = static_cast<double> (pitchFactor);
    const double harmonicLimit = 0.45 * sampleRate; // Hz; harmonics above it would alias

    for (int i = 0; i < numWheels; ++i)
    {
        double& phase = wheelPhase[(size_t) i];
        phase += wheelFrequency[(size_t) i] * p * sampleInterval;
        if (phase >= 1.0)
            phase -= std::floor (phase); // the same as subtracting 1 unless the wheel outruns the sample rate

        const double a = twoPi * phase;
        float s = sine32 (a);

        if (i < 12)
        {
            for (int h = 0; h < 5; ++h)
                if (harmonicLimit > lowWheelHarmonics[h] * wheelFrequency[(size_t) i])
                    s += sine32 (lowWheelHarmonics[h] * a) * lowWheelHarmonicWeights[h];
            s = s * 0.55f;
        }
        else
        {
            // Each wheel's own level offset within +-0.5 % and a slight shape.
            s = (sine32 (0.7 * i + 0.13 * phase) * 0.005f + 1.0f) * s;
            if (i >= firstPickupFilteredWheel)
                s += sine32 (2.0 * a) * 0.012f; // a weak second harmonic
        }

        wheelRaw[(size_t) i] = s;
    }

    // Crosstalk: 1 % of each neighbour, from the signals before any leakage.
    const std::array<float, numWheels> clean = wheelRaw;
    wheelRaw[0] += clean[1] * 0.01f;
    for (int i = 1; i < numWheels - 1; ++i)
        wheelRaw[(size_t) i] += (clean[(size_t) i + 1] + clean[(size_t) i - 1]) * 0.01f;
    wheelRaw[numWheels - 1] += clean[numWheels - 2] * 0.01f;

    // Pickup low-pass of the upper wheels.
    const float interval = static_cast<float> (sampleInterval);
    const float brightCoefficient = std::min (0.99f, interval * 4500.0f * 6.2832f);
    const float darkCoefficient = std::min (0.99f, interval * 3500.0f * 6.2832f);

    for (int i = 0; i < firstPickupFilteredWheel; ++i)
        wheelOutput[(size_t) i] = wheelRaw[(size_t) i];

    for (int i = firstPickupFilteredWheel; i < numWheels; ++i)
    {
        const float g = i < firstDarkPickupWheel ? brightCoefficient : darkCoefficient;
        float& state = wheelFilterState[(size_t) i];
        state += g * (wheelRaw[(size_t) i] - state);
        wheelOutput[(size_t) i] = state;
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
    const float m = x > 0.0f ? std::tanh (x * 1.1f) : std::tanh (x * 0.9f) * 1.05f;
    const float y = std::tanh (x * 2.0f) * 0.04f + m;

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
