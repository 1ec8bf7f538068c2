#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

// The lit selector button of one organ type. It glows in the type's colour,
// brightens under the mouse and glows strongly while selected. A click only
// reports the button's index through onClick: the editor decides what is selected.
class OrganButton : public juce::Component
{
public:
    OrganButton (int index, const juce::String& text);

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void paint (juce::Graphics& g) override;

    bool selected = false;
    const int index;
    const juce::String text;
    std::function<void (int)> onClick;
    bool hover = false;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrganButton)
};
