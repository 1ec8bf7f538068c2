#pragma once

#include "DrawbarLevels.h"
#include "OrganVoice.h"
#include "RandomSource.h"
#include "SineKernel.h"

#include <array>

// The 16 voices of the oscillator organs. Voices are started and released for
// every note whatever the organ type, and rendered only for types 1 to 3.
// A plain value type: no heap, no locks, audio thread only.
//
// Bad input has a defined outcome: notes outside 0 to 127 are ignored, and a
// sample rate no host can mean (NaN, infinite, below 1 Hz or above 10 MHz,
// so also 0 and negative rates) plays as 44100 Hz.
class OrganVoicePool
{
public:
    static constexpr int numVoices = 16;

    // Organ types this pool renders.
    enum OrganType
    {
        farfisa = 1,
        vox = 2,
        church = 3
    };

    // Takes a free voice, or steals the quietest, and restarts it at level 0.
    // Draws one nextFloat (vibrato start) and, with percussion on, one nextBool
    // (second or third harmonic) from `random`.
    void startVoice (int note, float velocity, bool percussionOn, double sampleRate, RandomSource& random);

    // Releases every held voice of `note` and starts its release click.
    void releaseVoices (int note, double sampleRate);

    // Silences every voice at once, without release.
    void clearVoices();

    // Everything the voices are rendered with, under the names of the block's
    // settings; the modulation wheel is the performance's current position.
    struct Settings
    {
        int organType = farfisa;        // 1 to 3 render; any other type renders nothing
        DrawbarLevels drawbarLevels {}; // 0 to 1 each
        float chorusDepth = 0.0f;       // 0 to 1
        float modWheel = 0.0f;          // 0 to 1
        float voiceAttackStep = 0.0f;   // envelope increment per sample, linear gain
        float voiceReleaseStep = 0.0f;  // envelope decrement per sample, linear gain
    };

    // One sample: the sum of the active voices for organ type 1, 2 or 3
    // (any other type renders nothing and leaves the voices untouched).
    // Envelope steps that are not finite and positive are derived from the
    // sample rate (Hz).
    float renderVoices (const Settings& settings, double sampleRate, RandomSource& random);

    // renderVoices for count samples in a row, into out[0] to out[count - 1]:
    // the same samples, with the oscillators' phases kept side by side from one
    // sample to the next.
    void renderVoices (float* out, int count, const Settings& settings, double sampleRate, RandomSource& random);

    const std::array<OrganVoice, numVoices>& getVoices() const noexcept { return voices; }

    // The arithmetic of the sines: the pool's own kernels (the default) or the
    // C library's, for comparing the two. Either may be chosen at any time.
    void setMathMode (MathMode mode) noexcept { mathMode = mode; }

    // The rate actually used for a rate the caller passes, Hz.
    static double usableSampleRate (double sampleRate) noexcept;

    // 2^((note - 69) / 12) * 440 in single precision, Hz.
    static float noteFrequency (int note) noexcept;

    // renderVoices' arguments, handed to the loops compiled for this processor.
    struct RenderArguments
    {
        const Settings* settings;
        double sampleRate; // Hz
        RandomSource* random;
    };

    // count samples of all voices, written as loops across the voices; compiled
    // once per instruction set in OrganVoicePool.cpp, where renderVoices calls
    // the one the SIMD library chose for this processor.
    template <class InstructionSet>
    void renderWith (const RenderArguments& arguments, float* out, int count);

private:
    std::array<OrganVoice, numVoices> voices {};
    std::array<float, numVoices> noteHz {}; // f(note) of each voice's note, Hz, set when the voice starts
    MathMode mathMode = MathMode::fast;     // arithmetic of the sines

    // Each church oscillator's sine and cosine, carried from one sample to the
    // next by rotation, and the phase they belong to: they are used again only
    // while the oscillator's phase is still that phase.
    struct Rotation
    {
        double sine = 0.0;   // sin (2 pi phase)
        double cosine = 1.0; // cos (2 pi phase)
        double phase = 0.0;  // cycles
    };
    std::array<std::array<Rotation, 9>, numVoices> rotations {}; // [voice][oscillator]
    int samplesSinceFresh = 0; // church samples since the sines were last all taken from the phases
};
