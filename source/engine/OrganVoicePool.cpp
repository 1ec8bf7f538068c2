#include "OrganVoicePool.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr float twoPi32 = 6.2831855f;          // 2 pi rounded to single precision, radians
constexpr double twoPi64 = 6.283185307179586;  // 2 pi in double precision, radians

constexpr double fallbackSampleRate = 44100.0; // Hz
constexpr double lowestSampleRate = 1.0;       // Hz
constexpr double highestSampleRate = 1.0e7;    // Hz; keeps sample counts well inside int

constexpr double percussionSeconds = 0.012;    // length of the percussion burst, s
constexpr double clickSeconds = 0.004;         // length of the release click, s
constexpr float clickFrequency = 3000.0f;      // Hz
constexpr float chorusVibratoRate = 7.0f;      // Hz

// Oscillator frequencies as multiples of the note frequency.
constexpr float farfisaMultiples[4] = { 0.5f, 1.0f, 2.0f, 4.0f };
constexpr float voxRampMultiples[5] = { 0.5f, 1.0f, 2.0f, 4.0f, 3.0f };
constexpr float voxRampWeights[5] = { 0.5f, 1.0f, 0.8f, 0.5f, 0.3f };
constexpr float churchMultiples[9] = { 0.5f, 1.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 8.0f };

// Moves one oscillator phase (cycles) a sample on. The frequency product stays
// in single precision; the phase itself is double. A single wrap keeps the phase
// in 0 to 1 for any frequency up to the sample rate; the second one catches the
// top notes' high partials at low rates, which step more than a cycle.
inline void advancePhase (double& phase, float noteHz, float multiple, float pitchFactor, double sampleRate) noexcept
{
    phase += static_cast<double> (noteHz * multiple * pitchFactor) / sampleRate;

    if (phase > 1.0)
    {
        phase -= 1.0;

        if (phase > 1.0)
            phase -= std::floor (phase);
    }
}

// A sine taken in double precision and rounded to single.
inline float sine64 (double radians) noexcept
{
    return static_cast<float> (std::sin (radians));
}

inline bool isUsableStep (float step) noexcept
{
    return step > 0.0f && std::isfinite (step);
}
} // namespace

double OrganVoicePool::usableSampleRate (double sampleRate) noexcept
{
    if (! (sampleRate >= lowestSampleRate && sampleRate <= highestSampleRate))
        return fallbackSampleRate;

    return sampleRate;
}

float OrganVoicePool::noteFrequency (int note) noexcept
{
    return std::pow (2.0f, static_cast<float> (note - 69) / 12.0f) * 440.0f;
}

void OrganVoicePool::startVoice (int note, float velocity, bool percussionOn, double sampleRate, RandomSource& random)
{
    if (note < 0 || note > 127)
        return;

    const double rate = usableSampleRate (sampleRate);

    // A free voice first. A released voice at level 0 counts as free: it can
    // never sound again (this happens to every voice started and released
    // while the pool is not rendered, as with the tone-wheel organ selected),
    // and taking it spares the notes still held.
    int chosen = -1;

    for (int i = 0; i < numVoices; ++i)
    {
        const auto& v = voices[(size_t) i];

        if (! v.active || (v.released && v.level <= 0.0f))
        {
            chosen = i;
            break;
        }
    }

    // Otherwise steal the quietest voice; the lowest number wins a tie.
    if (chosen < 0)
    {
        float lowestLevel = 999.0f;

        for (int i = 0; i < numVoices; ++i)
        {
            if (voices[(size_t) i].level < lowestLevel)
            {
                lowestLevel = voices[(size_t) i].level;
                chosen = i;
            }
        }

        // Levels are never NaN in practice; should one be, the first voice goes.
        if (chosen < 0)
            chosen = 0;
    }

    auto& voice = voices[(size_t) chosen];
    voice.active = true;
    voice.note = note;
    voice.velocity = velocity;
    voice.released = false;
    voice.level = 0.0f;

    // A random start of the modulation clock, so that voices do not wobble in step.
    voice.vibratoTime = random.nextFloat() * twoPi32;

    for (auto& p : voice.phase)
        p = 0.0;

    if (percussionOn)
    {
        voice.percHarmonic = random.nextBool() ? 2 : 3;
        voice.percRemaining = static_cast<int> (rate * percussionSeconds);
    }
    else
    {
        voice.percHarmonic = 0;
        voice.percRemaining = 0;
    }

    voice.percPhase = 0.0f;
    voice.clickRemaining = 0; // the click phase is restarted by the next release
}

void OrganVoicePool::releaseVoices (int note, double sampleRate)
{
    if (note < 0 || note > 127)
        return;

    const int clickSamples = static_cast<int> (usableSampleRate (sampleRate) * clickSeconds);

    // Every voice of the note: a note-on repeated without its note-off plays on
    // two voices, and one note-off ends both.
    for (auto& voice : voices)
    {
        if (voice.active && voice.note == note && ! voice.released)
        {
            voice.released = true;
            voice.clickRemaining = clickSamples;
            voice.clickPhase = 0.0f;
        }
    }
}

void OrganVoicePool::clearVoices()
{
    for (auto& v : voices)
        v.active = false;
}

float OrganVoicePool::renderVoices (int organType,
                                    const DrawbarLevels& drawbarLevels,
                                    float chorusDepth,
                                    float modWheel,
                                    float attackStep,
                                    float releaseStep,
                                    double sampleRate,
                                    RandomSource& random)
{
    if (organType < farfisa || organType > church)
        return 0.0f;

    const double rate = usableSampleRate (sampleRate);
    const float rateF = static_cast<float> (rate);

    // The caller derives the steps from the same rate; when that rate was
    // unusable, so are they.
    if (rate != sampleRate || ! isUsableStep (attackStep))
        attackStep = 1.0f / (rateF * 0.005f);

    if (rate != sampleRate || ! isUsableStep (releaseStep))
        releaseStep = 1.0f / (rateF * 0.025f);

    const float percussionLength = static_cast<float> (rate * percussionSeconds); // samples
    const float clickLength = static_cast<float> (rate * clickSeconds);           // samples
    const bool chorusOn = chorusDepth > 0.01f;
    const bool modWheelOn = modWheel > 0.05f;

    float sum = 0.0f;

    for (auto& voice : voices)
    {
        if (! voice.active)
            continue;

        // Linear 5 ms attack, linear 25 ms release from full level.
        if (voice.released)
        {
            voice.level -= releaseStep;

            if (voice.level <= 0.0f)
            {
                voice.active = false;
                continue;
            }
        }
        else
        {
            voice.level = std::min (voice.level + attackStep, 1.0f);
        }

        // The clock runs only with the chorus on; with it off, the mod-wheel
        // vibrato and tremolo hold the value the clock stopped at.
        float pitchFactor = 1.0f;

        if (chorusOn)
        {
            voice.vibratoTime += chorusVibratoRate / rateF;
            pitchFactor = std::sin (voice.vibratoTime * twoPi32) * chorusDepth * 0.004f + 1.0f;
        }

        float d = 0.0f;

        switch (organType)
        {
            case farfisa:
                if (modWheelOn) // 5.5 to 7.5 Hz, up to +-0.8 %
                    pitchFactor *= std::sin ((modWheel * 2.0f + 5.5f) * voice.vibratoTime / 7.0f * twoPi32) * modWheel * 0.008f + 1.0f;

                d = renderFarfisaVoice (voice, pitchFactor, rate);
                break;

            case vox:
                d = renderVoxVoice (voice, pitchFactor, rate);

                if (modWheelOn) // tremolo, 4 to 8 Hz, dipping by up to half
                    d *= 1.0f - modWheel * 0.5f * (std::sin ((modWheel * 4.0f + 4.0f) * voice.vibratoTime / 7.0f * twoPi32) * 0.5f + 0.5f);

                break;

            default: // church
                if (modWheelOn) // 4.5 to 6 Hz, up to +-0.5 %
                    pitchFactor *= std::sin ((modWheel * 1.5f + 4.5f) * voice.vibratoTime / 7.0f * twoPi32) * modWheel * 0.005f + 1.0f;

                d = renderChurchVoice (voice, drawbarLevels, pitchFactor, rate, random);
                break;
        }

        // Percussion: a sine at two or three times the note, 12 ms, from 0.25 down to 0.
        if (voice.percRemaining > 0 && voice.percHarmonic > 0)
        {
            voice.percPhase += noteFrequency (voice.note) * static_cast<float> (voice.percHarmonic) / rateF;
            d += std::sin (voice.percPhase * twoPi32) * (static_cast<float> (voice.percRemaining) / percussionLength) * 0.25f;
            --voice.percRemaining;
        }

        // Release click: a 3 kHz sine, 4 ms, from 0.08 down to 0.
        if (voice.clickRemaining > 0)
        {
            voice.clickPhase += clickFrequency / rateF;
            d += std::sin (voice.clickPhase * twoPi32) * (static_cast<float> (voice.clickRemaining) / clickLength) * 0.08f;
            --voice.clickRemaining;
        }

        sum += d * voice.level * voice.velocity;
    }

    return sum;
}

float OrganVoicePool::renderFarfisaVoice (OrganVoice& voice, float pitchFactor, double sampleRate) noexcept
{
    const float noteHz = noteFrequency (voice.note);
    float part[4]; // pulse of 40 % duty blended with a sine of the same phase, -1 to 1

    for (int i = 0; i < 4; ++i)
    {
        double& p = voice.phase[i];
        advancePhase (p, noteHz, farfisaMultiples[i], pitchFactor, sampleRate);

        const float square = p < 0.4 ? 1.0f : -1.0f;
        part[i] = sine64 (twoPi64 * p) * 0.3f + square * 0.7f;
    }

    return (part[0] * 0.6f + part[1] + part[2] * 0.7f + part[3] * 0.4f) * 0.15f;
}

float OrganVoicePool::renderVoxVoice (OrganVoice& voice, float pitchFactor, double sampleRate) noexcept
{
    const float noteHz = noteFrequency (voice.note);
    float ramps = 0.0f;

    for (int i = 0; i < 5; ++i)
    {
        double& p = voice.phase[i];
        advancePhase (p, noteHz, voxRampMultiples[i], pitchFactor, sampleRate);

        // A ramp from -1 to 1 with its ends rounded off by a cubic.
        const float x = static_cast<float> (p) * 2.0f - 1.0f;
        const float shaped = x - x * x * x * 0.33f;
        ramps += shaped * voxRampWeights[i];
    }

    // A sine at the note, in phase with ramp 1 (same start, same step).
    advancePhase (voice.phase[5], noteHz, 1.0f, pitchFactor, sampleRate);
    const float sine = sine64 (twoPi64 * voice.phase[5]);

    return (sine * 0.4f + ramps) * 0.1f;
}

float OrganVoicePool::renderChurchVoice (OrganVoice& voice,
                                         const DrawbarLevels& drawbarLevels,
                                         float pitchFactor,
                                         double sampleRate,
                                         RandomSource& random)
{
    const float noteHz = noteFrequency (voice.note);
    float sum = 0.0f;

    for (int j = 0; j < 9; ++j)
    {
        // A closed drawbar's oscillator stands still and draws no noise.
        if (! (drawbarLevels[(size_t) j] >= 0.01f))
            continue;

        double& p = voice.phase[j];
        advancePhase (p, noteHz, churchMultiples[j], pitchFactor, sampleRate);

        const float r = random.nextFloat();
        const double a = twoPi64 * p; // radians

        // A nearly pure partial with a little second and third harmonic and a trace of noise.
        const float s = sine64 (2.0 * a) * 0.08f + sine64 (a) + sine64 (3.0 * a) * 0.04f + (r * 2.0f - 1.0f) * 0.005f;
        sum += s * drawbarLevels[(size_t) j];
    }

    return sum * 0.1f;
}
