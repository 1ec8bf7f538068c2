#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// One of the nine drawbars: a vertical slider with whole steps 0 to 8, drawn as an
// organ drawbar by OrganLookAndFeel. A type of its own so that only drawbars take
// a DrawbarAttachment.
class DrawbarSlider : public juce::Slider
{
public:
    DrawbarSlider() = default;
};

// Binds a DrawbarSlider to its drawbar parameter upside down, as a real drawbar
// works: the handle at the top (slider 8) silences the drawbar, pulling it down
// raises the level, so slider = 8 - parameter.
//
// The parameter may change on the audio thread (a MIDI drawbar controller does it
// while a block is processed). The slider is only ever touched on the message
// thread: a change from another thread is handed over with an asynchronous update,
// which shows the parameter's latest value when it runs.
class DrawbarAttachment final : public juce::AudioProcessorValueTreeState::Listener,
                                public juce::Slider::Listener,
                                private juce::AsyncUpdater
{
public:
    DrawbarAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID,
                       DrawbarSlider& slider);
    ~DrawbarAttachment() override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    void sliderValueChanged (juce::Slider* slider) override;
    // Drags send no change gestures; each whole step reaches the host as it is made.
    void sliderDragStarted (juce::Slider*) override {}
    void sliderDragEnded (juce::Slider*) override {}

private:
    void handleAsyncUpdate() override;
    void showParameterValue (float value);

    juce::AudioProcessorValueTreeState& state;
    juce::String parameterID;
    DrawbarSlider& slider;

    juce::RangedAudioParameter* parameter = nullptr;
    std::atomic<float>* rawValue = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DrawbarAttachment)
};
