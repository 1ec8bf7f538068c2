#include "EditorFixture.h"

#include <atomic>
#include <thread>

using EditorLifetime = EditorFixture;

TEST_F (EditorLifetime, OpensAndClosesWhileTheAudioThreadPlays)
{
    // A host thread plays blocks with notes and drawbar, wheel and brake controllers
    // (which move parameters the open editor listens to) without pause, while the
    // editor is opened, played and closed again and again.
    processor.prepareToPlay (48000.0, 64);
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };

    std::thread audioThread ([&]
    {
        juce::AudioBuffer<float> buffer (2, 64);
        for (int n = 0; ! stop.load(); ++n)
        {
            juce::MidiBuffer midi;
            midi.addEvent (juce::MidiMessage::noteOn (1, 48 + n % 24, (juce::uint8) 100), 0);
            midi.addEvent (juce::MidiMessage::noteOff (1, 48 + (n + 12) % 24), 1);
            midi.addEvent (juce::MidiMessage::controllerEvent (1, 41 + n % 9, (n * 37) % 128), 2);
            midi.addEvent (juce::MidiMessage::controllerEvent (1, n % 2 == 0 ? 1 : 80, (n * 53) % 128), 3);
            processor.processBlock (buffer, midi);
            blocks.fetch_add (1);
        }
    });

    for (int round = 0; round < 40; ++round)
    {
        openEditor();
        EXPECT_EQ (processor.keyboardState.load(), &processor.onScreenKeyboard);

        // Play the on-screen keyboard and let some blocks and messages pass.
        processor.onScreenKeyboard.noteOn (1, 60 + round % 12, 0.8f);
        const int target = blocks.load() + 3;
        ASSERT_TRUE (runMessagesUntil ([&] { return blocks.load() >= target; }));
        processor.onScreenKeyboard.noteOff (1, 60 + round % 12, 0.0f);

        access.reset();
        editor.reset();
        EXPECT_EQ (processor.keyboardState.load(), nullptr);
        EXPECT_EQ (processor.getActiveEditor(), nullptr);
    }

    stop = true;
    audioThread.join();
    EXPECT_GT (blocks.load(), 40 * 3);
}

TEST_F (EditorLifetime, TheTimerReportsAttentionAndClosingKeepsTheLastReport)
{
    openEditor();
    EXPECT_TRUE (processor.editorAttention.load()); // a new processor assumes attention

    // Off screen, with no keyboard focus and no mouse over it, nobody is looking.
    tick();
    EXPECT_FALSE (processor.editorAttention.load());

    editor.reset();
    EXPECT_FALSE (processor.editorAttention.load());
}

TEST_F (EditorLifetime, KeysHeldOnTheScreenAreReleasedWhenTheEditorCloses)
{
    processor.setPlayConfigDetails (0, 2, 48000.0, 512);
    processor.prepareToPlay (48000.0, 512);
    setParameter ("reverb", 0.0f);

    juce::AudioBuffer<float> buffer (2, 512);
    auto play = [&] (int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            juce::MidiBuffer midi;
            processor.processBlock (buffer, midi);
        }
        return buffer.getMagnitude (0, 512);
    };

    openEditor();
    processor.onScreenKeyboard.noteOn (1, 60, 0.8f); // held down with the mouse
    EXPECT_GT (play (10), 0.05f);

    access.reset();
    editor.reset(); // closed with the key still down
    EXPECT_LT (play (40), 1.0e-4f);
}
