#include "OrganProcessor.h"

#include "DriveStage.h"
#include "OrganEditor.h"
#include "OutputStage.h"
#include "ReverbSettings.h"
#include "SampleRate.h"
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
constexpr ParameterIndex snapshotReadOrder[] = {
    pOrganType, pDrawbar0, pDrawbar1, pDrawbar2, pDrawbar3, pDrawbar4, pDrawbar5, pDrawbar6, pDrawbar7, pDrawbar8,
    pLeslieSpeed, pDrive, pDriveType, pVolume, pPercussion, pKeyClick, pChorus, pReverb, pFocusMode, pLeslieBrake,
    pPercSoft, pPercFast, pPercHarmonic, pParadiseMod
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

    voicePool.clearVoices();
    leslie.reset();
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
    sampleRate = usableSampleRate (newSampleRate);

    voicePool.clearVoices();
    leslie.reset();
    tonewheels.prepare (sampleRate);

    // The reverb only needs the rate; its filters are re-sized and cleared here,
    // never on the audio path.
    reverb.prepare ({ sampleRate, (juce::uint32) juce::jmax (1, getBlockSize()), 2 });
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

    const auto settings = BlockSettings::fromRawValues (raw, editorAttention.load(), sampleRate);
    const int numSamples = buffer.getNumSamples();

    auto* keyboard = keyboardState.load();
    if (keyboard == nullptr && onScreenKeysToFlush.exchange (false))
        keyboard = &onScreenKeyboard;
    if (keyboard != nullptr)
        keyboard->processNextMidiBuffer (midi, 0, numSamples, true);

    for (const auto metadata : midi)
        handleMidiEvent (metadata.getMessage(), settings);

    const int numChannels = buffer.getNumChannels();
    float* left = numChannels > 0 ? buffer.getWritePointer (0) : nullptr;
    float* right = numChannels > 1 ? buffer.getWritePointer (1) : nullptr;
    TonewheelGenerator::Settings tonewheelSettings;
    tonewheelSettings.drawbarLevels = settings.drawbarLevels;
    tonewheelSettings.chorusAmount = settings.chorusDepth;
    tonewheelSettings.scannerMode = TonewheelGenerator::scannerModeFor (settings.chorusDepth);
    tonewheelSettings.percussionOn = settings.percussionOn;
    tonewheelSettings.percThird = settings.percThird;
    tonewheelSettings.percFast = settings.percFastOn;
    tonewheelSettings.keyClick = settings.keyClickLevel;
    tonewheelSettings.percSoft = settings.percSoftOn;
    tonewheelSettings.paradise = settings.paradiseModOn;

    // The chain stage by stage, a pass of samples at a time: each stage keeps
    // its own per-sample order, and none reads another's later samples.
    constexpr int maxPass = 256; // samples
    alignas (64) float mono[maxPass];
    alignas (64) float sideLeft[maxPass];
    alignas (64) float sideRight[maxPass];

    for (int start = 0; start < numSamples; start += maxPass)
    {
        const int count = std::min (maxPass, numSamples - start);

        if (settings.organType == 0)
            tonewheels.renderBlock (mono, count, tonewheelSettings);
        else
            voicePool.renderVoices (mono, count, settings.organType, settings.drawbarLevels, settings.chorusDepth, modWheel,
                                    settings.voiceAttackStep, settings.voiceReleaseStep, sampleRate, randomSource);

        if (settings.driveAmount > 0.01f)
            DriveStage::applyDrive (mono, count, settings.driveAmount, settings.driveType, settings.driveMakeup);

        OutputStage::process (mono, count, settings.volumeLevel, expression);
        leslie.processBlock (mono, sideLeft, sideRight, count, settings.hornTargetSpeed, settings.drumTargetSpeed,
                             settings.leslieSpeedNorm, sampleRate);

        // A gain that has reached its target stays there exactly (each step adds
        // 0), so the chain of steps, one after another, is skipped.
        alignas (64) float gain[maxPass];
        if (focusGain == settings.focusGainTarget)
        {
            std::fill (gain, gain + count, focusGain);
        }
        else
        {
            for (int i = 0; i < count; ++i)
            {
                focusGain = focusGain + (settings.focusGainTarget - focusGain) * 0.001f;
                gain[i] = focusGain;
            }
        }

        if (right != nullptr)
        {
            for (int i = 0; i < count; ++i)
            {
                left[start + i] += sideLeft[i] * gain[i];
                right[start + i] += sideRight[i] * gain[i];
            }
        }
        else if (left != nullptr)
        {
            for (int i = 0; i < count; ++i)
                left[start + i] += (sideLeft[i] * gain[i] + sideRight[i] * gain[i]) * 0.5f;
        }
    }

    const auto reverbSettings = ReverbSettings::forAmount (settings.reverbAmount);
    reverbParams.roomSize = reverbSettings.roomSize;
    reverbParams.damping = reverbSettings.damping;
    reverbParams.wetLevel = reverbSettings.wetLevel;
    reverbParams.dryLevel = reverbSettings.dryLevel;
    reverbParams.width = reverbSettings.width;
    reverb.setParameters (reverbParams);

    // The room reverb handles one channel as mono and two as stereo; any other
    // channel count keeps the dry sound in its first two channels.
    if (numChannels == 1 || numChannels == 2)
    {
        juce::dsp::AudioBlock<float> block (buffer);
        reverb.process (juce::dsp::ProcessContextReplacing<float> (block));
    }
}

void OrganProcessor::releaseOnScreenKeys()
{
    onScreenKeyboard.allNotesOff (0);
    onScreenKeysToFlush.store (true);
}

void OrganProcessor::handleMidiEvent (const juce::MidiMessage& message, const BlockSettings& settings)
{
    const auto* bytes = message.getRawData();
    const int size = message.getRawDataSize();

    if (size < 1)
        return;

    const int status = bytes[0] & 0xf0;
    const int d1 = size > 1 ? (bytes[1] & 0x7f) : 0;
    const int d2 = size > 2 ? (bytes[2] & 0x7f) : 0;

    // System messages (0xF0 and up) carry no note or controller.
    if (bytes[0] >= 0xf0 || (status != 0x80 && status != 0x90 && status != 0xb0))
        return;

    // A truncated channel message has no meaning.
    if (size < 3)
        return;

    const bool isB3 = settings.organType == 0;

    if (status == 0xb0)
    {
        if (d1 == 1)
        {
            modWheel = static_cast<float> (d2) / 127.0f;
            if (isB3)
                setParameterNormalised (pLeslieSpeed, d2 >= 64 ? 0.85f : 0.15f);
        }
        else if (d1 == 80)
        {
            setParameterNormalised (pLeslieBrake, d2 >= 64 ? 1.0f : 0.0f);
        }
        else if (d1 == 11)
        {
            expression = static_cast<float> (d2) / 127.0f;
        }
        else if (d1 == 64 && isB3)
        {
            setParameterNormalised (pLeslieBrake, d2 >= 64 ? 1.0f : 0.0f);
        }

        for (int i = 0; i < numDrawbars; ++i)
        {
            if (d1 == directDrawbarControllers[i])
                setParameterNormalised (pDrawbar0 + i, drawbarPosition (d2) * 0.125f);
            else if (d1 == invertedDrawbarControllers[i])
                setParameterNormalised (pDrawbar0 + i, drawbarPosition (127 - d2) * 0.125f);
        }

        if (d1 == 123 || d1 == 120)
        {
            tonewheels.allNotesOff();
            voicePool.clearVoices();
        }

        return;
    }

    if (status == 0x90 && d2 != 0)
    {
        const float velocity = static_cast<float> (d2) * (1.0f / 127.0f);
        if (isB3)
            tonewheels.noteOn (d1, velocity);
        voicePool.startVoice (d1, velocity, settings.percussionOn, sampleRate, randomSource);
        return;
    }

    // Note-off, or note-on with velocity 0. It reaches both engines whatever the
    // organ type: a key pressed before a change of type must still be released
    // after it. An engine that does not hold the key ignores it.
    tonewheels.noteOff (d1);
    voicePool.releaseVoices (d1, sampleRate);
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
