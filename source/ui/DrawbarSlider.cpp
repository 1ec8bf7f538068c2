#include "DrawbarSlider.h"

DrawbarAttachment::DrawbarAttachment (juce::AudioProcessorValueTreeState& s, const juce::String& id,
                                      DrawbarSlider& sliderToControl)
    : state (s),
      parameterID (id),
      slider (sliderToControl),
      parameter (s.getParameter (id)),
      rawValue (s.getRawParameterValue (id))
{
    if (parameter != nullptr)
        slider.setValue (8.0 - 8.0 * (double) parameter->getValue(), juce::dontSendNotification);

    slider.addListener (this);
    state.addParameterListener (parameterID, this);
}

DrawbarAttachment::~DrawbarAttachment()
{
    // The parameter tree calls its listeners under its own lock, so once this
    // returns no other thread is inside parameterChanged any more; the base class
    // then cancels an update still waiting for the message thread.
    state.removeParameterListener (parameterID, this);
    slider.removeListener (this);
}

void DrawbarAttachment::parameterChanged (const juce::String&, float newValue)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        cancelPendingUpdate();
        showParameterValue (newValue);
    }
    else
    {
        triggerAsyncUpdate();
    }
}

void DrawbarAttachment::handleAsyncUpdate()
{
    // Several changes may have arrived since the update was triggered: show the latest.
    if (rawValue != nullptr)
        showParameterValue (rawValue->load());
}

void DrawbarAttachment::showParameterValue (float value)
{
    const double target = 8.0 - (double) value;
    if (std::abs (slider.getValue() - target) > 0.01)
        slider.setValue (target, juce::dontSendNotification);
}

void DrawbarAttachment::sliderValueChanged (juce::Slider*)
{
    const float normalised = (8.0f - (float) slider.getValue()) * 0.125f;
    if (parameter != nullptr)
        parameter->setValueNotifyingHost (normalised);
}
