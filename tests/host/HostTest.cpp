#include "BlockRenders.h"
#include "ParameterTable.h"
#include "PluginLoading.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

// The built VST3 module, loaded the way a DAW loads it.
namespace
{
using pluginloading::describe;
using pluginloading::load;
const juce::File& vst3Bundle = pluginloading::vst3Bundle();

juce::AudioProcessorParameter* find (juce::AudioPluginInstance& instance, const juce::String& name)
{
    for (auto* p : instance.getParameters())
        if (p->getName (100) == name)
            return p;
    return nullptr;
}

// Lets the wrapper deliver parameter changes made while processing.
void settle() { juce::MessageManager::getInstance()->runDispatchLoopUntil (50); }

// The parameter values the instrument itself holds, read from the state the host
// would save with its project: the plug-in's own blob inside the VST3 component state.
std::unique_ptr<juce::XmlElement> savedParameters (juce::AudioPluginInstance& instance)
{
    const auto component = pluginloading::componentState (instance);
    const auto* bytes = static_cast<const char*> (component.getData());

    for (size_t i = 0; i + 8 < component.getSize(); ++i)
        if (std::memcmp (bytes + i, "VC2!", 4) == 0)
            return juce::AudioProcessor::getXmlFromBinary (bytes + i, (int) (component.getSize() - i));

    return nullptr;
}

bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (c, i)))
                return false;
    return true;
}

// Holds middle C for `blocks` stereo blocks of 512 samples, then releases it:
// the loudest sample of the left channel, or NaN once any sample is not finite.
float heldNotePeak (juce::AudioPluginInstance& instance, int blocks)
{
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    float peak = 0.0f;
    for (int block = 0; block < blocks; ++block)
    {
        instance.processBlock (buffer, midi);
        midi.clear();
        if (! allFinite (buffer))
            return std::numeric_limits<float>::quiet_NaN();
        peak = juce::jmax (peak, buffer.getMagnitude (0, buffer.getNumSamples()));
    }
    midi.addEvent (juce::MidiMessage::allNotesOff (1), 0);
    instance.processBlock (buffer, midi);
    return peak;
}

double savedValue (juce::AudioPluginInstance& instance, const char* id)
{
    const auto xml = savedParameters (instance);
    const auto* child = xml != nullptr ? xml->getChildByAttribute ("id", id) : nullptr;
    return child != nullptr ? child->getDoubleAttribute ("value", -1.0) : -1.0;
}
} // namespace

TEST (Vst3Module, DescribesTheInstrument)
{
    ASSERT_TRUE (vst3Bundle.exists()) << vst3Bundle.getFullPathName();
    const auto d = describe();
    EXPECT_EQ (d.name, "Brassgate Organ");
    EXPECT_EQ (d.manufacturerName, BRASSGATE_VENDOR);
    EXPECT_EQ (d.version, BRASSGATE_VERSION);
    EXPECT_EQ (d.category, "Instrument|Synth");
    EXPECT_TRUE (d.isInstrument);
    EXPECT_EQ (d.pluginFormatName, "VST3");
}

TEST (Vst3Module, ListsTheParametersThenBypass)
{
    auto instance = load();
    ASSERT_NE (instance, nullptr);

    const char* names[] = { "Organ Type", "16'", "5-1/3'", "8'", "4'", "2-2/3'", "2'", "1-3/5'", "1-1/3'", "1'",
                            "Leslie Speed", "Drive", "Drive Type", "Volume", "Percussion", "Perc Soft", "Perc Fast",
                            "Perc Harmonic", "Paradise Mod", "Key Click", "Leslie Brake", "Chorus/Vibrato", "Reverb",
                            "Focus Mode" };
    // Normalised defaults: choices as index / (count - 1), floats as value / range.
    const float defaults[] = { 0, 1, 0, 1, 0.75f, 0, 0, 0, 0, 0, 0.4f, 0.2f, 0, 0.8f, 1, 0, 1, 1, 0, 0.5f, 0, 0.3f, 0.25f, 0 };

    const auto& params = instance->getParameters();
    ASSERT_GE (params.size(), numParameters + 1);
    for (int i = 0; i < numParameters; ++i)
    {
        EXPECT_EQ (params[i]->getName (100), juce::String (names[i])) << i;
        EXPECT_NEAR (params[i]->getDefaultValue(), defaults[i], 1.0e-6f) << names[i];
        EXPECT_NEAR (params[i]->getValue(), defaults[i], 1.0e-6f) << names[i];
        EXPECT_TRUE (params[i]->isAutomatable()) << names[i];
    }
    EXPECT_EQ (params[numParameters]->getName (100), "Bypass");
}

TEST (Vst3Module, StateMovesBetweenInstances)
{
    auto a = load(), b = load();
    ASSERT_NE (a, nullptr);
    ASSERT_NE (b, nullptr);

    find (*a, "4'")->setValueNotifyingHost (0.25f);          // drawbar3 = 2
    find (*a, "Organ Type")->setValueNotifyingHost (2.0f / 3.0f); // VOX
    find (*a, "Reverb")->setValueNotifyingHost (0.7f);
    settle();

    juce::MemoryBlock state;
    a->getStateInformation (state);
    b->setStateInformation (state.getData(), (int) state.getSize());
    settle();

    EXPECT_NEAR (find (*b, "4'")->getValue(), 0.25f, 1.0e-6f);
    EXPECT_NEAR (find (*b, "Organ Type")->getValue(), 2.0f / 3.0f, 1.0e-6f);
    EXPECT_NEAR (find (*b, "Reverb")->getValue(), 0.7f, 1.0e-6f);
    EXPECT_NEAR (find (*b, "Drive")->getValue(), 0.2f, 1.0e-6f);
}

TEST (Vst3Module, MidiControllersReachTheParameters)
{
    // The host turns the controllers into parameter changes through the module's MIDI
    // mapping; the wrapper turns them back into MIDI for the processor, which moves
    // its parameters. Processing runs on a thread of its own, as in a DAW.
    auto instance = load();
    ASSERT_NE (instance, nullptr);

    std::thread audioThread ([&]
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 41, 0), 0);   // 16' pushed in
        midi.addEvent (juce::MidiMessage::controllerEvent (3, 27, 0), 1);   // 1-3/5' pulled out (inverted)
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 1, 127), 2);  // wheel up: fast
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 80, 127), 3); // brake
        instance->processBlock (buffer, midi);
    });
    audioThread.join();
    settle();

    EXPECT_EQ (savedValue (*instance, "drawbar0"), 0.0);
    EXPECT_EQ (savedValue (*instance, "drawbar6"), 8.0);
    EXPECT_EQ (savedValue (*instance, "leslieSpeed"), 85.0);
    EXPECT_EQ (savedValue (*instance, "leslieBrake"), 1.0);
    EXPECT_EQ (savedValue (*instance, "drawbar2"), 8.0); // untouched
}

TEST (Vst3Module, AcceptsMonoAndStereoOnly)
{
    // A running plug-in cannot be asked; a host checks layouts while it is stopped.
    auto instance = load();
    ASSERT_NE (instance, nullptr);
    instance->releaseResources();

    auto withOutput = [&] (const juce::AudioChannelSet& set)
    {
        auto layout = instance->getBusesLayout();
        layout.outputBuses.getReference (0) = set;
        return instance->checkBusesLayoutSupported (layout);
    };

    EXPECT_TRUE (withOutput (juce::AudioChannelSet::mono()));
    EXPECT_TRUE (withOutput (juce::AudioChannelSet::stereo()));
    EXPECT_FALSE (withOutput (juce::AudioChannelSet::quadraphonic()));
    EXPECT_FALSE (withOutput (juce::AudioChannelSet::create5point1()));
}

TEST (Vst3Module, PlaysNotesIntoFiniteAudio)
{
    auto instance = load();
    ASSERT_NE (instance, nullptr);

    const auto peak = heldNotePeak (*instance, 40);
    ASSERT_TRUE (std::isfinite (peak));
    EXPECT_GT (peak, 0.01f);
    EXPECT_LT (peak, 2.0f);
}

namespace
{
// A plug-in state blob whose one parameter element nests `depth` levels deep.
juce::MemoryBlock deeplyNestedState (int depth)
{
    juce::String text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<Parameters>");
    text << juce::String ("<PARAM>").repeatedString ("<PARAM>", depth) << juce::String ("</PARAM>").repeatedString ("</PARAM>", depth)
         << "</Parameters>";

    juce::MemoryOutputStream blob;
    blob.write ("VC2!", 4);
    blob.writeInt ((int) text.getNumBytesAsUTF8());
    blob << text;
    blob.writeByte (0);
    return blob.getMemoryBlock();
}
} // namespace

TEST (Vst3Module, TurnsDamagedStatesAwayWhole)
{
    // Each input is the byte stream a host hands to the component when it restores
    // a project. The folder keeps every input that ever broke a restore.
    std::vector<std::pair<juce::String, juce::MemoryBlock>> inputs;
    for (const auto& file : juce::File (BRASSGATE_DAMAGED_STATES).findChildFiles (juce::File::findFiles, false, "*.bin"))
    {
        juce::MemoryBlock bytes;
        ASSERT_TRUE (file.loadFileAsData (bytes));
        inputs.emplace_back (file.getFileName(), bytes);
    }
    ASSERT_GE (inputs.size(), 4u);
    inputs.emplace_back ("parameter nested 50,000 deep", deeplyNestedState (50000));

    auto instance = load();
    ASSERT_NE (instance, nullptr);
    find (*instance, "Reverb")->setValueNotifyingHost (0.7f);
    find (*instance, "Organ Type")->setValueNotifyingHost (1.0f / 3.0f);
    settle();

    std::vector<float> before;
    for (auto* p : instance->getParameters())
        before.push_back (p->getValue());

    for (const auto& [name, bytes] : inputs)
    {
        pluginloading::restoreComponentState (*instance, bytes.getData(), bytes.getSize());
        settle();

        for (int i = 0; i < (int) before.size(); ++i)
            EXPECT_EQ (instance->getParameters()[i]->getValue(), before[(size_t) i]) << name << ": parameter " << i;
        EXPECT_EQ (savedValue (*instance, "reverb"), 70.0) << name;

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
        midi.addEvent (juce::MidiMessage::noteOff (1, 60), 256);
        instance->processBlock (buffer, midi);
        ASSERT_TRUE (allFinite (buffer)) << name;
    }
}

TEST (Vst3Module, AnAcceptedStateIsSavedAsItPlays)
{
    // A state that names one parameter without a value: it takes its default, the
    // others keep theirs, and the next save lists every parameter with its value.
    juce::MemoryBlock bytes;
    ASSERT_TRUE (juce::File (BRASSGATE_DAMAGED_STATES).getSiblingFile ("param-without-value.bin").loadFileAsData (bytes));

    auto instance = load();
    ASSERT_NE (instance, nullptr);
    find (*instance, "16'")->setValueNotifyingHost (0.25f);
    find (*instance, "Reverb")->setValueNotifyingHost (0.7f);
    settle();

    pluginloading::restoreComponentState (*instance, bytes.getData(), bytes.getSize());
    settle();
    EXPECT_EQ (savedValue (*instance, "drawbar0"), 8.0);
    EXPECT_EQ (savedValue (*instance, "reverb"), 70.0);

    const auto saved = savedParameters (*instance);
    ASSERT_NE (saved, nullptr);
    ASSERT_EQ (saved->getNumChildElements(), numParameters);
    for (int i = 0; i < numParameters; ++i)
    {
        // Every range is linear: the host's normalised value spans it.
        const auto& entry = parameterTable[(size_t) i];
        const auto plays = entry.minimum + instance->getParameters()[i]->getValue() * (entry.maximum - entry.minimum);
        const auto* child = saved->getChildByAttribute ("id", entry.id);
        ASSERT_NE (child, nullptr) << entry.id;
        EXPECT_NEAR (child->getDoubleAttribute ("value", -1.0), plays, 1.0e-4) << entry.id;
    }

    // Saved, restored and saved again: the same bytes.
    const auto first = pluginloading::componentState (*instance);
    pluginloading::restoreComponentState (*instance, first.getData(), first.getSize());
    settle();
    EXPECT_EQ (pluginloading::componentState (*instance), first);
}

TEST (Vst3Module, PlaysAtTheEdgesOfItsSampleRatesAndBeyond)
{
    // 1 kHz and 1 MHz are played as they are; rates outside play as 44.1 kHz.
    // Either way a held note sounds, and no sample is NaN or infinite.
    for (const double rate : { 1000.0, 999.0, 150.0, 1.0, 1.0e6, 1.0e6 + 1.0, 2.0e6, 1.0e7 })
    {
        auto instance = load (rate, 512);
        ASSERT_NE (instance, nullptr) << rate;
        for (const float type : { 0.0f, 1.0f })
        {
            find (*instance, "Organ Type")->setValueNotifyingHost (type);
            const auto peak = heldNotePeak (*instance, 8);
            ASSERT_TRUE (std::isfinite (peak)) << rate << " Hz, type " << type;
            EXPECT_GT (peak, 0.001f) << rate << " Hz, type " << type;
        }
    }
}

TEST (Vst3Module, PlaysBlocksLongerThanTheHostAnnounced)
{
    // The host announces at most 64 samples (or none at all), then sends 8,192:
    // the block is played whole, and a note that starts inside it starts there.
    for (const int announced : { 64, 0, -1 })
    {
        auto instance = load (48000.0, announced);
        ASSERT_NE (instance, nullptr) << announced;

        juce::AudioBuffer<float> buffer (2, 8192);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 5000);
        instance->processBlock (buffer, midi);

        ASSERT_TRUE (allFinite (buffer)) << announced;
        EXPECT_EQ (buffer.getMagnitude (0, 4096), 0.0f) << announced;
        EXPECT_GT (buffer.getMagnitude (8192 - 64, 64), 0.001f) << announced;
    }
}

TEST (Vst3Module, NotesActAtTheirSampleWhateverTheBlockSize)
{
    // The same notes, at positions no block size divides, through the module
    // in blocks of many sizes: the same sound to the bit, and silence before
    // the first note. ("B3": its random key timing starts the same in every
    // new instance.)
    constexpr int length = 16000; // samples
    const std::vector<blockrenders::TimedMessage> events {
        { 1009, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) }, { 3001, juce::MidiMessage::noteOn (1, 67, (juce::uint8) 90) },
        { 5555, juce::MidiMessage::noteOff (1, 60) },                   { 6007, juce::MidiMessage::noteOn (2, 72, (juce::uint8) 127) },
        { 9973, juce::MidiMessage::noteOff (1, 67) },                   { 9973, juce::MidiMessage::noteOff (2, 72) },
        { 11003, juce::MidiMessage::noteOn (1, 48, (juce::uint8) 64) }, { 14011, juce::MidiMessage::noteOff (1, 48) }
    };

    auto render = [&] (const std::vector<int>& blockSizes) {
        auto instance = load (48000.0, 4096);
        return instance != nullptr ? blockrenders::render (*instance, events, length, blockSizes) : juce::AudioBuffer<float> {};
    };

    const auto reference = render ({ 256 });
    ASSERT_EQ (reference.getNumSamples(), length);
    EXPECT_EQ (reference.getMagnitude (0, 1009), 0.0f);
    EXPECT_GT (reference.getMagnitude (0, 1009, 200), 1.0e-3f);

    for (const auto& blocks : blockrenders::blockSizePatterns())
    {
        const auto r = render (blocks);
        ASSERT_EQ (r.getNumSamples(), length);
        const auto difference = blockrenders::firstDifference (r, reference);
        EXPECT_FALSE (difference.has_value()) << "blocks of " << blocks[0] << ": channel " << difference->first << ", sample "
                                              << difference->second;
    }
}

TEST (Vst3Module, KeepsTheMidiOfALongBlockThatOverfillsAPiece)
{
    // 2,000 system-exclusive messages of 64 bytes, then a note, all inside the
    // first 64 samples of a block of 8,192 when 64 were announced: more MIDI than
    // a piece of a long block has room for (a host sends at most 2,048 events a
    // block). What does not fit waits for the next piece, so the note still
    // sounds within the block.
    auto instance = load (48000.0, 64);
    ASSERT_NE (instance, nullptr);

    juce::AudioBuffer<float> buffer (2, 8192);
    juce::MidiBuffer midi;
    const std::vector<juce::uint8> payload (62, 0x11); // between F0 and F7
    for (int i = 0; i < 2000; ++i)
        midi.addEvent (juce::MidiMessage::createSysExMessage (payload.data(), (int) payload.size()), 0);
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 10);
    instance->processBlock (buffer, midi);

    ASSERT_TRUE (allFinite (buffer));
    EXPECT_GT (buffer.getMagnitude (0, 8192 - 64, 64), 0.001f);
}
