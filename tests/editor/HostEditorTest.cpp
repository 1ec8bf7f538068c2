#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

// The editor of the built VST3 module, opened and closed by a host as a DAW does.
TEST (Vst3Editor, OpensAndClosesInAHost)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, juce::File (BRASSGATE_VST3_PATH).getFullPathName());
    ASSERT_FALSE (found.isEmpty());

    juce::String error;
    auto instance = format.createInstanceFromDescription (*found[0], 48000.0, 512, error);
    ASSERT_NE (instance, nullptr) << error;
    instance->prepareToPlay (48000.0, 512);
    ASSERT_TRUE (instance->hasEditor());

    for (int round = 0; round < 3; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (instance->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor->getWidth(), 700);
        EXPECT_EQ (editor->getHeight(), 520);

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
        instance->processBlock (buffer, midi);
    }
}
