#include "FactoryPresets.h"
#include "PluginLoading.h"

#include <gtest/gtest.h>

#include <set>

// The factory presets as hosts load them: each .vstpreset file applied to the
// built VST3 through JUCE's VST3 hosting, the way a DAW's preset browser does.
namespace
{
const FactoryPreset* presetNamed (const juce::String& name)
{
    for (const auto& p : factoryPresets)
        if (name == p.name)
            return &p;
    return nullptr;
}

struct PresetLoader final : juce::ExtensionsVisitor
{
    explicit PresetLoader (const juce::MemoryBlock& file) : data (file) {}
    void visitVST3Client (const VST3Client& client) override { loaded = client.setPreset (data); }
    const juce::MemoryBlock& data;
    bool loaded = false;
};

juce::Array<juce::File> presetFiles()
{
    return juce::File (BRASSGATE_VST3_PRESETS).findChildFiles (juce::File::findFiles, false, "*.vstpreset");
}
} // namespace

TEST (FactoryPresets, EveryFileSetsItsRegistration)
{
    const auto files = presetFiles();
    ASSERT_EQ (files.size(), numFactoryPresets);

    auto instance = pluginloading::load();
    ASSERT_NE (instance, nullptr);
    std::set<juce::String> names;

    for (const auto& file : files)
    {
        const auto name = file.getFileNameWithoutExtension();
        const auto* preset = presetNamed (name);
        ASSERT_NE (preset, nullptr) << name;
        names.insert (name);

        // The documented layout: "VST3", version 1, the component's class ID, then the chunks.
        juce::MemoryBlock data;
        ASSERT_TRUE (file.loadFileAsData (data));
        ASSERT_GT (data.getSize(), 48u);
        EXPECT_EQ (juce::String::fromUTF8 (static_cast<const char*> (data.getData()), 4), "VST3") << name;
        EXPECT_EQ (juce::ByteOrder::littleEndianInt (static_cast<const char*> (data.getData()) + 4), 1u) << name;

        PresetLoader loader (data);
        instance->getExtensions (loader);
        ASSERT_TRUE (loader.loaded) << name;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

        for (int p = 0; p < numParameters; ++p)
            EXPECT_NEAR (instance->getParameters()[p]->getValue(), normalisedValue (p, preset->values[(size_t) p]), 1.0e-5f)
                << name << ": " << parameterTable[(size_t) p].name;
    }

    EXPECT_EQ (names.size(), (size_t) numFactoryPresets);
}

TEST (FactoryPresets, AFourNoteChordStaysBelowFullScale)
{
    // Velocity 100, held for a second and a half and released, in each preset.
    for (const auto& file : presetFiles())
    {
        auto instance = pluginloading::load (48000.0, 512);
        ASSERT_NE (instance, nullptr);
        juce::MemoryBlock data;
        ASSERT_TRUE (file.loadFileAsData (data));
        PresetLoader loader (data);
        instance->getExtensions (loader);
        ASSERT_TRUE (loader.loaded);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

        juce::AudioBuffer<float> buffer (2, 512);
        float peak = 0.0f;
        for (int block = 0; block < 188; ++block)
        {
            juce::MidiBuffer midi;
            for (const int note : { 48, 55, 60, 64 })
            {
                if (block == 0)
                    midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);
                else if (block == 141)
                    midi.addEvent (juce::MidiMessage::noteOff (1, note), 0);
            }
            instance->processBlock (buffer, midi);
            peak = juce::jmax (peak, buffer.getMagnitude (0, 0, 512), buffer.getMagnitude (1, 0, 512));
        }

        EXPECT_LT (peak, 1.0f) << file.getFileNameWithoutExtension();
        EXPECT_GT (peak, 0.01f) << file.getFileNameWithoutExtension();
    }
}
