#include "LeslieSimulator.h"

#include "DelayTaps.h"

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
// The taps' delays are held below the line's length; that only acts above
// 5.12 MHz, where the line is too short for 0.8 ms.
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
    hornLine.fill (0.0f);
    drumLine.fill (0.0f);
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
    rotors.step (usableTarget (hornTargetSpeed), usableTarget (drumTargetSpeed), static_cast<float> (1.0 / rate),
                 static_cast<float> (rate));
}

inline void LeslieSimulator::Rotors::step (float hornTarget, float drumTarget, float invRate, float sampleRateF) noexcept
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

inline bool LeslieSimulator::Rotors::atRest() const noexcept
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

void LeslieSimulator::tapArguments (float hornAt, float drumAt, float* arguments) noexcept
{
    arguments[0] = hornAt;
    arguments[1] = hornAt + 2.094f;
    arguments[2] = drumAt;
}

inline void LeslieSimulator::splitBands (float x, float w800, float& low1, float& low2, float& hornSlot, float& drumSlot) noexcept
{
    const float dry = std::clamp (x, -maxInput, maxInput);

    // Band split: two one-pole low-passes at 800 Hz; the rest is the horn's band.
    low1 += (dry - low1) * w800;
    low2 += (low1 - low2) * w800;
    hornSlot = dry - low2;
    drumSlot = low2;
}

LeslieSimulator::TapDelays LeslieSimulator::tapDelays (const RotorTrig& trig) noexcept
{
    return { 0.35f * trig.hornSine + 0.35f,      // horn, main tap: 0 to 0.7 ms
             0.3f * trig.hornLaterSine + 0.5f,   // horn, second tap: 0.2 to 0.8 ms, a third of a turn later
             0.15f * trig.drumSine + 0.2f };     // drum: 0.05 to 0.35 ms
}

inline void LeslieSimulator::mixTaps (float mainTap, float secondTap, float drumTap, const PassConstants& k, const RotorTrig& trig,
                                      float& sumLeft, float& sumRight) noexcept
{
    // Horn, main tap: the two sides half a turn apart, from one reading of the line.
    const float aL = 0.45f * trig.horn + 0.55f;
    const float aR = 0.45f * trig.hornOpposite + 0.55f;
    const float tL = mainTap;
    const float tR = mainTap;

    const float w4k = k.w4k;
    hornFilterLeft += (tL * aL - hornFilterLeft) * w4k;
    hornFilterRight += (tR * aR - hornFilterRight) * w4k;
    float hL = hornFilterLeft * (0.3f * std::max (trig.horn, 0.0f) + 0.7f);
    float hR = hornFilterRight * (0.3f * std::max (trig.hornOpposite, 0.0f) + 0.7f);

    // Horn, second tap: unmodulated in level.
    hL += 0.2f * secondTap;
    hR += 0.2f * secondTap;

    // Drum; g follows the speed control's position, not the rotor.
    const float bL = 0.3f * trig.drum + 0.7f;
    const float bR = 0.3f * trig.drumOpposite + 0.7f;
    const float g = k.drumGain;
    sumLeft = (drumTap * bL + hL) * g;
    sumRight = (drumTap * bR + hR) * g;
}

inline void LeslieSimulator::rotorSums (float x, const PassConstants& k, const RotorTrig& trig, float& sumLeft,
                                        float& sumRight) noexcept
{
    const auto wi = static_cast<size_t> (writeIndex);
    splitBands (x, k.w800, crossoverLow1, crossoverLow2, hornLine[wi], drumLine[wi]);
    const auto d = tapDelays (trig);
    const float sr = k.sampleRate;
    mixTaps (delaytaps::readOne (hornLine.data(), lineLength, writeIndex, d.main, sr, maxDelaySamples),
             delaytaps::readOne (hornLine.data(), lineLength, writeIndex, d.second, sr, maxDelaySamples),
             delaytaps::readOne (drumLine.data(), lineLength, writeIndex, d.drum, sr, maxDelaySamples), k, trig, sumLeft, sumRight);
}

void LeslieSimulator::processSample (float input, float speedNorm, double sampleRate, float& left, float& right)
{
    // A NaN or infinity would stay in the lines and filters for good.
    const float x = std::isfinite (input) ? input : 0.0f;

    if (rotors.atRest())
    {
        // Rotors at rest: a dry mono pass, the lines and filters left as they are.
        left = x;
        right = x;
        writeIndex = (writeIndex + 1) & (lineLength - 1);
        return;
    }

    const auto k = passConstants (speedNorm, static_cast<float> (usableSampleRate (sampleRate)));
    const float hornAngle = rotors.hornAngle, drumAngle = rotors.drumAngle; // radians
    float arguments[3], sines[3]; // radians; their sines
    tapArguments (hornAngle, drumAngle, arguments);
    sinekernel::librarySines (arguments, sines, 3, mathMode);
    const RotorTrig trig { std::cos (hornAngle), std::cos (hornAngle + pi), std::cos (drumAngle), std::cos (drumAngle + pi),
                           sines[0], sines[1], sines[2] };
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
    alignas (64) float tapAngles[3 * maxPass]; // radians, per sample: the two horn taps' angles and the drum tap's
    alignas (64) float tapSines[3 * maxPass];  // their sines
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
    // The farthest a tap reads back: 0.8 ms, the interpolation's next slot and a margin.
    const float tapReach = std::min (0.8f * sr / 1000.0f, maxDelaySamples) + 3.0f; // samples

    for (int start = 0; start < n; start += maxPass)
    {
        const int count = std::min (maxPass, n - start);

        // A rotor that turns and is driven toward a turning speed cannot come
        // to rest within the pass: each step lands between its speed and its
        // target. With the rotors turning throughout, the pass goes stage by
        // stage: the band split writes every sample into the lines, then the
        // taps are read many at a time, then the horn filters run. No tap
        // reaches back as far as the pass reaches ahead, so each reads what it
        // would sample by sample.
        const bool turning = (rotors.hornSpeed > restSpeed && hornTarget > restSpeed) || (rotors.drumSpeed > restSpeed && drumTarget > restSpeed);
        const bool staged = turning && static_cast<float> (count) + tapReach < static_cast<float> (lineLength);
        const int firstWritten = writeIndex;

        // The rotors' motion does not depend on the sound: every angle first,
        // the motion and the band split in registers, their chains side by side.
        {
            Rotors r = rotors;
            float low1 = crossoverLow1, low2 = crossoverLow2; // signal units
            int w = writeIndex;                               // slot of the lines
            for (int i = 0; i < count; ++i)
            {
                r.step (hornTarget, drumTarget, invRate, sr);
                atRest[i] = r.atRest();
                angles[4 * i] = r.hornAngle;
                angles[4 * i + 1] = r.hornAngle + pi;
                angles[4 * i + 2] = r.drumAngle;
                angles[4 * i + 3] = r.drumAngle + pi;
                if (staged)
                {
                    // A NaN or infinity would stay in the lines and filters for good.
                    const float x = in[start + i];
                    splitBands (std::isfinite (x) ? x : 0.0f, k.w800, low1, low2, hornLine[(size_t) w], drumLine[(size_t) w]);
                    w = (w + 1) & (lineLength - 1);
                }
            }
            rotors = r;
            crossoverLow1 = low1;
            crossoverLow2 = low2;
            writeIndex = w;
        }

        // The levels' cosines and the taps' sines, many at a time.
        for (int i = 0; i < count; ++i)
            tapArguments (angles[4 * i], angles[4 * i + 2], tapAngles + 3 * i);
        sinekernel::librarySines (tapAngles, tapSines, 3 * count, mathMode);
        sinekernel::cosinesOfFloats (angles, cosines, 4 * count, mathMode);
        for (int i = 0; i < count; ++i)
            trig[i] = { cosines[4 * i], cosines[4 * i + 1], cosines[4 * i + 2], cosines[4 * i + 3],
                        tapSines[3 * i], tapSines[3 * i + 1], tapSines[3 * i + 2] };

        if (staged)
        {
            alignas (64) float delays[3][maxPass]; // ms: main horn tap, second horn tap, drum tap
            alignas (64) float taps[3][maxPass];   // their readings
            for (int i = 0; i < count; ++i)
            {
                const auto d = tapDelays (trig[i]);
                delays[0][i] = d.main;
                delays[1][i] = d.second;
                delays[2][i] = d.drum;
            }
            delaytaps::read (hornLine.data(), lineLength, firstWritten, delays[0], sr, maxDelaySamples, taps[0], count);
            delaytaps::read (hornLine.data(), lineLength, firstWritten, delays[1], sr, maxDelaySamples, taps[1], count);
            delaytaps::read (drumLine.data(), lineLength, firstWritten, delays[2], sr, maxDelaySamples, taps[2], count);

            for (int i = 0; i < count; ++i)
                mixTaps (taps[0][i], taps[1][i], taps[2][i], k, trig[i], sums[2 * i], sums[2 * i + 1]);
        }
        else
        {
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
                    rotorSums (x, k, trig[i], sums[2 * i], sums[2 * i + 1]);
                }

                writeIndex = (writeIndex + 1) & (lineLength - 1);
            }
        }

        for (int i = 0; i < 2 * count; ++i)
            tangents[i] = cabinetArgument (sums[i]);
        sinekernel::hyperbolicTangents (tangents, tangents, 2 * count, mathMode);

        // Each side's filter states in registers (the outputs could otherwise
        // alias them), one side after the other.
        const auto cabinet = [&] (float* out, int side, float& bodyState, float& toneState) {
            float body = bodyState, tone = toneState; // signal units
            for (int i = 0; i < count; ++i)
                if (! atRest[i])
                    out[start + i] = cabinetFilters (cabinetSaturation (sums[2 * i + side], tangents[2 * i + side]), body, tone, k.w3500);
            bodyState = body;
            toneState = tone;
        };
        cabinet (left, 0, bodyLeft, toneLeft);
        cabinet (right, 1, bodyRight, toneRight);
    }
}
