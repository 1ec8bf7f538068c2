#pragma once

#include <juce_audio_utils/juce_audio_utils.h>

class OrganProcessor;

// The instrument's window: a generic view of the parameters and the on-screen keyboard.
class OrganEditor final : public juce::AudioProcessorEditor,
                          private juce::Timer
{
public:
    explicit OrganEditor (OrganProcessor& processor);
    ~OrganEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override;

    OrganProcessor& organProcessor;
    juce::GenericAudioProcessorEditor parameterView;
    juce::MidiKeyboardComponent keyboard;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrganEditor)
};
