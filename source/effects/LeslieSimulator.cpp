#include "LeslieSimulator.h"

#include "SampleRate.h"
#include "TwoPi.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace
{
constexpr float pi = 3.1415927f;    // radians

// Below this magnitude a rotor braking toward 0 is snapped to rest, Hz.
constexpr float restSpeed = 0.01f;

// Guards against values no host sends but a caller could: they keep every
// state finite without touching any value the organ actually produces.
constexpr float maxRotorSpeed = 1000.0f;        // revolutions per second
constexpr float maxInput = 1.0e30f;             // signal units; keeps L and R below FLT_MAX
constexpr float maxDelaySamples = static_cast<float> (LeslieSimulator::lineLength - 1); // samples
static_assert ((LeslieSimulator::lineLength & (LeslieSimulator::lineLength - 1)) == 0, "the line wraps by masking");

float usableTarget (float targetSpeed) noexcept
{
    if (! std::isfinite (targetSpeed))
        return 0.0f;

    return std::clamp (targetSpeed, -maxRotorSpeed, maxRotorSpeed);
}

// One sample of the exponential approach of a rotor speed to its target; rate is
// 1 / (3 time constant in seconds) and invRate the sample period in seconds.
float approach (float speed, float target, float rate, float invRate) noexcept
{
    // Only at rates of a few hertz would the step overshoot; limit it like every
    // other one-pole coefficient.
    if (rate * invRate * 3.0f > 0.99f)
        return (target - speed) * 0.99f + speed;

    return (target - speed) * rate * invRate * 3.0f + speed;
}

float advanceAngle (float angle, float step) noexcept
{
    angle += step;

    if (angle > twoPiFloat)
        angle -= twoPiFloat;

    // One subtraction suffices for any real sample rate; a reversed or absurdly
    // fast rotor is folded back so the angle never drifts out of range.
    if (! (angle >= 0.0f && angle <= twoPiFloat))
    {
        angle = std::fmod (angle, twoPiFloat);

        if (angle < 0.0f)
            angle += twoPiFloat;
    }

    return angle;
}

// The cabinet's asymmetric saturation, one side: the negative half reaches 1.1
// instead of 1. Its tangent's argument, then the result from that tangent.
float cabinetArgument (float x) noexcept { return x > 0.0f ? x : 0.85f * x; }
float cabinetSaturation (float x, float tangent) noexcept { return x > 0.0f ? tangent : 1.1f * tangent; }
} // namespace

void LeslieSimulator::reset()
{
    crossoverLow1 = 0.0f;
    crossoverLow2 = 0.0f;
    hornLineLeft.fill (0.0f);
    hornLineRight.fill (0.0f);
    drumLineLeft.fill (0.0f);
    drumLineRight.fill (0.0f);
    writeIndex = 0;
    bodyLeft = 0.0f;
    bodyRight = 0.0f;
    toneLeft = 0.0f;
    toneRight = 0.0f;
    hornFilterLeft = 0.0f;
    hornFilterRight = 0.0f;
}

void LeslieSimulator::advanceRotors (float hornTargetSpeed, float drumTargetSpeed, double sampleRate)
{
    const double rate = usableSampleRate (sampleRate);
    stepRotors (usableTarget (hornTargetSpeed), usableTarget (drumTargetSpeed), static_cast<float> (1.0 / rate),
                static_cast<float> (rate));
}

void LeslieSimulator::stepRotors (float hornTarget, float drumTarget, float invRate, float sampleRateF) noexcept
{
    // Time constants: horn 0.5 s up, 0.833 s down; drum 2 s up, 2.667 s down.
    const float hornRate = hornTarget > hornSpeed ? 0.6666667f : 0.4f;
    const float drumRate = drumTarget > drumSpeed ? 0.16666667f : 0.125f;

    hornSpeed = approach (hornSpeed, hornTarget, hornRate, invRate);
    drumSpeed = approach (drumSpeed, drumTarget, drumRate, invRate);

    // An exponential never reaches 0 by itself; snapping lets a braked cabinet
    // fall into its bypass.
    if (hornTarget == 0.0f && std::abs (hornSpeed) < restSpeed)
        hornSpeed = 0.0f;

    if (drumTarget == 0.0f && std::abs (drumSpeed) < restSpeed)
        drumSpeed = 0.0f;

    hornAngle = advanceAngle (hornAngle, hornStep.of (hornSpeed, sampleRateF));
    drumAngle = advanceAngle (drumAngle, drumStep.of (drumSpeed, sampleRateF));
}

float LeslieSimulator::readTap (const Line& line, float delayMs, float sampleRateF) const noexcept
{
    // The clamp only acts above 5.12 MHz, where the line is too short for 0.8 ms.
    const float delaySamples = std::min (delayMs * sampleRateF / 1000.0f, maxDelaySamples);
    float pos = static_cast<float> (writeIndex) - delaySamples;

    if (pos < 0.0f)
        pos += static_cast<float> (lineLength);

    // pos is now 0 to lineLength, so truncation is its floor; it can round up
    // to exactly lineLength, hence the wrap of i0 as well.
    const int whole = static_cast<int> (pos);
    const float f = pos - static_cast<float> (whole);
    const auto i0 = static_cast<size_t> (whole) & (lineLength - 1);
    const auto i1 = (i0 + 1) & (lineLength - 1);
    return (1.0f - f) * line[i0] + f * line[i1];
}

float LeslieSimulator::AngleStep::of (float newSpeed, float newRate) noexcept
{
    if (newSpeed != speed || newRate != rate)
    {
        speed = newSpeed;
        rate = newRate;
        step = newSpeed * twoPiFloat / newRate;
    }
    return step;
}

bool LeslieSimulator::rotorsAtRest() const noexcept
{
    return ! (hornSpeed > restSpeed) && ! (drumSpeed > restSpeed);
}

float LeslieSimulator::cabinetFilters (float saturated, float& body, float& tone, float w3500) noexcept
{
    body = 0.15f * body + 0.03f * saturated;
    const float u = saturated + body;
    tone += (u - tone) * w3500;
    return 0.3f * u + 0.7f * tone;
}

LeslieSimulator::PassConstants LeslieSimulator::passConstants (float speedNorm, float sr) noexcept
{
    PassConstants k;
    k.sampleRate = sr;
    k.drumGain = 0.8f * (std::isfinite (speedNorm) ? std::clamp (speedNorm, 0.0f, 1.0f) : 0.0f) + 1.2f;
    k.w800 = std::min (0.99f, 800.0f / sr * twoPiFloat);
    k.w4k = std::min (0.99f, 4000.0f / sr * voicedTwoPi);
    k.w3500 = std::min (0.99f, 3500.0f / sr * twoPiFloat);
    return k;
}

void LeslieSimulator::tapSines (RotorTrig& trig, float hornAt, float drumAt) noexcept
{
    trig.hornSine = std::sin (hornAt);
    trig.hornLaterSine = std::sin (hornAt + 2.094f);
    trig.drumSine = std::sin (drumAt);
}

inline void LeslieSimulator::rotorSums (float x, const PassConstants& k, const RotorTrig& trig, float& sumLeft,
                                        float& sumRight) noexcept
{
    const float sr = k.sampleRate;
    const float dry = std::clamp (x, -maxInput, maxInput);

    // Band split: two one-pole low-passes at 800 Hz; the rest is the horn's band.
    const float w800 = k.w800;
    crossoverLow1 += (dry - crossoverLow1) * w800;
    crossoverLow2 += (crossoverLow1 - crossoverLow2) * w800;
    const float lowBand = crossoverLow2;
    const float highBand = dry - crossoverLow2;

    const auto wi = static_cast<size_t> (writeIndex);
    hornLineLeft[wi] = highBand;
    hornLineRight[wi] = highBand;
    drumLineLeft[wi] = lowBand;
    drumLineRight[wi] = lowBand;

    // Horn, main tap: 0 to 0.7 ms of delay, the two sides half a turn apart.
    const float aL = 0.45f * trig.horn + 0.55f;
    const float aR = 0.45f * trig.hornOpposite + 0.55f;
    const float d1 = 0.35f * trig.hornSine + 0.35f; // ms
    // The left and right lines hold the same samples, so one read serves both sides.
    const float tL = readTap (hornLineLeft, d1, sr);
    const float tR = tL;

    const float w4k = k.w4k;
    hornFilterLeft += (tL * aL - hornFilterLeft) * w4k;
    hornFilterRight += (tR * aR - hornFilterRight) * w4k;
    float hL = hornFilterLeft * (0.3f * std::max (trig.horn, 0.0f) + 0.7f);
    float hR = hornFilterRight * (0.3f * std::max (trig.hornOpposite, 0.0f) + 0.7f);

    // Horn, second tap: 0.2 to 0.8 ms, a third of a turn later, unmodulated in level.
    const float d2 = 0.3f * trig.hornLaterSine + 0.5f; // ms
    const float secondTap = readTap (hornLineLeft, d2, sr);
    hL += 0.2f * secondTap;
    hR += 0.2f * secondTap;

    // Drum: 0.05 to 0.35 ms; g follows the speed control's position, not the rotor.
    const float bL = 0.3f * trig.drum + 0.7f;
    const float bR = 0.3f * trig.drumOpposite + 0.7f;
    const float d3 = 0.15f * trig.drumSine + 0.2f; // ms
    const float g = k.drumGain;
    const float drumTap = readTap (drumLineLeft, d3, sr);
    sumLeft = (drumTap * bL + hL) * g;
    sumRight = (drumTap * bR + hR) * g;
}

void LeslieSimulator::processSample (float input, float speedNorm, double sampleRate, float& left, float& right)
{
    // A NaN or infinity would stay in the lines and filters for good.
    const float x = std::isfinite (input) ? input : 0.0f;

    if (rotorsAtRest())
    {
        // Rotors at rest: a dry mono pass, the lines and filters left as they are.
        left = x;
        right = x;
        writeIndex = (writeIndex + 1) & (lineLength - 1);
        return;
    }

    const auto k = passConstants (speedNorm, static_cast<float> (usableSampleRate (sampleRate)));
    RotorTrig trig { std::cos (hornAngle), std::cos (hornAngle + pi), std::cos (drumAngle), std::cos (drumAngle + pi), 0.0f, 0.0f, 0.0f };
    tapSines (trig, hornAngle, drumAngle);
    float sumL, sumR;
    rotorSums (x, k, trig, sumL, sumR);

    left = cabinetFilters (cabinetSaturation (sumL, sinekernel::hyperbolicTangent (cabinetArgument (sumL), mathMode)), bodyLeft, toneLeft, k.w3500);
    right = cabinetFilters (cabinetSaturation (sumR, sinekernel::hyperbolicTangent (cabinetArgument (sumR), mathMode)), bodyRight, toneRight, k.w3500);

    writeIndex = (writeIndex + 1) & (lineLength - 1);
}

void LeslieSimulator::processBlock (const float* in, float* left, float* right, int n,
                                    float hornTargetSpeed, float drumTargetSpeed, float speedNorm, double sampleRate)
{
    constexpr int maxPass = 256;              // samples per pass of the scratch arrays
    alignas (64) float angles[4 * maxPass];   // radians, per sample: horn, horn + pi, drum, drum + pi
    alignas (64) float cosines[4 * maxPass];  // their cosines
    RotorTrig trig[maxPass];                  // per sample, the cosines and the taps' sines
    alignas (64) float sums[2 * maxPass];     // per sample the left and right rotor sums
    alignas (64) float tangents[2 * maxPass]; // the cabinet's tangents: arguments first, in place
    bool atRest[maxPass];                     // the rotors stood still at this sample: a dry pass

    const double rate = usableSampleRate (sampleRate);       // Hz
    const float sr = static_cast<float> (rate);                // Hz
    const float invRate = static_cast<float> (1.0 / rate);     // seconds per sample
    const float hornTarget = usableTarget (hornTargetSpeed);   // Hz
    const float drumTarget = usableTarget (drumTargetSpeed);   // Hz
    const auto k = passConstants (speedNorm, sr);

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);

        // The rotors' motion does not depend on the sound: every angle first.
        for (int i = 0; i < count; ++i)
        {
            stepRotors (hornTarget, drumTarget, invRate, sr);
            atRest[i] = rotorsAtRest();
            angles[4 * i] = hornAngle;
            angles[4 * i + 1] = hornAngle + pi;
            angles[4 * i + 2] = drumAngle;
            angles[4 * i + 3] = drumAngle + pi;
            tapSines (trig[i], hornAngle, drumAngle);
        }
        sinekernel::cosinesOfFloats (angles, cosines, 4 * count, mathMode);

        for (int i = 0; i < count; ++i)
        {
            // A NaN or infinity would stay in the lines and filters for good.
            const float x = std::isfinite (in[start + i]) ? in[start + i] : 0.0f;

            if (atRest[i])
            {
                // Rotors at rest: a dry mono pass, the lines and filters left as they are.
                left[start + i] = x;
                right[start + i] = x;
                sums[2 * i] = 0.0f;
                sums[2 * i + 1] = 0.0f;
            }
            else
            {
                trig[i].horn = cosines[4 * i];
                trig[i].hornOpposite = cosines[4 * i + 1];
                trig[i].drum = cosines[4 * i + 2];
                trig[i].drumOpposite = cosines[4 * i + 3];
                rotorSums (x, k, trig[i], sums[2 * i], sums[2 * i + 1]);
            }

            writeIndex = (writeIndex + 1) & (lineLength - 1);
        }

        for (int i = 0; i < 2 * count; ++i)
            tangents[i] = cabinetArgument (sums[i]);
        sinekernel::hyperbolicTangents (tangents, tangents, 2 * count, mathMode);

        for (int i = 0; i < count; ++i)
        {
            if (atRest[i])
                continue;

            left[start + i] = cabinetFilters (cabinetSaturation (sums[2 * i], tangents[2 * i]), bodyLeft, toneLeft, k.w3500);
            right[start + i] = cabinetFilters (cabinetSaturation (sums[2 * i + 1], tangents[2 * i + 1]), bodyRight, toneRight, k.w3500);
        }
    }
}
