#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// The built VST3 module, loaded the way a DAW loads it, and the component state
// handed to it the way a DAW restores a project.
namespace pluginloading
{
inline const juce::File& vst3Bundle()
{
    static const juce::File bundle { BRASSGATE_VST3_PATH };
    return bundle;
}

inline juce::PluginDescription describe()
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, vst3Bundle().getFullPathName());
    return found.isEmpty() ? juce::PluginDescription() : *found[0];
}

inline std::unique_ptr<juce::AudioPluginInstance> load (double rate = 48000.0, int block = 512)
{
    juce::VST3PluginFormat format;
    juce::String error;
    auto instance = format.createInstanceFromDescription (describe(), rate, block, error);
    if (instance != nullptr)
    {
        instance->setRateAndBufferSizeDetails (rate, block);
        instance->prepareToPlay (rate, block);
    }
    return instance;
}

// The bytes the plug-in's component gives a host to save with a project
// (IComponent::getState), read from JUCE's VST3 hosting state.
inline juce::MemoryBlock componentState (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock hostState, component;
    instance.getStateInformation (hostState);
    if (const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
        if (const auto* child = xml->getChildByName ("IComponent"))
            component.fromBase64Encoding (child->getAllSubText());
    return component;
}

// Hands `size` bytes to the plug-in's component as the state a host read from a
// project (IComponent::setState, then the controller's setComponentState). JUCE's
// VST3 hosting keeps that state base64-encoded in an element of its own.
inline void restoreComponentState (juce::AudioPluginInstance& instance, const void* data, size_t size)
{
    juce::XmlElement hostState ("VST3PluginState");
    hostState.createNewChildElement ("IComponent")->addTextElement (juce::MemoryBlock (data, size).toBase64Encoding());

    juce::MemoryBlock blob;
    juce::AudioProcessor::copyXmlToBinary (hostState, blob);
    instance.setStateInformation (blob.getData(), (int) blob.getSize());
}
} // namespace pluginloading
