// libFuzzer target: every input is the byte stream a host hands to the
// instrument's component when it restores a project. It goes the whole way a
// host sends it: JUCE's VST3 hosting, the built VST3 module and its wrapper,
// then the processor. After each restore one block is played; whatever the
// bytes, nothing may crash, read out of bounds or produce a sample that is not
// finite. Built and run by scripts/sanitize.sh with the address and
// undefined-behaviour sanitizers.
#include "PluginLoading.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
// Both live as long as the process, held here so that the leak checker sees them.
juce::ScopedJuceInitialiser_GUI* juceLibrary = nullptr;
juce::AudioPluginInstance* instance = nullptr;
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

    // Valid states to start from, saved by the plug-in itself into the folder
    // named by BRASSGATE_FUZZ_SEEDS (read as a corpus afterwards): the defaults,
    // and one with every parameter moved away from its default.
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
                std::abort();

    return 0;
}
