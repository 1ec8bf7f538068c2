#include "OrganEditor.h"

#include "OrganProcessor.h"

OrganEditor::OrganEditor (OrganProcessor& p)
    : AudioProcessorEditor (p),
      organProcessor (p),
      parameterView (p),
      keyboard (p.onScreenKeyboard, juce::MidiKeyboardComponent::horizontalKeyboard)
{
    addAndMakeVisible (parameterView);
    addAndMakeVisible (keyboard);
    organProcessor.keyboardState.store (&organProcessor.onScreenKeyboard);
    setSize (700, 520);
    startTimer (100);
}

OrganEditor::~OrganEditor()
{
    organProcessor.keyboardState.store (nullptr);
}

void OrganEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
}

void OrganEditor::resized()
{
    parameterView.setBounds (0, 0, getWidth(), getHeight() - 60);
    keyboard.setBounds (0, getHeight() - 60, getWidth(), 60);
}

void OrganEditor::timerCallback()
{
    organProcessor.editorAttention.store (true);
}
