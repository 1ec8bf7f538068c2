// presets: writes the factory registrations (source/processor/FactoryPresets.cpp)
// as VST3 preset files and as LV2 presets, and corrects the LV2 bundle's
// generated metadata. Run at build time, after the plug-ins are built.
//
//   presets --vst3 BUNDLE --vst3-out FOLDER [--lv2 BUNDLE] --version X.Y.Z
//
// VST3: each preset is applied to the built VST3, loaded through JUCE's VST3
// hosting, and saved by the VST3 SDK's own preset writer: the documented
// .vstpreset layout with the component state exactly as the plug-in's wrapper
// writes it, and the controller state.
//
// LV2: each preset becomes presets/NAME.ttl inside the bundle, listed in the
// bundle's manifest, holding the plug-in's own state blob as the LV2 wrapper
// stores it. The metadata that JUCE writes is corrected on the way: the
// enumerations' scale points carry the parameters' own values instead of
// normalised ones, the empty mailbox goes, the version is a release version,
// and the wrapper's single unnamed program preset is dropped. A build without
// LV2 (Windows) leaves --lv2 out and gets the VST3 presets alone.

#include "FactoryPresets.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <iostream>

namespace
{
const juce::String pluginUri (JucePlugin_LV2URI);

int fail (const juce::String& message)
{
    std::cerr << "presets: " << message << "\n";
    return 1;
}

// "Jazz Trio Soft Percussion" -> "jazz-trio-soft-percussion"
juce::String slugOf (const juce::String& name)
{
    juce::String slug;
    for (auto c : name.toLowerCase())
        slug << (juce::CharacterFunctions::isLetterOrDigit (c) ? juce::String::charToString (c) : juce::String ("-"));
    while (slug.contains ("--"))
        slug = slug.replace ("--", "-");
    return slug.trimCharactersAtEnd ("-");
}

// The plug-in's own state blob at the start of a VST3 component state: the
// "VC2!" header, the text length, the text and a zero byte; the wrapper's
// trailer follows it.
juce::MemoryBlock processorBlobOf (const juce::MemoryBlock& component)
{
    if (component.getSize() < 9)
        return {};
    const auto textLength = juce::ByteOrder::littleEndianInt (static_cast<const char*> (component.getData()) + 4);
    const auto size = (size_t) textLength + 9;
    return size <= component.getSize() ? juce::MemoryBlock (component.getData(), size) : juce::MemoryBlock();
}

struct PresetWriter final : juce::ExtensionsVisitor
{
    void visitVST3Client (const VST3Client& client) override { preset = client.getPreset(); }
    juce::MemoryBlock preset;
};

// The LV2 core reads a minor version of 0, or an odd one, as a development
// version that hosts may hide: major.minor.micro becomes an even minor version
// major * 1000 + minor * 10 and an even micro version micro * 2.
std::pair<int, int> lv2VersionOf (const juce::String& version)
{
    const auto parts = juce::StringArray::fromTokens (version, ".", "");
    return { parts[0].getIntValue() * 1000 + parts[1].getIntValue() * 10, parts[2].getIntValue() * 2 };
}

// dsp.ttl: scale points in the parameters' own values, no empty mailbox, the release version.
juce::String correctedPluginTurtle (juce::String ttl, std::pair<int, int> version)
{
    for (int p = 0; p < numParameters; ++p)
    {
        const auto& entry = parameterTable[(size_t) p];
        if (entry.kind != ParameterKind::choice)
            continue;

        // The parameter's block runs from "plug:ID\n" to the next " .\n".
        const auto start = ttl.indexOf ("plug:" + juce::String (entry.id) + "\n");
        const auto end = start < 0 ? -1 : ttl.indexOf (start, " .\n");
        if (end < 0)
            continue;

        auto block = ttl.substring (start, end);
        juce::String fixed;
        int from = 0;
        for (int at; (at = block.indexOf (from, "rdf:value ")) >= 0;)
        {
            const auto valueStart = at + 10;
            const auto valueEnd = block.indexOf (valueStart, " ;");
            const auto normalised = block.substring (valueStart, valueEnd).getFloatValue();
            const auto value = juce::roundToInt (entry.minimum + normalised * (entry.maximum - entry.minimum));
            fixed << block.substring (from, valueStart) << value;
            from = valueEnd;
        }
        fixed << block.substring (from);
        ttl = ttl.replaceSection (start, end - start, fixed);
    }

    ttl = ttl.replace ("\t\tfoaf:mbox <> ;\n", "");
    ttl = ttl.replace ("lv2:minorVersion 0 ;", "lv2:minorVersion " + juce::String (version.first) + " ;");
    ttl = ttl.replace ("lv2:microVersion 0 ;", "lv2:microVersion " + juce::String (version.second) + " ;");
    return ttl;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juce;

    juce::String vst3Path, vst3Out, lv2Path, version;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const juce::String arg (argv[i]), value (argv[i + 1]);
        if (arg == "--vst3") vst3Path = value;
        else if (arg == "--vst3-out") vst3Out = value;
        else if (arg == "--lv2") lv2Path = value;
        else if (arg == "--version") version = value;
        else return fail ("unknown option " + arg);
    }
    if (vst3Path.isEmpty() || vst3Out.isEmpty() || version.isEmpty())
        return fail ("usage: presets --vst3 BUNDLE --vst3-out FOLDER [--lv2 BUNDLE] --version X.Y.Z");
    const bool withLv2 = lv2Path.isNotEmpty();

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, vst3Path);
    if (found.isEmpty())
        return fail ("no VST3 plug-in in " + vst3Path);

    juce::String error;
    auto instance = format.createInstanceFromDescription (*found[0], 48000.0, 512, error);
    if (instance == nullptr)
        return fail ("could not load " + vst3Path + ": " + error);

    const auto vst3Folder = juce::File::getCurrentWorkingDirectory().getChildFile (vst3Out);
    vst3Folder.deleteRecursively();
    if (! vst3Folder.createDirectory())
        return fail ("could not create " + vst3Out);
    const auto lv2Bundle = withLv2 ? juce::File (lv2Path) : juce::File();
    const auto lv2Presets = lv2Bundle.getChildFile ("presets");
    if (withLv2)
    {
        lv2Presets.deleteRecursively();
        lv2Presets.createDirectory();
    }

    juce::String manifestEntries;

    for (const auto& preset : factoryPresets)
    {
        for (int p = 0; p < numParameters; ++p)
            instance->getParameters()[p]->setValueNotifyingHost (normalisedValue (p, preset.values[(size_t) p]));

        // Saving the host's state hands the values to the plug-in first.
        juce::MemoryBlock hostState;
        instance->getStateInformation (hostState);

        PresetWriter writer;
        instance->getExtensions (writer);
        if (writer.preset.isEmpty())
            return fail (juce::String ("the VST3 preset writer gave nothing for ") + preset.name);
        if (! vst3Folder.getChildFile (juce::String (preset.name) + ".vstpreset").replaceWithData (writer.preset.getData(), writer.preset.getSize()))
            return fail ("could not write to " + vst3Out);
        if (! withLv2)
            continue;

        // The component state inside the host's state holds the plug-in's blob.
        juce::MemoryBlock component;
        if (const auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
            if (const auto* child = xml->getChildByName ("IComponent"))
                component.fromBase64Encoding (child->getAllSubText());
        const auto blob = processorBlobOf (component);
        if (blob.isEmpty())
            return fail (juce::String ("no plug-in state for ") + preset.name);

        const auto slug = slugOf (preset.name);
        const auto presetUri = pluginUri + "#preset-" + slug;
        juce::String ttl;
        ttl << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
               "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
               "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
               "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n\n"
            << "<" << presetUri << ">\n"
            << "\ta pset:Preset ;\n"
            << "\tlv2:appliesTo <" << pluginUri << "> ;\n"
            << "\trdfs:label \"" << preset.name << "\" ;\n"
            << "\tstate:state [\n"
            << "\t\t<" << pluginUri << ":StateString> \"" << blob.toBase64Encoding() << "\"\n"
            << "\t] .\n";
        if (! lv2Presets.getChildFile (slug + ".ttl").replaceWithText (ttl))
            return fail ("could not write to " + lv2Presets.getFullPathName());

        manifestEntries << "\n<" << presetUri << ">\n"
                        << "\ta pset:Preset ;\n"
                        << "\tlv2:appliesTo <" << pluginUri << "> ;\n"
                        << "\trdfs:label \"" << preset.name << "\" ;\n"
                        << "\trdfs:seeAlso <presets/" << slug << ".ttl> .\n";
    }

    instance.reset();

    if (! withLv2)
    {
        std::cout << "Wrote " << factoryPresets.size() << " presets to " << vst3Folder.getFullPathName() << std::endl;
        return 0;
    }

    const auto lv2Version = lv2VersionOf (version);
    const auto dsp = lv2Bundle.getChildFile ("dsp.ttl");
    const auto manifest = lv2Bundle.getChildFile ("manifest.ttl");
    if (! dsp.existsAsFile() || ! manifest.existsAsFile())
        return fail ("no dsp.ttl or manifest.ttl in " + lv2Path);

    // The files as JUCE wrote them still have the empty mailbox; a second run
    // over corrected files leaves them as they are.
    const auto pluginTurtle = dsp.loadFileAsString();
    if (pluginTurtle.contains ("foaf:mbox <> ;") && ! dsp.replaceWithText (correctedPluginTurtle (pluginTurtle, lv2Version)))
        return fail ("could not write " + dsp.getFullPathName());

    // The manifest: the plug-in's version beside its entry, the wrapper's
    // unnamed program preset (or an earlier run's presets) replaced by the
    // factory presets.
    auto text = manifest.loadFileAsString();
    for (const auto& firstPreset : { "<" + pluginUri + ":preset1>", "<" + pluginUri + "#preset-" })
        if (const auto at = text.indexOf (firstPreset); at >= 0)
            text = text.substring (0, at).trimEnd() + "\n";
    if (! text.contains ("lv2:minorVersion"))
        text = text.replace ("\trdfs:seeAlso <dsp.ttl> .",
                             "\tlv2:minorVersion " + juce::String (lv2Version.first) + " ;\n\tlv2:microVersion "
                                 + juce::String (lv2Version.second) + " ;\n\trdfs:seeAlso <dsp.ttl> .");
    if (! manifest.replaceWithText (text + manifestEntries))
        return fail ("could not write " + manifest.getFullPathName());

    std::cout << "Wrote " << factoryPresets.size() << " presets to " << vst3Folder.getFullPathName() << " and "
              << lv2Presets.getFullPathName() << std::endl;
    return 0;
}
