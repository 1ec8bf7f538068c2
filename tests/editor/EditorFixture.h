#pragma once

#include "OrganEditor.h"
#include "OrganProcessor.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace juce
{
// JUCE's own step of the message loop (what MessageManager::runDispatchLoopUntil
// runs, which a plug-in build leaves out): handles one pending message.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

// Runs the message loop until the condition holds; false if it still fails after
// a generous deadline (a guard against hanging, not a timing requirement).
template <typename Condition>
bool runMessagesUntil (Condition&& condition, juce::uint32 deadlineMs = 5000)
{
    const auto end = juce::Time::getMillisecondCounter() + deadlineMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    }
    return true;
}

// The editor's children, by name, for the tests.
struct OrganEditorTestAccess
{
    explicit OrganEditorTestAccess (OrganEditor& e) : editor (e) {}

    OrganButton& organButton (int type)
    {
        OrganButton* buttons[] = { &editor.b3Button, &editor.farfisaButton, &editor.voxButton, &editor.churchButton };
        return *buttons[type];
    }

    std::array<bool, 4> selectedButtons()
    {
        return { editor.b3Button.selected, editor.farfisaButton.selected, editor.voxButton.selected,
                 editor.churchButton.selected };
    }

    juce::Colour accent() const { return editor.organLookAndFeel.accentColour; }
    int shownType() const { return editor.currentOrganType; }
    DrawbarSlider& drawbar (int i) { return editor.drawbars[(size_t) i]; }
    juce::ToggleButton& keysButton() { return editor.keysButton; }
    juce::MidiKeyboardComponent& keyboard() { return editor.keyboard; }
    juce::Slider& leslieKnob() { return editor.leslieKnob; }

    // Every laid-out child, with its name.
    std::vector<std::pair<juce::String, juce::Component*>> namedChildren()
    {
        auto& e = editor;
        std::vector<std::pair<juce::String, juce::Component*>> all {
            { "keysButton", &e.keysButton },         { "focusButton", &e.focusButton },
            { "b3Button", &e.b3Button },             { "farfisaButton", &e.farfisaButton },
            { "voxButton", &e.voxButton },           { "churchButton", &e.churchButton },
            { "percButton", &e.percButton },         { "percSoftButton", &e.percSoftButton },
            { "percFastButton", &e.percFastButton }, { "percHarmonicBox", &e.percHarmonicBox },
            { "paradiseButton", &e.paradiseButton }, { "brakeButton", &e.brakeButton },
            { "leslieLabel", &e.leslieLabel },       { "leslieKnob", &e.leslieKnob },
            { "driveLabel", &e.driveLabel },         { "driveKnob", &e.driveKnob },
            { "chorusLabel", &e.chorusLabel },       { "chorusKnob", &e.chorusKnob },
            { "reverbLabel", &e.reverbLabel },       { "reverbKnob", &e.reverbKnob },
            { "clickLabel", &e.clickLabel },         { "clickKnob", &e.clickKnob },
            { "volumeLabel", &e.volumeLabel },       { "volumeKnob", &e.volumeKnob },
        };
        for (int i = 0; i < 9; ++i)
        {
            all.push_back ({ "drawbar" + juce::String (i), &e.drawbars[(size_t) i] });
            all.push_back ({ "drawbarLabel" + juce::String (i), &e.drawbarLabels[(size_t) i] });
        }
        return all;
    }

    OrganEditor& editor;
};

// A processor with an open editor, as a host holds them.
struct EditorFixture : testing::Test
{
    void openEditor()
    {
        editor.reset (static_cast<OrganEditor*> (processor.createEditorIfNeeded()));
        access = std::make_unique<OrganEditorTestAccess> (*editor);
    }

    void TearDown() override
    {
        access.reset();
        editor.reset();
    }

    void setParameter (const char* id, float plainValue)
    {
        auto* p = processor.parameters.getParameter (id);
        p->setValueNotifyingHost (p->convertTo0to1 (plainValue));
    }

    float raw (const char* id) { return processor.parameters.getRawParameterValue (id)->load(); }

    // One tick of the editor's 100 ms timer, run now.
    void tick() { static_cast<juce::Timer&> (*editor).timerCallback(); }

    OrganProcessor processor;
    std::unique_ptr<OrganEditor> editor;
    std::unique_ptr<OrganEditorTestAccess> access;
};

inline juce::MouseEvent mouseEventOn (juce::Component& c)
{
    const auto centre = c.getLocalBounds().getCentre().toFloat();
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), centre, {},
                             juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now, centre,
                             now, 1, false);
}

// Clicks a toggle button the way the mouse does, and lets its click arrive.
inline void clickAndWait (juce::Button& button)
{
    const bool before = button.getToggleState();
    button.triggerClick();
    ASSERT_TRUE (runMessagesUntil ([&] { return button.getToggleState() != before; }));
}
