#include "EditorFixture.h"

#include <thread>

using Drawbars = EditorFixture;

TEST_F (Drawbars, SliderAndParameterMoveEachOtherUpsideDown)
{
    openEditor();
    auto& slider = access->drawbar (3);
    EXPECT_EQ (slider.getValue(), 2.0); // drawbar3 opens at 6

    // Handle position (slider value) and drawbar level (parameter value) in both directions.
    const struct
    {
        double slider;
        float parameter;
    } cases[] = { { 8.0, 0.0f }, { 7.0, 1.0f }, { 3.0, 5.0f }, { 0.0, 8.0f } };

    for (const auto& c : cases)
    {
        slider.setValue (c.slider, juce::sendNotificationSync);
        EXPECT_EQ (raw ("drawbar3"), c.parameter) << "slider " << c.slider;
    }
    for (const auto& c : cases)
    {
        setParameter ("drawbar3", c.parameter);
        EXPECT_EQ (slider.getValue(), c.slider) << "parameter " << c.parameter;
    }
}

TEST_F (Drawbars, AChangeOnTheAudioThreadMovesTheSliderOnlyOnTheMessageThread)
{
    processor.prepareToPlay (48000.0, 256);
    openEditor();
    auto& slider = access->drawbar (0);
    EXPECT_EQ (slider.getValue(), 0.0); // drawbar0 opens at 8

    // MIDI drawbar controllers move drawbar0 during block processing, several times;
    // the last one (controller 41 at 40: 40 / 127 x 8 = 2.5, rounded to 3) counts.
    std::thread audioThread ([this]
    {
        juce::AudioBuffer<float> buffer (2, 256);
        for (int value : { 0, 127, 64, 40 })
        {
            juce::MidiBuffer midi;
            midi.addEvent (juce::MidiMessage::controllerEvent (1, 41, value), 0);
            processor.processBlock (buffer, midi);
        }
    });
    audioThread.join();

    EXPECT_EQ (raw ("drawbar0"), 3.0f);
    EXPECT_EQ (slider.getValue(), 0.0); // untouched until the message thread runs
    ASSERT_TRUE (runMessagesUntil ([&] { return slider.getValue() == 5.0; }));

    // Nothing is sent back: the parameter keeps the controller's value.
    EXPECT_EQ (raw ("drawbar0"), 3.0f);
}

TEST (DrawbarAttachment, AnUnknownParameterLeavesTheSliderUnbound)
{
    OrganProcessor processor;
    DrawbarSlider slider;
    slider.setRange (0.0, 8.0, 1.0);
    slider.setValue (4.0, juce::dontSendNotification);

    auto rawValues = [&]
    {
        std::vector<float> values;
        for (auto* p : processor.getParameters())
            values.push_back (p->getValue());
        return values;
    };
    const auto before = rawValues();
    {
        DrawbarAttachment attachment (processor.parameters, "drawbar9", slider);
        EXPECT_EQ (slider.getValue(), 4.0);
        slider.setValue (1.0, juce::sendNotificationSync);
    }
    EXPECT_EQ (rawValues(), before);
}
