// What only the Windows module needs checking, run under Wine on a display
// (xvfb-run): the instruction set the engines pick there, the editor opened in
// a window and closed while blocks play on another thread, and the sample rates
// and odd block sizes hosts use.
//
//   windows_checks [GoogleTest options]
//   windows_checks --show-editor SECONDS   holds the editor on screen, a chord
//                                          playing, for a screenshot; prints
//                                          where its window is
//   windows_checks --click-editor STOPFILE holds the editor on screen for clicks
//                                          (editor_clicks.sh) until STOPFILE
//                                          exists; prints where its window is
//                                          and each organ type the host sees

#include "SineKernel.h"

#include <hwy/targets.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <thread>

namespace
{
std::unique_ptr<juce::AudioPluginInstance> load (double rate, int block)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile (found, juce::File (BRASSGATE_VST3_PATH).getFullPathName());
    if (found.isEmpty())
        return nullptr;

    juce::String error;
    auto instance = format.createInstanceFromDescription (*found[0], rate, block, error);
    if (instance != nullptr)
    {
        instance->setRateAndBufferSizeDetails (rate, block);
        instance->prepareToPlay (rate, block);
    }
    return instance;
}

void setParameter (juce::AudioPluginInstance& instance, const juce::String& name, float normalised)
{
    for (auto* p : instance.getParameters())
        if (p->getName (100) == name)
            p->setValueNotifyingHost (normalised);
}

// A host's audio thread: plays a held chord, block after block, until destroyed,
// and keeps count of the blocks and of any sample that is not finite.
class AudioThread
{
public:
    explicit AudioThread (juce::AudioPluginInstance& p) : plugin (p), thread ([this] { run(); }) {}

    ~AudioThread()
    {
        stop = true;
        thread.join();
    }

    std::atomic<int> blocks { 0 };
    std::atomic<bool> allFinite { true };
    std::atomic<float> peak { 0.0f };

private:
    void run()
    {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        for (const int note : { 48, 55, 60, 64 })
            midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);

        while (! stop)
        {
            plugin.processBlock (buffer, midi);
            midi.clear();
            for (int c = 0; c < buffer.getNumChannels(); ++c)
                for (int i = 0; i < buffer.getNumSamples(); ++i)
                    if (! std::isfinite (buffer.getSample (c, i)))
                        allFinite = false;
            peak = juce::jmax (peak.load(), buffer.getMagnitude (0, buffer.getNumSamples()));
            ++blocks;
            std::this_thread::yield();
        }
    }

    juce::AudioPluginInstance& plugin;
    std::atomic<bool> stop { false };
    std::thread thread;
};

// Runs the message loop until the audio thread has played `count` more blocks
// (or, should it have stalled, for about ten seconds).
bool playWhileDispatching (const AudioThread& audio, int count)
{
    const int target = audio.blocks + count;
    for (int i = 0; i < 500 && audio.blocks < target; ++i)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    return audio.blocks >= target;
}

// The editor in a borderless window at the top left corner of the screen.
std::unique_ptr<juce::AudioProcessorEditor> showEditor (juce::AudioPluginInstance& instance)
{
    std::unique_ptr<juce::AudioProcessorEditor> editor (instance.createEditorIfNeeded());
    if (editor != nullptr)
    {
        editor->setTopLeftPosition (0, 0);
        editor->addToDesktop (0);
        editor->setVisible (true);
    }
    return editor;
}

int showEditorFor (double seconds)
{
    auto instance = load (48000.0, 512);
    if (instance == nullptr)
    {
        std::cerr << "windows_checks: cannot load " << BRASSGATE_VST3_PATH << "\n";
        return 1;
    }
    AudioThread audio (*instance);
    auto editor = showEditor (*instance);
    if (editor == nullptr)
        return 1;

    playWhileDispatching (audio, 50);
    const auto area = editor->getScreenBounds();
    std::cout << "editor on screen at " << area.getX() << " " << area.getY() << " " << area.getWidth() << " "
              << area.getHeight() << std::endl;
    juce::MessageManager::getInstance()->runDispatchLoopUntil ((int) (seconds * 1000.0));
    editor.reset();
    return audio.allFinite ? 0 : 1;
}

// The editor on screen for a person's clicks, as a host shows it: prints where
// it is, then the organ type each time the host sees it change, until the file
// `stop` exists (or two minutes have passed).
int clickEditorUntil (const juce::File& stop)
{
    auto instance = load (48000.0, 512);
    if (instance == nullptr)
    {
        std::cerr << "windows_checks: cannot load " << BRASSGATE_VST3_PATH << "\n";
        return 1;
    }
    juce::AudioProcessorParameter* organType = nullptr;
    for (auto* p : instance->getParameters())
        if (p->getName (100) == "Organ Type")
            organType = p;
    auto editor = showEditor (*instance);
    if (editor == nullptr || organType == nullptr)
        return 1;

    juce::MessageManager::getInstance()->runDispatchLoopUntil (500);
    const auto area = editor->getScreenBounds();
    std::cout << "editor on screen at " << area.getX() << " " << area.getY() << " " << area.getWidth() << " "
              << area.getHeight() << std::endl;

    auto shown = organType->getValue();
    std::cout << "Organ Type: " << organType->getCurrentValueAsText() << std::endl;
    const auto giveUpAt = juce::Time::getMillisecondCounterHiRes() + 120000.0;
    while (! stop.existsAsFile() && juce::Time::getMillisecondCounterHiRes() < giveUpAt)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
        if (organType->getValue() != shown)
        {
            shown = organType->getValue();
            std::cout << "Organ Type: " << organType->getCurrentValueAsText() << std::endl;
        }
    }
    editor.reset();
    return stop.existsAsFile() ? 0 : 1;
}
} // namespace

TEST (WindowsModule, EnginesRunTheWidestInstructionSetHighwayFindsHere)
{
    // What the engines report is Highway's widest target that this processor
    // runs under Wine. (compare_renders.py checks that Linux picks the same one
    // on this processor.)
    const auto targets = hwy::SupportedAndGeneratedTargets(); // widest first
    ASSERT_FALSE (targets.empty());
    const std::string widest = targets[0] == HWY_AVX3 || targets[0] == HWY_AVX3_DL ? "AVX-512" : hwy::TargetName (targets[0]);
    const std::string chosen (sinekernel::instructionSetName());
    std::cout << "Processor: " << juce::SystemStats::getCpuModel() << "; engines' instruction set: " << chosen << std::endl;
    EXPECT_EQ (chosen, widest);
}

TEST (WindowsModule, EditorOpensAndClosesWhileBlocksPlay)
{
    auto instance = load (48000.0, 512);
    ASSERT_NE (instance, nullptr);
    AudioThread audio (*instance);

    for (int round = 0; round < 3; ++round)
    {
        auto editor = showEditor (*instance);
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor->getWidth(), 700);
        EXPECT_EQ (editor->getHeight(), 520);
        EXPECT_TRUE (editor->isShowing());
        EXPECT_TRUE (playWhileDispatching (audio, 40)) << "round " << round;
        editor.reset();
        EXPECT_TRUE (playWhileDispatching (audio, 10)) << "round " << round;
    }

    EXPECT_TRUE (audio.allFinite);
    EXPECT_GT (audio.peak.load(), 0.01f);
}

TEST (WindowsModule, PlaysFiniteAudioAtHostRatesAndOddBlockSizes)
{
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        for (const int block : { 1, 37, 441, 1023 })
        {
            for (const float organType : { 0.0f, 1.0f }) // B3 and CHURCH
            {
                auto instance = load (rate, block);
                ASSERT_NE (instance, nullptr);
                setParameter (*instance, "Organ Type", organType);
                setParameter (*instance, "Leslie Speed", 1.0f);

                juce::AudioBuffer<float> buffer (2, block);
                juce::MidiBuffer midi;
                float peak = 0.0f;
                const int blocks = (int) (rate * 0.5) / block;
                for (int b = 0; b < blocks; ++b)
                {
                    midi.clear();
                    if (b == 0)
                        for (const int note : { 48, 60, 67, 76 })
                            midi.addEvent (juce::MidiMessage::noteOn (1, note, (juce::uint8) 100), 0);
                    instance->processBlock (buffer, midi);
                    for (int c = 0; c < 2; ++c)
                        for (int i = 0; i < block; ++i)
                            ASSERT_TRUE (std::isfinite (buffer.getSample (c, i)))
                                << rate << " Hz, blocks of " << block << ", organ type " << organType;
                    peak = juce::jmax (peak, buffer.getMagnitude (0, block));
                }
                EXPECT_GT (peak, 0.01f) << rate << " Hz, blocks of " << block << ", organ type " << organType;
            }
        }
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    if (argc == 3 && juce::String (argv[1]) == "--show-editor")
        return showEditorFor (juce::String (argv[2]).getDoubleValue());
    if (argc == 3 && juce::String (argv[1]) == "--click-editor")
        return clickEditorUntil (juce::File (juce::String (argv[2])));

    testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
