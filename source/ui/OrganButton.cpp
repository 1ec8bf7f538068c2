#include "OrganButton.h"

#include "OrganLookAndFeel.h"

using juce::uint8;

OrganButton::OrganButton (int buttonIndex, const juce::String& buttonText)
    : index (buttonIndex), text (buttonText)
{
}

void OrganButton::mouseEnter (const juce::MouseEvent&)
{
    hover = true;
    repaint();
}

void OrganButton::mouseExit (const juce::MouseEvent&)
{
    hover = false;
    repaint();
}

void OrganButton::mouseDown (const juce::MouseEvent&)
{
    if (onClick)
        onClick (index);
}

void OrganButton::paint (juce::Graphics& g)
{
    const auto colour = OrganLookAndFeel::organTypeColour (index);
    const auto w = (float) juce::jmax (0, getWidth() - 4);
    const auto h = (float) juce::jmax (0, getHeight() - 4);
    const juce::Rectangle<float> area (2.0f, 2.0f, w, h);
    const auto centred = juce::Justification::centred;

    if (selected)
    {
        g.setColour (colour.withAlpha ((uint8) 31));
        g.fillRoundedRectangle (area, 6.0f);
        g.setColour (colour.withAlpha ((uint8) 15));
        g.drawRoundedRectangle (area, 6.0f, 6.0f);
        g.setColour (colour);
        g.drawRoundedRectangle (area, 6.0f, 1.5f);
    }
    else if (hover)
    {
        g.setColour (colour.withAlpha ((uint8) 10));
        g.fillRoundedRectangle (area, 6.0f);
        g.setColour (colour.withAlpha ((uint8) 51));
        g.drawRoundedRectangle (area, 6.0f, 1.0f);
    }
    else
    {
        g.setColour (colour.withAlpha ((uint8) 15));
        g.drawRoundedRectangle (area, 6.0f, 0.5f);
    }

    g.setFont (OrganLookAndFeel::monospacedFont (selected ? 14.0f : 12.0f, true));
    g.setColour (colour.withAlpha ((uint8) (selected ? 255 : hover ? 153 : 76)));

    if (selected)
    {
        // A faint copy one pixel above and below blurs the label into a glow; the
        // label itself follows, and a faint white film over it (below) lights it up.
        g.setColour (colour.withAlpha ((uint8) 38));
        g.drawText (text, area.translated (0.0f, -1.0f), centred, true);
        g.drawText (text, area.translated (0.0f, 1.0f), centred, true);
        g.setColour (colour);
        g.drawText (text, area, centred, true);
        g.setColour (juce::Colours::white.withAlpha ((uint8) 38));
    }

    g.drawText (text, area, centred, true);

    g.setColour (juce::Colours::black.withAlpha ((uint8) 10));
    for (int y = 0; y < getHeight(); y += 3)
        g.fillRect (0, y, getWidth(), 1);
}
