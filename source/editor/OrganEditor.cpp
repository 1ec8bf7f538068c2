#include "OrganEditor.h"

#include "OrganProcessor.h"
#include "ParameterTable.h"

#include <cmath>
#include <memory>
#include <type_traits>

namespace
{
const char* idOf (ParameterIndex::Index index) { return parameterTable[(size_t) index].id; }

constexpr const char* title = "BRASSGATE://ORGAN";
} // namespace

OrganEditor::OrganEditor (OrganProcessor& p)
    : AudioProcessorEditor (p),
      organProcessor (p),
      keyboard (p.onScreenKeyboard, juce::MidiKeyboardComponent::horizontalKeyboard)
{
    auto& state = organProcessor.parameters;

    setLookAndFeel (&organLookAndFeel);
    setSize (700, 520);

    organProcessor.keyboardState.store (&organProcessor.onScreenKeyboard);

    const juce::Colour amber (0xFFFFAA00);
    keyboard.setMidiChannel (1);
    keyboard.setOctaveForMiddleC (4);
    keyboard.setColour (juce::MidiKeyboardComponent::whiteNoteColourId, juce::Colour (0xFF1A1010));
    keyboard.setColour (juce::MidiKeyboardComponent::blackNoteColourId, juce::Colour (0xFF050200));
    keyboard.setColour (juce::MidiKeyboardComponent::keySeparatorLineColourId, juce::Colour (0xFF332200));
    keyboard.setColour (juce::MidiKeyboardComponent::mouseOverKeyOverlayColourId, amber.withAlpha (0.15f));
    keyboard.setColour (juce::MidiKeyboardComponent::keyDownOverlayColourId, amber.withAlpha (0.3f));
    keyboard.setKeyWidth (18.0f);
    keyboard.setAvailableRange (36, 96);
    addAndMakeVisible (keyboard);

    keysButton.setButtonText ("KEYS");
    addAndMakeVisible (keysButton);
    keysButton.onClick = [this] { keysToggled(); };

    organTypeBox.addItem ("B3", 1);
    organTypeBox.addItem ("FARFISA", 2);
    organTypeBox.addItem ("VOX", 3);
    organTypeBox.addItem ("CHURCH", 4);
    addChildComponent (organTypeBox);

    for (auto* button : { &b3Button, &farfisaButton, &voxButton, &churchButton })
    {
        addAndMakeVisible (*button);
        button->onClick = [this] (int type) { organButtonClicked (type); };
    }

    for (int i = 0; i < numDrawbars; ++i)
    {
        auto& drawbar = drawbars[(size_t) i];
        drawbar.setSliderStyle (juce::Slider::LinearVertical);
        drawbar.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        drawbar.setRange (0.0, 8.0, 1.0);
        addAndMakeVisible (drawbar);

        // The drawbar parameters are named by their footage: the same captions.
        const auto& entry = parameterTable[(size_t) (ParameterIndex::drawbar0 + i)];
        auto& label = drawbarLabels[(size_t) i];
        label.setText (entry.name, juce::dontSendNotification);
        label.setFont (OrganLookAndFeel::monospacedFont (8.0f, true));
        label.setColour (juce::Label::textColourId, juce::Colour (0x99FFAA00));
        label.setJustificationType (juce::Justification::centred);
        addAndMakeVisible (label);

        drawbarAttachments[(size_t) i] = std::make_unique<DrawbarAttachment> (state, entry.id, drawbar);
    }

    setupKnob (leslieKnob, leslieLabel, "LESLIE", "%");
    setupKnob (driveKnob, driveLabel, "DRIVE", "%");
    setupKnob (chorusKnob, chorusLabel, "CHORUS", "%");
    setupKnob (reverbKnob, reverbLabel, "REVERB", "%");
    setupKnob (volumeKnob, volumeLabel, "VOLUME", "%");
    setupKnob (clickKnob, clickLabel, "CLICK", "%");

    percButton.setButtonText ("PERC");
    percSoftButton.setButtonText ("SOFT");
    percFastButton.setButtonText ("FAST");
    addAndMakeVisible (percButton);
    addAndMakeVisible (percSoftButton);
    addAndMakeVisible (percFastButton);
    percHarmonicBox.addItem ("2nd", 1);
    percHarmonicBox.addItem ("3rd", 2);
    addAndMakeVisible (percHarmonicBox);
    paradiseButton.setButtonText ("PARADISE");
    brakeButton.setButtonText ("BRAKE");
    addAndMakeVisible (paradiseButton);
    addAndMakeVisible (brakeButton);

    // Binds a control to its parameter with the attachment type the owning
    // pointer holds. A control whose parameter is missing stays unbound rather
    // than failing.
    auto attach = [&state] (auto& attachment, ParameterIndex::Index index, auto& control)
    {
        using Attachment = typename std::decay_t<decltype (attachment)>::element_type;
        if (state.getParameter (idOf (index)) != nullptr)
            attachment = std::make_unique<Attachment> (state, idOf (index), control);
    };

    attach (organTypeAttachment, ParameterIndex::organType, organTypeBox);
    attach (leslieSpeedAttachment, ParameterIndex::leslieSpeed, leslieKnob);
    attach (driveAttachment, ParameterIndex::drive, driveKnob);
    attach (chorusAttachment, ParameterIndex::chorus, chorusKnob);
    attach (reverbAttachment, ParameterIndex::reverb, reverbKnob);
    attach (volumeAttachment, ParameterIndex::volume, volumeKnob);
    attach (keyClickAttachment, ParameterIndex::keyClick, clickKnob);
    attach (percussionAttachment, ParameterIndex::percussion, percButton);
    attach (percSoftAttachment, ParameterIndex::percSoft, percSoftButton);
    attach (percFastAttachment, ParameterIndex::percFast, percFastButton);
    attach (percHarmonicAttachment, ParameterIndex::percHarmonic, percHarmonicBox);
    attach (paradiseModAttachment, ParameterIndex::paradiseMod, paradiseButton);
    attach (leslieBrakeAttachment, ParameterIndex::leslieBrake, brakeButton);

    focusButton.setButtonText ("FOCUS");
    addAndMakeVisible (focusButton);
    attach (focusModeAttachment, ParameterIndex::focusMode, focusButton);

    crtOverlay.setVisible (false);

    organTypeValue = state.getRawParameterValue (idOf (ParameterIndex::organType));
    currentOrganType = organTypeValue != nullptr ? (int) organTypeValue->load() : 0;
    setOrganType (currentOrganType);

    startTimer (100);
}

OrganEditor::~OrganEditor()
{
    organProcessor.keyboardState.store (nullptr);
    organProcessor.releaseOnScreenKeys();
    setLookAndFeel (nullptr);
}

void OrganEditor::setupKnob (juce::Slider& knob, juce::Label& label, const juce::String& caption,
                             const juce::String& suffix)
{
    knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    knob.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 60, 16);
    knob.setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xFFFFAA00));
    knob.setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0x00000000));
    knob.setTextValueSuffix (suffix);
    addAndMakeVisible (knob);

    label.setText (caption, juce::dontSendNotification);
    label.setFont (OrganLookAndFeel::monospacedFont (10.0f, true));
    label.setColour (juce::Label::textColourId, juce::Colour (0xFFFFAA00));
    label.setJustificationType (juce::Justification::centred);
    addAndMakeVisible (label);
}

//==============================================================================
void OrganEditor::organButtonClicked (int type)
{
    clickedOrganType = type;
    setOrganType (type);
}

void OrganEditor::setOrganType (int type)
{
    currentOrganType = type;

    // The box's attachment turns the change into one complete gesture on the
    // parameter, later on the message thread; nothing is sent if the box already
    // shows this type.
    organTypeBox.setSelectedId (type + 1, juce::sendNotificationAsync);

    b3Button.selected = type == 0;
    farfisaButton.selected = type == 1;
    voxButton.selected = type == 2;
    churchButton.selected = type == 3;

    updateColours();

    for (auto* button : { &b3Button, &farfisaButton, &voxButton, &churchButton })
        button->repaint();
    repaint();
}

void OrganEditor::updateColours()
{
    const auto accent = OrganLookAndFeel::organTypeColour (currentOrganType);
    organLookAndFeel.accentColour = accent;

    for (auto* label : { &leslieLabel, &driveLabel, &chorusLabel, &reverbLabel, &volumeLabel, &clickLabel })
        label->setColour (juce::Label::textColourId, accent);

    for (auto& label : drawbarLabels)
        label.setColour (juce::Label::textColourId, accent.withAlpha (0.6f));

    for (auto* knob : { &leslieKnob, &driveKnob, &chorusKnob, &reverbKnob, &volumeKnob, &clickKnob })
    {
        knob->setColour (juce::Slider::textBoxTextColourId, accent);
        knob->repaint();
    }

    for (auto& drawbar : drawbars)
        drawbar.repaint();
    percSoftButton.repaint();
    percFastButton.repaint();
    percHarmonicBox.repaint();
    paradiseButton.repaint();
}

void OrganEditor::timerCallback()
{
    if (organTypeValue != nullptr)
    {
        const int parameterType = (int) organTypeValue->load();

        // A click is settled once the parameter has followed it, or once the box
        // shows another type (a change made after the click won, and the box's
        // attachment has already carried it to the parameter). Until then the
        // parameter still holds the type from before the click.
        if (clickedOrganType >= 0
            && (parameterType == clickedOrganType || organTypeBox.getSelectedId() != clickedOrganType + 1))
            clickedOrganType = -1;

        if (clickedOrganType < 0 && parameterType != currentOrganType)
            setOrganType (parameterType);
    }

    organProcessor.editorAttention.store (hasKeyboardFocus (true) || isMouseOver (true));
}

void OrganEditor::keysToggled()
{
    keyboardVisible = keysButton.getToggleState();
    keyboard.setVisible (keyboardVisible);
    setSize (700, keyboardVisible ? 520 : 450);
    // On the first switch-on the size does not change, so JUCE would not lay out.
    resized();
}

//==============================================================================
void OrganEditor::resized()
{
    auto area = getLocalBounds();

    if (keyboardVisible)
        keyboard.setBounds (area.removeFromBottom (60));

    const int width = getWidth();
    const int bottom = area.getBottom();
    keysButton.setBounds (width - 60, bottom - 18, 50, 16);
    focusButton.setBounds (width - 124, bottom - 18, 58, 16);

    area.removeFromTop (52);    // header
    area.removeFromBottom (20); // footer line
    area.reduce (12, 4);

    auto typeRow = area.removeFromTop (36);
    const int typeCell = typeRow.getWidth() / 4;
    b3Button.setBounds (typeRow.removeFromLeft (typeCell).reduced (3));
    farfisaButton.setBounds (typeRow.removeFromLeft (typeCell).reduced (3));
    voxButton.setBounds (typeRow.removeFromLeft (typeCell).reduced (3));
    churchButton.setBounds (typeRow.reduced (3));

    area.removeFromTop (22); // drawbar heading and controller line

    auto drawbarSection = area.removeFromLeft (area.getWidth() * 3 / 5);
    const int column = drawbarSection.getWidth() / numDrawbars;
    for (size_t i = 0; i < drawbars.size(); ++i)
    {
        auto drawbarColumn = drawbarSection.removeFromLeft (column);
        drawbarLabels[i].setBounds (drawbarColumn.removeFromBottom (14));
        drawbars[i].setBounds (drawbarColumn.reduced (2, 0));
    }

    area.removeFromLeft (12);

    auto switchRow = area.removeFromTop (26);
    const int switchCell = switchRow.getWidth() / 5;
    percButton.setBounds (switchRow.removeFromLeft (switchCell).reduced (1));
    percSoftButton.setBounds (switchRow.removeFromLeft (switchCell).reduced (1));
    percFastButton.setBounds (switchRow.removeFromLeft (switchCell).reduced (1));
    percHarmonicBox.setBounds (switchRow.removeFromLeft (switchCell).reduced (1));
    paradiseButton.setBounds (switchRow.reduced (1));

    area.removeFromTop (2);
    brakeButton.setBounds (area.removeFromTop (22).removeFromLeft (70));
    area.removeFromTop (4);

    const int knobColumn = area.getWidth() / 3;
    auto placeRow = [knobColumn] (juce::Rectangle<int> row, std::initializer_list<std::pair<juce::Label*, juce::Slider*>> cells)
    {
        int n = 0;
        for (auto [label, knob] : cells)
        {
            auto cell = ++n < 3 ? row.removeFromLeft (knobColumn) : row;
            label->setBounds (cell.removeFromTop (14));
            knob->setBounds (cell);
        }
    };
    placeRow (area.removeFromTop (area.getHeight() / 2),
              { { &leslieLabel, &leslieKnob }, { &driveLabel, &driveKnob }, { &chorusLabel, &chorusKnob } });
    placeRow (area, { { &reverbLabel, &reverbKnob }, { &clickLabel, &clickKnob }, { &volumeLabel, &volumeKnob } });
}

//==============================================================================
void OrganEditor::paint (juce::Graphics& g)
{
    const int width = getWidth(), height = getHeight();
    const auto w = (float) width, h = (float) height;
    const auto accent = OrganLookAndFeel::organTypeColour (currentOrganType);
    const auto font = OrganLookAndFeel::monospacedFont;
    const auto centred = juce::Justification::centred;
    const auto centredLeft = juce::Justification::centredLeft;

    g.fillAll (juce::Colour (0xFF1A0A02));

    // A faint wavy raster, as of a screen slightly out of adjustment.
    g.setColour (juce::Colour (0xFF0F0600).withAlpha (0.3f));
    for (int y = 0; y < height; y += 8)
    {
        const float shift = 3.0f * std::sin (0.05f * (float) y);
        g.drawHorizontalLine (y, shift, w + shift);
    }

    // Header band with its glow and rule.
    g.setColour (juce::Colour (0xDD0A0400));
    g.fillRect (0, 0, width, 48);
    g.setColour (accent.withAlpha (0.06f));
    g.fillRect (juce::Rectangle<float> (0.0f, 45.0f, w, 6.0f));
    g.setColour (accent.withAlpha (0.5f));
    g.drawHorizontalLine (48, 0.0f, w);

    // The title over a halo of 25 faint copies, then a light highlight on it.
    g.setFont (font (22.0f, true));
    g.setColour (accent.withAlpha (0.03f));
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = 6; dy <= 10; ++dy)
            g.drawText (title, juce::Rectangle<float> ((float) dx, (float) dy, w, 34.0f), centred, true);
    g.setColour (accent);
    g.drawText (title, juce::Rectangle<float> (0.0f, 8.0f, w, 34.0f), centred, true);
    g.setColour (juce::Colour (0xFFFFEECC).withAlpha (0.12f));
    g.drawText (title, juce::Rectangle<float> (0.0f, 8.0f, w, 34.0f), centred, true);

    g.setFont (font (9.0f, false));
    g.setColour (accent.withAlpha (0.4f));
    g.drawText ("TONEWHEEL + LESLIE", juce::Rectangle<float> (10.0f, 4.0f, 180.0f, 12.0f), centredLeft, true);
    g.drawText ("v" JucePlugin_VersionString, juce::Rectangle<float> (w - 60.0f, 4.0f, 50.0f, 12.0f), juce::Justification::centredRight, true);

    g.setFont (font (10.0f, true));
    g.setColour (accent.withAlpha (0.5f));
    g.drawText ("// DRAWBARS", juce::Rectangle<float> (16.0f, 90.0f, 120.0f, 14.0f), centredLeft, true);

    g.setFont (font (8.0f, false));
    g.setColour (accent.withAlpha (0.25f));
    g.drawText ("MW: SLOW|BRAKE|FAST // FADERS: CC21-29", juce::Rectangle<float> (16.0f, 102.0f, 340.0f, 12.0f),
                centredLeft, true);

    // Frame and corner brackets.
    g.setColour (accent.withAlpha (0.35f));
    g.drawRect (juce::Rectangle<float> (0.0f, 0.0f, w, h), 1.0f);
    g.setColour (accent.withAlpha (0.4f));
    g.drawLine (0.0f, 0.0f, 14.0f, 0.0f, 2.0f);
    g.drawLine (0.0f, 0.0f, 0.0f, 14.0f, 2.0f);
    g.drawLine (w - 14.0f, 0.0f, w, 0.0f, 2.0f);
    g.drawLine (w, 0.0f, w, 14.0f, 2.0f);
    g.drawLine (0.0f, h, 14.0f, h, 2.0f);
    g.drawLine (0.0f, h - 14.0f, 0.0f, h, 2.0f);
    g.drawLine (w - 14.0f, h, w, h, 2.0f);
    g.drawLine (w, h - 14.0f, w, h, 2.0f);

    g.setFont (font (8.0f, false));
    g.setColour (accent.withAlpha (0.2f));
    g.drawText ("91 TONEWHEELS // LESLIE SIMULATION // TUBE/FUZZ/CRUNCH",
                juce::Rectangle<float> (10.0f, h - 16.0f, w - 20.0f, 12.0f), centred, true);

    // Scan lines and a dark vignette toward the corners.
    g.setColour (juce::Colours::black.withAlpha (0.06f));
    for (int y = 0; y < height; y += 3)
        g.fillRect (0, y, width, 1);

    juce::ColourGradient vignette (juce::Colour (0x00000000), w * 0.5f, h * 0.5f,
                                   juce::Colours::black.withAlpha (0.4f), 0.0f, 0.0f, true);
    vignette.addColour (0.65, juce::Colour (0x00000000));
    g.setGradientFill (vignette);
    g.fillRect (0, 0, width, height);
}
