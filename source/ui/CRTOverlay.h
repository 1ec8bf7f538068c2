#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A transparent full-area layer in the style of a CRT screen: scan lines, a light
// band that drifts slowly downwards and a dark vignette, animated by its own timer.
// It lets every mouse click through to what lies below.
class CRTOverlay : public juce::Component,
                   public juce::Timer
{
public:
    CRTOverlay();

    void paint (juce::Graphics& g) override;
    void timerCallback() override;

    // Top of the light band's travel, in pixels: from -40 down to H + 160, then again.
    float getScanPosition() const noexcept { return scanPosition; }

private:
    float scanPosition = 0.0f;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CRTOverlay)
};
