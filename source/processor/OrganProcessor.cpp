#include "OrganProcessor.h"

#include "ChannelMessage.h"
#include "OrganEditor.h"
#include "SavedStateReader.h"

#include <algorithm>
#include <cmath>

namespace
{
// Drawbar controllers, indexed by drawbar: 41 to 49 move a drawbar directly,
// 21 to 29 inverted (a fader at the top pushes the drawbar in).
constexpr int directDrawbarControllers[numDrawbars] = { 41, 42, 43, 44, 45, 46, 47, 48, 49 };
constexpr int invertedDrawbarControllers[numDrawbars] = { 21, 22, 23, 24, 25, 26, 27, 28, 29 };


// The order in which a block reads the parameters: the sound-shaping values first,
// the switches last. It only matters while a host writes parameters concurrently.
constexpr ParameterIndex::Index snapshotReadOrder[] = {
    ParameterIndex::organType, ParameterIndex::drawbar0, ParameterIndex::drawbar1, ParameterIndex::drawbar2, ParameterIndex::drawbar3, ParameterIndex::drawbar4, ParameterIndex::drawbar5, ParameterIndex::drawbar6, ParameterIndex::drawbar7, ParameterIndex::drawbar8,
    ParameterIndex::leslieSpeed, ParameterIndex::drive, ParameterIndex::driveType, ParameterIndex::volume, ParameterIndex::percussion, ParameterIndex::keyClick, ParameterIndex::chorus, ParameterIndex::reverb, ParameterIndex::focusMode, ParameterIndex::leslieBrake,
    ParameterIndex::percSoft, ParameterIndex::percFast, ParameterIndex::percHarmonic, ParameterIndex::paradiseMod
};
static_assert (std::size (snapshotReadOrder) == numParameters);

// A controller value 0 to 127 as a drawbar position 0 to 8, halves rounded away from zero.
float drawbarPosition (int value)
{
    return std::round (static_cast<float> (value) / 127.0f * 8.0f);
}
} // namespace

OrganProcessor::OrganProcessor()
    : AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, juce::Identifier ("Parameters"), createParameterLayout())
{
    for (int i = 0; i < numParameters; ++i)
    {
        const juce::String id (parameterTable[(size_t) i].id);
        rawValues[(size_t) i] = parameters.getRawParameterValue (id);
        parameterObjects[(size_t) i] = parameters.getParameter (id);
        jassert (rawValues[(size_t) i] != nullptr && parameterObjects[(size_t) i] != nullptr);
    }
}

OrganProcessor::~OrganProcessor() = default;

juce::AudioProcessorValueTreeState::ParameterLayout OrganProcessor::createParameterLayout()
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> list;

    for (const auto& entry : parameterTable)
    {
        const juce::ParameterID id (entry.id, 1);

        switch (entry.kind)
        {
            case ParameterKind::choice:
            {
                juce::StringArray texts;
                for (int c = 0; c < entry.numChoices; ++c)
                    texts.add (entry.choices[c]);
                list.push_back (std::make_unique<juce::AudioParameterChoice> (id, entry.name, texts, (int) entry.defaultValue));
                break;
            }

            case ParameterKind::floating:
                list.push_back (std::make_unique<juce::AudioParameterFloat> (
                    id, entry.name, juce::NormalisableRange<float> (entry.minimum, entry.maximum, entry.step), entry.defaultValue));
                break;

            case ParameterKind::toggle:
                list.push_back (std::make_unique<juce::AudioParameterBool> (id, entry.name, entry.defaultValue > 0.5f));
                break;
        }
    }

    return { list.begin(), list.end() };
}

const juce::String OrganProcessor::getName() const { return "Brassgate Organ"; }

void OrganProcessor::prepareToPlay (double newSampleRate, int)
{
    // A rate of zero, a negative or a non-finite rate would turn every step size
    // into infinity or NaN; such a host gets the default rate instead.
    // The reverb's lines are sized here, never on the audio path.
    engine.prepare (newSampleRate);
}

void OrganProcessor::releaseResources() {}

void OrganProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();

    // A host may write anything into a parameter; the engines only ever see
    // finite values inside the declared ranges.
    RawParameterValues raw;
    for (const auto i : snapshotReadOrder)
    {
        const auto& entry = parameterTable[(size_t) i];
        const float value = rawValues[(size_t) i]->load (std::memory_order_relaxed);
        raw[(size_t) i] = std::isfinite (value) ? juce::jlimit (entry.minimum, entry.maximum, value) : entry.defaultValue;
    }

    const auto settings = BlockSettings::fromRawValues (raw, editorAttention.load(), engine.getSampleRate());
    const int numSamples = buffer.getNumSamples();
    const int numChannels = buffer.getNumChannels();

    // Notes played on the on-screen keyboard join the block at its start.
    auto* keyboard = keyboardState.load();
    if (keyboard == nullptr && onScreenKeysToFlush.exchange (false))
        keyboard = &onScreenKeyboard;
    if (keyboard != nullptr)
        keyboard->processNextMidiBuffer (midi, 0, 1, true);

    // The controllers that move parameters act now, and so from the next
    // block; everything else acts at its own sample inside the engine.
    for (const auto event : midi)
        moveParametersByController (event.data, event.numBytes, settings.organType);

    engine.process (settings, midi, buffer.getArrayOfWritePointers(), numChannels, numSamples);
}

void OrganProcessor::releaseOnScreenKeys()
{
    onScreenKeyboard.allNotesOff (0);
    onScreenKeysToFlush.store (true);
}

void OrganProcessor::moveParametersByController (const juce::uint8* data, int size, int organType)
{
    ChannelMessage message;
    if (! ChannelMessage::decode (data, size, message) || message.kind != ChannelMessage::controller)
        return;

    const bool isB3 = organType == 0;
    const int value = message.value;
    switch (message.number)
    {
        case 1: // modulation wheel: the rotary speaker's fast or slow zone
            if (isB3)
                setParameterNormalised (ParameterIndex::leslieSpeed, value >= 64 ? 0.85f : 0.15f);
            break;
        case 80:
            setParameterNormalised (ParameterIndex::leslieBrake, value >= 64 ? 1.0f : 0.0f);
            break;
        case 64: // sustain pedal
            if (isB3)
                setParameterNormalised (ParameterIndex::leslieBrake, value >= 64 ? 1.0f : 0.0f);
            break;
        default:
            break;
    }

    for (int i = 0; i < numDrawbars; ++i)
    {
        if (message.number == directDrawbarControllers[i])
            setParameterNormalised (ParameterIndex::drawbar0 + i, drawbarPosition (value) * 0.125f);
        else if (message.number == invertedDrawbarControllers[i])
            setParameterNormalised (ParameterIndex::drawbar0 + i, drawbarPosition (127 - value) * 0.125f);
    }
}

void OrganProcessor::setParameterNormalised (int index, float normalisedValue)
{
    parameterObjects[(size_t) index]->setValueNotifyingHost (normalisedValue);
}

double OrganProcessor::getTailLengthSeconds() const { return 2.0; }
bool OrganProcessor::acceptsMidi() const { return true; }
bool OrganProcessor::producesMidi() const { return false; }
bool OrganProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* OrganProcessor::createEditor() { return new OrganEditor (*this); }
bool OrganProcessor::hasEditor() const { return true; }

int OrganProcessor::getNumPrograms() { return 1; }
int OrganProcessor::getCurrentProgram() { return 0; }
void OrganProcessor::setCurrentProgram (int) {}
const juce::String OrganProcessor::getProgramName (int) { return {}; }
void OrganProcessor::changeProgramName (int, const juce::String&) {}

void OrganProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const auto state = parameters.copyState();
    if (auto xml = state.createXml())
        copyXmlToBinary (*xml, destData);
}

void OrganProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // Only the flat shape the instrument writes is read; anything else, damaged
    // or not, is turned away whole and every parameter keeps its value.
    SavedStateReader::Parameters saved;
    if (data == nullptr || sizeInBytes <= 0 || ! SavedStateReader::read (data, (size_t) sizeInBytes, saved))
        return;

    // The tree is built anew from what the parameters will hold: one element per
    // parameter, in the order the tree already has, with the value clamped to the
    // range and snapped to the step as the parameter itself does. So the next
    // saved state is exactly what plays, byte for byte the same as one saved
    // before, whatever the restored text looked like. A parameter the blob does
    // not mention keeps its current value (the tree alone would reset it to its
    // default); one listed without a value takes its default.
    std::array<size_t, numParameters> order {};
    size_t ordered = 0;
    std::array<bool, numParameters> placed {};
    const auto place = [&] (size_t i)
    {
        if (! placed[i])
            order[ordered++] = i;
        placed[i] = true;
    };
    for (const auto& child : parameters.state)
        for (size_t i = 0; i < parameterTable.size(); ++i)
            if (child.getProperty ("id").toString() == parameterTable[i].id)
                place (i);
    for (size_t i = 0; i < parameterTable.size(); ++i)
        place (i);

    juce::ValueTree state (parameters.state.getType());
    for (const auto i : order)
    {
        const auto& entry = parameterTable[i];
        double value = rawValues[i]->load();
        if (saved[i].entry == SavedStateReader::Entry::noValue)
            value = entry.defaultValue;
        else if (saved[i].entry == SavedStateReader::Entry::value)
            value = juce::jlimit ((double) entry.minimum, (double) entry.maximum, saved[i].value);

        const auto& parameter = *parameterObjects[i];
        const auto legal = parameter.convertFrom0to1 (parameter.convertTo0to1 ((float) value));
        state.appendChild (juce::ValueTree ("PARAM", { { "id", entry.id }, { "value", (double) legal } }), nullptr);
    }

    parameters.replaceState (state);
}

bool OrganProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::mono() || out == juce::AudioChannelSet::stereo();
}

// The plug-in creation function that the format wrappers call.
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new OrganProcessor();
}
