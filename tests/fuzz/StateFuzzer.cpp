// libFuzzer target: every input is the byte stream a host hands to the
// instrument's component when it restores a project. It goes the whole way a
// host sends it: JUCE's VST3 hosting, the built VST3 module and its wrapper,
// then the processor. The same bytes then go to the built LV2 plug-in twice, as
// an LV2 host restores a session: once as the stored state string itself (its
// size prefix and encoding), once as the plug-in's blob inside a well-formed
// string. After each restore one block is played; whatever the bytes, nothing
// may crash, hang, read out of bounds or produce a sample that is not finite.
// Then the state the instrument saves must be clean: every parameter once, as a
// number inside its range (through the VST3, equal to the value the host sees
// the parameter hold); restoring it and saving again gives the same bytes.
// Built and run by scripts/sanitize.sh with the address and undefined-behaviour
// sanitizers.
#include "Lv2Plugin.h"
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
Lv2Plugin* lv2 = nullptr;

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

// The values of a state the instrument saved: each parameter listed with a
// number inside its range, and nothing else in the text.
SavedStateReader::Parameters cleanValues (const std::string& blob)
{
    SavedStateReader::Parameters saved;
    if (! SavedStateReader::read (blob.data(), blob.size(), saved))
        fail ("the saved state is not one the instrument reads");

    for (size_t i = 0; i < parameterTable.size(); ++i)
    {
        const auto& entry = parameterTable[i];
        const auto& s = saved[i];
        if (s.entry != SavedStateReader::Entry::value || ! (s.value >= entry.minimum && s.value <= entry.maximum))
            fail ("a parameter is missing from the saved state or lies outside its range");
    }

    if (blob.find ("<?pi") != std::string::npos || blob.find ("<!--") != std::string::npos)
        fail ("the saved state carries markup it was restored from");

    return saved;
}

void checkSavedState()
{
    const auto component = pluginloading::componentState (*instance);
    const auto saved = cleanValues (blobIn (component));

    const auto& parameters = instance->getParameters();
    for (size_t i = 0; i < parameterTable.size(); ++i)
    {
        const auto& entry = parameterTable[i];
        const auto& s = saved[i];

        // Every range is linear: the host's normalised value spans it, and the
        // parameter snaps it to its step (a host may set a switch to 0.1).
        auto plays = entry.minimum + parameters[(int) i]->getValue() * (entry.maximum - entry.minimum);
        if (entry.step > 0.0f)
            plays = entry.minimum + std::round ((plays - entry.minimum) / entry.step) * entry.step;
        if (std::abs (plays - s.value) > 1.0e-3 * (entry.maximum - entry.minimum))
        {
            std::fprintf (stderr, "state fuzzer: %s is %g to the host, %g in the saved state\n", entry.id, (double) plays, s.value);
            fail ("the saved state differs from what the parameters hold");
        }
    }

    pluginloading::restoreComponentState (*instance, component.getData(), component.getSize());
    if (pluginloading::componentState (*instance) != component)
        fail ("saving, restoring and saving again changed the state");
}

void restoreLv2 (const std::string& stateString)
{
    lv2->restore (stateString);
    if (! lv2->runBlockIsFinite())
        fail ("a sample of the LV2 is not finite");

    const auto saved = lv2->save();
    juce::MemoryBlock blob;
    if (! blob.fromBase64Encoding (saved))
        fail ("the LV2 saved a state string it cannot read");
    cleanValues (std::string (static_cast<const char*> (blob.getData()), blob.getSize()));

    lv2->restore (saved);
    if (lv2->save() != saved)
        fail ("saving, restoring and saving again changed the LV2's state");
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
    lv2 = new Lv2Plugin (BRASSGATE_LV2_BUNDLE, BRASSGATE_LV2_LIBRARY, JucePlugin_LV2URI);
    if (! lv2->ok())
    {
        std::fprintf (stderr, "could not load %s\n", BRASSGATE_LV2_LIBRARY);
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

        // A host's parameter changes reach the component with the next block.
        for (auto* parameter : instance->getParameters())
            parameter->setValueNotifyingHost (parameter->getDefaultValue() < 0.5f ? 0.9f : 0.1f);
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        instance->processBlock (buffer, midi);
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

    const std::string bytes (reinterpret_cast<const char*> (data), size);
    restoreLv2 (bytes);
    restoreLv2 (juce::MemoryBlock (data, size).toBase64Encoding().toStdString());
    return 0;
}
