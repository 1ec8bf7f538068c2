#pragma once

#include "LinearCongruentialDraws.h"
#include "OrganEngine.h"
#include "ParameterTable.h"
#include "RandomSource.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// The instrument as a host drives it: the parameters and their snapshot for each
// block, the MIDI controllers that move parameters, the organ engine that makes
// the sound, the saved state and the link to the editor.
class OrganProcessor final : public juce::AudioProcessor
{
public:
    OrganProcessor();
    ~OrganProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double newSampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using AudioProcessor::processBlock;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    juce::AudioProcessorValueTreeState parameters;

    // Starts the voice organs' random draws from a seed, so that a render can
    // be repeated exactly (a new instance starts from a seed of its own).
    void setRandomSeed (juce::int64 seed) { random.setSeed (seed); }

private:
    juce::Random random;

public:
    // The on-screen keyboard's state. The editor publishes it here while it is open
    // and clears it first thing when it closes; the audio thread reads it once per
    // block. The state itself is owned by the processor (onScreenKeyboard below),
    // so a block that loaded the pointer just before the editor closed still uses a
    // live object.
    std::atomic<juce::MidiKeyboardState*> keyboardState { nullptr };
    juce::MidiKeyboardState onScreenKeyboard;

    // Stored by the editor's timer: is anybody looking at the instrument?
    std::atomic<bool> editorAttention { true };

    // Called by a closing editor after it has cleared keyboardState: keys still held
    // down on the on-screen keyboard are released, and the next block delivers their
    // note-offs, so that no note is left sounding.
    void releaseOnScreenKeys();

private:
    // Controllers 1 (type "B3"), 64 (type "B3"), 80, 21 to 29 and 41 to 49 move
    // parameters, heard from the next block on.
    void moveParametersByController (const juce::uint8* data, int size, int organType);
    void setParameterNormalised (int index, float normalisedValue);

    std::atomic<bool> onScreenKeysToFlush { false }; // note-offs of a closed editor wait in onScreenKeyboard

    // The voice organs draw their random numbers from `random` through this.
    struct ProcessorRandom final : RandomSource
    {
        explicit ProcessorRandom (juce::Random& r) : source (r) {}
        float nextFloat() override { return source.nextFloat(); }
        bool nextBool() override { return source.nextBool(); }
        // The same sequence as rows x columns calls of nextFloat, worked out
        // many at a time (the jumps for a shape are prepared when it changes).
        void nextFloatsByColumns (float* out, int rows, int columns) override
        {
            if (byColumns.isPreparedFor (rows, columns) || byColumns.prepare (rows, columns))
                source.setSeed (byColumns.nextFloats (source.getSeed(), out));
            else
                RandomSource::nextFloatsByColumns (out, rows, columns);
        }
        juce::Random& source;
        LinearCongruentialDraws::ByColumns byColumns;
    };
    ProcessorRandom randomSource { random };
    OrganEngine engine { randomSource };

    // Raw values of the parameters, resolved once so the audio thread never looks up IDs.
    std::array<std::atomic<float>*, numParameters> rawValues {};
    std::array<juce::RangedAudioParameter*, numParameters> parameterObjects {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrganProcessor)
};
