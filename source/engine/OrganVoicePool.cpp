// The voice organs. The sample loop (renderWith) is compiled once per
// instruction set; the SIMD library picks the widest this processor runs.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "OrganVoicePool.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "OrganVoicePool.h"
#include "SampleRate.h"
#include "SineKernel-inl.h"
#include "TwoPi.h"

#include <algorithm>
#include <cmath>

#ifndef BRASSGATE_VOICE_POOL_CONSTANTS
#define BRASSGATE_VOICE_POOL_CONSTANTS
namespace
{
constexpr double percussionSeconds = 0.012;    // length of the percussion burst, s
constexpr double clickSeconds = 0.004;         // length of the release click, s
constexpr float clickFrequency = 3000.0f;      // Hz
constexpr float chorusVibratoRate = 7.0f;      // Hz

// Oscillator frequencies as multiples of the note frequency.
constexpr float farfisaMultiples[4] = { 0.5f, 1.0f, 2.0f, 4.0f };
constexpr float voxRampMultiples[5] = { 0.5f, 1.0f, 2.0f, 4.0f, 3.0f };
constexpr float voxRampWeights[5] = { 0.5f, 1.0f, 0.8f, 0.5f, 0.3f };
constexpr float churchMultiples[9] = { 0.5f, 1.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 8.0f };

constexpr int maxOscillators = 9; // per voice

// The church organ's sines and cosines are all taken afresh from the phases
// once in this many samples; in between they move on by rotation.
constexpr int samplesBetweenFreshSines = 128;

inline bool isUsableStep (float step) noexcept
{
    return step > 0.0f && std::isfinite (step);
}
} // namespace
#endif

HWY_BEFORE_NAMESPACE();
namespace voicepool
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// Names this instruction set's variant of OrganVoicePool::renderWith.
struct Here
{
};

// Oscillator phases (cycles) a sample on, many at a time: phase += increment,
// the increment being step / rate (the oscillator's frequency in Hz, single
// precision, widened, over the rate). A single wrap keeps the phase in 0 to 1
// for any frequency up to the sample rate; the second one catches the top
// notes' high partials at low rates, which step more than a cycle.
HWY_INLINE void advancePhaseLoop (double* HWY_RESTRICT phase, const double* HWY_RESTRICT increment, int n) noexcept
{
    for (int i = 0; i < n; ++i)
    {
        // Written without branches (each wrap subtracts 0 where it does not
        // apply, which leaves the phase exactly as it is) so that it vectorises.
        double p = phase[i] + increment[i];
        p = p - static_cast<double> (p > 1.0);
        p = p - static_cast<double> (p > 1.0) * sinekernel::floorOf (p);
        phase[i] = p;
    }
}

// sin a, sin 2a and sin 3a, rounded, from a's sine s and cosine c: the last
// two as 2 s c and s (3 - 4 s^2), each within a few units in the last place of
// a double.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void storePartials (D d, V s, V c, float* first, float* second, float* third)
{
    const hn::Rebind<float, D> df;
    hn::StoreU (hn::DemoteTo (df, s), df, first);
    hn::StoreU (hn::DemoteTo (df, hn::Mul (hn::Mul (hn::Set (d, 2.0), s), c)), df, second);
    hn::StoreU (hn::DemoteTo (df, hn::Mul (s, hn::Sub (hn::Set (d, 3.0), hn::Mul (hn::Set (d, 4.0), hn::Mul (s, s))))), df, third);
}

// The church organ's partials from each of n oscillators' phases: sin a, sin 2a
// and sin 3a (a = 2 pi phase) into out[k], out[stride + k] and
// out[2 stride + k], with the kernel's sine and cosine of a, or in reference
// mode the C library's.
HWY_INLINE void churchPartials (const double* phase, float* out, int n, int stride, MathMode mode) noexcept
{
    const hn::ScalableTag<double> d;
    const int lanes = static_cast<int> (hn::Lanes (d));

    // Whole vectors of oscillators, then the last few (and in reference mode
    // all of them) through padded copies.
    int k = 0;
    if (mode == MathMode::fast)
    {
        for (; k + lanes <= n; k += lanes)
        {
            hn::Vec<decltype (d)> s, c;
            sinekernel::HWY_NAMESPACE::SineCosine (d, hn::Mul (hn::Set (d, twoPi), hn::LoadU (d, phase + k)), s, c);
            storePartials (d, s, c, out + k, out + stride + k, out + 2 * stride + k);
        }
    }

    for (; k < n; k += lanes)
    {
        const int count = std::min (lanes, n - k);
        HWY_ALIGN double sines[hn::MaxLanes (d)] = {};
        HWY_ALIGN double cosines[hn::MaxLanes (d)] = {};
        HWY_ALIGN float padded[3][hn::MaxLanes (d)];
        if (mode == MathMode::fast)
        {
            HWY_ALIGN double argument[hn::MaxLanes (d)] = {};
            for (int i = 0; i < count; ++i)
                argument[i] = twoPi * phase[k + i];
            hn::Vec<decltype (d)> s, c;
            sinekernel::HWY_NAMESPACE::SineCosine (d, hn::Load (d, argument), s, c);
            hn::Store (s, d, sines);
            hn::Store (c, d, cosines);
        }
        else
        {
            for (int i = 0; i < count; ++i)
            {
                sines[i] = std::sin (twoPi * phase[k + i]);
                cosines[i] = std::cos (twoPi * phase[k + i]);
            }
        }

        storePartials (d, hn::Load (d, sines), hn::Load (d, cosines), padded[0], padded[1], padded[2]);
        for (int i = 0; i < count; ++i)
        {
            out[k + i] = padded[0][i];
            out[stride + k + i] = padded[1][i];
            out[2 * stride + k + i] = padded[2][i];
        }
    }
}

// The church organ's oscillators side by side, as the sample loop keeps them
// from one sample to the next (count a whole number of vectors; the lanes past
// the last oscillator hold phase 0 and step 0).
struct ChurchOscillators
{
    double* phase;            // cycles, 0 to 1
    double* sine;             // sin (2 pi phase)
    double* cosine;           // cos (2 pi phase)
    const double* stepAngle;  // each oscillator's step at the unmodulated pitch, radians per sample
    const double* stepCosine; // cos (stepAngle)
    const double* stepSine;   // sin (stepAngle)
    int count;                // lanes in use, a whole number of vectors
};

// Rests of the step beyond this (radians) are too large for the rotation's
// series; those lanes take the kernel instead. At 48 kHz only the highest
// partials of notes above the organ's top C, under the deepest modulation,
// reach it.
constexpr double largestRotationRest = 0.02;

// The church organ's oscillators a sample on, and their partials as
// churchPartials gives them. Each phase advances exactly as every oscillator's
// does (advancePhaseLoop). Its sine and cosine are not taken from the phase
// afresh but turned on by the step just added: by the unmodulated step, whose
// cosine and sine are held, and by the small rest that the pitch factor adds.
// A lane takes them from the phase only when its rest is too large, or with
// `allFresh`: the caller asks for that every so often, so that the rounding of
// the rotations never builds up beyond a few units in the last place of a
// double.
HWY_INLINE void advanceChurchOscillators (const ChurchOscillators& o, const double* increments, float* out, int stride, bool allFresh) noexcept
{
    const hn::ScalableTag<double> d;
    const int lanes = static_cast<int> (hn::Lanes (d));
    const auto one = hn::Set (d, 1.0);
    const auto zero = hn::Zero (d);

    for (int k = 0; k < o.count; k += lanes)
    {
        const auto increment = hn::Load (d, increments + k); // cycles
        auto p = hn::Add (hn::Load (d, o.phase + k), increment);
        p = hn::IfThenElse (hn::Gt (p, one), hn::Sub (p, one), p);
        p = hn::IfThenElse (hn::Gt (p, one), hn::Sub (p, hn::Floor (p)), p);
        hn::Store (p, d, o.phase + k);

        auto s = hn::Load (d, o.sine + k);
        auto c = hn::Load (d, o.cosine + k);
        const auto rest = hn::Sub (hn::Mul (hn::Set (d, twoPi), increment), hn::Load (d, o.stepAngle + k)); // radians
        sinekernel::HWY_NAMESPACE::RotateBy (d, s, c, hn::Load (d, o.stepCosine + k), hn::Load (d, o.stepSine + k), rest);

        const auto fresh = hn::Not (hn::Le (hn::Abs (rest), hn::Set (d, largestRotationRest)));
        if (allFresh || ! hn::AllFalse (d, fresh))
        {
            hn::Vec<decltype (d)> exactSine, exactCosine;
            sinekernel::HWY_NAMESPACE::SineCosine (d, hn::Mul (hn::Set (d, twoPi), p), exactSine, exactCosine);
            const auto take = allFresh ? hn::Eq (zero, zero) : fresh;
            s = hn::IfThenElse (take, exactSine, s);
            c = hn::IfThenElse (take, exactCosine, c);
        }

        hn::Store (s, d, o.sine + k);
        hn::Store (c, d, o.cosine + k);
        storePartials (d, s, c, out + k, out + stride + k, out + 2 * stride + k);
    }
}
} // namespace HWY_NAMESPACE
} // namespace voicepool

template <>
void OrganVoicePool::renderWith<voicepool::HWY_NAMESPACE::Here> (const RenderArguments& arguments, float* out, int count)
{
    const Settings& settings = *arguments.settings;
    const int organType = settings.organType;
    const DrawbarLevels& drawbarLevels = settings.drawbarLevels;
    const float chorusDepth = settings.chorusDepth;
    const float modWheel = settings.modWheel;
    float attackStep = settings.voiceAttackStep;
    float releaseStep = settings.voiceReleaseStep;
    const double sampleRate = arguments.sampleRate;
    RandomSource& random = *arguments.random;

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

    // Rate of the mod-wheel vibrato (types 1 and 3) or tremolo (type 2), Hz at a clock of 7 Hz.
    const float modRate = organType == farfisa ? modWheel * 2.0f + 5.5f   // 5.5 to 7.5 Hz
                        : organType == vox     ? modWheel * 4.0f + 4.0f   // 4 to 8 Hz
                                               : modWheel * 1.5f + 4.5f;  // 4.5 to 6 Hz

    // The oscillators of this organ type: which phase slot each uses and its
    //    frequency multiple. The church organ sounds only its pulled drawbars.
    int oscillatorSlot[maxOscillators];
    float oscillatorMultiple[maxOscillators];
    int numOscillators = 0;

    if (organType == farfisa)
    {
        for (int o = 0; o < 4; ++o, ++numOscillators)
        {
            oscillatorSlot[o] = o;
            oscillatorMultiple[o] = farfisaMultiples[o];
        }
    }
    else if (organType == vox)
    {
        for (int o = 0; o < 5; ++o, ++numOscillators)
        {
            oscillatorSlot[o] = o;
            oscillatorMultiple[o] = voxRampMultiples[o];
        }
        oscillatorSlot[numOscillators] = 5; // the sine, in phase with ramp 1
        oscillatorMultiple[numOscillators++] = 1.0f;
    }
    else
    {
        for (int j = 0; j < 9; ++j)
        {
            // A closed drawbar's oscillator stands still and draws no noise.
            if (drawbarLevels[(size_t) j] >= 0.01f)
            {
                oscillatorSlot[numOscillators] = j;
                oscillatorMultiple[numOscillators++] = churchMultiples[j];
            }
        }
    }

    // An oscillator whose multiple is a power of two times an earlier one's has
    // exactly that power of two times its frequency and its increment, since
    // scaling by a power of two commutes with rounding: its increment is taken
    // from the earlier one's rather than worked out (and divided) again.
    int scaledFrom[maxOscillators]; // the earlier oscillator, or -1
    double scale[maxOscillators];   // the power of two
    for (int o = 0; o < numOscillators; ++o)
    {
        scaledFrom[o] = -1;
        for (int e = 0; e < o && scaledFrom[o] < 0; ++e)
        {
            const float ratio = oscillatorMultiple[o] / oscillatorMultiple[e];
            int exponent = 0;
            if (ratio >= 1.0f && std::frexp (ratio, &exponent) == 0.5f && ratio * oscillatorMultiple[e] == oscillatorMultiple[o])
            {
                scaledFrom[o] = e;
                scale[o] = static_cast<double> (ratio);
            }
        }
    }

    // The oscillators' phases stay in the arrays below, oscillator o of
    // sounding voice s at o x n + s, from one sample to the next, so that each
    // step runs across the voices; they go back to the voices when the
    // sounding voices change and at the end.
    alignas (64) double phase[numVoices * maxOscillators]; // cycles
    int held[numVoices];                                   // the sounding voices the arrays hold, in voice order
    int n = 0;                                             // how many

    // The church organ's oscillators also keep their sines and cosines side by
    // side, moved on by rotation (advanceChurchOscillators); the lanes past the
    // last oscillator fill the last vector and stand still.
    namespace hn = hwy::HWY_NAMESPACE;
    const bool rotating = organType == church && mathMode == MathMode::fast;
    const int lanes = static_cast<int> (hn::Lanes (hn::ScalableTag<double>()));
    alignas (64) double sineOf[numVoices * maxOscillators];      // sin (2 pi phase)
    alignas (64) double cosineOf[numVoices * maxOscillators];    // cos (2 pi phase)
    alignas (64) double stepAngle[numVoices * maxOscillators];   // unmodulated step, radians per sample
    alignas (64) double stepCosine[numVoices * maxOscillators];
    alignas (64) double stepSine[numVoices * maxOscillators];
    int numLanes = 0; // oscillators in the arrays, rounded up to whole vectors

    const auto keepPhases = [&] {
        for (int o = 0; o < numOscillators; ++o)
        {
            for (int s = 0; s < n; ++s)
            {
                const int k = o * n + s;
                voices[(size_t) held[s]].phase[oscillatorSlot[o]] = phase[k];
                if (rotating)
                    rotations[(size_t) held[s]][(size_t) oscillatorSlot[o]] = { sineOf[k], cosineOf[k], phase[k] };
            }
        }
    };

    // The sines and cosines the voices kept, where they still belong to the
    // oscillator's phase (otherwise they are taken from it), and each
    // oscillator's unmodulated step.
    const auto takeRotations = [&] {
        alignas (64) double stale[numVoices * maxOscillators]; // 1 where the kept ones belong to another phase
        numLanes = (n * numOscillators + lanes - 1) / lanes * lanes;
        for (int k = 0; k < numLanes; ++k)
        {
            if (k >= n * numOscillators)
            {
                phase[k] = sineOf[k] = stale[k] = stepAngle[k] = 0.0;
                cosineOf[k] = 1.0;
                continue;
            }

            const int o = k / n;
            const int s = k - o * n;
            const auto& kept = rotations[(size_t) held[s]][(size_t) oscillatorSlot[o]];
            sineOf[k] = kept.sine;
            cosineOf[k] = kept.cosine;
            stale[k] = kept.phase == phase[k] ? 0.0 : 1.0;
            stepAngle[k] = twoPi * (static_cast<double> (noteHz[(size_t) held[s]] * oscillatorMultiple[o]) / rate);
        }

        for (int k = 0; k < numLanes; k += lanes)
        {
            const hn::ScalableTag<double> d;
            hn::Vec<decltype (d)> sine, cosine;
            sinekernel::HWY_NAMESPACE::SineCosine (d, hn::Load (d, stepAngle + k), sine, cosine);
            hn::Store (sine, d, stepSine + k);
            hn::Store (cosine, d, stepCosine + k);

            const auto take = hn::Ne (hn::Load (d, stale + k), hn::Zero (d));
            if (! hn::AllFalse (d, take))
            {
                sinekernel::HWY_NAMESPACE::SineCosine (d, hn::Mul (hn::Set (d, twoPi), hn::Load (d, phase + k)), sine, cosine);
                hn::Store (hn::IfThenElse (take, sine, hn::Load (d, sineOf + k)), d, sineOf + k);
                hn::Store (hn::IfThenElse (take, cosine, hn::Load (d, cosineOf + k)), d, cosineOf + k);
            }
        }
    };

    for (int t = 0; t < count; ++t)
    {
        // 1. Envelopes and modulation clocks, voice by voice; the voices that sound
        //    this sample and their modulation sines.
        int sounding[numVoices];
        alignas (64) float clock[numVoices]; // each sounding voice's modulation clock, cycles of 7 Hz
        float clockWrap[numVoices];          // what its wraps took off the mod-wheel modulation, cycles
        int numSounding = 0;

        for (int i = 0; i < numVoices; ++i)
        {
            auto& voice = voices[(size_t) i];
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
            if (chorusOn)
                voice.advanceVibrato (chorusVibratoRate / rateF);

            clock[numSounding] = voice.vibratoTime;
            if (modWheelOn)
                clockWrap[numSounding] = voice.wrappedModulationCycles (static_cast<double> (modRate) / chorusVibratoRate);
            sounding[numSounding++] = i;
        }

        if (numSounding != n || ! std::equal (sounding, sounding + numSounding, held))
        {
            keepPhases();
            n = numSounding;
            std::copy (sounding, sounding + n, held);
            for (int o = 0; o < numOscillators; ++o)
                for (int s = 0; s < n; ++s)
                    phase[o * n + s] = voices[(size_t) held[s]].phase[oscillatorSlot[o]];
            if (rotating)
                takeRotations();
        }

        if (numSounding == 0)
        {
            out[t] = 0.0f;
            continue;
        }

        // The modulation sines, only those in use.
        alignas (64) float argument32[numVoices]; // radians
        alignas (64) float chorusSine[numVoices];
        alignas (64) float modSine[numVoices];
        if (chorusOn)
        {
            for (int s = 0; s < numSounding; ++s)
                argument32[s] = clock[s] * twoPiFloat;
            sinekernel::sinesOfFloats (argument32, chorusSine, numSounding, mathMode);
        }
        if (modWheelOn)
        {
            for (int s = 0; s < numSounding; ++s)
                argument32[s] = (modRate * clock[s] / 7.0f + clockWrap[s]) * twoPiFloat;
            sinekernel::sinesOfFloats (argument32, modSine, numSounding, mathMode);
        }

        // 3. Pitch factors and every oscillator's phase, all voices together. The
        //    arrays below hold oscillator o of sounding voice s at o x numSounding + s,
        //    so that each step runs across the voices.
        const int numPhases = n * numOscillators;
        alignas (64) float hz[numVoices];                        // note frequency, Hz
        alignas (64) float pitch[numVoices];                     // pitch factor, near 1

        for (int s = 0; s < n; ++s)
        {
            float v = chorusOn ? chorusSine[s] * chorusDepth * 0.004f + 1.0f : 1.0f;

            if (modWheelOn && organType == farfisa) // up to +-0.8 %
                v *= modSine[s] * modWheel * 0.008f + 1.0f;
            else if (modWheelOn && organType == church) // up to +-0.5 %
                v *= modSine[s] * modWheel * 0.005f + 1.0f;

            pitch[s] = v;
            hz[s] = noteHz[(size_t) sounding[s]];
        }

        alignas (64) double increment[numVoices * maxOscillators]; // cycles per sample
        for (int o = 0; o < numOscillators; ++o)
        {
            double* const into = increment + o * n;
            if (scaledFrom[o] >= 0)
            {
                const double* const from = increment + scaledFrom[o] * n;
                for (int s = 0; s < n; ++s)
                    into[s] = scale[o] * from[s];
            }
            else
            {
                for (int s = 0; s < n; ++s)
                {
                    const float stepHz = hz[s] * oscillatorMultiple[o] * pitch[s];
                    into[s] = static_cast<double> (stepHz) / rate;
                }
            }
        }

        // The church organ's sines and cosines move on with the phases; every
        // so often they are all taken afresh.
        alignas (64) float sine[3 * numVoices * maxOscillators];
        const int stride = rotating ? numLanes : numPhases; // between the blocks of sine[]
        if (rotating)
        {
            std::fill (increment + numPhases, increment + numLanes, 0.0);
            const bool allFresh = ++samplesSinceFresh >= samplesBetweenFreshSines;
            if (allFresh)
                samplesSinceFresh = 0;
            const voicepool::HWY_NAMESPACE::ChurchOscillators oscillators { phase, sineOf, cosineOf, stepAngle,
                                                                            stepCosine, stepSine, numLanes };
            voicepool::HWY_NAMESPACE::advanceChurchOscillators (oscillators, increment, sine, stride, allFresh);
        }
        else
        {
            voicepool::HWY_NAMESPACE::advancePhaseLoop (phase, increment, numPhases);
        }

        // 4. The waveform sines (64-bit, rounded), all voices together: FARFISA one
        //    per oscillator, VOX the one sine oscillator, CHURCH the first three
        //    harmonics of every oscillator (in three blocks: fundamentals, seconds, thirds).
        alignas (64) double argument[numVoices * maxOscillators]; // radians
        int numSines = 0;

        if (organType == farfisa)
        {
            for (int k = 0; k < numPhases; ++k)
                argument[k] = twoPi * phase[k];
            numSines = numPhases;
        }
        else if (organType == vox)
        {
            for (int s = 0; s < n; ++s)
                argument[s] = twoPi * phase[5 * n + s];
            numSines = n;
        }

        if (organType == church)
        {
            if (! rotating)
                voicepool::HWY_NAMESPACE::churchPartials (phase, sine, numPhases, stride, mathMode);
        }
        else if (mathMode == MathMode::reference)
            sinekernel::sinesToFloat (argument, sine, numSines, MathMode::reference);
        else
            sinekernel::HWY_NAMESPACE::SinesToFloat (argument, sine, numSines);

        // 5. The waveforms, across the voices.
        alignas (64) float d[numVoices]; // each voice's sample before envelope and velocity

        if (organType == farfisa)
        {
            // Each part is a pulse of 40 % duty blended with a sine of the same phase, -1 to 1.
            alignas (64) float part[4][numVoices];
            for (int o = 0; o < 4; ++o)
                for (int s = 0; s < n; ++s)
                    part[o][s] = sine[o * n + s] * 0.3f + (phase[o * n + s] < 0.4 ? 1.0f : -1.0f) * 0.7f;

            for (int s = 0; s < n; ++s)
                d[s] = (part[0][s] * 0.6f + part[1][s] + part[2][s] * 0.7f + part[3][s] * 0.4f) * 0.15f;
        }
        else if (organType == vox)
        {
            alignas (64) float ramps[numVoices] = {};
            for (int o = 0; o < 5; ++o)
            {
                for (int s = 0; s < n; ++s)
                {
                    // A ramp from -1 to 1 with its ends rounded off by a cubic.
                    const float x = static_cast<float> (phase[o * n + s]) * 2.0f - 1.0f;
                    const float shaped = x - x * x * x * 0.33f;
                    ramps[s] += shaped * voxRampWeights[o];
                }
            }

            for (int s = 0; s < n; ++s)
                d[s] = (sine[s] * 0.4f + ramps[s]) * 0.1f;

            if (modWheelOn) // tremolo, dipping by up to half
                for (int s = 0; s < n; ++s)
                    d[s] *= 1.0f - modWheel * 0.5f * (modSine[s] * 0.5f + 0.5f);
        }
        else
        {
            // The noise: one draw per sounding oscillator, voice by voice, stored
            // as the oscillators are (oscillator o of voice s at o x n + s).
            alignas (64) float noise[numVoices * maxOscillators];
            random.nextFloatsByColumns (noise, n, numOscillators);

            // Each drawbar: a nearly pure partial with a little second and third
            // harmonic and a trace of noise.
            alignas (64) float partials[numVoices] = {};
            for (int o = 0; o < numOscillators; ++o)
            {
                const float level = drawbarLevels[(size_t) oscillatorSlot[o]];
                for (int s = 0; s < n; ++s)
                {
                    const int k = o * n + s;
                    const float x = sine[stride + k] * 0.08f + sine[k] + sine[2 * stride + k] * 0.04f
                                    + (noise[k] * 2.0f - 1.0f) * 0.005f;
                    partials[s] += x * level;
                }
            }

            for (int s = 0; s < n; ++s)
                d[s] = partials[s] * 0.1f;
        }

        // 6. Percussion, release click, envelope and velocity, in voice order.
        float sum = 0.0f;

        for (int s = 0; s < n; ++s)
        {
            auto& voice = voices[(size_t) sounding[s]];
            float x = d[s];

            // Percussion: a sine at two or three times the note, 12 ms, from 0.25 down to 0.
            if (voice.percRemaining > 0 && voice.percHarmonic > 0)
            {
                voice.percPhase += hz[s] * static_cast<float> (voice.percHarmonic) / rateF;
                x += std::sin (voice.percPhase * twoPiFloat) * (static_cast<float> (voice.percRemaining) / percussionLength) * 0.25f;
                --voice.percRemaining;
            }

            // Release click: a 3 kHz sine, 4 ms, from 0.08 down to 0.
            if (voice.clickRemaining > 0)
            {
                voice.clickPhase += clickFrequency / rateF;
                x += std::sin (voice.clickPhase * twoPiFloat) * (static_cast<float> (voice.clickRemaining) / clickLength) * 0.08f;
                --voice.clickRemaining;
            }

            sum += x * voice.level * voice.velocity;
        }

        out[t] = sum;
    }

    keepPhases();
}

namespace voicepool
{
namespace HWY_NAMESPACE
{
void render (OrganVoicePool& pool, const OrganVoicePool::RenderArguments& arguments, float* out, int count)
{
    pool.renderWith<Here> (arguments, out, count);
}
} // namespace HWY_NAMESPACE
} // namespace voicepool
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace voicepool
{
HWY_EXPORT (render);

void dispatchedRender (OrganVoicePool& pool, const OrganVoicePool::RenderArguments& arguments, float* out, int count)
{
    HWY_DYNAMIC_DISPATCH (render) (pool, arguments, out, count);
}
} // namespace voicepool

double OrganVoicePool::usableSampleRate (double sampleRate) noexcept
{
    return ::usableSampleRate (sampleRate);
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
    noteHz[(size_t) chosen] = noteFrequency (note);
    voice.active = true;
    voice.note = note;
    voice.velocity = velocity;
    voice.released = false;
    voice.level = 0.0f;

    // A random start of the modulation clock, so that voices do not wobble in step.
    voice.vibratoTime = random.nextFloat() * twoPiFloat;
    voice.vibratoCyclesRemoved = 0.0;

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

float OrganVoicePool::renderVoices (const Settings& settings, double sampleRate, RandomSource& random)
{
    float sample = 0.0f;
    renderVoices (&sample, 1, settings, sampleRate, random);
    return sample;
}

void OrganVoicePool::renderVoices (float* out, int count, const Settings& settings, double sampleRate, RandomSource& random)
{
    if (settings.organType < farfisa || settings.organType > church)
    {
        std::fill (out, out + std::max (count, 0), 0.0f);
        return;
    }

    const RenderArguments a { &settings, sampleRate, &random };

    voicepool::dispatchedRender (*this, a, out, count);
}
#endif
