#pragma once

#include "CRTOverlay.h"
#include "DrawbarSlider.h"
#include "OrganButton.h"
#include "OrganLookAndFeel.h"
#include "ParameterTable.h"

#include <juce_audio_utils/juce_audio_utils.h>

#include <array>
#include <memory>

class OrganProcessor;

// The instrument's window, styled as a dark glowing CRT screen whose accent colour
// follows the organ type: organ-type buttons, nine drawbars, percussion and effect
// switches, six knobs, FOCUS and KEYS switches and an optional on-screen keyboard.
// 700 x 520 when it opens and while the keyboard is shown, 700 x 450 without it.
class OrganEditor final : public juce::AudioProcessorEditor,
                          public juce::Timer
{
public:
    explicit OrganEditor (OrganProcessor& processor);
    ~OrganEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Every 100 ms: follows organ-type changes made elsewhere (host automation, a
    // loaded state) and tells the processor whether the editor has the user's attention.
    void timerCallback() override;

    // Shows an organ type (0 B3, 1 FARFISA, 2 VOX, 3 CHURCH) and routes it to the
    // parameter through the hidden organ-type box.
    void setOrganType (int type);
    void updateColours();

private:
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    void setupKnob (juce::Slider& knob, juce::Label& label, const juce::String& caption, const juce::String& suffix);
    void organButtonClicked (int type);
    void keysToggled();

    OrganProcessor& organProcessor;
    OrganLookAndFeel organLookAndFeel;

    OrganButton b3Button { 0, "B3" };
    OrganButton farfisaButton { 1, "FARFISA" };
    OrganButton voxButton { 2, "VOX" };
    OrganButton churchButton { 3, "CHURCH" };
    int currentOrganType = 0;

    std::array<DrawbarSlider, numDrawbars> drawbars;
    std::array<juce::Label, numDrawbars> drawbarLabels;

    juce::Slider driveKnob, volumeKnob, chorusKnob, reverbKnob, leslieKnob, clickKnob;
    juce::Label driveLabel, volumeLabel, chorusLabel, reverbLabel, leslieLabel, clickLabel;

    juce::ToggleButton percButton, percSoftButton, percFastButton;
    juce::ComboBox percHarmonicBox;
    juce::ToggleButton paradiseButton, brakeButton;

    // Never shown: it carries the organ-type parameter's binding, and the organ
    // buttons drive it.
    juce::ComboBox organTypeBox;
    std::unique_ptr<ComboBoxAttachment> organTypeAttachment;

    std::array<std::unique_ptr<DrawbarAttachment>, numDrawbars> drawbarAttachments;
    std::unique_ptr<SliderAttachment> driveAttachment, volumeAttachment, chorusAttachment, reverbAttachment,
        leslieSpeedAttachment, keyClickAttachment;
    std::unique_ptr<ButtonAttachment> percussionAttachment, percSoftAttachment, percFastAttachment;
    std::unique_ptr<ComboBoxAttachment> percHarmonicAttachment;
    std::unique_ptr<ButtonAttachment> paradiseModAttachment, leslieBrakeAttachment;

    juce::ToggleButton focusButton;
    std::unique_ptr<ButtonAttachment> focusModeAttachment;

    // Kept hidden and never added to the window.
    CRTOverlay crtOverlay;

    // Plays into the processor's own keyboard state (OrganProcessor::onScreenKeyboard),
    // which outlives every editor: a block that picked up the state just before the
    // editor closed never uses a destroyed object.
    juce::MidiKeyboardComponent keyboard;
    juce::ToggleButton keysButton;
    bool keyboardVisible = false;

    // The organ type last clicked while the parameter has not yet followed, or -1.
    // A click reaches the parameter only through the hidden box's asynchronous
    // update, so until then the timer must not take the old parameter value back.
    int clickedOrganType = -1;
    std::atomic<float>* organTypeValue = nullptr;

    friend struct OrganEditorTestAccess;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrganEditor)
};
