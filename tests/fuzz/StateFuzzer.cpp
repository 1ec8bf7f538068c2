// libFuzzer target: every input is the byte stream a host hands to the
// instrument's component when it restores a project. It goes the whole way a
// host sends it: JUCE's VST3 hosting, the built VST3 module and its wrapper,
// then the processor. After each restore one block is played; whatever the
// bytes, nothing may crash, hang, read out of bounds or produce a sample that is
// not finite. Then the state the instrument saves must be clean: every parameter
// once, as a number inside its range, equal to the value the parameter holds;
// restoring it and saving again gives the same bytes. Built and run by
// scripts/sanitize.sh with the address and undefined-behaviour sanitizers.
#include "ParameterTable.h"
#include "PluginLoading.h"
#include "SavedStateReader.h"
#include "StateVariants.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
// Both live as long as the process, held here so that the leak checker sees them.
juce::ScopedJuceInitialiser_GUI* juceLibrary = nullptr;
juce::AudioPluginInstance* instance = nullptr;

void fail (const char* what)
{
    std::fprintf (stderr, "state fuzzer: %s\n", what);
    std::abort();
}

// The plug-in's own blob inside a component state: from "VC2!" to the end.
std::string blobIn (const juce::MemoryBlock& component)
{
    const auto* bytes = static_cast<const char*> (component.getData());
    for (size_t i = 0; i + 4 <= component.getSize(); ++i)
        if (std::memcmp (bytes + i, "VC2!", 4) == 0)
            return std::string (bytes + i, component.getSize() - i);
    return {};
}

void checkSavedState()
{
    const auto component = pluginloading::componentState (*instance);
    const auto blob = blobIn (component);
    SavedStateReader::Parameters saved;
    if (! SavedStateReader::read (blob.data(), blob.size(), saved))
        fail ("the saved state is not one the instrument reads");

    const auto& parameters = instance->getParameters();
    for (size_t i = 0; i < parameterTable.size(); ++i)
    {
        const auto& entry = parameterTable[i];
        const auto& s = saved[i];
        if (s.entry != SavedStateReader::Entry::value || ! (s.value >= entry.minimum && s.value <= entry.maximum))
            fail ("a parameter is missing from the saved state or lies outside its range");

        // Every range is linear: the host's normalised value spans it.
        const auto plays = entry.minimum + parameters[(int) i]->getValue() * (entry.maximum - entry.minimum);
        if (std::abs (plays - s.value) > 1.0e-3 * (entry.maximum - entry.minimum))
            fail ("the saved state differs from what the parameters hold");
    }

    // Its text lists nothing but the parameters: one element each, in order.
    if (blob.find ("<?pi") != std::string::npos || blob.find ("<!--") != std::string::npos)
        fail ("the saved state carries markup it was restored from");

    pluginloading::restoreComponentState (*instance, component.getData(), component.getSize());
    if (pluginloading::componentState (*instance) != component)
        fail ("saving, restoring and saving again changed the state");
}
} // namespace

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The fuzzing thread is the message thread.
    juceLibrary = new juce::ScopedJuceInitialiser_GUI();
    instance = pluginloading::load (48000.0, 64).release();
    if (instance == nullptr)
    {
        std::fprintf (stderr, "could not load %s\n", pluginloading::vst3Bundle().getFullPathName().toRawUTF8());
        std::abort();
    }

    // States to start from, written into the folder named by
    // BRASSGATE_FUZZ_SEEDS (read as a corpus afterwards): the defaults saved by
    // the plug-in itself, one with every parameter moved away from its default,
    // and the structured variants of the latter's text.
    if (const char* folder = std::getenv ("BRASSGATE_FUZZ_SEEDS"))
    {
        const juce::File seeds (juce::String::fromUTF8 (folder));
        seeds.createDirectory();
        const auto defaults = pluginloading::componentState (*instance);
        seeds.getChildFile ("default-state.bin").replaceWithData (defaults.getData(), defaults.getSize());

        for (auto* parameter : instance->getParameters())
            parameter->setValueNotifyingHost (parameter->getDefaultValue() < 0.5f ? 0.9f : 0.1f);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
        const auto moved = pluginloading::componentState (*instance);
        seeds.getChildFile ("every-parameter-moved.bin").replaceWithData (moved.getData(), moved.getSize());

        const auto blob = blobIn (moved);
        const auto text = blob.size() > 9 ? blob.substr (8, blob.size() - 9) : std::string();
        int n = 0;
        for (const auto& variant : statevariants::structured (text))
        {
            const auto bytes = statevariants::blobAround (variant);
            seeds.getChildFile ("structured-" + juce::String (n++) + ".bin").replaceWithData (bytes.data(), bytes.size());
        }
    }

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    pluginloading::restoreComponentState (*instance, data, size);

    juce::AudioBuffer<float> buffer (2, 64);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    midi.addEvent (juce::MidiMessage::noteOff (1, 60), 32);
    instance->processBlock (buffer, midi);

    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (c, i)))
                fail ("a sample is not finite");

    checkSavedState();
    return 0;
}
