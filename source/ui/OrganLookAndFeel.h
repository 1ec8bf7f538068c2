#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's CRT-terminal style. Toggle buttons, linear sliders (drawn as organ
// drawbars) and rotary sliders (drawn as glowing knobs) are drawn in one accent
// colour, which the editor sets from the organ type; everything else keeps the
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

    // The default monospaced typeface at a height, plain or bold: all text of the
    // editor is set in it.
    static juce::Font monospacedFont (float height, bool bold);

    juce::Colour accentColour { 0xFFFFAA00 };
};
