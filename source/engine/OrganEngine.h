#pragma once

#include "BlockSettings.h"
#include "LeslieSimulator.h"
#include "OrganVoicePool.h"
#include "RandomSource.h"
#include "RoomReverb.h"
#include "SineKernel.h"
#include "TonewheelGenerator.h"

#include <algorithm>

// The whole instrument as one object: the tone-wheel generator and the voice
// pool, then drive, output saturation, rotary speaker and focus gain, and the
// room reverb over the whole block. The plug-in, the tests, the benchmarks and
// the render comparisons all play through this one object.
//
// A block is one call of process: the block's settings (read once, before the
// block), its MIDI events, each acting at the sample it is stamped with, and
// the output channels. prepare sizes the reverb's lines and may allocate;
// process never allocates, locks or calls the system.
class OrganEngine
{
public:
    // The voice organs draw their random numbers from `random`, which must
    // outlive the engine.
    explicit OrganEngine (RandomSource& randomSource) noexcept : random (randomSource) {}

    // Takes the rate (Hz; a rate no host can mean plays as 44.1 kHz), silences
    // every key and voice and clears the rotary speaker's and the reverb's
    // lines. The rotors, the modulation wheel, expression and the focus gain
    // run on. Not for the audio thread: the reverb's lines are sized here.
    void prepare (double newSampleRate);

    double getSampleRate() const noexcept { return sampleRate; }

    // Where the stages' own outputs are copied as well, for tests that look
    // inside the chain: each a block long, written at the channels' indices.
    struct StageTaps
    {
        float* engine = nullptr;    // raw engine sample
        float* saturated = nullptr; // after drive and output saturation
    };

    // One block of numSamples. Events is any sequence of objects with the
    // fields `data` (the MIDI bytes), `numBytes` and `samplePosition`, in time
    // order, as a plug-in host's MIDI buffer yields them. An event acts from
    // the sample it is stamped with: events before the block act at its
    // start, events past its end after its last sample. The chain's output is
    // added into channels 0 and 1 (the left and right of the rotary speaker),
    // or into channel 0 as their average when there is one channel, and the
    // reverb then runs over them in place (stereo, or mono for one channel);
    // with more than two channels it is left out and further channels are
    // left as they are. The taps see the chain before the reverb.
    template <class Events>
    void process (const BlockSettings& settings, const Events& events, float* const* channels, int numChannels, int numSamples)
    {
        process (settings, events, channels, numChannels, numSamples, StageTaps {});
    }

    template <class Events>
    void process (const BlockSettings& settings, const Events& events, float* const* channels, int numChannels, int numSamples,
                  const StageTaps& taps)
    {
        const int length = std::max (0, numSamples);
        int done = 0; // samples rendered so far
        for (const auto& event : events)
        {
            const int at = std::clamp (static_cast<int> (event.samplePosition), done, length);
            render (settings, channels, numChannels, done, at, taps);
            done = at;
            handleMidi (event.data, static_cast<int> (event.numBytes), settings);
        }
        render (settings, channels, numChannels, done, length, taps);

        reverb.setSettings (ReverbSettings::forAmount (settings.reverbAmount));
        reverb.process (channels, numChannels, length);
    }

    // What a MIDI message does to the sound, at once: notes start and end,
    // controllers 120 and 123 silence everything, the modulation wheel and
    // expression take their new value. The controllers that move parameters
    // are the caller's: the settings of this block do not change.
    void handleMidi (const unsigned char* data, int size, const BlockSettings& settings);

    // The arithmetic of the sines and tangents in every stage: the engine's
    // own kernels (the default) or the C library's, for comparing the two.
    void setMathMode (MathMode mode) noexcept;

    float getModWheel() const noexcept { return modWheel; }
    float getExpression() const noexcept { return expression; }
    float getFocusGain() const noexcept { return focusGain; }
    const TonewheelGenerator& getTonewheels() const noexcept { return tonewheels; }
    const OrganVoicePool& getVoicePool() const noexcept { return voicePool; }
    const LeslieSimulator& getLeslie() const noexcept { return leslie; }

private:
    // Samples start to end - 1 of the block through the chain.
    void render (const BlockSettings& settings, float* const* channels, int numChannels, int start, int end, const StageTaps& taps);

    RandomSource& random;
    double sampleRate = 44100.0; // Hz
    TonewheelGenerator tonewheels;
    OrganVoicePool voicePool;
    LeslieSimulator leslie;
    RoomReverb reverb;
    float modWheel = 0.0f;   // controller 1 / 127, 0 to 1
    float expression = 1.0f; // controller 11 / 127, 0 to 1
    float focusGain = 1.0f;  // linear, smoothed toward the block's target
    MathMode mathMode = MathMode::fast;
};
