#include "OrganLookAndFeel.h"

using juce::uint8;

OrganLookAndFeel::OrganLookAndFeel() = default;

juce::Font OrganLookAndFeel::monospacedFont (float height, bool bold)
{
    return juce::Font (juce::Font::getDefaultMonospacedFontName(), height,
                       bold ? juce::Font::bold : juce::Font::plain);
}

void OrganLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool)
{
    const auto w = (float) juce::jmax (0, button.getWidth() - 4);
    const auto h = (float) juce::jmax (0, button.getHeight() - 4);
    const juce::Rectangle<float> area (2.0f, 2.0f, w, h);
    const bool on = button.getToggleState();

    g.setColour (on ? accentColour.withAlpha ((uint8) 26) : juce::Colour (0xFF0C0400));
    g.fillRoundedRectangle (area, 4.0f);
    g.setColour (on ? accentColour : accentColour.withAlpha ((uint8) 76));
    g.drawRoundedRectangle (area, 4.0f, 1.5f);

    g.setFont (monospacedFont (10.0f, true));
    g.setColour (on ? accentColour : accentColour.withAlpha ((uint8) 128));
    // The switches are narrow for their label and state at this size: the text is
    // squeezed before it is shortened, so that the state stays readable.
    g.drawFittedText (button.getButtonText() + (on ? "://ON" : "://OFF"), area.toNearestInt(),
                      juce::Justification::centred, 1, 0.6f);
}

void OrganLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height,
                                         float sliderPos, float, float, juce::Slider::SliderStyle, juce::Slider&)
{
    const auto left = (float) x, top = (float) y, w = (float) width, h = (float) height;

    // The slot the drawbar runs in, at most 16 pixels wide.
    const float slotWidth = juce::jmin (w * 0.5f, 16.0f);
    const float slotLeft = left + w * 0.5f - slotWidth * 0.5f;
    const juce::Rectangle<float> slot (slotLeft, top, slotWidth, h);
    g.setColour (juce::Colour (0xFF050200));
    g.fillRoundedRectangle (slot, 3.0f);
    g.setColour (accentColour.withAlpha ((uint8) 20));
    g.drawRoundedRectangle (slot, 3.0f, 0.5f);

    // Nine scale marks on both sides of the slot, one per handle position.
    g.setColour (accentColour.withAlpha ((uint8) 31));
    for (int i = 0; i <= 8; ++i)
    {
        const int row = (int) ((top + h) - (float) i * 0.125f * h);
        g.drawHorizontalLine (row, slotLeft - 3.0f, slotLeft);
        g.drawHorizontalLine (row, slotLeft + slotWidth, slotLeft + slotWidth + 3.0f);
    }

    // The handle: 18 pixels tall, centred on the slider position, in a faint halo.
    const float handleWidth = slotWidth + 8.0f;
    const float handleTop = sliderPos - 9.0f;
    const float handleLeft = left + w * 0.5f - handleWidth * 0.5f;
    g.setColour (accentColour.withAlpha ((uint8) 15));
    g.fillRoundedRectangle (handleLeft - 2.0f, handleTop - 2.0f, handleWidth + 4.0f, 22.0f, 5.0f);
    g.setColour (juce::Colour (0xFF2A1800));
    g.fillRoundedRectangle (handleLeft, handleTop, handleWidth, 18.0f, 3.0f);
    g.setColour (accentColour.withAlpha ((uint8) 153));
    g.drawRoundedRectangle (handleLeft, handleTop, handleWidth, 18.0f, 3.0f, 1.5f);

    if (handleLeft + handleWidth - 3.0f > handleLeft + 3.0f)
    {
        g.setColour (accentColour);
        g.drawHorizontalLine ((int) (handleTop + 9.0f), handleLeft + 3.0f, handleLeft + handleWidth - 3.0f);
    }
}

void OrganLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                         float sliderPosProportional, float rotaryStartAngle, float rotaryEndAngle,
                                         juce::Slider&)
{
    const float areaWidth = juce::jmax ((float) width - 16.0f, 0.0f);
    const float areaHeight = juce::jmax ((float) height - 16.0f, 0.0f);
    const float radius = juce::jmin (areaWidth, areaHeight) * 0.5f;
    const float cx = (float) x + 8.0f + areaWidth * 0.5f;
    const float cy = (float) y + 8.0f + areaHeight * 0.5f;
    const float angle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);

    // Three faint rings outside the body, fainter further out.
    for (int k = 3; k >= 1; --k)
    {
        const float ring = radius + 2.0f * (float) k;
        g.setColour (accentColour.withAlpha ((uint8) (5 * k)));
        g.drawEllipse (cx - ring, cy - ring, ring * 2.0f, ring * 2.0f, 2.0f);
    }

    g.setColour (juce::Colour (0xFF1A0A02));
    g.fillEllipse (cx - radius, cy - radius, radius * 2.0f, radius * 2.0f);

    const juce::PathStrokeType::JointStyle curved = juce::PathStrokeType::curved;
    const juce::PathStrokeType::EndCapStyle rounded = juce::PathStrokeType::rounded;

    juce::Path track;
    track.addCentredArc (cx, cy, radius, radius, 0.0f, rotaryStartAngle, rotaryEndAngle, true);
    g.setColour (accentColour.withAlpha ((uint8) 20));
    g.strokePath (track, juce::PathStrokeType (2.5f, curved, rounded));

    // The value arc: a wide glow, the arc itself and a thin bright core.
    juce::Path value;
    value.addCentredArc (cx, cy, radius, radius, 0.0f, rotaryStartAngle, angle, true);
    g.setColour (accentColour.withAlpha ((uint8) 15));
    g.strokePath (value, juce::PathStrokeType (10.0f, curved, rounded));
    g.setColour (accentColour);
    g.strokePath (value, juce::PathStrokeType (2.5f, curved, rounded));
    g.setColour (juce::Colour (0x26FFEECC));
    g.strokePath (value, juce::PathStrokeType (0.8f, curved, rounded));

    const float length = radius * 0.7f;
    const float endX = cx + std::sin (angle) * length;
    const float endY = cy - std::cos (angle) * length;
    const auto pointer = accentColour.brighter (0.3f);
    g.setColour (pointer.withAlpha ((uint8) 38));
    g.drawLine (cx, cy, endX, endY, 5.0f);
    g.setColour (pointer);
    g.drawLine (cx, cy, endX, endY, 2.0f);

    g.setColour (accentColour);
    g.fillEllipse (cx - 3.0f, cy - 3.0f, 6.0f, 6.0f);
}

void OrganLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool, int, int, int, int,
                                     juce::ComboBox& box)
{
    const auto bounds = juce::Rectangle<float> (0.0f, 0.0f, (float) width, (float) height).reduced (0.5f);
    g.setColour (box.findColour (juce::ComboBox::backgroundColourId));
    g.fillRoundedRectangle (bounds, 3.0f);
    g.setColour (box.findColour (juce::ComboBox::outlineColourId));
    g.drawRoundedRectangle (bounds, 3.0f, 1.0f);

    const juce::Rectangle<float> arrow ((float) width - 13.0f, 0.0f, 8.0f, (float) height);
    juce::Path path;
    path.startNewSubPath (arrow.getX(), arrow.getCentreY() - 2.0f);
    path.lineTo (arrow.getCentreX(), arrow.getCentreY() + 2.0f);
    path.lineTo (arrow.getRight(), arrow.getCentreY() - 2.0f);
    g.setColour (box.findColour (juce::ComboBox::arrowColourId).withAlpha (box.isEnabled() ? 0.9f : 0.2f));
    g.strokePath (path, juce::PathStrokeType (2.0f));
}

void OrganLookAndFeel::positionComboBoxText (juce::ComboBox& box, juce::Label& label)
{
    label.setBounds (1, 1, box.getWidth() - 15, box.getHeight() - 2);
    label.setBorderSize ({ 1, 3, 1, 1 });
    label.setFont (getComboBoxFont (box));
}

juce::Font OrganLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return monospacedFont (12.0f, true);
}

juce::Colour OrganLookAndFeel::organTypeColour (int type)
{
    switch (type)
    {
        case 1: return juce::Colour (0xFFFF2222); // FARFISA: red
        case 2: return juce::Colour (0xFF2299FF); // VOX: blue
        case 3: return juce::Colour (0xFFFFDD44); // CHURCH: yellow
        default: return juce::Colour (0xFFFFAA00); // B3 and anything else: amber
    }
}
