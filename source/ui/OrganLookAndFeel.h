#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's CRT-terminal style. Toggle buttons, linear sliders (drawn as organ
// drawbars) and rotary sliders (drawn as glowing knobs) are drawn in one accent
// colour, which the editor sets from the organ type. Combo boxes keep the base
// class's colours but get a narrow arrow and a smaller font, so that a short
// choice ("2nd", "3rd") stays readable in a small box; everything else keeps the
// base class's look.
class OrganLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OrganLookAndFeel();

    void drawToggleButton (juce::Graphics& g, juce::ToggleButton& button,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                           float sliderPos, float minSliderPos, float maxSliderPos,
                           juce::Slider::SliderStyle style, juce::Slider& slider) override;

    void drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                           float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                           juce::Slider& slider) override;

    void drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown,
                       int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box) override;
    void positionComboBoxText (juce::ComboBox& box, juce::Label& label) override;
    juce::Font getComboBoxFont (juce::ComboBox& box) override;

    // The default monospaced typeface at a height, plain or bold: all text of the
    // editor is set in it.
    static juce::Font monospacedFont (float height, bool bold);

    // The colour of each organ type (0 "B3", 1 "FARFISA", 2 "VOX", 3 "CHURCH"):
    // its button's, and the editor's accent while it is chosen.
    static juce::Colour organTypeColour (int type);

    juce::Colour accentColour = organTypeColour (0);
};
