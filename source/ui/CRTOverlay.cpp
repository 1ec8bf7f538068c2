#include "CRTOverlay.h"

#include <cmath>

using juce::uint8;

CRTOverlay::CRTOverlay()
{
    setInterceptsMouseClicks (false, false);
    startTimer (33);
}

void CRTOverlay::paint (juce::Graphics& g)
{
    const auto width = (float) getWidth();
    const auto height = (float) getHeight();

    g.setColour (juce::Colours::black.withAlpha ((uint8) 20));
    for (int y = 0; y < getHeight(); y += 3)
        g.fillRect (0, y, getWidth(), 1);

    // A 120-pixel band, brightest in its middle.
    const float bandTop = std::fmod (scanPosition, height + 120.0f) - 40.0f;
    juce::ColourGradient band (juce::Colours::white.withAlpha ((uint8) 0), 0.0f, bandTop - 20.0f,
                               juce::Colours::white.withAlpha ((uint8) 0), 0.0f, bandTop + 100.0f, false);
    band.addColour (0.5, juce::Colours::white.withAlpha ((uint8) 5));
    g.setGradientFill (band);
    g.fillRect (juce::Rectangle<float> (0.0f, bandTop - 20.0f, width, 120.0f));

    juce::ColourGradient vignette (juce::Colour (0x00000000), width * 0.5f, height * 0.5f,
                                   juce::Colours::black.withAlpha ((uint8) 115), 0.0f, 0.0f, true);
    vignette.addColour (0.65, juce::Colour (0x00000000));
    g.setGradientFill (vignette);
    g.fillRect (getLocalBounds());
}

void CRTOverlay::timerCallback()
{
    scanPosition += 2.0f;
    if (scanPosition > (float) getHeight() + 160.0f)
        scanPosition = -40.0f;
    repaint();
}
